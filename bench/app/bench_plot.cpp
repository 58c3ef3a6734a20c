// The plot: what a frame of 10,000,000 points costs against 1,000 (decimated to the pixel
// columns, drawn with QPainter), the store's memory per point, and the whole program on a
// pseudo-terminal while a device sends 20,000 lines a second of three values: its CPU use with
// the plot window open against without it, whether the plot kept every value, and how often
// the chart was redrawn.
//   bench_plot [seconds of the line flood, default 60] [million points, default 10] [rounds, default 2]

#include "Openwindow.h"
#include "ReceivePane.h"
#include "PlotChart.h"
#include "PlotWindow.h"
#include "Pty.h"
#include "ThreadCpu.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <unistd.h>
#include <string>
#include <sys/resource.h>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return double(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
           double(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

long RssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

// Lines of one value each, "v:<value>", for points points over the given milliseconds.
void FeedPoints(TPlotFeed& feed, size_t points, int64_t startMs, int64_t spanMs) {
    std::string block;
    const size_t perBlock = 1000; // a block a time stamp: the points spread over the span
    for (size_t i = 0; i < points;) {
        block.clear();
        const size_t n = std::min(perBlock, points - i);
        for (size_t k = 0; k < n; ++k, ++i)
            block += std::to_string(std::sin(double(i) * 0.001) * 100 + double(i % 97) * 0.1) + "\n";
        feed.Push(reinterpret_cast<const uint8_t*>(block.data()), block.size(),
                  startMs + int64_t(double(i) / double(points) * double(spanMs)));
    }
    feed.Settle();
}

// The chart's frame over the whole session: the best and the mean of frames frames.
void MeasureFrames(size_t points) {
    TPlotWindow plot(TPlotHost{});
    plot.resize(1400, 700);
    plot.Open();
    TPlotFeed& feed = plot.Feed();
    const long rss0 = RssKiB();
    QElapsedTimer fill;
    fill.start();
    FeedPoints(feed, points, 1'700'000'000'000, 3'600'000);
    const double fillS = double(fill.elapsed()) / 1000;
    const long rss1 = RssKiB();
    size_t storeBytes = 0, stored = 0;
    feed.Read([&](const TPlotStore& s, const TPlotFeed::TCounts&) {
        storeBytes = s.MemoryBytes();
        stored = s.Points();
    });
    TPlotChart* chart = plot.Chart();
    chart->SetSpan(0); // the whole session
    QApplication::processEvents();
    double best = 1e9, sum = 0;
    const int frames = 20;
    for (int f = 0; f < frames; ++f) {
        QElapsedTimer t;
        t.start();
        const QImage image = chart->Picture();
        const double ms = double(t.nsecsElapsed()) / 1e6;
        // KESTREL_PLOT_PICTURE=<folder> keeps the last frame of each run, to look at.
        if (f == frames - 1 && qEnvironmentVariableIsSet("KESTREL_PLOT_PICTURE"))
            image.save(qEnvironmentVariable("KESTREL_PLOT_PICTURE") + QString("/plot-%1.png").arg(points));
        best = std::min(best, ms);
        sum += ms;
    }
    std::printf("%zu points (%zu stored): read from text in %.2f s (%.1f M lines/s); chart %dx%d, "
                "frame best %.2f ms, mean %.2f ms; store %.2f bytes/point, RSS %.2f bytes/point\n",
                points, stored, fillS, double(points) / fillS / 1e6, chart->width(), chart->height(),
                best, sum / frames, double(storeBytes) / double(std::max<size_t>(stored, 1)),
                double(rss1 - rss0) * 1024 / double(std::max<size_t>(stored, 1)));
    plot.close();
}

struct TFloodResult {
    double FeedShare = 0;  // the plot's feed thread, of one core
    double DrawShare = 0;  // the chart's frames on the window's thread, of one core
    double CpuShare = 0; // of one core
    uint64_t Lines = 0;
    size_t Points = 0;
    uint64_t Bad = 0;
    int Frames = 0;
    double Seconds = 0;
};

// seconds of 20,000 lines a second of three values from the far end, through the window.
TFloodResult Flood(TFrmMain& w, TPty& pty, int seconds, bool plotOpen) {
    auto* plot = w.findChild<TPlotWindow*>("PlotWindow");
    int frames = 0;
    double drawMs = 0;
    QMetaObject::Connection counting;
    if (plotOpen) {
        plot->Open();
        plot->Feed().Clear();
        counting = QObject::connect(plot->Chart(), &TPlotChart::Drawn, [&] {
            ++frames;
            drawMs += plot->Chart()->LastFrameMs();
        });
    }
    std::atomic<bool> done{false};
    uint64_t lines = 0;
    const double cpu0 = CpuSeconds();
    const double feed0 = ThreadCpuSeconds("plot feed");
    const auto start = Clock::now();
    std::thread writer([&] {
        // 20 lines each millisecond, written as the clock reaches it.
        std::string chunk;
        const int64_t total = int64_t(seconds) * 20000;
        for (int64_t ms = 0; int64_t(lines) < total; ++ms) {
            std::this_thread::sleep_until(start + std::chrono::milliseconds(ms));
            chunk.clear();
            for (int k = 0; k < 20; ++k, ++lines)
                chunk += "a:" + std::to_string(lines % 1000) + ",b:" + std::to_string(-int64_t(lines % 777)) +
                         ",c:" + std::to_string(double(lines % 100) / 8) + "\n";
            pty.Write(std::vector<uint8_t>(chunk.begin(), chunk.end()));
        }
        done = true;
    });
    while (!done)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    writer.join();
    TFloodResult r;
    r.Lines = lines;
    if (plotOpen) {
        WaitUntil(
            [&] {
                size_t points = 0;
                plot->Feed().Read([&](const TPlotStore& s, const TPlotFeed::TCounts&) { points = s.Points(); });
                return points >= 3 * lines;
            },
            10000);
    } else {
        WaitUntil([] { return false; }, 300); // the last lines into the pane
    }
    r.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.CpuShare = (CpuSeconds() - cpu0) / r.Seconds;
    r.FeedShare = (ThreadCpuSeconds("plot feed") - feed0) / r.Seconds;
    r.DrawShare = drawMs / 1000 / r.Seconds;
    if (plotOpen) {
        plot->Feed().Read([&](const TPlotStore& s, const TPlotFeed::TCounts& c) {
            r.Points = s.Points();
            r.Bad = c.Bad;
        });
        QObject::disconnect(counting);
        plot->close();
    }
    r.Frames = frames;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    const size_t millions = argc > 2 ? size_t(std::atoi(argv[2])) : 10;

    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    MeasureFrames(1000);
    MeasureFrames(millions * 1000000);

    TPty pty;
    StoreSettings(pty.Path, 12);
    auto window = OpenWindow();
    if (!window) {
        std::fprintf(stderr, "the port did not open\n");
        return 1;
    }
    Part<TReceivePane>(window, "ReceEdit")->SetTextView(true);
    // Without and with the plot in turns, the best round of each counting: the machine may be busy.
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 2;
    TFloodResult without, with;
    without.CpuShare = with.CpuShare = 1e9;
    for (int round = 0; round < rounds; ++round) {
        const TFloodResult a = Flood(*window, pty, seconds, false);
        const TFloodResult b = Flood(*window, pty, seconds, true);
        std::printf("round %d: program CPU %.1f %% of a core without the plot, %.1f %% with it\n", round + 1,
                    a.CpuShare * 100, b.CpuShare * 100);
        std::fflush(stdout);
        if (a.CpuShare < without.CpuShare)
            without = a;
        if (b.CpuShare < with.CpuShare)
            with = b;
    }
    std::printf("%d s of 20,000 lines/s x 3 values: program CPU %.1f %% of a core without the plot, "
                "%.1f %% with it (+%.1f %%); of which the plot's feed thread %.1f %%, its frames %.1f %%\n",
                seconds, without.CpuShare * 100, with.CpuShare * 100, (with.CpuShare - without.CpuShare) * 100,
                with.FeedShare * 100, with.DrawShare * 100);
    std::printf("plot kept %zu of %llu values (%llu lines that did not read); chart redrawn %.1f times a "
                "second\n",
                with.Points, (unsigned long long)(3 * with.Lines), (unsigned long long)with.Bad,
                double(with.Frames) / with.Seconds);
    return 0;
}
