#pragma once
// What the full-duplex benchmarks share: the bytes they send, a far end in
// another process that echoes everything, and the reference transfer through
// a plain poll loop on the same kind of pseudo-terminal pair.

#include "Pty.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace duplex {

using Clock = std::chrono::steady_clock;

inline std::vector<uint8_t> Pattern(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t seed = 7;
    for (auto& b : v) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

// Forks a process that echoes everything on the master until it is killed.
// The child only makes system calls (its buffer is allocated before the fork),
// so it may be forked from a process that runs threads.
inline pid_t ForkEcho(int master) {
    static std::vector<uint8_t> buf(65536);
    pid_t pid = fork();
    if (pid != 0)
        return pid;
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0)
            continue;
        ssize_t n = read(master, buf.data(), buf.size());
        for (ssize_t done = 0; n > 0 && done < n;) {
            ssize_t w = write(master, buf.data() + done, static_cast<size_t>(n - done));
            if (w > 0) {
                done += w;
            } else {
                pollfd q{master, POLLOUT, 0};
                poll(&q, 1, 1000);
            }
        }
    }
}

inline void StopEcho(pid_t pid) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The reference: one thread writes and reads the slave with poll.
inline double PlainLoop(const std::vector<uint8_t>& data, bool& intact) {
    TPty pty;
    pid_t echo = ForkEcho(pty.Master);
    int fd = open(pty.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::vector<uint8_t> back;
    back.reserve(data.size());
    std::vector<uint8_t> buf(65536);
    size_t sent = 0;
    auto start = Clock::now();
    while (back.size() < data.size()) {
        pollfd p{fd, static_cast<short>(POLLIN | (sent < data.size() ? POLLOUT : 0)), 0};
        poll(&p, 1, 1000);
        if ((p.revents & POLLOUT) && sent < data.size()) {
            ssize_t n = write(fd, data.data() + sent, std::min<size_t>(65536, data.size() - sent));
            if (n > 0)
                sent += static_cast<size_t>(n);
        }
        if (p.revents & POLLIN) {
            ssize_t n = read(fd, buf.data(), buf.size());
            if (n > 0)
                back.insert(back.end(), buf.begin(), buf.begin() + n);
        }
    }
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    StopEcho(echo);
    intact = back == data;
    return static_cast<double>(data.size()) / s;
}

} // namespace duplex
