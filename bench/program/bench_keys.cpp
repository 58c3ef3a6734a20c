// Prints how long a key typed in Character mode takes from the X server to the port while the far
// end floods the receive pane, measured as a user feels it: the real kestrel under Xvfb, keys
// injected through XTest from one persistent X connection, the far end (the pseudo-terminal's
// master) in this process and the flood in a child process. For each flood kind and view: median,
// 99th percentile and worst key-to-port time, the longest stall of the window's event loop that
// its probe saw meanwhile (KESTREL_STALL_PROBE) with what of it the thread ran and waited for a
// core (the rest it slept, or the machine did not run), the most the thread ran between two
// ticks of the probe (its longest stretch of work), the rate the program drained the flood at, and
// the share of the machine's time that the host of a virtual machine took meanwhile (steal): a
// machine that is not running stalls every thread of it. A host may not report steal: a thread on
// each CPU at real-time priority notes the spans in which its CPU ran nothing, and the own worst
// key and own stall leave out of each key the spans in which no CPU ran, and out of each stall
// those in which the CPU the window's thread slept on did not run ("paused" sums the first).
//   build/bench/program/bench_keys [keys] [kinds] [views] [rounds]
//     keys   presses per run, one every 30 ms (default 300)
//     kinds  idle,random,lines,longline (comma-separated; default all four), and numbers: lines
//            of three comma-separated values, as a device that is plotted sends them
//     views  hex,text,stamps (default all three), each with +log (a live log of text lines with
//            stamps, started by --log) and +plot (the plot window open, by its key) as wanted:
//            text+log+plot; and plain: instead of the program, a plain read loop on the port
//            beside a thread that wants to run every millisecond, as the window's probe does (no
//            keys): the stalls the machine itself makes under the flood; keep: the plain loop
//            reading straight into fresh memory from the program's block supply, the most any
//            program that keeps every byte can drain here; +alt runs the build
//            that KESTREL_BENCH_ALT names instead of this one, to set two builds side by side
//     rounds how many times to run every kind and view, in turns (default 1); with more than
//            one, a summary follows: for each row the median and the spread (lowest-highest) of
//            the rounds' drains and of their ratios to the plain loop of the same round
// KESTREL_BENCH_BINARY names another build of the program to run instead of this tree's, to set
// two builds side by side in turns; KESTREL_BENCH_GEOMETRY gives the window's size and place
// (1280x800+0+0 fills the screen, as a maximised window does). Needs Xvfb. Everything it starts
// it ends by its process id.

#include "BlockSupply.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <list>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <sched.h>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int KeyEveryMs = 30;
constexpr int ArrivalTimeoutMs = 2000;
constexpr int WarmKeys = 34; // a second of keys before the measured ones

double MonotonicMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

// Xvfb on a display it chooses itself; the display's number, or -1.
int StartXvfb(pid_t& pid) {
    int fds[2];
    if (::pipe(fds) != 0)
        return -1;
    pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 2);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x800x24",
                 "-nolisten", "tcp", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char buf[32] = {};
    size_t got = 0;
    pollfd p{fds[0], POLLIN, 0};
    while (got < sizeof buf - 1 && ::poll(&p, 1, 10000) > 0) {
        const ssize_t n = ::read(fds[0], buf + got, sizeof buf - 1 - got);
        if (n <= 0)
            break;
        got += size_t(n);
        if (std::memchr(buf, '\n', got))
            break;
    }
    ::close(fds[0]);
    return got ? std::atoi(buf) : -1;
}

