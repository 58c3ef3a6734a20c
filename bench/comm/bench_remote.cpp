// A port on another machine, played by ser2net on 127.0.0.1 serving a
// pseudo-terminal: 64 MiB written into the pseudo-terminal, drained through
// the worker on the RFC 2217 port, against a plain TCP read loop on the same
// kind of ser2net connection, in the same run.
//   bench_remote [MiB, default 64]

#include "Threadcomm.h"

#include "Pty.h"
#include "Ser2net.h"

#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;

namespace {

// No 0xFF in the stream: the plain loop reads the Telnet port without
// undoing doubled bytes, and both runs then move the same bytes.
uint8_t PatternByte(size_t i) {
    return static_cast<uint8_t>(i % 255);
}

// Writes total bytes into the master as fast as the far side drains them.
std::thread Writer(int master, size_t total) {
    return std::thread([master, total] {
        std::vector<uint8_t> chunk(255 * 64);
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = PatternByte(i);
        size_t sent = 0;
        while (sent < total) {
            const size_t at = sent % chunk.size();
            ssize_t n = ::write(master, chunk.data() + at, std::min(chunk.size() - at, total - sent));
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else {
                pollfd p{master, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    });
}

// Plain reads of the RFC 2217 port, counting bytes (ser2net's few greeting
// bytes included) until the whole stream came. Bytes per second.
double PlainReadLoop(size_t total) {
    TPty pty;
    TSer2net server(pty.Path);
    if (!server.Start())
        return 0;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server.RfcPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // ser2net opens the device
    std::vector<uint8_t> buf(65536);
    const auto start = Clock::now();
    std::thread w = Writer(pty.Master, total);
    size_t got = 0;
    while (got < total) {
        ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    w.join();
    ::close(fd);
    return got >= total ? total / s : 0;
}

struct TWorkerRun {
    double Rate = 0;
    bool InOrder = true;
};

TWorkerRun WorkerRun(size_t total) {
    TPty pty;
    TSer2net server(pty.Path);
    TWorkerRun run;
    if (!server.Start())
        return run;
    std::mutex m;
    std::condition_variable cv;
    bool open = false;
    size_t got = 0;
    bool inOrder = true;
    TWThreadComm worker(true);
    worker.OnPortState = [&](bool o) {
        std::lock_guard lock(m);
        open = o;
        cv.notify_all();
    };
    worker.OnReceive = [&](const uint8_t* b, uint32_t n) {
        std::lock_guard lock(m);
        for (uint32_t i = 0; i < n; ++i)
            inOrder = inOrder && b[i] == PatternByte(got + i);
        got += n;
        if (got >= total)
            cv.notify_all();
    };
    TPortMap map;
    map.Targets[0] = server.RfcTarget();
    worker.SetPortMap(map);
    worker.RequestPort(1);
    worker.Resume();
    {
        std::unique_lock lock(m);
        if (!cv.wait_for(lock, std::chrono::seconds(5), [&] { return open; }))
            return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto start = Clock::now();
    std::thread w = Writer(pty.Master, total);
    {
        std::unique_lock lock(m);
        cv.wait_for(lock, std::chrono::seconds(120), [&] { return got >= total; });
        run.InOrder = inOrder && got == total;
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    w.join();
    run.Rate = total / s;
    return run;
}

} // namespace

int main(int argc, char** argv) {
    if (!TSer2net::Available()) {
        std::printf("ser2net is not installed (tools/dev test installs it)\n");
        return 1;
    }
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const size_t total = (mib ? mib : 64) << 20;
    const double plain = PlainReadLoop(total);
    const TWorkerRun worker = WorkerRun(total);
    std::printf("ser2net RFC 2217 port on 127.0.0.1, %zu MiB from a pseudo-terminal\n", total >> 20);
    std::printf("  plain TCP read loop:    %8.1f MiB/s\n", plain / (1 << 20));
    std::printf("  worker (RFC 2217):      %8.1f MiB/s, every byte in order: %s\n",
                worker.Rate / (1 << 20), worker.InOrder ? "yes" : "NO");
    std::printf("  ratio worker/plain:     %8.2f (goal >= 0.70)\n",
                plain > 0 ? worker.Rate / plain : 0.0);
    return worker.InOrder && plain > 0 ? 0 : 1;
}
