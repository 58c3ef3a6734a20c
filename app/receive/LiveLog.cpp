#include "LiveLog.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

TLiveLog::~TLiveLog() {
    Stop();
}

bool TLiveLog::Start(const std::string& path, TMode mode, bool stamps,
                     TTextRender::TDecodePair decode) {
    Stop();
    FilePath = path;
    Mode = mode;
    Text = TTextRender(std::move(decode));
    Text.Stamps = stamps;
    PartialWritten = 0;
    Written = 0;
    Failure = false;
    {
        std::lock_guard lock(Lock);
        Reason.clear();
        Pending.clear();
        Blocks.clear();
        Stopping = false;
    }
    Fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (Fd < 0) {
        std::lock_guard lock(Lock);
        Reason = std::strerror(errno);
        return false;
    }
    Writer = std::thread([this] { Run(); });
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
    {
        std::lock_guard lock(Lock);
        if (!Accepting || Failure.load())
            return;
        Blocks.push_back({ms, Pending.size(), Pending.size() + count});
        Pending.insert(Pending.end(), bytes, bytes + count);
    }
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
    Wake.notify_one();
    Writer.join();
    ::close(Fd);
    Fd = -1;
}

std::string TLiveLog::Error() const {
    std::lock_guard lock(Lock);
    return Reason;
}

void TLiveLog::Fail(int err) {
    {
        std::lock_guard lock(Lock);
        Reason = std::strerror(err);
    }
    Failure = true;
}

bool TLiveLog::WriteAll(const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(Fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
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
    for (;;) {
        bool last;
        {
            std::unique_lock lock(Lock);
            Wake.wait(lock, [&] { return Stopping || !Blocks.empty(); });
            bytes.swap(Pending);
            blocks.swap(Blocks);
            last = Stopping;
        }
        out.clear();
        if (Mode == TMode::Raw) {
            if (!Failure && !WriteAll(reinterpret_cast<const char*>(bytes.data()), bytes.size()))
                return;
        } else {
            // Lines as they complete; the line being filled goes out as far as it
            // has come, so that nothing waits for a line break to reach the disk.
            auto done = [&](const std::string& line) {
                out.append(line, std::min(PartialWritten, line.size()));
                out += '\n';
                PartialWritten = 0;
            };
            for (const TBlock& b : blocks)
                Text.Feed(bytes.data() + b.Begin, b.End - b.Begin, b.Ms, done);
            if (last)
                Text.Finish(done);
            const std::string& partial = Text.Partial();
            if (partial.size() > PartialWritten) {
                out.append(partial, PartialWritten);
                PartialWritten = partial.size();
            }
            if (!Failure && !WriteAll(out.data(), out.size()))
                return;
        }
        bytes.clear();
        blocks.clear();
        if (last)
            return;
    }
}