void EndProcess(pid_t pid) {
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 300; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

// The flood: the far end writes into the master as fast as the program drains it, until killed;
// it counts what it wrote in *counter (shared memory would do; a pipe at the end is enough).
pid_t StartFlood(int master, const std::string& kind, int reportFd) {
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    std::vector<uint8_t> chunk(4096);
    std::mt19937 random(7);
    if (kind == "random") {
        for (uint8_t& b : chunk)
            b = uint8_t(random());
    } else if (kind == "lines") {
        // 40-byte text lines: 38 printable characters and CR LF.
        for (size_t i = 0; i < chunk.size(); ++i) {
            const size_t col = i % 40;
            chunk[i] = col == 38 ? '\r' : col == 39 ? '\n' : uint8_t('0' + (i / 40 + col) % 75);
        }
        chunk.resize(chunk.size() / 40 * 40);
    } else if (kind == "numbers") {
        std::string text;
        for (int i = 0; text.size() < 4096 - 40; ++i)
            text += std::to_string(i % 1000) + "," + std::to_string(int(random() % 20001) - 10000) +
                    "," + std::to_string(random() % 100) + "." + std::to_string(random() % 10) +
                    "\r\n";
        chunk.assign(text.begin(), text.end());
    } else { // longline: printable bytes, never a line break
        for (size_t i = 0; i < chunk.size(); ++i)
            chunk[i] = uint8_t(' ' + 1 + random() % 94);
    }
    static volatile sig_atomic_t stop = 0;
    struct sigaction sa {};
    sa.sa_handler = [](int) { stop = 1; };
    ::sigaction(SIGTERM, &sa, nullptr);
    uint64_t written = 0;
    size_t at = 0;
    while (!stop) {
        const ssize_t n = ::write(master, chunk.data() + at, chunk.size() - at);
        if (n > 0) {
            written += uint64_t(n);
            at = (at + size_t(n)) % chunk.size();
        } else {
            pollfd p{master, POLLOUT, 0};
            ::poll(&p, 1, 5);
        }
    }
    [[maybe_unused]] ssize_t w = ::write(reportFd, &written, sizeof written);
    ::_exit(0);
}

// The program's top-level window: the largest mapped child of the root; in *shown, how many
// there are of some size (the plot's is a second one).
Window FindWindow(Display* dpy, int& x, int& y, unsigned& w, unsigned& h, int* shown = nullptr) {
    Window root = DefaultRootWindow(dpy), parent = 0, *children = nullptr;
    unsigned count = 0;
    Window best = 0;
    unsigned bestArea = 0;
    if (!XQueryTree(dpy, root, &root, &parent, &children, &count))
        return 0;
    for (unsigned i = 0; i < count; ++i) {
        XWindowAttributes a{};
        if (!XGetWindowAttributes(dpy, children[i], &a) || a.map_state != IsViewable)
            continue;
        const unsigned area = unsigned(a.width) * unsigned(a.height);
        if (shown && a.width > 200)
            ++*shown;
        if (area > bestArea && a.width > 200) {
            best = children[i];
            bestArea = area;
            x = a.x;
            y = a.y;
            w = unsigned(a.width);
            h = unsigned(a.height);
        }
    }
    if (children)
        XFree(children);
    return best;
}

// Waits for the byte c at the master; the time it came, or none.
bool WaitFor(int master, uint8_t c, int timeoutMs, Clock::time_point& when) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    uint8_t buf[256];
    while (Clock::now() < end) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 1) <= 0)
            continue;
        const ssize_t n = ::read(master, buf, sizeof buf);
        const auto now = Clock::now();
        for (ssize_t i = 0; i < n; ++i)
            if (buf[i] == c) {
                when = now;
                return true;
            }
    }
    return false;
}

// The machine's CPU time so far in clock ticks: all of it, and what the host of this virtual
// machine took from it (steal). A stall can be time in which the machine did not run at all.
struct TTicks {
    long long All = 0, Stolen = 0;
};

TTicks TicksNow() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    stat >> cpu;
    TTicks t;
    for (int i = 0; i < 8; ++i) {
        long long v = 0;
        stat >> v;
        t.All += v;
        if (i == 7)
            t.Stolen = v;
    }
    return t;
}

// Spans in which the machine ran nothing: a virtual machine whose host did not run it, for all
// its guest can tell (such a host may report no steal). A thread on each of the machine's CPUs, at
// real-time priority where that is allowed, wakes every millisecond and notes when it woke late;
// a span that every CPU's thread missed at once is a pause of the whole machine. Whatever a
// thread of the program waits or runs through such a span is not its own doing.
using TSpans = std::vector<std::pair<double, double>>; // CLOCK_MONOTONIC ms, sorted

