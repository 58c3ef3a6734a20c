#pragma once
// A pseudo-terminal pair for the tests: the port opens the slave by its path,
// the test plays the far end on the master.

#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

class TPty {
public:
    TPty() {
        char name[256] = {};
        int slave = -1;
        if (::openpty(&Master, &slave, name, nullptr, nullptr) == 0) {
            Path = name;
            // Raw on our side too, so that the far end sees bytes as written.
            termios t{};
            ::tcgetattr(Master, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(Master, TCSANOW, &t);
            ::close(slave); // the port opens its own
        }
        ::fcntl(Master, F_SETFL, ::fcntl(Master, F_GETFL) | O_NONBLOCK);
    }
    ~TPty() { CloseMaster(); }

    void CloseMaster() {
        if (Master >= 0)
            ::close(Master);
        Master = -1;
    }

    void Write(const std::vector<uint8_t>& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            ssize_t n = ::write(Master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<size_t>(n);
            else {
                pollfd p{Master, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    }

    // Reads until count bytes came or the time is up.
    std::vector<uint8_t> Read(size_t count, int timeoutMs = 2000) const {
        std::vector<uint8_t> out;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (out.size() < count && std::chrono::steady_clock::now() < end) {
            pollfd p{Master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            uint8_t buf[4096];
            ssize_t n = ::read(Master, buf, sizeof buf);
            if (n > 0)
                out.insert(out.end(), buf, buf + n);
        }
        return out;
    }

    int Master = -1;
    std::string Path;
};
