#pragma once
// TReceiveQueue: hands received blocks from the worker thread to the
// user-interface thread.
//
// Threads: Push is called on the worker thread (inside OnReceive); it copies
// the block under a short mutex hold and never waits for the user-interface
// thread, never drops data: the queue grows if the window falls behind.
// Everything else runs on the thread that owns the object (the user-interface
// thread). The first Push after a TakeAll posts one queued wake-up; the
// wake-up emits Ready at most once per FrameMs, unless WakeBytes are waiting:
// a flood is then taken in pieces of about that size instead of a frame's
// worth, which the queue and the window would each hold at once.
// The worker must have stopped pushing before the queue is destroyed.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// Blocks in arrival order: block i is Bytes[Ends[i-1] .. Ends[i]), pushed at
// Ms[i] (milliseconds since the epoch, for the text view's stamps). Empty
// blocks are kept, since each block also scrolls the pane.
struct TReceiveBatch {
    std::vector<uint8_t> Bytes;
    std::vector<size_t> Ends;
    std::vector<int64_t> Ms;

    size_t BlockCount() const { return Ends.size(); }
    const uint8_t* Block(size_t i) const { return Bytes.data() + Begin(i); }
    size_t BlockSize(size_t i) const { return Ends[i] - Begin(i); }
    size_t Begin(size_t i) const { return i == 0 ? 0 : Ends[i - 1]; }
};

class TPostedCalls;

class TReceiveQueue : public QObject {
    Q_OBJECT
public:
    static constexpr int FrameMs = 16;
    static constexpr size_t WakeBytes = size_t(256) << 10;

    explicit TReceiveQueue(QObject* parent = nullptr);

    // Worker thread. The block's time is taken here, once per block.
    void Push(const uint8_t* bytes, size_t count);
    // User-interface thread: every pending block, in order; the queue is
    // left empty.
    TReceiveBatch TakeAll();
    // User-interface thread: hands back a batch taken before, once its blocks
    // are in the pane. Its memory takes the next blocks, so a flood does not
    // allocate and fault in fresh pages, and regrow them, every frame.
    void Recycle(TReceiveBatch&& used);
    bool Pending() const;

signals:
    // Blocks are waiting; connect it to the handler that calls TakeAll.
    void Ready();

private:
    void Wake();
    void Emit();

    mutable std::mutex Lock;
    TReceiveBatch Queued;  // guarded by Lock
    TReceiveBatch Spare;   // empty, with the capacity of an earlier batch; guarded by Lock
    std::atomic<bool> Posted{false};
    std::atomic<bool> EarlyPosted{false}; // a wake-up for WakeBytes waiting is on its way
    QTimer Frame;
    QElapsedTimer LastReady;
    TPostedCalls* Calls; // wake-ups from the pushing thread
};
