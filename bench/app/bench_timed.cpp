// The timed auto-send of the whole program, offscreen, while the far end floods
// the receive pane: whether the frames keep their beat, and whether the error
// statistics count every byte that came meanwhile. The far end is a process of
// its own on the master of a pseudo-terminal; it stamps each frame's arrival
// with the machine's monotonic clock, which both processes share.
//   build/bench/app/bench_timed [frames]   (default 200)
// Settings go to Qt's test area. Exits 1 when a count does not match.

#include "Abdbctrls.h"
#include "AutoSendPage.h"
#include "ReceivePane.h"
#include "Pty.h"
#include "ReceiveStore.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <poll.h>
#include <random>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t FrameLen = 16;
const char* const FrameHex = "55 AA FF 00 01 02 03 04 05 06 07 08 09 0A 0B 0C";
constexpr double IntervalMs = 100; // edtTime "0" without RTS control
constexpr uint32_t StatFrames = 50;
// The paced flood: 640 bytes an interval beside one 16-byte echo, so that a
// statistics pass (1024 bytes at most) would have to last 150 ms to fill.
constexpr size_t PacedChunk = 64;
constexpr auto PacedEvery = 10ms;

enum TFlood : int32_t { FloodFull, FloodPaced };

// One run as the parent orders it over a pipe; Quit ends the far end.
struct TOrder {
    int32_t Flood = FloodFull;
    int32_t Echo = 0;
    uint32_t Frames = 0; // paced: the far end falls silent after this many frames
    int32_t Quit = 0;
};

// The far end's account of a run; Stamps arrival times in ns follow it.
struct TReport {
    uint64_t Flooded = 0; // flood bytes written
    uint64_t Written = 0; // flood and echoes
    uint32_t Stamps = 0;
};

constexpr char StopByte = 's';
constexpr char QuietByte = 'q';

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

bool ReadAll(int fd, void* data, size_t size) {
    auto* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = ::read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, size_t size) {
    auto* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

// The master is non-blocking: a full pseudo-terminal is waited out.
void WriteMaster(int master, const uint8_t* data, size_t size, std::atomic<uint64_t>& written) {
    while (size > 0) {
        ssize_t n = ::write(master, data, size);
        if (n > 0) {
            written += uint64_t(n);
            data += n;
            size -= size_t(n);
        } else {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 5);
        }
    }
}

// ---- the far end, in the child process ----

