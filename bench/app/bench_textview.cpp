// The receive pane's two views under the same flood through the whole
// program (offscreen, on a pseudo-terminal): drain rate against a plain read
// loop, and memory per received byte, the hex view beside the text view with
// time stamps on. Each view runs in a process of its own, so that neither
// inherits the other's memory. Two floods: bytes of every value (a line
// break every 128 bytes or so) and text lines of 40 characters.
//   bench_textview [MiB, default 64] [rounds, default 5]
// Each round runs the plain loop and then the program: the ratio of each pair, so a machine
// that is busier in one round than in another shows as spread, not as a better or worse figure.
// Where the time went: the cores of the machine busy while the program drains, and the CPU time
// of the window's thread and of the worker for each MiB, and of the plain loop's reader beside the
// worker (medians of the rounds); and the CPU of the whole machine for each MiB, the program's
// flood against the plain loop's. The far end
// waits for room when the terminal is full, as a device or a network peer would.

#include "ReceivePane.h"
#include "Openwindow.h"
#include "Pty.h"
#include "ThreadCpu.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QApplication>
#include <QEventLoop>
#include <QStandardPaths>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <poll.h>
#include <pthread.h>
#include <sys/wait.h>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MaxRounds = 15;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

struct TFigures {
    double Program = 0; // bytes a second: the median of the rounds
    double Plain = 0;
    // Each round: the plain loop, then the program, one after the other.
    double RoundRatio[MaxRounds] = {};
    int Rounds = 0;
    // Medians of the rounds: cores of the machine busy while the program drains, and the CPU
    // time the window's thread and the worker spend on each MiB.
    double Cores = 0, WindowMsPerMiB = 0, WorkerMsPerMiB = 0;
    double ReaderMsPerMiB = 0; // the plain loop's reader, beside the worker
    // CPU of the whole machine for each MiB, all its cores: the program's flood and the plain loop's
    double MachineMsPerMiB = 0, PlainMachineMsPerMiB = 0;
    double RssPerByte = 0;
    double StorePerByte = 0;
    int64_t TextLines = 0;
    bool AllThere = false;
};

uint8_t Pattern(size_t i, bool text) {
    if (text) // "0123456789:;<=>?@ABCD...\r\n": 40 characters and CR LF
        return i % 42 == 40 ? '\r' : i % 42 == 41 ? '\n' : uint8_t('0' + (i / 42 + i % 42) % 75);
    return uint8_t((i * 2654435761u) >> 13);
}

void WriteAll(int fd, size_t total, bool text) {
    pthread_setname_np(pthread_self(), "far end");
    std::vector<uint8_t> chunk(4096);
    for (size_t sent = 0; sent < total;) {
        const size_t n = std::min(chunk.size(), total - sent);
        for (size_t i = 0; i < n; ++i)
            chunk[i] = Pattern(sent + i, text);
        for (size_t done = 0; done < n;) {
            const ssize_t w = write(fd, chunk.data() + done, n - done);
            if (w > 0) {
                done += size_t(w);
            } else { // full: wait for room as a device or a network peer would, not spin
                pollfd p{fd, POLLOUT, 0};
                poll(&p, 1, 100);
            }
        }
        sent += n;
    }
}

double PlainReadLoop(size_t total) {
    TPty pty;
    const int fd = open(pty.Path.c_str(), O_RDWR | O_NOCTTY);
    const auto start = Clock::now();
    std::thread w([&] { WriteAll(pty.Master, total, false); });
    std::vector<uint8_t> buf(65536);
    for (size_t got = 0; got < total;) {
        const ssize_t n = read(fd, buf.data(), buf.size());
        if (n > 0)
            got += size_t(n);
    }
    const double s = std::chrono::duration<double>(Clock::now() - start).count();
    w.join();
    close(fd);
    return double(total) / s;
}

// CPU time taken before and after a flood to say where its time went: the machine's (all cores,
// busy and in all, in clock ticks), the worker's and this thread's.
struct TCpu {
    long long Busy = 0, All = 0;
    double Worker = 0; // seconds of the worker
    double Window = 0; // seconds of this (the window's) thread
};

TCpu CpuNow() {
    TCpu c;
    std::ifstream stat("/proc/stat");
    std::string cpu;
    stat >> cpu;
    for (int i = 0; i < 8; ++i) {
        long long v = 0;
        stat >> v;
        c.All += v;
        if (i != 3 && i != 4) // idle and waiting for input or output
            c.Busy += v;
    }
    c.Worker = ThreadCpuSeconds("serial worker");
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    c.Window = double(t.tv_sec) + double(t.tv_nsec) / 1e9;
    return c;
}

long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::string(key).size()));
    return 0;
}

