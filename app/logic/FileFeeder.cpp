#include "FileFeeder.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

TFileFeeder::TFileFeeder(std::string path, TSend send) : Path(std::move(path)), Send(std::move(send)) {}

TFileFeeder::~TFileFeeder() {
    Cancel();
    if (Fd >= 0)
        ::close(Fd);
    if (WakeFd >= 0)
        ::close(WakeFd);
}

bool TFileFeeder::Start() {
    // O_NONBLOCK: a FIFO without a writer opens at once; the thread waits for its bytes.
    Fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    struct stat st {};
    if (Fd < 0 || ::fstat(Fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        Fail(std::strerror(Fd < 0 || !S_ISDIR(st.st_mode) ? errno : EISDIR));
        return false;
    }
    WakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeFd < 0) {
        Fail(std::strerror(errno));
        return false;
    }
    {
        std::lock_guard lock(Lock);
        Now.Size = S_ISREG(st.st_mode) ? uint64_t(st.st_size) : 0;
        Now.Running = true;
    }
    Thread = std::thread([this] { Run(); });
    return true;
}

void TFileFeeder::Cancel() {
    Stop.store(true);
    if (WakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(WakeFd, &one, sizeof one);
    }
    if (Thread.joinable())
        Thread.join();
    std::lock_guard lock(Lock);
    if (Now.Running) {
        Now.Running = false;
        Now.Cancelled = true;
    }
}

TFileFeeder::TState TFileFeeder::State() const {
    std::lock_guard lock(Lock);
    return Now;
}

void TFileFeeder::Fail(std::string error) {
    std::lock_guard lock(Lock);
    Now.Running = false;
    Now.Failed = true;
    Now.Error = std::move(error);
}

void TFileFeeder::Run() {
    std::vector<uint8_t> piece(PieceBytes);
    for (;;) {
        // A FIFO's writer may be silent for as long as it likes: the wait ends with Cancel.
        pollfd fds[2] = {{Fd, POLLIN, 0}, {WakeFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            Fail(std::strerror(errno));
            return;
        }
        if (Stop.load())
            return; // Cancel marks the state
        ssize_t n;
        do
            n = ::read(Fd, piece.data(), piece.size());
        while (n < 0 && errno == EINTR);
        if (n < 0 && errno == EAGAIN)
            continue;
        if (n < 0) {
            Fail(std::strerror(errno));
            return;
        }
        if (n == 0)
            break;
        // A full queue drains at the device's pace: offer the piece again
        // shortly, and stop at once when asked to.
        for (;;) {
            if (Stop.load())
                return; // Cancel marks the state
            const TTaken taken = Send(piece.data(), uint32_t(n));
            if (taken == TTaken::Yes)
                break;
            if (taken == TTaken::Refused) {
                Fail(PortClosedError);
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::lock_guard lock(Lock);
        Now.Handed += uint64_t(n);
        // A file that grew while being sent goes out as far as it was read.
        Now.Size = std::max(Now.Size, Now.Handed);
    }
    std::lock_guard lock(Lock);
    Now.Running = false;
    Now.Size = Now.Handed;
}
