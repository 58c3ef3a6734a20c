#include "ReceiveQueue.h"

#include "Handover.h"

#include <chrono>

TReceiveQueue::TReceiveQueue(QObject* parent) : QObject(parent), m_calls(new TPostedCalls(this)) {
    m_frame.setSingleShot(true);
    connect(&m_frame, &QTimer::timeout, this, &TReceiveQueue::Emit);
}

void TReceiveQueue::Push(const uint8_t* bytes, size_t count) {
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    {
        std::lock_guard lock(m_lock);
        if (count > 0 && bytes != nullptr)
            m_pending.Bytes.insert(m_pending.Bytes.end(), bytes, bytes + count);
        m_pending.Ends.push_back(m_pending.Bytes.size());
        m_pending.Ms.push_back(ms);
    }
    if (!m_posted.exchange(true))
        m_calls->Post([this] { Wake(); });
}

TReceiveBatch TReceiveQueue::TakeAll() {
    TReceiveBatch taken;
    {
        std::lock_guard lock(m_lock);
        std::swap(taken, m_pending);
        std::swap(m_pending, m_spare);
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
    std::lock_guard lock(m_lock);
    if (used.Bytes.capacity() > m_spare.Bytes.capacity())
        std::swap(m_spare, used);
}

bool TReceiveQueue::Pending() const {
    std::lock_guard lock(m_lock);
    return !m_pending.Ends.empty();
}

void TReceiveQueue::Wake() {
    if (m_frame.isActive())
        return;
    const qint64 since = m_lastReady.isValid() ? m_lastReady.elapsed() : FrameMs;
    if (since >= FrameMs)
        Emit();
    else
        m_frame.start(int(FrameMs - since));
}

void TReceiveQueue::Emit() {
    // Cleared before the handler takes the blocks, so a push that races with
    // TakeAll posts a fresh wake-up instead of being left behind.
    m_posted.store(false);
    if (!Pending())
        return;
    m_lastReady.start();
    emit Ready();
}