// A flood thread writes; this thread reads the program's frames (the only
// bytes coming this way), stamps each one's arrival and echoes it if asked.
void FarEndRun(int master, int orders, int reports, const TOrder& order) {
    std::atomic<bool> stop{false};
    std::atomic<uint32_t> frames{0};
    std::atomic<uint64_t> flooded{0}, written{0};
    std::thread flood([&] {
        std::vector<uint8_t> chunk(4096);
        std::mt19937 random(7);
        for (uint8_t& b : chunk)
            b = uint8_t(random());
        if (order.Flood == FloodFull) {
            while (!stop.load()) {
                ssize_t n = ::write(master, chunk.data(), chunk.size());
                if (n > 0) {
                    flooded += uint64_t(n);
                    written += uint64_t(n);
                } else {
                    pollfd p{master, POLLOUT, 0};
                    ::poll(&p, 1, 5);
                }
            }
            return;
        }
        while (!stop.load() && frames.load() == 0)
            std::this_thread::sleep_for(1ms);
        auto next = Clock::now();
        while (!stop.load() && frames.load() < order.Frames) {
            WriteMaster(master, chunk.data(), PacedChunk, written);
            flooded += PacedChunk;
            // A late wake-up skips the slots it missed: a burst could fill a pass.
            const auto now = Clock::now();
            while (next <= now)
                next += PacedEvery;
            std::this_thread::sleep_until(next);
        }
    });

    std::vector<int64_t> stamps;
    const uint64_t echoEnd = order.Frames ? uint64_t(order.Frames) * FrameLen : UINT64_MAX;
    uint64_t got = 0;
    bool quiet = false;
    std::vector<uint8_t> buf(4096);
    for (;;) {
        pollfd p[2] = {{orders, POLLIN, 0}, {master, POLLIN, 0}};
        ::poll(p, 2, 50);
        if (p[0].revents)
            break; // the stop byte, or the parent is gone
        if (p[1].revents & POLLIN) {
            ssize_t n = ::read(master, buf.data(), buf.size());
            if (n > 0) {
                const int64_t now = Clock::now().time_since_epoch() / 1ns;
                if (order.Echo && got < echoEnd)
                    WriteMaster(master, buf.data(), size_t(std::min<uint64_t>(n, echoEnd - got)),
                                written);
                got += uint64_t(n);
                while (stamps.size() < got / FrameLen)
                    stamps.push_back(now);
                frames = uint32_t(got / FrameLen);
            }
        } else if (p[1].revents) {
            ::poll(p, 1, 50); // hung up: wait for the parent only
        }
        if (order.Flood == FloodPaced && !quiet && frames.load() >= order.Frames) {
            flood.join();
            quiet = true;
            WriteAll(reports, &QuietByte, 1);
        }
    }
    char stopByte = 0;
    [[maybe_unused]] ssize_t n = ::read(orders, &stopByte, 1);
    stop = true;
    if (flood.joinable())
        flood.join();
    if (order.Flood == FloodPaced && !quiet) // the parent reads it before the report
        WriteAll(reports, &QuietByte, 1);
    TReport report{flooded.load(), written.load(), uint32_t(stamps.size())};
    WriteAll(reports, &report, sizeof report);
    WriteAll(reports, stamps.data(), stamps.size() * sizeof(int64_t));
}

void FarEnd(int master, int orders, int reports) {
    TOrder order;
    while (ReadAll(orders, &order, sizeof order) && !order.Quit)
        FarEndRun(master, orders, reports, order);
}

// ---- the program's side ----

rusage ThreadUsage() {
    rusage r{};
    ::getrusage(RUSAGE_THREAD, &r);
    return r;
}

double ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Each tick of the page's timer seen from outside: the event filter sees the
// timer event before the page's handler runs, the slot connected after the
// page's own sees its end.
class TTickWatch : public QObject {
public:
    struct TTick {
        Clock::time_point Start, End;
        double CpuStart = 0, CpuEnd = 0; // the window's thread's CPU time, ms
        // Context switches of the window's thread within the tick: a voluntary
        // one is a wait (for a lock), an involuntary one a lost core.
        long Waits = 0, Preempted = 0;
        bool Sent = false;     // the tick sent a frame
        bool StatPass = false; // the tick took the bytes received since the last one
        uint32_t Taken = 0;    // what that pass added to TotalRecv
    };

    explicit TTickWatch(TAutoSendPage& page) : Page(page) {
        Part<QTimer>(page, "TimerAuto")->installEventFilter(this);
        connect(Part<QTimer>(page, "TimerAuto"), &QTimer::timeout, this, [this] {
            Current.End = Clock::now();
            Current.CpuEnd = ThreadCpuMs();
            const rusage end = ThreadUsage();
            Current.Waits = end.ru_nvcsw - UsageBefore.ru_nvcsw;
            Current.Preempted = end.ru_nivcsw - UsageBefore.ru_nivcsw;
            Current.Sent = Page.TotalSent != SentBefore;
            Current.StatPass = StatBefore && SentBefore != 0;
            Current.Taken = Page.TotalRecv - RecvBefore;
            Ticks.push_back(Current);
        });
    }

    std::vector<TTick> Ticks;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            Current = {};
            Current.Start = Clock::now();
            Current.CpuStart = ThreadCpuMs();
            UsageBefore = ThreadUsage();
            SentBefore = Page.TotalSent;
            RecvBefore = Page.TotalRecv;
            StatBefore = Page.StatOn;
        }
        return false;
    }

