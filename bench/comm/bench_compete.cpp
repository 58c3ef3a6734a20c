// How much a plain read loop on a pseudo-terminal loses when one more thread of the same process
// works beside it: the ceiling any program that does something with the bytes it reads can reach
// on this machine. A thread busy for a share of every millisecond (0, 10, 20 and 30 % of one
// core) runs while a far end writes into the master and a plain loop reads the slave, each round
// taking every share in turn: the rate for each share, and its ratio to the idle share of the same
// round (median and range over the rounds).
//   bench_compete [MiB, default 64] [rounds, default 5]

#include "Pty.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double Shares[] = {0.0, 0.1, 0.2, 0.3};
constexpr int ShareCount = int(std::size(Shares));
constexpr int MaxRounds = 15;
constexpr auto Period = std::chrono::microseconds(1000);

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// MiB/s of a plain loop reading total bytes, with a thread busy share of every Period beside it.
double Drain(size_t total, double share) {
    TPty pty;
    const int fd = ::open(pty.Path.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        return 0;
    std::atomic<bool> stop{false};
    std::thread busy([&] {
        const auto work = std::chrono::duration_cast<Clock::duration>(Period * share);
        while (share > 0 && !stop.load(std::memory_order_relaxed)) {
            const auto begin = Clock::now();
            while (Clock::now() - begin < work) {
            }
            std::this_thread::sleep_until(begin + Period);
        }
    });
    const auto start = Clock::now();
    std::thread writer([&] {
        std::vector<uint8_t> chunk(4096, 'a');
        for (size_t sent = 0; sent < total;) {
            const ssize_t w = ::write(pty.Master, chunk.data(), std::min(chunk.size(), total - sent));
            if (w > 0) {
                sent += size_t(w);
            } else { // full: wait for room, as a device would
                pollfd p{pty.Master, POLLOUT, 0};
                ::poll(&p, 1, 100);
            }
        }
    });
    std::vector<uint8_t> buf(65536);
    for (size_t got = 0; got < total;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n > 0)
            got += size_t(n);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    writer.join();
    stop = true;
    busy.join();
    ::close(fd);
    return double(total) / seconds / (1 << 20);
}

} // namespace

int main(int argc, char** argv) {
    const size_t total = size_t(argc > 1 ? std::max(1, std::atoi(argv[1])) : 64) << 20;
    const int rounds = std::clamp(argc > 2 ? std::atoi(argv[2]) : 5, 1, MaxRounds);
    std::vector<double> rates[ShareCount], ratios[ShareCount];
    for (int round = 0; round < rounds; ++round) {
        double alone = 0;
        for (int s = 0; s < ShareCount; ++s) {
            const double rate = Drain(total, Shares[s]);
            if (s == 0)
                alone = rate;
            rates[s].push_back(rate);
            ratios[s].push_back(alone > 0 ? rate / alone : 0);
        }
    }
    std::printf("plain read loop of %zu MiB on a pseudo-terminal with a thread busy beside it, "
                "%d rounds: medians, and the ratio's lowest and highest round\n",
                total >> 20, rounds);
    std::printf("%-24s %12s %7s %13s\n", "busy thread", "plain loop", "ratio", "spread");
    for (int s = 0; s < ShareCount; ++s) {
        const auto [low, high] = std::minmax_element(ratios[s].begin(), ratios[s].end());
        std::printf("%3.0f %% of one core       %6.1f MiB/s %7.2f %6.2f-%-6.2f\n", Shares[s] * 100,
                    Median(rates[s]), Median(ratios[s]), *low, *high);
    }
    return 0;
}
