// Full duplex through the worker: a far end in another process echoes every
// byte; 16 MiB go out through Send, in line-sized blocks and as one block,
// while the echo comes back. Timed against the same transfer through a plain
// poll loop on a pseudo-terminal pair; every byte must come back in order.
//   bench_duplex [MiB, default 16]

#include "Threadcomm.h"

#include "Duplexref.h"
#include "Pty.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

using namespace duplex;

constexpr uint32_t LineBytes = 1024;

// Through the worker: Send in blocks of blockBytes (waiting while the queue is
// full), the echo gathered by OnReceive.
double ThroughWorker(const std::vector<uint8_t>& data, uint32_t blockBytes, bool& intact) {
    TPty pty;
    pid_t echo = ForkEcho(pty.Master);
    std::vector<uint8_t> back;
    back.reserve(data.size());
    std::atomic<size_t> got{0};
    TWThreadComm worker(true);
    TPortMap map;
    map.Targets[0] = pty.Path;
    worker.SetPortMap(map);
    worker.OnReceive = [&](const uint8_t* b, uint32_t n) {
        back.insert(back.end(), b, b + n);
        got.store(back.size(), std::memory_order_release);
    };
    worker.RequestPort(1);
    worker.Resume();
    while (!worker.IsOpen())
        std::this_thread::sleep_for(1ms);
    auto start = Clock::now();
    for (size_t at = 0; at < data.size();) {
        uint32_t n = static_cast<uint32_t>(std::min<size_t>(blockBytes, data.size() - at));
        if (worker.Send(data.data() + at, n))
            at += n;
        else
            std::this_thread::sleep_for(1ms); // the queue is full
    }
    while (got.load(std::memory_order_acquire) < data.size())
        std::this_thread::sleep_for(200us);
    double s = std::chrono::duration<double>(Clock::now() - start).count();
    worker.Terminate();
    worker.WaitFor();
    StopEcho(echo);
    intact = back == data;
    return static_cast<double>(data.size()) / s;
}

} // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const auto data = Pattern(mib << 20);
    bool plainOk = false, linesOk = false, blockOk = false;
    // Taking turns evens out what the machine's other load does to each.
    double plain = 0, lines = 0, block = 0;
    for (int round = 0; round < 2; ++round) {
        plain += PlainLoop(data, plainOk);
        lines += ThroughWorker(data, LineBytes, linesOk);
        block += ThroughWorker(data, static_cast<uint32_t>(data.size()), blockOk);
    }
    std::printf("duplex echo of %zu MiB on a pseudo-terminal (mean of 2 rounds)\n", mib);
    std::printf("  plain poll loop:         %8.2f MB/s  %s\n", plain / 2e6,
                plainOk ? "intact" : "CORRUPT");
    std::printf("  worker, %u-byte lines: %8.2f MB/s  %s  ratio %.2f\n", LineBytes, lines / 2e6,
                linesOk ? "intact" : "CORRUPT", lines / plain);
    std::printf("  worker, one block:       %8.2f MB/s  %s  ratio %.2f\n", block / 2e6,
                blockOk ? "intact" : "CORRUPT", block / plain);
    std::printf("  goal: ratio >= 0.80\n");
    return plainOk && linesOk && blockOk ? 0 : 1;
}