class TPauseWatch {
public:
    TPauseWatch() = default;
    TPauseWatch(const TPauseWatch&) = delete;
    TPauseWatch& operator=(const TPauseWatch&) = delete;
    ~TPauseWatch() { Stop(); }

    void Start() {
        cpu_set_t cpus;
        CPU_ZERO(&cpus);
        if (::sched_getaffinity(0, sizeof cpus, &cpus) != 0)
            return;
        m_run = true;
        for (int c = 0; c < CPU_SETSIZE; ++c)
            if (CPU_ISSET(c, &cpus)) {
                m_late.emplace_back(c, TSpans{});
                m_threads.emplace_back([this, c, &late = m_late.back().second] { Watch(c, late); });
            }
    }
    // Ends the watch: then Machine() has the spans in which no CPU ran, and Cpu(n) those in
    // which CPU n did not (which include them).
    void Stop() {
        m_run = false;
        if (m_threads.empty())
            return;
        for (std::thread& t : m_threads)
            t.join();
        m_threads.clear();
        bool first = true;
        for (const auto& [cpu, late] : m_late) {
            m_machine = first ? late : Intersect(m_machine, late);
            first = false;
        }
    }
    const TSpans& Machine() const { return m_machine; }
    const TSpans& Cpu(int cpu) const {
        for (const auto& [c, late] : m_late)
            if (c == cpu)
                return late;
        return m_machine;
    }
    bool RealTime() const { return m_realTime; }

private:
    static constexpr double LateMs = 2.0;

    void Watch(int cpu, TSpans& late) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        ::pthread_setaffinity_np(::pthread_self(), sizeof one, &one);
        sched_param param{};
        param.sched_priority = ::sched_get_priority_max(SCHED_FIFO);
        if (::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param) != 0)
            m_realTime = false;
        double last = MonotonicMs();
        while (m_run) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const double now = MonotonicMs();
            if (now - last > LateMs)
                late.emplace_back(last, now);
            last = now;
        }
    }

    static TSpans Intersect(const TSpans& a, const TSpans& b) {
        TSpans both;
        for (size_t i = 0, j = 0; i < a.size() && j < b.size();) {
            const double from = std::max(a[i].first, b[j].first);
            const double to = std::min(a[i].second, b[j].second);
            if (to > from)
                both.emplace_back(from, to);
            if (a[i].second < b[j].second)
                ++i;
            else
                ++j;
        }
        return both;
    }

    std::atomic<bool> m_run{false};
    std::atomic<bool> m_realTime{true};
    std::list<std::pair<int, TSpans>> m_late; // each CPU's, stable while the threads write them
    TSpans m_machine;
    std::vector<std::thread> m_threads;
};

// How much of from..to the machine was paused.
double PausedIn(const TSpans& pauses, double from, double to) {
    double paused = 0;
    for (const auto& [a, b] : pauses)
        paused += std::max(0.0, std::min(to, b) - std::max(from, a));
    return paused;
}

struct TResult {
    std::vector<double> Keys; // ms
    std::vector<double> OwnKeys; // ms, without the machine's pauses in them
    double Stall = 0;         // ms
    double StallFrom = 0;     // when it began, CLOCK_MONOTONIC ms
    double StallRan = 0;      // what of it the window's thread ran, ms
    double StallWaited = 0;   // and waited for a core
    double LongestRan = 0;    // the most the thread ran between two ticks of its probe, ms
    double DrainMiBs = 0;
    double StolenPct = 0; // of the machine's time while the keys were pressed
    double Paused = 0;    // ms in which the machine ran nothing while the keys were pressed
    double OwnStall = 0;  // the longest stall without the machine's pauses in it, ms
    bool RealTime = true; // the pauses were watched at real-time priority
    int Lost = 0;
};

