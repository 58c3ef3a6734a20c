#include "SendQueue.h"

#include <algorithm>

namespace {

// A handler that throws ends its own call only.
template <class F> void Raise(F&& call) {
    try {
        call();
    } catch (...) {
    }
}

// Bits on the line per character (start, 8 data, stop): an RTS-controlled
// byte's drain is checked again after about one character time.
constexpr uint32_t BitsPerChar = 10;
constexpr std::chrono::microseconds MinDrainCheck{200};

} // namespace

TSendQueue::TSendQueue(TCommPort& port, std::mutex& portLock, const std::atomic<bool>& portOpen,
                       TEvents events)
    : Port(port), PortLock(portLock), PortOpen(portOpen), Events(events) {}

// ---- the window's thread ----

bool TSendQueue::Add(std::vector<uint8_t>&& bytes, bool rtsControlled) {
    const uint64_t size = bytes.size();
    const uint64_t cost = size + BlockCost;
    std::lock_guard queue(SendLock);
    if (rtsControlled ? RtsBlockQueued : !PortOpen.load(std::memory_order_acquire))
        return false;
    if (!Blocks.empty() && Cost + cost > MaxQueueCost)
        return false;
    if (rtsControlled) {
        std::lock_guard lock(PortLock);
        Port.SetRts(!Port.GetRts());
    }
    Blocks.push_back(TBlock{std::move(bytes), rtsControlled});
    Cost += cost;
    RtsBlockQueued = RtsBlockQueued || rtsControlled;
    ToGo.fetch_add(size, std::memory_order_acq_rel);
    return true;
}

// ---- the worker ----

void TSendQueue::WritePass() {
    FWantWrite = false;
    FNextDue = {};
    uint32_t budget = WriteChunk;
    uint32_t rtsBudget = RtsBytesPerPass;
    try {
        while (budget > 0) {
            TBlock* front = nullptr;
            {
                std::lock_guard queue(SendLock);
                if (!Blocks.empty())
                    front = &Blocks.front();
            }
            if (!front)
                break;
            if (!(front->RtsControlled ? WriteRtsControlled(*front, rtsBudget)
                                       : WritePlain(*front, budget)))
                break;
        }
    } catch (...) {
        // The device refused the bytes: what is queued cannot follow them.
        Drop();
    }
}

bool TSendQueue::WritePlain(TBlock& b, uint32_t& budget) {
    const TGather g = WriteGathered(budget);
    if (g == TGather::PassOver)
        return false;
    if (g == TGather::Written)
        return true;
    const uint32_t want = static_cast<uint32_t>(std::min<size_t>(b.Bytes.size() - b.Done, budget));
    uint32_t n = 0;
    if (want > 0) {
        std::lock_guard lock(PortLock);
        n = Port.WriteSome(b.Bytes.data() + b.Done, want);
    }
    b.Done += n;
    budget -= n;
    ToGo.fetch_sub(n, std::memory_order_acq_rel);
    if (b.Done < b.Bytes.size()) {
        FWantWrite = true; // the device is full, or this pass has done its share
        return false;
    }
    FinishFront();
    return true;
}

// One step after another: settle, each byte written and drained, settle,
// RTS back. A step not yet due ends the pass with NextDue set.
bool TSendQueue::WriteRtsControlled(TBlock& b, uint32_t& rtsBudget) {
    const auto now = Clock::now();
    if (b.Phase == TRtsPhase::Idle) {
        b.Phase = TRtsPhase::LeadIn;
        b.Due = now + RtsSettle;
    }
    if (b.Phase == TRtsPhase::LeadIn) {
        if (now < b.Due) {
            FNextDue = b.Due;
            return false;
        }
        RaiseRts();
        b.Phase = TRtsPhase::Writing;
    }
    if (b.Phase == TRtsPhase::Draining) {
        bool drained;
        uint32_t rate;
        {
            std::lock_guard lock(PortLock);
            drained = Port.OutputDrained();
            rate = Port.GetBaudRate();
        }
        if (!drained) {
            const std::chrono::microseconds charTime(BitsPerChar * 1'000'000 / std::max(rate, 1u));
            FNextDue = Clock::now() + std::max<Clock::duration>(charTime, MinDrainCheck);
            return false;
        }
        b.Phase = TRtsPhase::Writing;
    }
    if (b.Phase == TRtsPhase::Writing) {
        if (b.Done < b.Bytes.size()) {
            if (rtsBudget == 0) {
                FWantWrite = true;
                return false;
            }
            uint32_t n;
            {
                std::lock_guard lock(PortLock);
                n = Port.WriteSome(b.Bytes.data() + b.Done, 1);
            }
            if (n == 0) {
                FWantWrite = true;
                return false;
            }
            ++b.Done;
            --rtsBudget;
            ToGo.fetch_sub(1, std::memory_order_acq_rel);
            b.Phase = TRtsPhase::Draining;
            return true;
        }
        b.Phase = TRtsPhase::LeadOut;
        b.Due = Clock::now() + RtsSettle;
    }
    // LeadOut
    if (Clock::now() < b.Due) {
        FNextDue = b.Due;
        return false;
    }
    {
        std::lock_guard lock(PortLock);
        Port.SetRts(!Port.GetRts());
    }
    // The block is done before the window hears that RTS dropped: from then on a new
    // RTS-controlled block is taken.
    FinishFront();
    RaiseRts();
    return true;
}

