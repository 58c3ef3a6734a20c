// TWThreadComm's sending: the queue the window fills and the worker's writes,
// RTS-controlled blocks included. See Threadcomm.h for the rules.

#include "Threadcomm.h"

#include <algorithm>

namespace {

// Bytes of an RTS-controlled block written in one pass: each is flushed,
// which takes several calls, and reads must keep their pace meanwhile.
constexpr uint32_t RtsBytesPerPass = 256;

} // namespace

// ---- the window's operations ----

bool TWThreadComm::Send(const uint8_t* bytes, uint32_t count) {
    try {
        std::vector<uint8_t> block;
        block.reserve(MaxPreamble + count);
        if (PreambleMode.load()) {
            std::lock_guard lock(FrameLock);
            block.assign(Framer.Preamble(), Framer.Preamble() + Framer.PreambleLen());
        }
        if (count > 0 && bytes)
            block.insert(block.end(), bytes, bytes + count);
        return Enqueue(std::move(block), ControlRTS.load());
    } catch (...) {
        return false;
    }
}

bool TWThreadComm::SendByte(uint8_t b) {
    try {
        return Enqueue(std::vector<uint8_t>{b}, false);
    } catch (...) {
        return false;
    }
}

bool TWThreadComm::SendRaw(const uint8_t* bytes, uint32_t count) {
    try {
        return count > 0 && bytes && Enqueue(std::vector<uint8_t>(bytes, bytes + count), false);
    } catch (...) {
        return false;
    }
}

void TWThreadComm::CancelSend() {
    CancelRequest.store(true);
    WakeUp();
}

bool TWThreadComm::Enqueue(std::vector<uint8_t>&& bytes, bool rtsControlled) {
    const uint64_t size = bytes.size();
    const uint64_t cost = size + BlockCost;
    {
        // The worker marks the port closed before it drops the queue, so a
        // plain block accepted here is either written or reported dropped.
        std::lock_guard queue(SendLock);
        if (rtsControlled ? RtsBlockQueued : !IsOpen())
            return false;
        if (!Queue.empty() && QueueCost + cost > MaxQueueCost)
            return false;
        if (rtsControlled) {
            std::lock_guard lock(PortLock);
            Port.SetRts(!Port.GetRts());
        }
        Queue.push_back(TSendBlock{std::move(bytes), rtsControlled});
        QueueCost += cost;
        RtsBlockQueued = RtsBlockQueued || rtsControlled;
        ToGo.fetch_add(size, std::memory_order_acq_rel);
    }
    WakeUp();
    return true;
}

// ---- the worker ----

void TWThreadComm::WritePass() {
    WantWrite = false;
    NextDue = {};
    uint32_t budget = WriteChunk;
    uint32_t rtsBudget = RtsBytesPerPass;
    try {
        while (budget > 0) {
            TSendBlock* front = nullptr;
            {
                std::lock_guard queue(SendLock);
                if (!Queue.empty())
                    front = &Queue.front();
            }
            if (!front)
                break;
            TSendBlock& b = *front;
            if (!b.RtsControlled) {
                const TGather g = WriteGathered(budget);
                if (g == TGather::PassOver)
                    break;
                if (g == TGather::Written)
                    continue;
            }
            if (!b.RtsControlled) {
                const uint32_t want =
                    static_cast<uint32_t>(std::min<size_t>(b.Bytes.size() - b.Done, budget));
                uint32_t n = 0;
                if (want > 0) {
                    std::lock_guard lock(PortLock);
                    n = Port.WriteSome(b.Bytes.data() + b.Done, want);
                }
                b.Done += n;
                budget -= n;
                ToGo.fetch_sub(n, std::memory_order_acq_rel);
                if (b.Done < b.Bytes.size()) {
                    WantWrite = true; // the device is full, or this pass has done its share
                    break;
                }
                FinishFront();
                continue;
            }
            const auto now = Clock::now();
            if (b.Phase == TRtsPhase::Idle) {
                b.Phase = TRtsPhase::LeadIn;
                b.Due = now + RtsSettle;
            }
            if (b.Phase == TRtsPhase::LeadIn) {
                if (now < b.Due) {
                    NextDue = b.Due;
                    break;
                }
                bool rts;
                {
                    std::lock_guard lock(PortLock);
                    rts = Port.GetRts();
                }
                if (OnRtsChange)
                    Raise([&] { OnRtsChange(rts); });
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
                    // About one character time at the line rate (10 bits).
                    auto charTime = std::chrono::microseconds(10'000'000 / std::max(rate, 1u));
                    NextDue = Clock::now() +
                              std::max<Clock::duration>(charTime, std::chrono::microseconds(200));
                    break;
                }
                b.Phase = TRtsPhase::Writing;
            }
            if (b.Phase == TRtsPhase::Writing) {
                if (b.Done == b.Bytes.size()) {
                    b.Phase = TRtsPhase::LeadOut;
                    b.Due = Clock::now() + RtsSettle;
                } else {
                    if (rtsBudget == 0) {
                        WantWrite = true;
                        break;
                    }
                    uint32_t n;
                    {
                        std::lock_guard lock(PortLock);
                        n = Port.WriteSome(b.Bytes.data() + b.Done, 1);
                    }
                    if (n == 0) {
                        WantWrite = true;
                        break;
                    }
                    ++b.Done;
                    --rtsBudget;
                    ToGo.fetch_sub(1, std::memory_order_acq_rel);
                    b.Phase = TRtsPhase::Draining;
                    continue;
                }
            }
            if (b.Phase == TRtsPhase::LeadOut) {
                if (Clock::now() < b.Due) {
                    NextDue = b.Due;
                    break;
                }
                bool rts;
                {
                    std::lock_guard lock(PortLock);
                    Port.SetRts(!Port.GetRts());
                    rts = Port.GetRts();
                }
                // The block is done before the window hears that RTS dropped: from then on a
                // new RTS-controlled block is taken.
                FinishFront();
                if (OnRtsChange)
                    Raise([&] { OnRtsChange(rts); });
            }
        }
    } catch (...) {
        // The device refused the bytes: what is queued cannot follow them.
        DropQueue();
    }
}

