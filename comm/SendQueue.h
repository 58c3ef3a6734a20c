#pragma once
// TSendQueue: the worker's send queue and its writing. The window appends
// blocks (Add); the worker writes them in order as fast as the device takes
// them (WritePass), RTS-controlled blocks byte by byte between their settle
// times, drops them when the port goes (Drop) and reports what is left
// (ReportProgress). It reports through the event handlers it was given and
// knows nothing of the worker's loop.
//
// Threads:
// - Add and BytesToGo: the window's thread (BytesToGo from any thread).
// - Every other member: the worker thread only.
// - The blocks are shared under SendLock. Only the worker removes blocks and
//   writes a block's progress, so it works on the front block without the
//   lock (a deque keeps its elements in place while the window appends).
// - Each port operation runs under the port's lock, taken for one call at a
//   time; Add takes it inside SendLock to switch RTS over.
// - The handlers run on the worker thread with no lock held.

#include "CommPort.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class TSendQueue {
public:
    using Clock = std::chrono::steady_clock;

    // The worker's handlers, read when an event is due (assigned before the
    // worker runs).
    struct TEvents {
        const std::function<void(bool rtsOn)>& OnRtsChange;
        const std::function<void(uint64_t bytesNotSent)>& OnSendDropped;
        const std::function<void(uint64_t bytesLeft)>& OnSendProgress;
    };

    // portOpen is the worker's flag: it is cleared before the queue is
    // dropped, so a plain block that Add accepts is written or reported dropped.
    TSendQueue(TCommPort& port, std::mutex& portLock, const std::atomic<bool>& portOpen,
               TEvents events);

    // Wait before and after the bytes of an RTS-controlled block.
    static constexpr std::chrono::milliseconds RtsSettle{50};
    // A send is first reported after this long, then at this pace.
    static constexpr std::chrono::milliseconds ProgressInterval{100};
    // The queue's bound: each block costs its bytes plus BlockCost. A block
    // that would take the queue past the bound is refused unless the queue is
    // empty, so a single block of any size is taken whole.
    static constexpr uint64_t MaxQueueCost = 8u << 20;
    static constexpr uint64_t BlockCost = 64;
    // Most bytes written in one pass, so reads and modem checks keep their pace.
    static constexpr uint32_t WriteChunk = 65536;
    // Bytes of an RTS-controlled block written in one pass: each is flushed,
    // which takes several calls, and reads must keep their pace meanwhile.
    static constexpr uint32_t RtsBytesPerPass = 256;

    // The window's thread. False, nothing queued: the port is closed (for a
    // plain block), an RTS-controlled block is still queued (for another), or
    // the queue is full. An RTS-controlled block switches RTS over at once.
    bool Add(std::vector<uint8_t>&& bytes, bool rtsControlled);
    // Bytes queued and not yet written.
    uint64_t BytesToGo() const { return ToGo.load(std::memory_order_acquire); }

    // The worker. Writes what the device takes now.
    void WritePass();
    // Drops every block and reports the bytes that did not go out; RTS goes
    // back for an RTS-controlled block among them.
    void Drop();
    // Raises OnSendProgress when a long send is due a report, and 0 when a
    // reported send has ended.
    void ReportProgress();
    // After WritePass: the device took less than offered, so its room to
    // write is worth waiting for.
    bool WantWrite() const { return FWantWrite; }
    // After WritePass: when an RTS-controlled block's next step is due, or
    // the zero time point when none is.
    Clock::time_point NextDue() const { return FNextDue; }

private:
    enum class TRtsPhase { Idle, LeadIn, Writing, Draining, LeadOut };
    struct TBlock {
        std::vector<uint8_t> Bytes; // preamble (when on) and the block, whole
        bool RtsControlled = false;
        // Worker only.
        size_t Done = 0;
        TRtsPhase Phase = TRtsPhase::Idle;
        Clock::time_point Due{};
    };
    enum class TGather { NotGathered, Written, PassOver };

    TGather WriteGathered(uint32_t& budget);
    // False when the pass ends here.
    bool WritePlain(TBlock& b, uint32_t& budget);
    bool WriteRtsControlled(TBlock& b, uint32_t& rtsBudget);
    void FinishFront();
    void RaiseRts();

    TCommPort& Port;
    std::mutex& PortLock;
    const std::atomic<bool>& PortOpen;
    TEvents Events;

    std::mutex SendLock;
    std::deque<TBlock> Blocks;
    uint64_t Cost = 0;           // under SendLock
    bool RtsBlockQueued = false; // under SendLock
    std::atomic<uint64_t> ToGo{0};

    // Worker only.
    std::vector<uint8_t> WriteBuf; // small plain blocks gathered for one write
    bool FWantWrite = false;
    Clock::time_point FNextDue{};
    Clock::time_point LastProgress{};
    uint64_t LastReported = 0;
    bool ProgressShown = false; // a non-zero progress was reported
    bool Sending = false;
};
