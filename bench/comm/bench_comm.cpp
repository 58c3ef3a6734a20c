// Serial link figures on a pseudo-terminal: receive throughput against a plain
// read loop, byte latency through the worker, and the idle worker's CPU time.
//   bench_comm [idle seconds, default 10]

#include "Threadcomm.h"

#include "Pty.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

constexpr size_t TotalBytes = 16u << 20;

// Writes TotalBytes into the master as fast as the reader drains them.
std::thread Writer(int master) {
    return std::thread([master] {
        std::vector<uint8_t> chunk(4096);
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = static_cast<uint8_t>(i);
        size_t sent = 0;
        while (sent < TotalBytes) {
            ssize_t n = write(master, chunk.data(), std::min(chunk.size(), TotalBytes - sent));
            if (n > 0)
                sent += static_cast<size_t>(n);
        }
    });
}

double PlainReadLoop() {
    TPty pty;
    int fd = open(pty.Path.c_str(), O_RDWR | O_NOCTTY);
    auto start = Clock::now();
    std::thread w = Writer(pty.Master);
    std::vector<uint8_t> buf(65536);
    size_t got = 0;
    while (got < TotalBytes) {
        ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0)
            got += static_cast<size_t>(n);
    }
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    w.join();
    close(fd);
    return TotalBytes / s;
}

struct TWorkerOn {
    explicit TWorkerOn(const std::string& path) : Worker(true) {
        TPortMap map;
        map.Targets[0] = path;
        Worker.SetPortMap(map);
        Worker.OnPortState = [this](bool open) { Open = open; };
        Worker.OnReceive = [this](const uint8_t*, uint32_t n) {
            if (Received.fetch_add(n, std::memory_order_release) + n >= Target) {
                Done.store(true);
                Done.notify_all();
            }
        };
        Worker.RequestPort(1);
        Worker.Resume();
        while (!Open)
            std::this_thread::sleep_for(1ms);
    }
    TWThreadComm Worker;
    std::atomic<bool> Open{false};
    std::atomic<size_t> Received{0};
    std::atomic<size_t> Target{~size_t(0)};
    std::atomic<bool> Done{false};
};

double WorkerThroughput() {
    TPty pty;
    TWorkerOn w(pty.Path);
    w.Target = TotalBytes;
    auto start = Clock::now();
    std::thread writer = Writer(pty.Master);
    // Sleep until the last byte is in, as the plain loop's thread does no more than read.
    w.Done.wait(false);
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    return TotalBytes / s;
}

void Latency() {
    TPty pty;
    TWorkerOn w(pty.Path);
    std::vector<double> us;
    for (int i = 0; i < 2000; ++i) {
        size_t before = w.Received.load(std::memory_order_acquire);
        uint8_t b = static_cast<uint8_t>(i);
        auto t0 = Clock::now();
        (void)!write(pty.Master, &b, 1);
        while (w.Received.load(std::memory_order_acquire) == before) {
        }
        us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
        std::this_thread::sleep_for(std::chrono::microseconds(200 + i % 7 * 300));
    }
    std::sort(us.begin(), us.end());
    std::printf(
        "latency far end -> OnReceive: median %.0f us, p99 %.0f us, max %.0f us (%zu bytes)\n",
        us[us.size() / 2], us[us.size() * 99 / 100], us.back(), us.size());
}

double CpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

// Times any thread of the process gave up or lost its core: each wake-up
// from a wait ends in one.
long ContextSwitches() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_nvcsw + r.ru_nivcsw;
}

void IdleCpu(int seconds, const std::string& target, const char* what) {
    TWorkerOn w(target);
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // past the open
    double before = CpuSeconds();
    long switches = ContextSwitches();
    auto t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    double cpu = CpuSeconds() - before;
    // One of the switches is this thread's own sleep.
    switches = ContextSwitches() - switches - 1;
    std::printf("idle worker, %s open, no traffic, %.1f s: CPU %.1f ms "
                "(%.3f %% of one core), %ld wake-ups = %.2f a second\n",
                what, wall, cpu * 1000, 100 * cpu / wall, switches, switches / wall);
}

} // namespace

int main(int argc, char** argv) {
    int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 10;
    // Alternate the two readers and keep the best of each, so that a busy
    // machine disturbs both alike.
    double plain = 0, worker = 0;
    for (int round = 0; round < 3; ++round) {
        plain = std::max(plain, PlainReadLoop());
        worker = std::max(worker, WorkerThroughput());
    }
    std::printf(
        "receive 16 MiB (best of 3): plain read loop %.1f MiB/s, worker %.1f MiB/s, ratio %.2f\n",
        plain / (1 << 20), worker / (1 << 20), worker / plain);
    Latency();
    {
        TPty pty;
        IdleCpu(idleSeconds, pty.Path, "pseudo-terminal");
    }
    // Modem lines that report their changes, as a device with TIOCMIWAIT does.
    IdleCpu(idleSeconds, LoopbackTarget, "loopback plug");
}
