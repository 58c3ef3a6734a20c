#include "ReceiveQueue.h"

#include "BlockSupply.h"
#include "Handover.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>

// Bytes in one of the supply's blocks, and the ends and times of the blocks in them.
struct TReceiveQueue::TSegment {
    static constexpr size_t Bytes = blocksupply::BlockBytes;
    static constexpr uint32_t MaxBlocks = 4096;
    struct TEntry {
        uint32_t End;
        int64_t Ms;
    };

    TSegment() = default;
    ~TSegment() {
        if (!Own)
            blocksupply::Release(Data);
    }
    // The worker's, before it writes the first bytes: a window that never receives holds
    // no block, and the supply does not start for it.
    void Provide() {
        if (Data != nullptr)
            return;
        try {
            Data = static_cast<uint8_t*>(blocksupply::Take());
        } catch (const std::bad_alloc&) { // no block could be mapped: the heap may still have one
            Own.reset(Data = new uint8_t[Bytes]);
        }
    }
    TSegment(const TSegment&) = delete;
    TSegment& operator=(const TSegment&) = delete;

    uint8_t* Data = nullptr; // published to the window with the first block that has bytes
    std::unique_ptr<uint8_t[]> Own;
    size_t Used = 0;                // the worker's
    std::atomic<uint32_t> Count{0}; // blocks published
    std::atomic<TSegment*> Next{nullptr};
    std::array<TEntry, MaxBlocks> Entries;
};

TReceiveQueue::TReceiveQueue(QObject* parent) : QObject(parent), Calls(new TPostedCalls(this)) {
    m_head = m_tail = new TSegment;
    Frame.setSingleShot(true);
    connect(&Frame, &QTimer::timeout, this, &TReceiveQueue::Emit);
}

TReceiveQueue::~TReceiveQueue() {
    for (TSegment* s = m_head; s != nullptr;) {
        TSegment* next = s->Next.load(std::memory_order_acquire);
        delete s;
        s = next;
    }
    for (auto& spare : m_spare)
        delete spare.load(std::memory_order_acquire);
}

TReceiveQueue::TSegment* TReceiveQueue::NewSegment() {
    for (auto& spare : m_spare)
        if (TSegment* s = spare.exchange(nullptr, std::memory_order_acq_rel)) {
            s->Used = 0;
            s->Count.store(0, std::memory_order_relaxed);
            s->Next.store(nullptr, std::memory_order_relaxed);
            return s;
        }
    return new TSegment;
}

void TReceiveQueue::Push(const uint8_t* bytes, size_t count) {
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    if (bytes == nullptr)
        count = 0;
    do {
        const size_t n = std::min(count, TSegment::Bytes);
        TSegment* s = m_tail;
        uint32_t c = s->Count.load(std::memory_order_relaxed);
        if (c == TSegment::MaxBlocks || TSegment::Bytes - s->Used < n) {
            TSegment* next = NewSegment();
            // Published after the last block of s: a reader that finds it finds them all.
            s->Next.store(next, std::memory_order_release);
            m_tail = s = next;
            c = 0;
        }
        if (n > 0) {
            s->Provide();
            std::memcpy(s->Data + s->Used, bytes, n);
        }
        s->Used += n;
        s->Entries[c] = {uint32_t(s->Used), ms};
        s->Count.store(c + 1, std::memory_order_release);
        m_pushedBytes.fetch_add(n, std::memory_order_relaxed);
        m_pushedBlocks.fetch_add(1, std::memory_order_release);
        bytes += n;
        count -= n;
    } while (count > 0);

    if (!Posted.exchange(true))
        Calls->Post([this] { Wake(); });
    const bool full = m_pushedBytes.load(std::memory_order_relaxed) -
                          m_takenBytes.load(std::memory_order_relaxed) >=
                      WakeBytes;
    if (full && !EarlyPosted.exchange(true))
        Calls->Post([this] {
            EarlyPosted.store(false);
            // Unless the frame's wake-up took them meanwhile.
            if (m_pushedBytes.load(std::memory_order_relaxed) -
                    m_takenBytes.load(std::memory_order_relaxed) <
                WakeBytes)
                return;
            Frame.stop();
            Emit();
        });
}

bool TReceiveQueue::Peek(TReceivedBlock& block) {
    for (;;) {
        TSegment* s = m_head;
        const uint32_t count = s->Count.load(std::memory_order_acquire);
        if (m_headNext < count) {
            const uint32_t begin = m_headNext == 0 ? 0 : s->Entries[m_headNext - 1].End;
            const TSegment::TEntry& entry = s->Entries[m_headNext];
            // An empty block may come before any byte, while the worker is giving the
            // segment its memory: Data is read only once a block with bytes published it.
            const uint32_t size = entry.End - begin;
            block = {size == 0 ? nullptr : s->Data + begin, size, entry.Ms};
            return true;
        }
        TSegment* next = s->Next.load(std::memory_order_acquire);
        if (next == nullptr)
            return false;
        // The worker published the last blocks of s before next: count again.
        if (m_headNext < s->Count.load(std::memory_order_acquire))
            continue;
        m_head = next;
        m_headNext = 0;
        Recycle(s);
    }
}

void TReceiveQueue::Pop() {
    const TSegment* s = m_head;
    const uint32_t begin = m_headNext == 0 ? 0 : s->Entries[m_headNext - 1].End;
    m_takenBytes.fetch_add(s->Entries[m_headNext].End - begin, std::memory_order_relaxed);
    ++m_headNext;
    ++m_takenBlocks;
}

void TReceiveQueue::Recycle(TSegment* segment) {
    if (!segment->Own)
        for (auto& spare : m_spare) {
            TSegment* none = nullptr;
            if (spare.compare_exchange_strong(none, segment, std::memory_order_acq_rel))
                return;
        }
    // More than a flood's worth waited: its memory goes back, unmapped off this thread.
    blocksupply::AfterDiscards([segment] { delete segment; });
}

void TReceiveQueue::Wake() {
    if (Frame.isActive())
        return;
    const qint64 since = LastReady.isValid() ? LastReady.elapsed() : FrameMs;
    if (since >= FrameMs)
        Emit();
    else
        Frame.start(int(FrameMs - since));
}

void TReceiveQueue::Emit() {
    // Cleared before the handler takes the blocks, so a push that races with
    // the taking posts a fresh wake-up instead of being left behind.
    Posted.store(false);
    if (!Pending())
        return;
    LastReady.start();
    emit Ready();
}
