#include "StallProbe.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sched.h>
#include <unistd.h>

namespace {

constexpr int TickMs = 1;
constexpr qint64 ReportEveryNs = 250'000'000;

// The thread's time on a core and waiting for one so far, in ms (the scheduler's own figures).
struct TSched {
    double Ran = 0, Waited = 0;
};

TSched SchedNow(int fd) {
    char text[128];
    const ssize_t n = fd >= 0 ? ::pread(fd, text, sizeof text - 1, 0) : -1;
    if (n <= 0)
        return {};
    text[n] = 0;
    unsigned long long ran = 0, waited = 0;
    if (std::sscanf(text, "%llu %llu", &ran, &waited) != 2)
        return {};
    return {double(ran) / 1e6, double(waited) / 1e6};
}

double MonotonicMs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct TProbe {
    std::FILE* Out = nullptr;
    QElapsedTimer Clock;
    qint64 Last = 0;
    qint64 SpanStart = 0;
    qint64 Longest = 0;
    double LongestFrom = 0; // when the longest began, on the monotonic clock
    int Sched = -1;         // the thread's schedstat
    TSched LastSched;       // at the last tick
    TSched LongestSched;    // what of the longest the thread ran and waited for a core
    double LongestRan = 0;  // the most the thread ran between two ticks: its longest stretch
    int LastCpu = -1;       // where the thread ran at the last tick
    int LongestCpu = -1;    // and before the longest gap
    ~TProbe() {
        if (Out)
            std::fclose(Out);
        if (Sched >= 0)
            ::close(Sched);
    }
};

} // namespace

void StartStallProbeFromEnvironment(QObject* parent) {
    const QByteArray path = qgetenv("KESTREL_STALL_PROBE");
    if (path.isEmpty())
        return;
    auto probe = std::make_shared<TProbe>();
    // A benchmark's own file: appended to, never a device or FIFO of the user's.
    probe->Out = std::fopen(path.constData(), "a");
    if (!probe->Out)
        return;
    probe->Sched = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    probe->Clock.start();
    auto* timer = new QTimer(parent);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(TickMs);
    QObject::connect(timer, &QTimer::timeout, timer, [probe] {
        const qint64 now = probe->Clock.nsecsElapsed();
        const TSched sched = SchedNow(probe->Sched);
        if (probe->Last && now - probe->Last > probe->Longest) {
            probe->Longest = now - probe->Last;
            probe->LongestFrom = MonotonicMs() - double(probe->Longest) / 1e6;
            probe->LongestSched = {sched.Ran - probe->LastSched.Ran,
                                   sched.Waited - probe->LastSched.Waited};
            probe->LongestCpu = probe->LastCpu;
        }
        probe->LastCpu = ::sched_getcpu();
        if (probe->Last)
            probe->LongestRan = std::max(probe->LongestRan, sched.Ran - probe->LastSched.Ran);
        probe->Last = now;
        probe->LastSched = sched;
        if (now - probe->SpanStart >= ReportEveryNs) {
            std::fprintf(probe->Out, "%.3f %.3f %.3f %.3f %.3f %.3f %d\n", MonotonicMs(),
                         double(probe->Longest) / 1e6, probe->LongestFrom, probe->LongestSched.Ran,
                         probe->LongestSched.Waited, probe->LongestRan, probe->LongestCpu);
            std::fflush(probe->Out);
            probe->SpanStart = now;
            probe->Longest = 0;
            probe->LongestRan = 0;
        }
    });
    timer->start();
}
