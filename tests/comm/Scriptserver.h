#pragma once
// A network serial server played by the test: a thread with a listening socket
// on 127.0.0.1 that runs a script on each connection it accepts. The script
// sends what it likes (whole, or a byte at a time) and collects what the
// client sent, raw, for the test to look at.

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class TScriptServer {
public:
    using TScript = std::function<void(int fd, TScriptServer& server)>;

    explicit TScriptServer(TScript script, int receiveBuffer = 0) : Script(std::move(script)) {
        Listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(Listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (receiveBuffer > 0) // inherited by accepted sockets
            ::setsockopt(Listen, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(Listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(Listen, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
        ::listen(Listen, 4);
        Thread = std::thread([this] { Run(); });
    }
    ~TScriptServer() {
        Stopping = true;
        Thread.join();
        ::close(Listen);
    }

    // Sends the bytes, or each byte in a send of its own with a pause between.
    void Send(int fd, const std::vector<uint8_t>& bytes, bool byteByByte = false) {
        if (!byteByByte) {
            SendAll(fd, bytes.data(), bytes.size());
            return;
        }
        for (uint8_t b : bytes) {
            SendAll(fd, &b, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    // Reads what the client sends for the given time (or until it closes).
    void Pump(int fd, std::chrono::milliseconds time) {
        const auto end = std::chrono::steady_clock::now() + time;
        while (!Stopping && std::chrono::steady_clock::now() < end) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            uint8_t buf[4096];
            ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0)
                return;
            std::lock_guard lock(M);
            Received.insert(Received.end(), buf, buf + n);
            Cv.notify_all();
        }
    }
    // Reads until the test stops the server or the client closes.
    void PumpUntilStopped(int fd) { Pump(fd, std::chrono::hours(1)); }

    std::vector<uint8_t> ReceivedBytes() {
        std::lock_guard lock(M);
        return Received;
    }
    // pred gets what was received; it must not call back into the server.
    bool WaitReceived(const std::function<bool(const std::vector<uint8_t>&)>& pred,
                      std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        std::unique_lock lock(M);
        return Cv.wait_for(lock, limit, [&] { return pred(Received); });
    }
    // How often the sequence occurs in what the client sent.
    size_t CountReceived(const std::vector<uint8_t>& seq) { return Count(ReceivedBytes(), seq); }
    static size_t Count(const std::vector<uint8_t>& all, const std::vector<uint8_t>& seq) {
        size_t n = 0;
        for (size_t i = 0; i + seq.size() <= all.size(); ++i)
            n += std::equal(seq.begin(), seq.end(), all.begin() + long(i));
        return n;
    }

    uint16_t Port = 0;
    std::atomic<int> Connections{0};
    std::atomic<bool> Stopping{false};

private:
    static void SendAll(int fd, const uint8_t* data, size_t count) {
        while (count > 0) {
            ssize_t n = ::send(fd, data, count, MSG_NOSIGNAL);
            if (n <= 0)
                return;
            data += n;
            count -= size_t(n);
        }
    }

    void Run() {
        while (!Stopping) {
            pollfd p{Listen, POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            int fd = ::accept4(Listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            ++Connections;
            Script(fd, *this);
            ::close(fd);
        }
    }

    TScript Script;
    int Listen = -1;
    std::thread Thread;
    std::mutex M;
    std::condition_variable Cv;
    std::vector<uint8_t> Received;
};