private:
    TAutoSendPage& Page;
    TTick Current;
    rusage UsageBefore{};
    uint32_t SentBefore = 0, RecvBefore = 0;
    bool StatBefore = false;
};

// Runs the event loop the way the program's own does, until done() holds or
// ms have passed.
bool RunUntil(const std::function<bool()>& done, int ms) {
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer waited;
    waited.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done() || waited.elapsed() > ms)
            loop.quit();
    });
    check.start(5);
    loop.exec();
    return done();
}

void RunFor(Clock::duration d) {
    const auto end = Clock::now() + d;
    RunUntil([&] { return Clock::now() >= end; }, int(Ms(d)) + 1000);
}

uint64_t PaneBytes(const TReceiveStore& store) {
    const int64_t lines = store.LineCount();
    return lines == 0 ? 0 : uint64_t(lines - 1) * 16 + uint64_t(store.ReceLine().Count);
}

struct TRun {
    TReport Far;
    std::vector<int64_t> Stamps; // ns of the monotonic clock
    std::vector<TTickWatch::TTick> Ticks;
    uint32_t Sent = 0;      // frames the page sent
    uint32_t TotalRecv = 0; // the page's count
    uint64_t PaneBytes = 0; // in the pane when Stop was pressed
    double Seconds = 0;
    bool Finished = false;
    // Why a tick can come late on a busy machine: the window's thread waits
    // for a core.
    double UiCpuSeconds = 0;
    long UiPreempted = 0; // involuntary context switches of the window's thread
    double LoadAverage = 0;
};

double CpuSeconds(const rusage& r) {
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double LoadAverage() {
    double load = 0;
    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &load) != 1)
            load = 0;
        std::fclose(f);
    }
    return load;
}

class TBench {
public:
    TBench(TFrmMain& frm, int orders, int reports)
        : Frm(frm), Page(*Part<TAutoSendPage>(frm, "TabSendAuto")), Watch(Page), Orders(orders), Reports(reports) {
        QObject::connect(&Frm, &TFrmMain::ReceivedFlushed, &Frm,
                         [this] { LastFlush = Clock::now(); });
    }