void TSendQueue::RaiseRts() {
    bool rts;
    {
        std::lock_guard lock(PortLock);
        rts = Port.GetRts();
    }
    if (Events.OnRtsChange)
        Raise([&] { Events.OnRtsChange(rts); });
}

// Short plain blocks (a user's lines) go out several in one write, as one
// long block does, instead of one small write each. PassOver when the device
// took less than offered or the budget is spent; NotGathered when the front
// block is not one to gather and goes out on its own.
TSendQueue::TGather TSendQueue::WriteGathered(uint32_t& budget) {
    size_t blocks = 0;
    {
        std::lock_guard queue(SendLock);
        const TBlock& first = Blocks.front();
        if (first.Bytes.size() - first.Done >= budget)
            return TGather::NotGathered;
        WriteBuf.clear();
        for (const TBlock& b : Blocks) {
            if (b.RtsControlled || WriteBuf.size() + (b.Bytes.size() - b.Done) > budget)
                break;
            WriteBuf.insert(WriteBuf.end(), b.Bytes.begin() + ptrdiff_t(b.Done), b.Bytes.end());
            ++blocks;
        }
    }
    if (blocks < 2)
        return TGather::NotGathered;
    uint32_t n;
    {
        std::lock_guard lock(PortLock);
        n = Port.WriteSome(WriteBuf.data(), static_cast<uint32_t>(WriteBuf.size()));
    }
    budget -= n;
    ToGo.fetch_sub(n, std::memory_order_acq_rel);
    const bool all = n == WriteBuf.size();
    // The window only appends, so the blocks gathered are still the first ones.
    while (n > 0) {
        TBlock* front;
        {
            std::lock_guard queue(SendLock);
            front = &Blocks.front();
        }
        const size_t take = std::min<size_t>(n, front->Bytes.size() - front->Done);
        front->Done += take;
        n -= static_cast<uint32_t>(take);
        if (front->Done == front->Bytes.size())
            FinishFront();
    }
    if (!all)
        FWantWrite = true;
    return !all || budget == 0 ? TGather::PassOver : TGather::Written;
}

void TSendQueue::FinishFront() {
    std::lock_guard queue(SendLock);
    const TBlock& b = Blocks.front();
    Cost -= b.Bytes.size() + BlockCost;
    if (b.RtsControlled)
        RtsBlockQueued = false;
    Blocks.pop_front();
}

void TSendQueue::Drop() {
    std::deque<TBlock> dropped;
    {
        std::lock_guard queue(SendLock);
        dropped.swap(Blocks);
        Cost = 0;
        RtsBlockQueued = false;
    }
    FWantWrite = false;
    FNextDue = {};
    if (dropped.empty())
        return;
    uint64_t notSent = 0;
    bool rtsBack = false;
    for (const TBlock& b : dropped) {
        notSent += b.Bytes.size() - b.Done;
        rtsBack = rtsBack || b.RtsControlled;
    }
    dropped.clear();
    ToGo.fetch_sub(notSent, std::memory_order_acq_rel);
    if (notSent > 0 && Events.OnSendDropped)
        Raise([&] { Events.OnSendDropped(notSent); });
    if (rtsBack) {
        try {
            std::lock_guard lock(PortLock);
            Port.SetRts(!Port.GetRts());
        } catch (...) {
        }
        RaiseRts();
    }
    ReportProgress();
}

void TSendQueue::ReportProgress() {
    const uint64_t left = ToGo.load(std::memory_order_acquire);
    const auto now = Clock::now();
    if (left == 0) {
        Sending = false;
        if (ProgressShown) {
            ProgressShown = false;
            LastReported = 0;
            if (Events.OnSendProgress)
                Raise([&] { Events.OnSendProgress(0); });
        }
        return;
    }
    // Short sends are never reported: the first report comes once a send has
    // taken ProgressInterval.
    if (!Sending) {
        Sending = true;
        LastProgress = now;
        return;
    }
    if (now - LastProgress < ProgressInterval || (ProgressShown && left == LastReported))
        return;
    LastProgress = now;
    LastReported = left;
    ProgressShown = true;
    if (Events.OnSendProgress)
        Raise([&] { Events.OnSendProgress(left); });
}
