// Full duplex through the whole program: a far end in another process echoes
// every byte; the window sends 16 MiB through the worker, in the 1 KiB blocks
// a user's lines make and as one block, while the echo comes back into the
// receive pane. Timed against the same transfer through a plain poll loop on
// a pseudo-terminal pair; every byte must be back in the pane in order, and
// the window's event loop must keep running (its longest stall is printed).
//   bench_duplex_window [MiB, default 16]

#include "Duplexref.h"
#include "Hexpane.h"
#include "Openwindow.h"
#include "Pty.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStandardPaths>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <string>

namespace {

using namespace duplex;

constexpr uint32_t LineBytes = 1024;

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Whether the pane holds exactly data, read back from its hex columns.
bool PaneHolds(const TReceStore& store, const std::vector<uint8_t>& data) {
    const int64_t lines = int64_t((data.size() + 15) / 16);
    if (store.LineCount() != lines)
        return false;
    size_t at = 0;
    for (int64_t k = 0; k < lines; ++k) {
        const std::string line = store.Line(k);
        for (int i = 0; i < 16 && at < data.size(); ++i, ++at) {
            const size_t col = 13 + size_t(3 * i);
            if (line.size() < col + 2 ||
                uint8_t(HexValue(line[col]) * 16 + HexValue(line[col + 1])) != data[at])
                return false;
        }
    }
    return true;
}

struct TRun {
    double BytesPerSecond = 0;
    double WorstStallMs = 0;
    bool Intact = false;
    double WindowBusy = 0; // the window thread's CPU time over the run's time
};

// Sends data in blocks of blockBytes from the window's thread, as the send
// page does, at most 2 ms of sending a tick, retrying a refused block (full
// queue) on the next tick, until the pane holds the whole echo.
TRun ThroughWindow(TFrmMain& w, const std::vector<uint8_t>& data, uint32_t blockBytes) {
    w.ToolClearClick();
    const TReceStore& store = w.ReceEdit->Store();
    const int64_t lines = int64_t((data.size() + 15) / 16);
    const int lastCount = int((data.size() - 1) % 16 + 1);

    TRun run;
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    QTimer probe; // a 1 ms tick: any gap beyond that is a stall
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        run.WorstStallMs = std::max(run.WorstStallMs, (now - last) / 1e6 - 1.0);
        last = now;
    });
    size_t at = 0;
    QTimer sender;
    sender.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sender, &QTimer::timeout, [&] {
        // A few milliseconds of lines a tick, as a paste of many lines is fed.
        QElapsedTimer tick;
        tick.start();
        while (at < data.size() && tick.nsecsElapsed() < 2'000'000) {
            const uint32_t n = uint32_t(std::min<size_t>(blockBytes, data.size() - at));
            if (!w.Worker().Send(data.data() + at, n))
                return;
            at += n;
        }
        if (at == data.size())
            sender.stop();
    });
    QEventLoop loop;
    QObject::connect(&w, &TFrmMain::ReceivedFlushed, &loop, [&] {
        if (store.LineCount() == lines && store.ReceLine().Count == lastCount)
            loop.quit();
    });
    const auto start = Clock::now();
    timespec cpu0{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu0);
    probe.start(1);
    sender.start(1);
    loop.exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    timespec cpu1{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu1);
    run.WindowBusy = ((cpu1.tv_sec - cpu0.tv_sec) + (cpu1.tv_nsec - cpu0.tv_nsec) / 1e9) / seconds;
    probe.stop();
    run.BytesPerSecond = double(data.size()) / seconds;
    run.Intact = PaneHolds(store, data);
    return run;
}

} // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const auto data = Pattern(std::max<size_t>(mib, 1) << 20);

    // The reference and the echo are forked before the toolkit starts threads.
    bool plainOk = true;
    double plain = 0;
    for (int round = 0; round < 2; ++round) {
        bool ok = false;
        plain = std::max(plain, PlainLoop(data, ok));
        plainOk = plainOk && ok;
    }
    TPty pty;
    const pid_t echo = ForkEcho(pty.Master);

    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    StoreSettings(pty.Path, 12); // 115200: a pseudo-terminal runs at its own pace
    auto window = OpenWindow();
    if (!window) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }
    TFrmMain* w = window.get();

    // Best of two rounds each, taking turns, so that a busy machine
    // disturbs both alike.
    TRun lines, block;
    for (int round = 0; round < 2; ++round) {
        const TRun l = ThroughWindow(*w, data, LineBytes);
        const TRun b = ThroughWindow(*w, data, uint32_t(data.size()));
        lines.BytesPerSecond = std::max(lines.BytesPerSecond, l.BytesPerSecond);
        block.BytesPerSecond = std::max(block.BytesPerSecond, b.BytesPerSecond);
        lines.WorstStallMs = std::max(lines.WorstStallMs, l.WorstStallMs);
        lines.WindowBusy = std::max(lines.WindowBusy, l.WindowBusy);
        block.WindowBusy = std::max(block.WindowBusy, b.WindowBusy);
        block.WorstStallMs = std::max(block.WorstStallMs, b.WorstStallMs);
        lines.Intact = (round == 0 || lines.Intact) && l.Intact;
        block.Intact = (round == 0 || block.Intact) && b.Intact;
    }
    window.reset();
    StopEcho(echo);

    std::printf("duplex echo of %zu MiB through the window on a pseudo-terminal (best of 2)\n",
                mib);
    std::printf("  plain poll loop:          %8.2f MB/s  %s\n", plain / 1e6,
                plainOk ? "intact" : "CORRUPT");
    std::printf("  window, %u-byte blocks:  %8.2f MB/s  %s  ratio %.2f  longest stall %.1f ms\n",
                LineBytes, lines.BytesPerSecond / 1e6, lines.Intact ? "all in the pane" : "WRONG",
                lines.BytesPerSecond / plain, lines.WorstStallMs);
    std::printf("  window, one block:        %8.2f MB/s  %s  ratio %.2f  longest stall %.1f ms\n",
                block.BytesPerSecond / 1e6, block.Intact ? "all in the pane" : "WRONG",
                block.BytesPerSecond / plain, block.WorstStallMs);
    std::printf("  window thread busy (CPU time over the run's time, most of 2): %.0f%% lines, "
                "%.0f%% one block\n",
                100 * lines.WindowBusy, 100 * block.WindowBusy);
    std::printf("  goals: ratio >= 0.80, stall < 20 ms\n");
    return plainOk && lines.Intact && block.Intact ? 0 : 1;
}