    TRun Run(const TOrder& order, uint32_t frames, bool stats) {
        TRun run;
        // Whatever the last run left in flight reaches the pane first.
        RunUntil([&] { return Clock::now() - LastFlush > 300ms; }, 60000);
        Frm.ToolClearClick();
        Part<QTabWidget>(Frm, "PageSel")->setCurrentWidget(&Page);
        Part<QRadioButton>(Page, "RadioHex")->setChecked(true);
        Part<QLineEdit>(Page, "EdtHex")->setText(FrameHex);
        Part<QLineEdit>(Page, "edtTime")->setText("0");
        if (Part<TAbDBLED>(Page, "ChkErr")->Checked() != stats)
            Page.ChkErrClick();
        Watch.Ticks.clear();
        QuietRead = false;
        WriteAll(Orders, &order, sizeof order);
        run.LoadAverage = LoadAverage();
        const rusage usage = ThreadUsage();
        const auto start = Clock::now();
        Page.btnStartClick();
        run.Finished =
            RunUntil([&] { return Frm.SendCounter() >= frames; }, int(frames * IntervalMs) * 3 + 5000);
        if (order.Flood == FloodPaced && run.Finished) {
            run.Finished = RunUntil(
                [&] {
                    pollfd p{Reports, POLLIN, 0};
                    return ::poll(&p, 1, 0) > 0;
                },
                5000);
            if (run.Finished)
                ReadQuiet();
            // Two quiet intervals and a half: the bytes have long been captured.
            RunFor(std::chrono::milliseconds(int(IntervalMs * 2.5)));
        } else if (run.Finished) {
            // Stop ends the capture at once, so the stop tick counts what came
            // between the last tick and the click: a user's click is never in
            // the same instant as a tick, and half an interval fills a pass.
            RunFor(std::chrono::milliseconds(int(IntervalMs / 2)));
        }
        Page.btnStopClick();
        run.PaneBytes = PaneBytes(Part<TReceivePane>(Frm, "ReceEdit")->Store());
        run.Finished =
            RunUntil([&] { return Part<QPushButton>(Page, "btnStart")->isEnabled() && !Part<QTimer>(Page, "TimerAuto")->isActive(); },
                     3000) &&
            run.Finished;
        run.Seconds = Ms(Clock::now() - start) / 1000;
        const rusage used = ThreadUsage();
        run.UiCpuSeconds = CpuSeconds(used) - CpuSeconds(usage);
        run.UiPreempted = used.ru_nivcsw - usage.ru_nivcsw;
        RunFor(20ms); // the last frame was written in its tick; let the far end read it
        WriteAll(Orders, &StopByte, 1);
        if (order.Flood == FloodPaced && !QuietRead)
            ReadQuiet();
        ReadAll(Reports, &run.Far, sizeof run.Far);
        run.Stamps.resize(run.Far.Stamps);
        ReadAll(Reports, run.Stamps.data(), run.Stamps.size() * sizeof(int64_t));
        run.Ticks = Watch.Ticks;
        run.Sent = Frm.SendCounter();
        run.TotalRecv = Page.TotalRecv;
        return run;
    }

private:
    void ReadQuiet() {
        char quiet = 0;
        QuietRead = ReadAll(Reports, &quiet, 1);
    }

    TFrmMain& Frm;
    TAutoSendPage& Page;
    TTickWatch Watch;
    int Orders, Reports;
    bool QuietRead = false;
    Clock::time_point LastFlush = Clock::now();
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    size_t k = size_t(std::max(0.0, std::ceil(p * double(v.size())) - 1));
    return v[std::min(k, v.size() - 1)];
}

double Mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v)
        sum += x;
    return v.empty() ? 0 : sum / double(v.size());
}

