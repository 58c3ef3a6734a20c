#include "NetBackend.h"

#include <poll.h>
#include <thread>

using Clock = std::chrono::steady_clock;

int TNetBackend::Open(const std::string&) {
    if (int err = Link.Connect(Target, OpenWait))
        return err;
    if (int err = Connected()) {
        Link.Close();
        return err;
    }
    return 0;
}

int TNetBackend::Close() {
    Link.Close();
    return 0;
}

int TNetBackend::WaitWritable(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return ETIMEDOUT;
    pollfd p{Link.Fd(), POLLOUT, 0};
    const int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
    if (::poll(&p, 1, ms) < 0 && errno != EINTR)
        return errno;
    if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
        return ECONNRESET;
    return 0;
}

int TNetBackend::Write(const uint8_t* data, size_t count, size_t& written) {
    written = 0;
    auto deadline = Clock::now() + StallAllowance;
    while (written < count) {
        size_t n = 0;
        if (int err = WriteSome(data + written, count - written, n))
            return err;
        if (n > 0) {
            written += n;
            deadline = Clock::now() + StallAllowance;
        } else if (int err = WaitWritable(deadline)) {
            return err;
        }
    }
    return 0;
}

int TNetBackend::Drained(bool& done) {
    uint32_t unsent = 0;
    if (int err = Link.Unsent(unsent))
        return err;
    done = unsent == 0 && !HoldsBytes();
    return 0;
}

// Waits until the far end has acknowledged every byte: the nearest thing to
// "on the wire" that a network port can tell.
int TNetBackend::Flush() {
    auto deadline = Clock::now() + StallAllowance;
    uint32_t last = UINT32_MAX;
    for (;;) {
        bool done = false;
        if (int err = Drained(done))
            return err;
        if (done)
            return 0;
        uint32_t unsent = 0;
        Link.Unsent(unsent);
        if (unsent != last) {
            last = unsent;
            deadline = Clock::now() + StallAllowance;
        }
        if (Clock::now() >= deadline)
            return ETIMEDOUT;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}
