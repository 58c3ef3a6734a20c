#pragma once
// TPlotFeed: the values of the received bytes, read by a thread of its own into a TPlotStore
// as they arrive. Plain C++.
//
// Threads: Push is called on the worker's thread for each block received (with framing on,
// each block is one record); it only copies the block under a short lock and never waits for
// the reader or the window. The reader thread parses the blocks a slice of at most SliceBytes
// at a time without the data lock, and takes the lock only to add the slice's values to the
// store, BatchValues at a time; the window's frames read the store with TryRead, under the same
// lock, and never wait for it. Start, Stop, SetSource, SetMemoryLimit and Clear are called on
// one thread (the window's).
//
// A flood faster than the reader parses it does not pile up: blocks that find MaxPendingBytes
// waiting are skipped and counted, and the line they cut is not read.

#include "PlotData.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

class TPlotFeed {
public:
    enum class TSource { Text, Records };

    struct TCounts {
        uint64_t Good = 0;  // lines or records that gave values
        uint64_t Bad = 0;   // lines that did not read, records cut short
        uint64_t Dropped = 0; // points dropped past the memory limit
        uint64_t Skipped = 0; // received bytes not read: they came faster than the reader read
    };

    // Received bytes waiting for the reader, at most.
    static constexpr size_t MaxPendingBytes = size_t(8) << 20;
    // In a flood, the reader takes this much at a time, or what came in GatherTime.
    static constexpr size_t GatherBytes = size_t(64) << 10;
    static constexpr std::chrono::milliseconds GatherTime{4};
    // Bytes parsed before their values are added to the store, at most (or one block, when
    // larger).
    static constexpr size_t SliceBytes = size_t(64) << 10;
    // Values added to the store under one hold of its lock, at most (a line's values are never
    // split).
    static constexpr size_t BatchValues = 2048;

    TPlotFeed() = default;
    ~TPlotFeed();
    TPlotFeed(const TPlotFeed&) = delete;
    TPlotFeed& operator=(const TPlotFeed&) = delete;

    void Start();
    void Stop();
    bool Running() const { return m_reader.joinable(); }

    // Any thread: a block received at the present time; ignored unless running.
    void Push(const uint8_t* bytes, size_t count);
    // Same, at a given time (milliseconds since the epoch).
    void Push(const uint8_t* bytes, size_t count, int64_t epochMs);

    // Blocks pushed from now on are read so.
    void SetSource(TSource source, const TRecordLayout& layout);
    void SetMemoryLimit(size_t bytes);
    // Empties the store and the counts.
    void Clear();
    // Returns once every block pushed before the call has been read (for tests and benchmarks).
    void Settle();

    // f(const TPlotStore&, const TCounts&) under the data lock: keep it short.
    template <class F>
    void Read(F&& f) const {
        std::lock_guard lock(m_dataLock);
        f(m_store, m_counts);
    }
    // The same if the lock is free at once; false, without calling f, while the reader holds
    // it: the window's frames never wait for a reader that was put off its core.
    template <class F>
    bool TryRead(F&& f) const {
        std::unique_lock lock(m_dataLock, std::try_to_lock);
        if (!lock.owns_lock())
            return false;
        f(m_store, m_counts);
        return true;
    }
    // Rises each time values have been added; the window redraws when it moves.
    uint64_t Generation() const { return m_generation.load(std::memory_order_acquire); }

private:
    struct TBlock {
        int64_t Ms;
        size_t Begin, End;
        bool AfterSkip; // blocks before it were skipped: the line in progress is cut
    };
    void Run();
    // A line's values, or a block's start (Values 0), as read before they are added.
    struct TStep {
        int64_t Ms;
        size_t Values;
    };
    void Take(const TPlotValue* values, size_t count, uint32_t ms);

    std::thread m_reader;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::vector<uint8_t> m_pending; // guarded by m_lock
    std::vector<TBlock> m_blocks;   // guarded by m_lock
    bool m_stopping = false;        // guarded by m_lock
    bool m_accepting = false;       // guarded by m_lock
    bool m_busy = false;            // guarded by m_lock: the reader holds a batch
    TSource m_nextSource = TSource::Text; // guarded by m_lock
    TRecordLayout m_nextLayout;           // guarded by m_lock
    uint64_t m_sourceSet = 0;             // guarded by m_lock
    uint64_t m_skipped = 0;  // guarded by m_lock: bytes skipped since the reader looked
    bool m_skipping = false; // guarded by m_lock: the last block was skipped
    bool m_midLine = false;  // guarded by m_lock: before Start, the bytes ended inside a line

    // The reader's own.
    TSource m_source = TSource::Text;
    uint64_t m_sourceSeen = 0;
    TTextPlotReader m_text;
    TRecordPlotReader m_records;
    bool m_lastMidLine = false;       // the last block read ended inside a line
    std::vector<TPlotValue> m_parsed; // a slice's values, in order
    std::vector<TStep> m_steps;

    mutable std::mutex m_dataLock;
    TPlotStore m_store; // guarded by m_dataLock
    TCounts m_counts;   // guarded by m_dataLock
    uint64_t m_badBase = 0; // guarded by m_dataLock: the readers' bad counts at the last Clear
    std::atomic<uint64_t> m_generation{0};
};