// The beat: periods at the far end, the ticks on the window's thread.
bool ReportBeat(const TRun& run, double worstStallMs) {
    std::vector<double> periods, ticks, late, transit;
    for (size_t i = 1; i < run.Stamps.size(); ++i)
        periods.push_back(double(run.Stamps[i] - run.Stamps[i - 1]) / 1e6);
    const TTickWatch::TTick* last = nullptr;
    size_t frame = 0;
    // The latest wake-up, and how much of the wait before it the window's
    // thread spent working rather than waiting for a core.
    double latest = -1, latestRan = 0, latestGap = 0;
    const TTickWatch::TTick* longest = nullptr;
    for (const TTickWatch::TTick& t : run.Ticks) {
        if (!t.Sent)
            continue;
        ticks.push_back(Ms(t.End - t.Start));
        if (!longest || t.End - t.Start > longest->End - longest->Start)
            longest = &t;
        if (last) {
            late.push_back(Ms(t.Start - last->End) - IntervalMs);
            if (late.back() > latest) {
                latest = late.back();
                latestGap = Ms(t.Start - last->End);
                latestRan = t.CpuStart - last->CpuEnd;
            }
        }
        if (frame < run.Stamps.size())
            transit.push_back(double(run.Stamps[frame] - t.Start.time_since_epoch() / 1ns) / 1e6);
        ++frame;
        last = &t;
    }
    const double mean = Mean(periods), tick = Mean(ticks);
    const double worstLate = Percentile(periods, 1.0) - IntervalMs;
    const bool allThere = run.Finished && run.Stamps.size() == run.Sent;
    std::printf("Beat under a flood: %u frames sent, %zu at the far end%s\n", run.Sent,
                run.Stamps.size(), allThere ? "" : "  MISMATCH");
    std::printf(
        "  period at the far end   mean %8.3f ms   99%% %8.3f ms   worst lateness %6.3f ms\n", mean,
        Percentile(periods, 0.99), worstLate);
    const bool beat = std::abs(mean - (IntervalMs + tick)) <= 1.0 && worstLate < 15.0;
    std::printf("  goal: mean within 1 ms of %.0f ms + tick = %.3f ms, worst lateness under 15 ms: "
                "%s\n",
                IntervalMs, IntervalMs + tick, beat ? "met" : "missed");
    std::printf("  tick                    mean %8.3f ms   99%% %8.3f ms   worst %8.3f ms\n", tick,
                Percentile(ticks, 0.99), Percentile(ticks, 1.0));
    std::printf("  timer woke late         mean %8.3f ms   99%% %8.3f ms   worst %8.3f ms\n",
                Mean(late), Percentile(late, 0.99), Percentile(late, 1.0));
    std::printf("  tick to far end       median %8.3f ms   99%% %8.3f ms   worst %8.3f ms\n",
                Percentile(transit, 0.5), Percentile(transit, 0.99), Percentile(transit, 1.0));
    std::printf("  longest event-loop stall %.1f ms\n", worstStallMs);
    std::printf("  latest tick: the window's thread ran %.1f ms of the %.1f ms before it\n",
                latestRan, latestGap);
    if (longest)
        std::printf("  longest tick: %.3f ms, of which it ran %.3f ms; waited %ld times, preempted "
                    "%ld times\n",
                    Ms(longest->End - longest->Start), longest->CpuEnd - longest->CpuStart,
                    longest->Waits, longest->Preempted);
    std::printf("  window's thread busy %.0f %% of the run, preempted %ld times; load average %.2f "
                "at the start\n",
                100 * run.UiCpuSeconds / run.Seconds, run.UiPreempted, run.LoadAverage);
    std::printf("  flood: far end wrote %.1f MiB in %.1f s (%.1f MiB/s), %.1f MiB in the pane at "
                "Stop\n",
                double(run.Far.Flooded) / (1 << 20), run.Seconds,
                double(run.Far.Flooded) / (1 << 20) / run.Seconds,
                double(run.PaneBytes) / (1 << 20));
    return allThere;
}

// Every pass of a full flood finds more than it can hold: 1024 bytes each.
bool ReportFullFlood(const TRun& run) {
    uint32_t passes = 0, unfilled = 0;
    for (const TTickWatch::TTick& t : run.Ticks)
        if (t.StatPass) {
            ++passes;
            unfilled += t.Taken < ErrStatBufSize;
        }
    const uint64_t expected = uint64_t(ErrStatBufSize) * passes;
    const bool match = run.Finished && run.TotalRecv == expected;
    std::printf("  full flood + echo   TotalRecv %7u   1024 x %u passes = %7llu   %s",
                run.TotalRecv, passes, static_cast<unsigned long long>(expected),
                match ? "match" : "MISMATCH");
    if (unfilled > 0)
        std::printf(" (%u passes found fewer than 1024 bytes)", unfilled);
    std::printf("   [%.1f MiB flooded]\n", double(run.Far.Flooded) / (1 << 20));
    return match;
}

// A paced flood never fills a pass, so the page counts what the far end wrote.
bool ReportPacedFlood(const TRun& run) {
    uint32_t largest = 0;
    for (const TTickWatch::TTick& t : run.Ticks)
        if (t.StatPass)
            largest = std::max(largest, t.Taken);
    const bool match = run.Finished && uint64_t(run.TotalRecv) == run.Far.Written;
    std::printf("  paced flood + echo  TotalRecv %7u   far end wrote %7llu   %s   [largest pass %u "
                "bytes]\n",
                run.TotalRecv, static_cast<unsigned long long>(run.Far.Written),
                match ? "match" : "MISMATCH", largest);
    if (largest >= ErrStatBufSize)
        std::printf("  a pass filled up: the pace was too fast for this machine's ticks\n");
    return match;
}