// The end of the measured time from start to end: what the host took meanwhile, and the flood
// (if any) ended, with the rate the far end wrote at (its first second was before start).
void EndRun(double start, double end, const TTicks& ticks0, pid_t& flood, int (&report)[2],
            TResult& result) {
    const TTicks ticks1 = TicksNow();
    result.StolenPct = 100.0 * double(ticks1.Stolen - ticks0.Stolen) /
                       double(std::max(1LL, ticks1.All - ticks0.All));
    if (flood <= 0)
        return;
    EndProcess(flood);
    flood = -1;
    uint64_t written = 0;
    ::close(report[1]);
    report[1] = -1;
    if (::read(report[0], &written, sizeof written) == sizeof written)
        result.DrainMiBs = double(written) / ((end - start + 1000.0) / 1000.0) / (1 << 20);
}

// A pseudo-terminal's far end, raw and without blocking, and the name of its port; -1 on failure.
int OpenMaster(std::string& slave) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0)
        return -1;
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        ::close(master);
        return -1;
    }
    slave = ::ptsname(master);
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    return master;
}

// The longest stall the probe's file shows between start and end, and the longest once the
// machine's pauses are taken out of each (the probe notes the longest of every quarter second).
void ReadProbe(const std::string& probe, double start, double end, const TPauseWatch& pauses,
               TResult& result) {
    result.Paused = PausedIn(pauses.Machine(), start, end);
    std::ifstream in(probe);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        double at = 0, longest = 0, from = 0, ran = 0, waited = 0, work = 0;
        int cpu = -1; // where the thread slept through the gap; not noted by older builds
        if (!(fields >> at >> longest >> from >> ran >> waited >> work))
            continue;
        fields >> cpu;
        if (at < start || at > end + 250)
            continue;
        result.LongestRan = std::max(result.LongestRan, work);
        result.OwnStall =
            std::max(result.OwnStall, longest - PausedIn(pauses.Cpu(cpu), from, from + longest));
        if (longest > result.Stall) {
            result.Stall = longest;
            result.StallFrom = from;
            result.StallRan = ran;
            result.StallWaited = waited;
        }
    }
}