// Short plain blocks (a user's lines) go out several in one write, as one
// long block does, instead of one small write each. PassOver when the device
// took less than offered or the budget is spent; NotGathered when the front
// block is not one to gather and goes out on its own.
TWThreadComm::TGather TWThreadComm::WriteGathered(uint32_t& budget) {
    size_t blocks = 0;
    {
        std::lock_guard queue(SendLock);
        const TSendBlock& first = Queue.front();
        if (first.Bytes.size() - first.Done >= budget)
            return TGather::NotGathered;
        WriteBuf.clear();
        for (const TSendBlock& b : Queue) {
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
        TSendBlock* front;
        {
            std::lock_guard queue(SendLock);
            front = &Queue.front();
        }
        const size_t take = std::min<size_t>(n, front->Bytes.size() - front->Done);
        front->Done += take;
        n -= static_cast<uint32_t>(take);
        if (front->Done == front->Bytes.size())
            FinishFront();
    }
    if (!all)
        WantWrite = true;
    return !all || budget == 0 ? TGather::PassOver : TGather::Written;
}

void TWThreadComm::FinishFront() {
    std::lock_guard queue(SendLock);
    const TSendBlock& b = Queue.front();
    QueueCost -= b.Bytes.size() + BlockCost;
    if (b.RtsControlled)
        RtsBlockQueued = false;
    Queue.pop_front();
}

void TWThreadComm::DropQueue() {
    std::deque<TSendBlock> dropped;
    {
        std::lock_guard queue(SendLock);
        dropped.swap(Queue);
        QueueCost = 0;
        RtsBlockQueued = false;
    }
    WantWrite = false;
    NextDue = {};
    if (dropped.empty())
        return;
    uint64_t notSent = 0;
    bool rtsBack = false;
    for (const TSendBlock& b : dropped) {
        notSent += b.Bytes.size() - b.Done;
        rtsBack = rtsBack || b.RtsControlled;
    }
    dropped.clear();
    ToGo.fetch_sub(notSent, std::memory_order_acq_rel);
    if (notSent > 0 && OnSendDropped)
        Raise([&] { OnSendDropped(notSent); });
    if (rtsBack) {
        bool rts;
        try {
            std::lock_guard lock(PortLock);
            Port.SetRts(!Port.GetRts());
        } catch (...) {
        }
        {
            std::lock_guard lock(PortLock);
            rts = Port.GetRts();
        }
        if (OnRtsChange)
            Raise([&] { OnRtsChange(rts); });
    }
    ReportProgress();
}

void TWThreadComm::ReportProgress() {
    const uint64_t left = ToGo.load(std::memory_order_acquire);
    const auto now = Clock::now();
    if (left == 0) {
        Sending = false;
        if (ProgressShown) {
            ProgressShown = false;
            LastReported = 0;
            if (OnSendProgress)
                Raise([&] { OnSendProgress(0); });
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
    if (OnSendProgress)
        Raise([&] { OnSendProgress(left); });
}
