#include "ReceiveQueue.h"

#include "Handover.h"

#include <chrono>

TReceiveQueue::TReceiveQueue(QObject* parent) : QObject(parent), Calls(new TPostedCalls(this)) {
    Frame.setSingleShot(true);
    connect(&Frame, &QTimer::timeout, this, &TReceiveQueue::Emit);
}

void TReceiveQueue::Push(const uint8_t* bytes, size_t count) {
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    bool full;
    {
        std::lock_guard lock(Lock);
        if (count > 0 && bytes != nullptr)
            Queued.Bytes.insert(Queued.Bytes.end(), bytes, bytes + count);
        Queued.Ends.push_back(Queued.Bytes.size());
        Queued.Ms.push_back(ms);
        full = Queued.Bytes.size() >= WakeBytes;
    }
    if (!Posted.exchange(true))
        Calls->Post([this] { Wake(); });
    if (full && !EarlyPosted.exchange(true))
        Calls->Post([this] {
            EarlyPosted.store(false);
            // Unless the frame's wake-up took them meanwhile.
            {
                std::lock_guard lock(Lock);
                if (Queued.Bytes.size() < WakeBytes)
                    return;
            }
            Frame.stop();
            Emit();
        });
}

TReceiveBatch TReceiveQueue::TakeAll() {
    TReceiveBatch taken;
    {
        std::lock_guard lock(Lock);
        std::swap(taken, Queued);
        std::swap(Queued, Spare);
    }
    return taken;
}

void TReceiveQueue::Recycle(TReceiveBatch&& used) {
    // A batch of a rare burst is not kept: its memory goes back.
    constexpr size_t KeepBytes = size_t(16) << 20;
    if (used.Bytes.capacity() > KeepBytes)
        return;
    used.Bytes.clear();
    used.Ends.clear();
    used.Ms.clear();
    std::lock_guard lock(Lock);
    if (used.Bytes.capacity() > Spare.Bytes.capacity())
        std::swap(Spare, used);
}

bool TReceiveQueue::Pending() const {
    std::lock_guard lock(Lock);
    return !Queued.Ends.empty();
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
    // TakeAll posts a fresh wake-up instead of being left behind.
    Posted.store(false);
    if (!Pending())
        return;
    LastReady.start();
    emit Ready();
}