bool RunOnce(Display* dpy, const std::string& display, const std::string& kind,
             const std::string& view, int keys, TResult& result) {
    char dirTemplate[] = "/tmp/kestrel-bench-keys-XXXXXX";
    if (!::mkdtemp(dirTemplate))
        return false;
    const std::string dir = dirTemplate;
    const std::string confDir = dir + "/Orvane Software";
    ::mkdir(confDir.c_str(), 0700);
    const std::string pane = view.substr(0, view.find('+'));
    const bool log = view.find("+log") != std::string::npos;
    const bool plot = view.find("+plot") != std::string::npos;
    const bool alt = view.find("+alt") != std::string::npos;
    {
        std::ofstream conf(confDir + "/Kestrel.conf");
        conf << "[General]\nSendMode=0\nReceTextView=" << (pane == "hex" ? 0 : 1)
             << "\nReceTextStamps=" << (pane == "stamps" ? 1 : 0) << "\n";
    }
    const std::string probe = dir + "/probe";
    const std::string logFile = dir + "/log";

    std::string slave;
    const int master = OpenMaster(slave);
    if (master < 0)
        return false;

    const pid_t program = ::fork();
    if (program == 0) {
        ::setenv("DISPLAY", display.c_str(), 1);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        ::setenv("KESTREL_STALL_PROBE", probe.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        ::close(master);
        const char* binary = ::getenv(alt ? "KESTREL_BENCH_ALT" : "KESTREL_BENCH_BINARY");
        const char* geometry = ::getenv("KESTREL_BENCH_GEOMETRY");
        std::vector<const char*> args{"kestrel", "--port", slave.c_str(), "--baud",
                                      "115200",  "--lang", "en"};
        if (geometry && *geometry)
            args.insert(args.end(), {"-geometry", geometry});
        if (log)
            args.insert(args.end(), {"--log", logFile.c_str(), "--log-format", "stamps"});
        args.push_back(nullptr);
        ::execv(binary && *binary ? binary : KESTREL_BINARY, const_cast<char* const*>(args.data()));
        ::_exit(127);
    }

    bool ok = false;
    pid_t flood = -1;
    int report[2] = {-1, -1};
    do {
        int x = 0, y = 0;
        unsigned w = 0, h = 0;
        Window win = 0;
        for (int i = 0; i < 2000 && !win; ++i) {
            win = FindWindow(dpy, x, y, w, h);
            if (!win)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!win) {
            std::fprintf(stderr, "no window\n");
            break;
        }
        // A click into the send pane (the first page, beneath the tabs) gives it the keys.
        auto focusSendPane = [&] {
            XSetInputFocus(dpy, win, RevertToParent, CurrentTime);
            XTestFakeMotionEvent(dpy, -1, x + int(w) / 3, y + int(h) - 50, CurrentTime);
            XTestFakeButtonEvent(dpy, 1, True, CurrentTime);
            XTestFakeButtonEvent(dpy, 1, False, CurrentTime);
            XSync(dpy, False);
        };
        focusSendPane();
        const KeyCode a = XKeysymToKeycode(dpy, XK_a);
        auto press = [&] {
            XTestFakeKeyEvent(dpy, a, True, CurrentTime);
            XTestFakeKeyEvent(dpy, a, False, CurrentTime);
            XFlush(dpy);
        };
        // Until a key arrives the port is not open or the pane has no focus yet.
        Clock::time_point when;
        auto warmUp = [&] {
            for (int i = 0; i < 100; ++i) {
                press();
                if (WaitFor(master, 'a', 100, when))
                    return true;
            }
            std::fprintf(stderr, "keys do not reach the port\n");
            return false;
        };
        if (!warmUp())
            break;
        if (plot) {
            // Ctrl+Shift+P opens the plot, a window of its own beside the main one, which then
            // takes the keys back (there is no window manager to raise it).
            const KeyCode keys[] = {XKeysymToKeycode(dpy, XK_Control_L),
                                    XKeysymToKeycode(dpy, XK_Shift_L), XKeysymToKeycode(dpy, XK_p)};
            for (KeyCode k : keys)
                XTestFakeKeyEvent(dpy, k, True, CurrentTime);
            for (int i = 2; i >= 0; --i)
                XTestFakeKeyEvent(dpy, keys[i], False, CurrentTime);
            XSync(dpy, False);
            bool shown = false;
            for (int i = 0; i < 500 && !shown; ++i) {
                int px = 0, py = 0, windows = 0;
                unsigned pw = 0, ph = 0;
                FindWindow(dpy, px, py, pw, ph, &windows);
                shown = windows > 1;
                if (!shown)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (!shown) {
                std::fprintf(stderr, "the plot did not open\n");
                break;
            }
            XRaiseWindow(dpy, win);
            focusSendPane();
            if (!warmUp())
                break;
        }
        // The first keys of a run are the toolkit's first ones too: it loads a keyboard map and
        // plug-ins then, once a run, taking the window's thread for 10-30 ms. A second of keys at
        // the measured pace comes first, so that the figures are those of a session under way.
        for (int i = 0; i < WarmKeys; ++i) {
            const auto pressed = Clock::now();
            press();
            WaitFor(master, 'a', ArrivalTimeoutMs, when);
            std::this_thread::sleep_until(pressed + std::chrono::milliseconds(KeyEveryMs));
        }
        // From before the measured time: the probe's first span begins a quarter second early.
        TPauseWatch watch;
        watch.Start();
        if (kind != "idle") {
            if (::pipe(report) != 0)
                break;
            flood = StartFlood(master, kind, report[1]);
            std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // the pane is busy first
        }
        if (kind == "idle")
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        const double start = MonotonicMs();
        const TTicks ticks0 = TicksNow();
        std::vector<std::pair<Clock::time_point, Clock::time_point>> arrivals;
        for (int i = 0; i < keys; ++i) {
            const auto pressed = Clock::now();
            press();
            if (WaitFor(master, 'a', ArrivalTimeoutMs, when))
                arrivals.emplace_back(pressed, when);
            else
                ++result.Lost;
            std::this_thread::sleep_until(pressed + std::chrono::milliseconds(KeyEveryMs));
        }
        const double end = MonotonicMs();
        EndRun(start, end, ticks0, flood, report, result);
        watch.Stop();
        const TSpans& pauses = watch.Machine();
        result.RealTime = watch.RealTime();
        // The steady clock is the monotonic one.
        auto ms = [](Clock::time_point t) {
            return std::chrono::duration<double, std::milli>(t.time_since_epoch()).count();
        };
        for (const auto& [pressed, arrived] : arrivals) {
            result.Keys.push_back(ms(arrived) - ms(pressed));
            result.OwnKeys.push_back(ms(arrived) - ms(pressed) -
                                     PausedIn(pauses, ms(pressed), ms(arrived)));
        }
        ReadProbe(probe, start, end, watch, result);
        ok = true;
    } while (false);
    EndProcess(flood);
    EndProcess(program);
    for (int fd : report)
        if (fd >= 0)
            ::close(fd);
    ::close(master);
    ::unlink(probe.c_str());
    ::unlink(logFile.c_str());
    ::unlink((confDir + "/Kestrel.conf").c_str());
    ::rmdir(confDir.c_str());
    ::rmdir(dir.c_str());
    return ok;
}

// The least a program that keeps every byte must do: read straight into fresh memory from the
// program's own block supply, which a thread of its own maps in huge pages where the system has
// them and makes present a few megabytes ahead. No copy, no index, no window: its drain is the
// most any program that keeps the flood can reach here.
void ReadKeeping(int fd) {
    for (;;) {
        auto* block = static_cast<uint8_t*>(blocksupply::Take()); // kept until the process ends
        for (size_t used = 0; used < blocksupply::BlockBytes;) {
            const ssize_t n = ::read(fd, block + used, blocksupply::BlockBytes - used);
            if (n < 0)
                return;
            used += size_t(n);
        }
    }
}

// The reference beside the program: a process with a plain read loop on the pseudo-terminal's
// other end (or the keeping one) and a thread that wants to run every millisecond, as the
// window's probe does, and notes its gaps in the probe's format. What it sees is what the machine
// does to any thread while the flood drains: its stalls are the floor for the window's.
void RunReference(const std::string& slave, const std::string& probePath, bool keep) {
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0)
        ::_exit(1);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    std::thread([fd, keep] {
        if (keep) {
            ReadKeeping(fd);
            return;
        }
        std::vector<uint8_t> buf(1 << 16);
        while (::read(fd, buf.data(), buf.size()) >= 0) {
        }
    }).detach();
    std::FILE* out = std::fopen(probePath.c_str(), "a");
    const int sched = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    auto schedNow = [sched](double& ran, double& waited) {
        char text[128];
        const ssize_t n = ::pread(sched, text, sizeof text - 1, 0);
        unsigned long long r = 0, w = 0;
        if (n > 0) {
            text[n] = 0;
            std::sscanf(text, "%llu %llu", &r, &w);
        }
        ran = double(r) / 1e6;
        waited = double(w) / 1e6;
    };
    double last = MonotonicMs(), lastRan = 0, lastWaited = 0, spanStart = last;
    double longest = 0, from = 0, longestRan = 0, longestWaited = 0, work = 0;
    int lastCpu = ::sched_getcpu(), longestCpu = -1;
    schedNow(lastRan, lastWaited);
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const double now = MonotonicMs();
        double ran = 0, waited = 0;
        schedNow(ran, waited);
        if (now - last > longest) {
            longest = now - last;
            from = last;
            longestRan = ran - lastRan;
            longestWaited = waited - lastWaited;
            longestCpu = lastCpu;
        }
        lastCpu = ::sched_getcpu();
        work = std::max(work, ran - lastRan);
        last = now;
        lastRan = ran;
        lastWaited = waited;
        if (now - spanStart >= 250) {
            std::fprintf(out, "%.3f %.3f %.3f %.3f %.3f %.3f %d\n", now, longest, from, longestRan,
                         longestWaited, work, longestCpu);
            std::fflush(out);
            spanStart = now;
            longest = 0;
            work = 0;
        }
    }
}

