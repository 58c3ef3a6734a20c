// Full duplex through the whole program: a far end in another process echoes
// every byte; the window sends 16 MiB through the worker, in the 1 KiB blocks
// a user's lines make and as one block, while the echo comes back into the
// receive pane. Timed against the same transfer through a plain poll loop on
// a pseudo-terminal pair; every byte must be back in the pane in order, and
// the window's event loop must keep running (its longest stall is printed).
//   bench_duplex_window [MiB, default 16]

#include "Duplexref.h"
#include "ReceivePane.h"
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
#include <dirent.h>
#include <fstream>
#include <map>
#include <string>

namespace {

using namespace duplex;

constexpr uint32_t LineBytes = 1024;

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// Whether the pane holds exactly data, read back from its hex columns.
bool PaneHolds(const TReceiveStore& store, const std::vector<uint8_t>& data) {
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

// Nanoseconds on a CPU so far, by thread name: this process's threads and
// the echo (another process), read from schedstat.
using TCpu = std::map<std::string, double>;

double SchedNs(const std::string& dir) {
    std::ifstream in(dir + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns;
}

TCpu CpuNow(pid_t echo) {
    TCpu cpu;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            const std::string dir = std::string("/proc/self/task/") + e->d_name;
            std::string name;
            std::getline(std::ifstream(dir + "/comm"), name);
            if (std::string(e->d_name) == std::to_string(getpid()))
                name = "window";
            cpu[name] += SchedNs(dir);
        }
        closedir(d);
    }
    cpu["echo (far end)"] = SchedNs("/proc/" + std::to_string(echo));
    // The whole machine's idle time, from the first line of /proc/stat (ticks).
    std::ifstream stat("/proc/stat");
    std::string cpuLabel;
    double user = 0, nice = 0, system = 0, idle = 0;
    stat >> cpuLabel >> user >> nice >> system >> idle;
    cpu["idle (machine)"] = idle * 1e9 / double(sysconf(_SC_CLK_TCK));
    return cpu;
}

struct TRun {
    double BytesPerSecond = 0;
    double WorstStallMs = 0;
    bool Intact = false;
    TCpu Busy; // each thread's CPU time over the run's time
};

TCpu BusyShare(const TCpu& before, const TCpu& after, double seconds) {
    TCpu busy;
    for (const auto& [name, ns] : after) {
        const auto was = before.find(name);
        const double share = (ns - (was == before.end() ? 0 : was->second)) / 1e9 / seconds;
        if (share >= 0.005)
            busy[name] = share;
    }
    return busy;
}

// Sends data in blocks of blockBytes from the window's thread, as the send
// page does, at most 2 ms of sending a tick, retrying a refused block (full
// queue) on the next tick, until the pane holds the whole echo.
TRun ThroughWindow(TFrmMain& w, const std::vector<uint8_t>& data, uint32_t blockBytes,
                  pid_t echo) {
    w.ToolClearClick();
    const TReceiveStore& store = Part<TReceivePane>(w, "ReceEdit")->Store();
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
    const TCpu cpu0 = CpuNow(echo);
    probe.start(1);
    sender.start(1);
    loop.exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.Busy = BusyShare(cpu0, CpuNow(echo), seconds);
    probe.stop();
    run.BytesPerSecond = double(data.size()) / seconds;
    run.Intact = PaneHolds(store, data);
    return run;
}

// The reference runs in a process of its own, forked before the toolkit
// starts threads: forking the echo for it from the windowed process would
// leave that process's memory copy-on-write and slow the window's rounds.
struct TReference {
    pid_t Pid = -1;
    int Ask = -1;
    int Answer = -1;
};

TReference StartReference(const std::vector<uint8_t>& data) {
    int ask[2], answer[2];
    if (pipe(ask) != 0 || pipe(answer) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        close(ask[1]);
        close(answer[0]);
        char go;
        while (read(ask[0], &go, 1) == 1) {
            bool ok = false;
            double bps = PlainLoop(data, ok);
            if (!ok)
                bps = -bps;
            if (write(answer[1], &bps, sizeof bps) != sizeof bps)
                break;
        }
        _exit(0);
    }
    close(ask[0]);
    close(answer[1]);
    return {pid, ask[1], answer[0]};
}

// One transfer through the plain loop; 0 when the reference process is gone.
double RunReference(const TReference& reference, bool& intact) {
    const char go = 1;
    double bps = 0;
    if (write(reference.Ask, &go, 1) != 1 || read(reference.Answer, &bps, sizeof bps) != sizeof bps)
        bps = 0;
    intact = bps > 0;
    return std::abs(bps);
}

void StopReference(const TReference& reference) {
    close(reference.Ask);
    close(reference.Answer);
    if (reference.Pid > 0)
        waitpid(reference.Pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const auto data = Pattern(std::max<size_t>(mib, 1) << 20);

    bool plainOk = true;
    double plain = 0;
    const TReference reference = StartReference(data);
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

    // Best of three rounds each, the reference and both ways taking turns, so
    // that whatever else the machine does disturbs them alike.
    constexpr int Rounds = 3;
    TRun lines, block;
    for (int round = 0; round < Rounds; ++round) {
        bool ok = false;
        plain = std::max(plain, RunReference(reference, ok));
        plainOk = plainOk && ok;
        const TRun l = ThroughWindow(*w, data, LineBytes, echo);
        const TRun b = ThroughWindow(*w, data, uint32_t(data.size()), echo);
        if (l.BytesPerSecond > lines.BytesPerSecond) {
            lines.BytesPerSecond = l.BytesPerSecond;
            lines.Busy = l.Busy;
        }
        if (b.BytesPerSecond > block.BytesPerSecond) {
            block.BytesPerSecond = b.BytesPerSecond;
            block.Busy = b.Busy;
        }
        lines.WorstStallMs = std::max(lines.WorstStallMs, l.WorstStallMs);
        block.WorstStallMs = std::max(block.WorstStallMs, b.WorstStallMs);
        lines.Intact = (round == 0 || lines.Intact) && l.Intact;
        block.Intact = (round == 0 || block.Intact) && b.Intact;
    }
    window.reset();
    StopEcho(echo);
    StopReference(reference);

    std::printf("duplex echo of %zu MiB through the window on a pseudo-terminal (best of %d)\n",
                mib, Rounds);
    std::printf("  plain poll loop:          %8.2f MB/s  %s\n", plain / 1e6,
                plainOk ? "intact" : "CORRUPT");
    std::printf("  window, %u-byte blocks:  %8.2f MB/s  %s  ratio %.2f  longest stall %.1f ms\n",
                LineBytes, lines.BytesPerSecond / 1e6, lines.Intact ? "all in the pane" : "WRONG",
                lines.BytesPerSecond / plain, lines.WorstStallMs);
    std::printf("  window, one block:        %8.2f MB/s  %s  ratio %.2f  longest stall %.1f ms\n",
                block.BytesPerSecond / 1e6, block.Intact ? "all in the pane" : "WRONG",
                block.BytesPerSecond / plain, block.WorstStallMs);
    std::printf("  CPU time over the run's time in the faster round (2 cores: at most 200%%):\n");
    for (const auto& [name, share] : lines.Busy) {
        const auto b = block.Busy.find(name);
        std::printf("    %-16s %4.0f%% lines  %4.0f%% one block\n", name.c_str(), 100 * share,
                    b == block.Busy.end() ? 0.0 : 100 * b->second);
    }
    std::printf("  goals: ratio >= 0.80, stall < 20 ms\n");
    return plainOk && lines.Intact && block.Intact ? 0 : 1;
}
