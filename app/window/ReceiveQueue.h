#pragma once
// TReceiveQueue: hands received blocks from the worker thread to the
// user-interface thread.
//
// Threads: Push is called on the worker thread (inside OnReceive); everything
// else runs on the thread that owns the object (the user-interface thread).
// Neither thread ever waits for the other: the blocks are copied into
// segments that the worker fills and publishes with an atomic count, and the
// window reads them where they lie, with no lock held by either side. A thread
// that is preempted in the middle of its part can make the other wait for
// nothing. Nothing is dropped: the queue grows if the window falls behind.
// The first Push after the window took what was pending posts one queued
// wake-up; the wake-up emits Ready at most once per FrameMs, unless WakeBytes
// are waiting: a flood is then taken in pieces of about that size instead of a
// frame's worth. The worker must have stopped pushing before the queue is
// destroyed.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <array>
#include <atomic>
#include <cstdint>

class TPostedCalls;

// A received block as the queue holds it: valid until Pop. Ms is when it was
// pushed (milliseconds since the epoch, for the text view's stamps). Empty
// blocks are kept, since each block also scrolls the pane.
struct TReceivedBlock {
    const uint8_t* Bytes = nullptr;
    size_t Size = 0;
    int64_t Ms = 0;
};

class TReceiveQueue : public QObject {
    Q_OBJECT
public:
    static constexpr int FrameMs = 16;
    static constexpr size_t WakeBytes = size_t(256) << 10;

    explicit TReceiveQueue(QObject* parent = nullptr);
    ~TReceiveQueue() override;

    // Worker thread. The block's time is taken here, once per block. A block
    // larger than a segment goes in as several with the same time.
    void Push(const uint8_t* bytes, size_t count);

    // User-interface thread: the oldest block not taken yet, or false when
    // there is none; it stays in the queue until Pop.
    bool Peek(TReceivedBlock& block);
    void Pop();
    // Blocks pushed so far: taking up to this many takes what was queued
    // when it was read, however fast the worker goes on pushing.
    uint64_t Pushed() const { return m_pushedBlocks.load(std::memory_order_acquire); }
    uint64_t Taken() const { return m_takenBlocks; }
    bool Pending() const { return Pushed() != m_takenBlocks; }

signals:
    // Blocks are waiting; connect it to the handler that takes them.
    void Ready();

private:
    struct TSegment;
    static constexpr size_t SpareSegments = 4;

    TSegment* NewSegment();
    void Recycle(TSegment* segment);
    void Wake();
    void Emit();

    TSegment* m_tail;           // the worker's: where the next block goes
    TSegment* m_head;           // the window's: the oldest block not taken
    uint32_t m_headNext = 0;    // the window's: its index in m_head
    uint64_t m_takenBlocks = 0; // the window's
    std::atomic<uint64_t> m_pushedBlocks{0};
    std::atomic<uint64_t> m_pushedBytes{0};
    std::atomic<uint64_t> m_takenBytes{0}; // written by the window, read by the worker
    // Segments the window is done with, for the worker to fill again: their
    // memory is in place, so a flood does not fault in fresh pages every frame.
    std::array<std::atomic<TSegment*>, SpareSegments> m_spare{};
    std::atomic<bool> Posted{false};
    std::atomic<bool> EarlyPosted{false}; // a wake-up for WakeBytes waiting is on its way
    QTimer Frame;
    QElapsedTimer LastReady;
    TPostedCalls* Calls; // wake-ups from the pushing thread
};