// A run of the reference for as long as a run of the program's keys takes: its stalls and drain.
bool RunReferenceOnce(const std::string& kind, int keys, bool keep, TResult& result) {
    char dirTemplate[] = "/tmp/kestrel-bench-keys-XXXXXX";
    if (!::mkdtemp(dirTemplate))
        return false;
    const std::string dir = dirTemplate;
    const std::string probe = dir + "/probe";
    std::string slave;
    const int master = OpenMaster(slave);
    if (master < 0)
        return false;
    const pid_t reference = ::fork();
    if (reference == 0) {
        ::close(master);
        RunReference(slave, probe, keep);
        ::_exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(WarmKeys * KeyEveryMs));
    int report[2] = {-1, -1};
    pid_t flood = -1;
    TPauseWatch watch;
    watch.Start();
    if (kind != "idle" && ::pipe(report) == 0)
        flood = StartFlood(master, kind, report[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const double start = MonotonicMs();
    const TTicks ticks0 = TicksNow();
    std::this_thread::sleep_for(std::chrono::milliseconds(keys * KeyEveryMs));
    const double end = MonotonicMs();
    EndRun(start, end, ticks0, flood, report, result);
    watch.Stop();
    result.RealTime = watch.RealTime();
    for (int fd : report)
        if (fd >= 0)
            ::close(fd);
    EndProcess(reference);
    ::close(master);
    ReadProbe(probe, start, end, watch, result);
    ::unlink(probe.c_str());
    ::rmdir(dir.c_str());
    return true;
}

double Percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(std::ceil(p * double(v.size()))) - 1)];
}