void PrintHeader(uint32_t frames) {
    std::printf("Timed send of the whole program, offscreen, on a pseudo-terminal; the far end is\n"
                "another process. Hex frame of %u bytes every %.0f ms (edtTime 0).\n",
                FrameLen, IntervalMs);
    std::printf(
        "  period          time between consecutive frames arriving at the far end (%u frames)\n"
        "  lateness        period minus %.0f ms; 99%% is the 99th percentile\n"
        "  tick            time the window's thread spends in one tick of the page's timer\n"
        "  timer woke late start of a tick minus (end of the last tick + %.0f ms)\n"
        "  tick to far end start of a tick until its frame arrives at the far end\n"
        "  stall           longest gap of a 1 ms probe timer beyond its 1 ms\n"
        "  preempted       times the window's thread lost its core to other work; with the\n"
        "                  load average they tell a slow program from a busy machine\n"
        "  flood           what the far end wrote into the receive pane meanwhile\n"
        "  TotalRecv       the page's received-byte count of the statistics: a full flood\n"
        "                  fills every pass (1024 bytes each), a paced one (64 bytes every\n"
        "                  10 ms after the first frame, for %u frames) none, so all of it "
        "counts\n\n",
        frames, IntervalMs, IntervalMs, StatFrames);
}

} // namespace

int main(int argc, char** argv) {
    const uint32_t frames = argc > 1 ? uint32_t(std::max(2, std::atoi(argv[1]))) : 200;

    // The far end forks before any thread exists; it owns the master.
    TPty pty;
    int orders[2], reports[2];
    if (pty.Path.empty() || ::pipe(orders) != 0 || ::pipe(reports) != 0) {
        std::perror("pseudo-terminal or pipe");
        return 1;
    }
    std::fflush(stdout);
    const pid_t far = ::fork();
    if (far < 0) {
        std::perror("fork");
        return 1;
    }
    if (far == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::close(orders[1]);
        ::close(reports[0]);
        FarEnd(pty.Master, orders[0], reports[1]);
        ::_exit(0);
    }
    ::close(orders[0]);
    ::close(reports[1]);
    pty.CloseMaster();

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    StoreSettings(pty.Path, 12); // 115200
    auto* frm = new TFrmMain;
    frm->show();
    if (!RunUntil([&] { return frm->Worker().IsOpen(); }, 5000)) {
        std::fprintf(stderr, "port did not open\n");
        return 1;
    }
    PrintHeader(frames);

    // The event-loop probe: a 1 ms timer; any gap beyond that is a stall.
    double worstStallMs = 0;
    bool probing = false;
    auto last = Clock::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (probing)
            worstStallMs = std::max(worstStallMs, Ms(now - last) - 1.0);
        last = now;
    });
    probe.start(1);

    TBench bench(*frm, orders[1], reports[0]);
    bool ok = true;
    {
        probing = true;
        last = Clock::now();
        const TRun beat = bench.Run({FloodFull, 0, 0, 0}, frames, false);
        probing = false;
        ok &= ReportBeat(beat, worstStallMs);
    }
    std::printf("Statistics under a flood, %u frames a run:\n", StatFrames);
    ok &= ReportFullFlood(bench.Run({FloodFull, 1, 0, 0}, StatFrames, true));
    ok &= ReportPacedFlood(bench.Run({FloodPaced, 1, StatFrames, 0}, StatFrames, true));
    probe.stop();

    frm->Worker().Terminate();
    frm->Worker().WaitFor();
    delete frm;
    const TOrder quit{FloodFull, 0, 0, 1};
    WriteAll(orders[1], &quit, sizeof quit);
    ::close(orders[1]);
    int status = 0;
    ::waitpid(far, &status, 0);
    return ok ? 0 : 1;
}
