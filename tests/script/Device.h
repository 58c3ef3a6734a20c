// Devices played on the master of a pseudo-terminal, on a thread of their own: each takes what
// the port sent and answers through Answer, which may split its answer into pieces written
// apart (each its own read on the port's side).
#pragma once

#include "Pty.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

class TPtyDevice {
public:
    // Given what came so far (it takes what it answers), returns the pieces to write.
    using TAnswer = std::function<std::vector<std::string>(std::string& received)>;
    explicit TPtyDevice(TAnswer answer) : Answer(std::move(answer)) {
        Thread = std::thread([this] { Run(); });
    }
    ~TPtyDevice() {
        Stop.store(true);
        Thread.join();
    }
    TPty Pty;
    std::atomic<uint64_t> BytesIn{0};

private:
    void Run() {
        std::string received;
        while (!Stop.load()) {
            pollfd p{Pty.Master, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(Pty.Master, buf, sizeof buf);
            if (n <= 0)
                continue;
            BytesIn.fetch_add(uint64_t(n));
            received.append(buf, size_t(n));
            const std::vector<std::string> pieces = Answer(received);
            for (size_t i = 0; i < pieces.size(); ++i) {
                if (i > 0) // the port reads the first piece before the next comes
                    ::tcdrain(Pty.Master), std::this_thread::sleep_for(std::chrono::milliseconds(15));
                Pty.Write(std::vector<uint8_t>(pieces[i].begin(), pieces[i].end()));
            }
        }
    }
    TAnswer Answer;
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

// A modem: "AT\r" gives "OK\r\n"; any other line "ERROR\r\n".
inline std::vector<std::string> ModemAnswer(std::string& received) {
    std::vector<std::string> out;
    size_t cr;
    while ((cr = received.find('\r')) != std::string::npos) {
        const std::string line = received.substr(0, cr);
        received.erase(0, cr + 1);
        out.push_back(line == "AT" ? "OK\r\n" : "ERROR\r\n");
    }
    return out;
}

// Waits, running the application's events, until done or the deadline.
inline bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}
