#include "StallProbe.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

constexpr int TickMs = 1;
constexpr qint64 ReportEveryNs = 250'000'000;

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
    ~TProbe() {
        if (Out)
            std::fclose(Out);
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
    probe->Clock.start();
    auto* timer = new QTimer(parent);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(TickMs);
    QObject::connect(timer, &QTimer::timeout, timer, [probe] {
        const qint64 now = probe->Clock.nsecsElapsed();
        if (probe->Last && now - probe->Last > probe->Longest) {
            probe->Longest = now - probe->Last;
            probe->LongestFrom = MonotonicMs() - double(probe->Longest) / 1e6;
        }
        probe->Last = now;
        if (now - probe->SpanStart >= ReportEveryNs) {
            std::fprintf(probe->Out, "%.3f %.3f %.3f\n", MonotonicMs(), double(probe->Longest) / 1e6,
                         probe->LongestFrom);
            std::fflush(probe->Out);
            probe->SpanStart = now;
            probe->Longest = 0;
        }
    });
    timer->start();
}