// The median and the spread of values above zero, as "median (lowest-highest)".
std::string Spread(std::vector<double> v, const char* format) {
    v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return !(x > 0); }), v.end());
    if (v.empty())
        return "-";
    std::sort(v.begin(), v.end());
    const double median =
        v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    char text[96];
    std::snprintf(text, sizeof text, format, median, v.front(), v.back());
    return text;
}

void PrintDrains(const std::vector<std::string>& kinds, const std::vector<std::string>& views,
                 const std::vector<std::vector<double>>& drains,
                 const std::vector<std::vector<double>>& ownWorsts,
                 const std::vector<std::vector<double>>& ownStalls) {
    std::printf("\nOver %zu rounds: median (lowest-highest)\n", drains.front().size());
    std::printf("%-9s %-16s %-24s %-24s %-24s %s\n", "flood", "view", "own worst ms",
                "own stall ms", "drain MiB/s", "to the plain loop");
    const auto plain = std::find(views.begin(), views.end(), "plain");
    for (size_t k = 0; k < kinds.size(); ++k)
        for (size_t v = 0; v < views.size(); ++v) {
            const std::vector<double>& drain = drains[k * views.size() + v];
            std::string ratio = "-";
            if (plain != views.end() && views[v] != "plain") {
                const std::vector<double>& base =
                    drains[k * views.size() + size_t(plain - views.begin())];
                std::vector<double> ratios;
                for (size_t r = 0; r < drain.size(); ++r)
                    ratios.push_back(base[r] > 0 ? drain[r] / base[r] : 0);
                ratio = Spread(ratios, "%.2f (%.2f-%.2f)");
            }
            const size_t at = k * views.size() + v;
            std::printf("%-9s %-16s %-24s %-24s %-24s %s\n", kinds[k].c_str(), views[v].c_str(),
                        Spread(ownWorsts[at], "%.1f (%.1f-%.1f)").c_str(),
                        Spread(ownStalls[at], "%.1f (%.1f-%.1f)").c_str(),
                        Spread(drain, "%.1f (%.1f-%.1f)").c_str(), ratio.c_str());
        }
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    const int keys = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
    const auto kinds = Split(argc > 2 ? argv[2] : "idle,random,lines,longline");
    const auto views = Split(argc > 3 ? argv[3] : "hex,text,stamps");
    const int rounds = argc > 4 ? std::max(1, std::atoi(argv[4])) : 1;
    // The drain of each kind and view, round by round (0 where a run failed).
    std::vector<std::vector<double>> drains(kinds.size() * views.size());
    // And the worst key and the longest stall once the machine's pauses are taken out of them.
    std::vector<std::vector<double>> ownWorsts(drains.size()), ownStalls(drains.size());
    bool realTime = true;

    pid_t xvfb = -1;
    const int number = StartXvfb(xvfb);
    if (number < 0) {
        std::fprintf(stderr, "Xvfb did not start\n");
        EndProcess(xvfb);
        return 1;
    }
    const std::string display = ":" + std::to_string(number);
    Display* dpy = XOpenDisplay(display.c_str());
    if (!dpy) {
        EndProcess(xvfb);
        return 1;
    }
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(dpy, &event, &error, &major, &minor)) {
        std::fprintf(stderr, "no XTest\n");
        EndProcess(xvfb);
        return 1;
    }
    std::printf("Key press (XTest) to byte at the port, one every %d ms, %d presses a run\n",
                KeyEveryMs, keys);
    std::printf("%-9s %-16s %9s %9s %9s %9s %10s %9s %9s %9s %9s %11s %5s %9s %7s\n", "flood",
                "view", "median", "p99", "worst", "own worst", "stall max", "own stall", "ran",
                "waited", "work max", "drain MiB/s", "lost", "paused", "stolen");
    int status = 0;
    for (int round = 0; round < rounds; ++round)
        for (size_t k = 0; k < kinds.size(); ++k)
            for (size_t v = 0; v < views.size(); ++v) {
                const std::string& kind = kinds[k];
                const std::string& view = views[v];
                TResult r;
                std::vector<double>& drain = drains[k * views.size() + v];
                drain.push_back(0);
                if (view == "plain" || view == "keep") {
                    if (!RunReferenceOnce(kind, keys, view == "keep", r)) {
                        std::printf("%-9s %-16s failed\n", kind.c_str(), view.c_str());
                        status = 1;
                        continue;
                    }
                    std::printf("%-9s %-16s %9s %9s %9s %9s %8.2fms %7.2fms %7.2fms %7.2fms "
                                "%7.2fms %11.1f %5s %7.1fms %6.1f%%\n",
                                kind.c_str(), view.c_str(), "-", "-", "-", "-", r.Stall, r.OwnStall,
                                r.StallRan, r.StallWaited, r.LongestRan, r.DrainMiBs, "-", r.Paused,
                                r.StolenPct);
                    std::fflush(stdout);
                    drain.back() = r.DrainMiBs;
                    ownStalls[k * views.size() + v].push_back(r.OwnStall);
                    realTime = realTime && r.RealTime;
                    continue;
                }
                if (!RunOnce(dpy, display, kind, view, keys, r) || r.Keys.empty()) {
                    std::printf("%-9s %-16s failed\n", kind.c_str(), view.c_str());
                    status = 1;
                    continue;
                }
                std::printf("%-9s %-16s %7.2fms %7.2fms %7.2fms %7.2fms %8.2fms %7.2fms %7.2fms "
                            "%7.2fms %7.2fms %11.1f %5d %7.1fms %6.1f%%\n",
                            kind.c_str(), view.c_str(), Percentile(r.Keys, 0.5),
                            Percentile(r.Keys, 0.99), Percentile(r.Keys, 1.0),
                            Percentile(r.OwnKeys, 1.0), r.Stall, r.OwnStall, r.StallRan,
                            r.StallWaited, r.LongestRan, r.DrainMiBs, r.Lost, r.Paused,
                            r.StolenPct);
                ownWorsts[k * views.size() + v].push_back(Percentile(r.OwnKeys, 1.0));
                ownStalls[k * views.size() + v].push_back(r.OwnStall);
                realTime = realTime && r.RealTime;
                // To find the stall in a trace (perf record -k CLOCK_MONOTONIC) of the same run.
                std::fprintf(stderr,
                             "%s %s: the longest stall began at %.3f ms (CLOCK_MONOTONIC)\n",
                             kind.c_str(), view.c_str(), r.StallFrom);
                std::fflush(stdout);
                drain.back() = r.DrainMiBs;
            }
    if (!realTime)
        std::printf("(pauses watched without real-time priority: they include spans in which "
                    "other threads kept every CPU busy)\n");
    if (rounds > 1)
        PrintDrains(kinds, views, drains, ownWorsts, ownStalls);
    XCloseDisplay(dpy);
    EndProcess(xvfb);
    return status;
}