// One view under one kind of flood, in this process.
TFigures Run(int argc, char** argv, size_t total, int rounds, bool textView, bool textFlood) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    TFigures f;
    f.Plain = PlainReadLoop(total);
    TPty pty;
    StoreSettings(pty.Path, 12);
    auto window = OpenWindow();
    if (!window)
        return f;
    TFrmMain* w = window.get();
    TReceivePane* pane = Part<TReceivePane>(w, "ReceEdit");
    pane->SetTextStamps(textView);
    pane->SetTextView(textView);
    const long rssBefore = StatusKiB("VmRSS:");
    const TReceiveStore& store = pane->Store();
    const int64_t lines = int64_t((total + 15) / 16);
    const auto flood = [&] {
        w->ToolClearClick();
        const auto start = Clock::now();
        std::thread writer([&] { WriteAll(pty.Master, total, textFlood); });
        QEventLoop loop;
        QObject::connect(w, &TFrmMain::ReceivedFlushed, &loop, [&] {
            if (store.LineCount() == lines && store.ReceLine().Count == int((total - 1) % 16 + 1))
                loop.quit();
        });
        loop.exec();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        writer.join();
        return double(total) / seconds;
    };
    flood(); // the first round also measures the memory the session takes
    f.RssPerByte = double(StatusKiB("VmHWM:") - rssBefore) * 1024 / double(total);
    f.StorePerByte = double(store.MemoryUsed()) / double(total);
    std::vector<double> plain, program, cores, windowMs, workerMs, readerMs, machineMs, plainMachineMs;
    const double tickMs = 1000.0 / double(sysconf(_SC_CLK_TCK));
    for (int round = 0; round < rounds; ++round) {
        const TCpu c0 = CpuNow();
        plain.push_back(PlainReadLoop(total));
        const TCpu c1 = CpuNow();
        program.push_back(flood());
        const TCpu c2 = CpuNow();
        const double mib = double(total >> 20);
        cores.push_back(double(std::thread::hardware_concurrency()) * double(c2.Busy - c1.Busy) /
                        double(std::max(1LL, c2.All - c1.All)));
        windowMs.push_back((c2.Window - c1.Window) * 1000 / mib);
        workerMs.push_back((c2.Worker - c1.Worker) * 1000 / mib);
        readerMs.push_back((c1.Window - c0.Window) * 1000 / mib); // the plain loop reads on this thread
        machineMs.push_back(double(c2.Busy - c1.Busy) * tickMs / mib);
        plainMachineMs.push_back(double(c1.Busy - c0.Busy) * tickMs / mib);
        f.RoundRatio[f.Rounds++] = program.back() / plain.back();
    }
    f.Plain = Median(plain);
    f.Program = Median(program);
    f.Cores = Median(cores);
    f.WindowMsPerMiB = Median(windowMs);
    f.WorkerMsPerMiB = Median(workerMs);
    f.ReaderMsPerMiB = Median(readerMs);
    f.MachineMsPerMiB = Median(machineMs);
    f.PlainMachineMsPerMiB = Median(plainMachineMs);
    f.TextLines = pane->TextLines().LineCount();
    f.AllThere = !textFlood || f.TextLines == int64_t((total + 41) / 42);
    return f;
}

} // namespace

int main(int argc, char** argv) {
    const size_t total = size_t(argc > 1 ? std::max(1, std::atoi(argv[1])) : 64) << 20;
    const int rounds = std::clamp(argc > 2 ? std::atoi(argv[2]) : 5, 1, MaxRounds);
    std::printf("flood of %zu MiB through the program against a plain read loop on the same "
                "pseudo-terminal, %d rounds each run one after the other: medians, and the "
                "ratio's lowest and highest round\n",
                total >> 20, rounds);
    std::printf("%-22s %-16s %12s %12s %7s %13s %8s %9s %6s %11s %11s %11s %15s\n", "flood", "view",
                "program", "plain", "ratio", "spread", "RSS B/B", "store B/B", "cores", "window ms",
                "worker ms", "reader ms", "machine ms");
    bool ok = true;
    for (bool textFlood : {false, true}) {
        for (bool textView : {false, true}) {
            int fds[2];
            if (pipe(fds) != 0)
                return 1;
            const pid_t child = fork();
            if (child == 0) {
                close(fds[0]);
                const TFigures f = Run(argc, argv, total, rounds, textView, textFlood);
                const ssize_t n = write(fds[1], &f, sizeof f);
                _exit(n == ssize_t(sizeof f) ? 0 : 1);
            }
            close(fds[1]);
            TFigures f;
            const bool got = read(fds[0], &f, sizeof f) == ssize_t(sizeof f);
            close(fds[0]);
            int status = 0;
            waitpid(child, &status, 0);
            ok = ok && got && f.AllThere;
            const std::vector<double> ratios(f.RoundRatio, f.RoundRatio + f.Rounds);
            const auto [low, high] = std::minmax_element(ratios.begin(), ratios.end());
            std::printf("%-22s %-16s %6.1f MiB/s %6.1f MiB/s %7.2f %6.2f-%-6.2f %8.2f %9.2f %6.2f "
                        "%6.2f /MiB %6.2f /MiB %6.2f /MiB %5.1f/%-5.1f/MiB%s\n",
                        textFlood ? "text lines of 40" : "bytes of every value",
                        textView ? "text, stamps on" : "hex", f.Program / (1 << 20),
                        f.Plain / (1 << 20), Median(ratios), ratios.empty() ? 0 : *low,
                        ratios.empty() ? 0 : *high, f.RssPerByte, f.StorePerByte, f.Cores,
                        f.WindowMsPerMiB, f.WorkerMsPerMiB, f.ReaderMsPerMiB, f.MachineMsPerMiB,
                        f.PlainMachineMsPerMiB, got && f.AllThere ? "" : "  (LINES MISSING)");
        }
    }
    return ok ? 0 : 1;
}
