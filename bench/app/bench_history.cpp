// History files of a large session through the real window: N MiB received through the receive
// path, saved with the toolbar's Save, opened back with Open, then cleared; and the earlier way of
// saving (a QStringList of every line, then the whole document) for comparison, run last so that
// its peak does not hide the others'. Prints seconds, the window's longest stall while a save or
// open runs (a 1 ms timer's longest gap), the peak memory above what the pane holds, RSS after
// Clear against RSS at start, and the memory per line of a file of empty lines opened.
//   build/bench/app/bench_history [MiB] [million empty lines]   (default 256 and 16)

#include "BlockSupply.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "HistoryJob.h"
#include "PortMap.h"
#include "Rtf.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// A figure of /proc/self/status in MiB ("VmRSS", "VmHWM").
double StatusMiB(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key, 0) == 0)
            return std::atof(line.c_str() + std::strlen(key) + 1) / 1024.0;
    }
    return 0;
}

// The peak (VmHWM) starts again from the current RSS.
void ResetPeak() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Runs the event loop until the window's save or open has ended; the longest gap between two
// ticks of a 1 ms timer meanwhile, in ms.
double RunJob(TFrmMain& w) {
    QEventLoop loop;
    QTimer tick, poll;
    auto last = Clock::now();
    double worst = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        worst = std::max(worst, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (w.RunningJob() == nullptr)
            loop.quit();
    });
    tick.start(1);
    poll.start(5);
    loop.exec();
    return worst;
}

struct TFigures {
    double Seconds = 0;
    double StallMs = 0;
    double PeakExtraMiB = 0;
};

TFigures Save(TFrmMain& w, const QString& name) {
    const double before = StatusMiB("VmRSS:");
    ResetPeak();
    const auto t = Clock::now();
    dialogs::SetNextFileNames({name});
    w.ToolSaveClick();
    TFigures f;
    f.StallMs = RunJob(w);
    f.Seconds = Seconds(Clock::now() - t);
    f.PeakExtraMiB = StatusMiB("VmHWM:") - before;
    return f;
}

// Opened into a cleared pane: the extra memory is the peak above RSS before plus what the
// opened content holds in the end.
TFigures Open(TFrmMain& w, const QString& name) {
    w.ToolClearClick();
    blocksupply::Settle();
    const double before = StatusMiB("VmRSS:");
    ResetPeak();
    const auto t = Clock::now();
    dialogs::SetNextFileNames({name});
    w.ToolOpenClick();
    TFigures f;
    f.StallMs = RunJob(w);
    f.Seconds = Seconds(Clock::now() - t);
    f.PeakExtraMiB = StatusMiB("VmHWM:") - before - double(Part<TReceivePane>(w, "ReceEdit")->Store().MemoryUsed()) / (1 << 20);
    return f;
}

void Print(const char* what, const TFigures& f) {
    std::printf("%-28s %7.2f s   longest stall %6.1f ms   peak extra %7.1f MiB\n", what, f.Seconds,
                f.StallMs, f.PeakExtraMiB);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const size_t mib = argc > 1 ? size_t(std::max(1, std::atoi(argv[1]))) : 256;
    const int64_t emptyLines = (argc > 2 ? std::max(1, std::atoi(argv[2])) : 16) * int64_t(1000000);
    QTemporaryDir dir;
    StoreSettings(LoopbackTarget);
    TFrmMain w;
    w.show();
    QCoreApplication::processEvents();
    const double startRss = StatusMiB("VmRSS:");

    // Received through OnCommData in 4 KiB blocks, as the worker delivers them, a few MiB ahead
    // of the pane at most.
    const auto feed = Clock::now();
    std::vector<uint8_t> block(4096);
    uint64_t seed = 1;
    TReceiveStore& store = Part<TReceivePane>(w, "ReceEdit")->Store();
    const auto receive = [&] {
        for (size_t done = 0; done < (mib << 20); done += block.size()) {
            for (uint8_t& b : block)
                b = uint8_t((seed = seed * 6364136223846793005u + 1442695040888963407u) >> 56);
            w.OnCommData(block.data(), uint32_t(block.size()));
            if ((done + block.size()) % (4 << 20) == 0) {
                const int64_t lines = int64_t((done + block.size()) / 16);
                WaitUntil([&] { return store.LineCount() >= lines; }, 60000);
            }
        }
        WaitUntil([&] { return store.LineCount() >= int64_t(mib << 16); }, 60000);
    };
    receive();
    std::printf("received %zu MiB in %.2f s: %lld lines, store %.1f MiB, RSS %.1f MiB (%.1f at "
                "start)\n",
                mib, Seconds(Clock::now() - feed), (long long)store.LineCount(),
                double(store.MemoryUsed()) / (1 << 20), StatusMiB("VmRSS:"), startRss);

    const QString saved = dir.filePath("session.kst");
    const TFigures save = Save(w, saved);
    Print("save (toolbar)", save);
    std::printf("file: %.1f MiB\n", double(QFile(saved).size()) / (1 << 20));

    const TFigures open = Open(w, saved);
    Print("open (toolbar, cleared pane)", open);
    std::printf("opened: %lld lines, store %.1f MiB\n", (long long)store.LineCount(),
                double(store.MemoryUsed()) / (1 << 20));

    w.ToolClearClick();
    blocksupply::Settle(); // the memory goes back on a thread of its own
    std::printf("after Clear: RSS %.1f MiB (%.1f at start)\n", StatusMiB("VmRSS:"), startRss);

    // A file of empty lines.
    const QString empty = dir.filePath("empty.txt");
    {
        QFile f(empty);
        f.open(QIODevice::WriteOnly);
        const QByteArray lines(1 << 20, '\n');
        for (int64_t n = 0; n < emptyLines; n += lines.size())
            f.write(lines.constData(), std::min<int64_t>(lines.size(), emptyLines - n));
    }
    const double emptyBefore = StatusMiB("VmRSS:");
    const TFigures emptyOpen = Open(w, empty);
    Print("open of empty lines", emptyOpen);
    std::printf("empty lines: %lld, store %.2f bytes per line, RSS %.2f bytes per line\n",
                (long long)store.LineCount(), double(store.MemoryUsed()) / double(store.LineCount()),
                (StatusMiB("VmRSS:") - emptyBefore) * (1 << 20) / double(store.LineCount()));
    w.ToolClearClick();

    // The earlier way, last: every line as a QString, then the whole document at once.
    receive();
    {
        blocksupply::Settle();
        const double before = StatusMiB("VmRSS:");
        ResetPeak();
        const auto t = Clock::now();
        QStringList lines;
        lines.reserve(qsizetype(store.LineCount()));
        for (int64_t k = 0; k < store.LineCount(); ++k)
            lines.append(QString::fromUtf8(store.Line(k)));
        SaveRtfFile(dir.filePath("old.kst"), lines, RtfStyle());
        TFigures old;
        old.Seconds = Seconds(Clock::now() - t);
        old.StallMs = old.Seconds * 1000; // all on the window's thread
        old.PeakExtraMiB = StatusMiB("VmHWM:") - before;
        Print("save (earlier way)", old);
        std::printf("save speed-up: %.1fx\n", old.Seconds / save.Seconds);
    }
    return 0;
}
