#pragma once
// TLiveLog: every received byte recorded to a file as it arrives, raw or as
// text lines (TTextRender), by a thread of its own. Push is called on the
// worker's thread for each block and only copies it; the writer hands what
// has come to the system at once (in a flood, a batch at a time, within
// GatherTime), so a program that is closed or killed leaves everything
// received so far in the file. Plain C++.
//
// The file may be a FIFO: it is opened without waiting for a reader (none
// there: Start fails with ENXIO), written without blocking, and a reader that
// stops reading never holds up Push or Stop. Blocks that do not fit the queue
// (MaxQueuedBytes) are dropped and counted; when the reader goes away the log
// ends with EPIPE (SIGPIPE is ignored from the first Start on, process-wide).

#include "TextRender.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TLiveLog {
public:
    enum class TMode { Raw, Text };

    // Received bytes waiting for the writer, at most.
    static constexpr size_t MaxQueuedBytes = size_t(16) << 20;
    // In a flood, the writer takes this much at a time, or what came in GatherTime.
    static constexpr size_t GatherBytes = size_t(64) << 10;
    static constexpr std::chrono::milliseconds GatherTime{4};
    // Text gathered for one write, at most (a little more: a block's text).
    static constexpr size_t WriteChunk = size_t(256) << 10;

    TLiveLog() = default;
    ~TLiveLog();
    TLiveLog(const TLiveLog&) = delete;
    TLiveLog& operator=(const TLiveLog&) = delete;

    // Creates (or empties) the file and starts the writer. False, with the
    // system's reason in Error(), when the file cannot be opened.
    bool Start(const std::string& path, TMode mode, bool stamps = false,
               TTextRender::TDecodePair decode = {});
    // A received block; any thread. Never waits for the writer.
    void Push(const uint8_t* bytes, size_t count);
    // Writes what is left (the text's last line too) and closes the file. What
    // a FIFO's reader does not take at once is dropped: Stop never waits for it.
    void Stop();

    // Window thread only, like Start and Stop.
    bool Running() const { return Fd >= 0; }
    // Bytes in the file so far.
    uint64_t FileBytes() const { return Written.load(std::memory_order_relaxed); }
    // Received bytes that did not reach the file: the queue was full, or the log stopped first.
    uint64_t DroppedBytes() const { return Dropped.load(std::memory_order_relaxed); }
    // Set when a write failed (the disk is full, say): the log has stopped.
    bool Failed() const { return Failure.load(); }
    std::string Error() const;
    // The system's error number of Error(), 0 when none.
    int ErrorNumber() const;
    // The file no longer has a name on disk (it was deleted while the log ran).
    bool Unlinked() const;
    const std::string& Path() const { return FilePath; }

private:
    struct TBlock {
        int64_t Ms;
        size_t Begin, End; // in Pending
    };
    void Run();
    bool WriteAll(const char* data, size_t size);
    void Fail(int err);

    std::string FilePath;
    TMode Mode = TMode::Raw;
    int Fd = -1;
    int WakeFd = -1; // an eventfd: Stop wakes the writer waiting for room in a FIFO
    TTextRender Text;

    std::thread Writer;
    mutable std::mutex Lock;
    std::condition_variable Wake;
    std::vector<uint8_t> Pending; // guarded by Lock
    std::vector<TBlock> Blocks;   // guarded by Lock
    bool Stopping = false;        // guarded by Lock
    bool Accepting = false;       // guarded by Lock: Push takes blocks
    std::string Reason;           // guarded by Lock
    int ReasonErrno = 0;          // guarded by Lock
    std::atomic<bool> StopAsked{false}; // Stopping, for the writer between locks
    std::atomic<uint64_t> Written{0};
    std::atomic<uint64_t> Dropped{0};
    std::atomic<bool> Failure{false};
};
