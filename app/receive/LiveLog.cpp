#include "LiveLog.h"

#include "ThreadPriority.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

TLiveLog::~TLiveLog() {
    Stop();
}

bool TLiveLog::Start(const std::string& path, TMode mode, bool stamps,
                     TTextRender::TDecodePair decode) {
    Stop();
    static std::once_flag ignorePipes;
    std::call_once(ignorePipes, [] { std::signal(SIGPIPE, SIG_IGN); });
    FilePath = path;
    Mode = mode;
    Text = TTextRender(std::move(decode));
    Text.Stamps = stamps;
    Written = 0;
    Dropped = 0;
    Failure = false;
    StopAsked = false;
    {
        std::lock_guard lock(Lock);
        Reason.clear();
        ReasonErrno = 0;
        Pending.clear();
        Blocks.clear();
        Stopping = false;
    }
    // O_NONBLOCK: a FIFO without a reader fails at once (ENXIO) instead of waiting for one.
    Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                0644);
    if (Fd >= 0)
        WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (Fd < 0 || WakeFd < 0) {
        const int err = errno;
        if (Fd >= 0)
            ::close(Fd);
        Fd = -1;
        std::lock_guard lock(Lock);
        Reason = std::strerror(err);
        ReasonErrno = err;
        return false;
    }
    Writer = std::thread([this] {
        pthread_setname_np(pthread_self(), "live log");
        LowerThisThread(1); // beside the serial worker, below the window's thread
        if (Mode == TMode::Text)
            Text.KeepPairs();
        Run();
    });
    std::lock_guard lock(Lock);
    Accepting = true;
    return true;
}

void TLiveLog::Push(const uint8_t* bytes, size_t count) {
    if (count == 0)
        return;
    const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    bool wake;
    {
        std::lock_guard lock(Lock);
        if (!Accepting || Failure.load())
            return;
        if (Pending.size() + count > MaxQueuedBytes) {
            Dropped.fetch_add(count, std::memory_order_relaxed);
            return;
        }
        Blocks.push_back({ms, Pending.size(), Pending.size() + count});
        Pending.insert(Pending.end(), bytes, bytes + count);
        // The writer waits for a first block, or, in a flood, for a batch.
        wake = Blocks.size() == 1 ||
               (Pending.size() >= GatherBytes && Pending.size() - count < GatherBytes);
    }
    if (wake)
        Wake.notify_one();
}

void TLiveLog::Stop() {
    if (!Writer.joinable()) {
        if (Fd >= 0) {
            ::close(Fd);
            Fd = -1;
        }
        return;
    }
    {
        std::lock_guard lock(Lock);
        Stopping = true;
        Accepting = false;
    }
    StopAsked = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(WakeFd, &one, sizeof one);
    Wake.notify_one();
    Writer.join();
    ::close(Fd);
    ::close(WakeFd);
    Fd = -1;
    WakeFd = -1;
}

std::string TLiveLog::Error() const {
    std::lock_guard lock(Lock);
    return Reason;
}

int TLiveLog::ErrorNumber() const {
    std::lock_guard lock(Lock);
    return ReasonErrno;
}

bool TLiveLog::Unlinked() const {
    struct stat st {};
    return Fd >= 0 && ::fstat(Fd, &st) == 0 && st.st_nlink == 0;
}

void TLiveLog::Fail(int err) {
    {
        std::lock_guard lock(Lock);
        Reason = std::strerror(err);
        ReasonErrno = err;
    }
    Failure = true;
}

// False when the write failed (the log ends) or the log stopped while a FIFO's reader took
// nothing (the rest is dropped).
bool TLiveLog::WriteAll(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(Fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                if (StopAsked.load()) {
                    Dropped.fetch_add(size, std::memory_order_relaxed);
                    return false;
                }
                pollfd fds[2] = {{Fd, POLLOUT, 0}, {WakeFd, POLLIN, 0}};
                ::poll(fds, 2, -1);
                continue;
            }
            Fail(errno);
            return false;
        }
        data += n;
        size -= size_t(n);
        Written.fetch_add(uint64_t(n), std::memory_order_relaxed);
    }
    return true;
}

void TLiveLog::Run() {
    std::vector<uint8_t> bytes;
    std::vector<TBlock> blocks;
    std::string out;
    bool writing = true; // false once a write failed or was given up: the rest is dropped
    bool flood = false;  // the last round took more than one block
    for (;;) {
        bool last;
        {
            std::unique_lock lock(Lock);
            Wake.wait(lock, [&] { return Stopping || !Blocks.empty(); });
            // In a flood, a batch at a time: a wake-up per block would cost more than its text.
            if (flood && !Stopping && Pending.size() < GatherBytes)
                Wake.wait_for(lock, GatherTime,
                              [&] { return Stopping || Pending.size() >= GatherBytes; });
            bytes.swap(Pending);
            blocks.swap(Blocks);
            last = Stopping;
        }
        flood = blocks.size() > 1;
        if (!writing || Failure) {
            Dropped.fetch_add(bytes.size(), std::memory_order_relaxed);
        } else if (Mode == TMode::Raw) {
            writing = WriteAll(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        } else {
            // Lines as they complete; the line being filled goes out as far as it has come, so
            // that nothing waits for a line break to reach the disk, and a line that never
            // ends is never held whole.
            auto done = [&](const std::string& line) {
                out += line;
                out += '\n';
            };
            // The text of the blocks that came together goes out in one write, or in a few
            // when it is large: a write per block would cost the system more than the text.
            out.clear();
            for (const TBlock& b : blocks) {
                Text.Feed(bytes.data() + b.Begin, b.End - b.Begin, b.Ms, done);
                Text.TakePartial(out);
                if (out.size() >= WriteChunk) {
                    writing = WriteAll(out.data(), out.size());
                    out.clear();
                    if (!writing)
                        break;
                }
            }
            if (last && writing)
                Text.Finish(done);
            if (writing && !out.empty())
                writing = WriteAll(out.data(), out.size());
        }
        bytes.clear();
        blocks.clear();
        if (last || Failure)
            return;
    }
}
