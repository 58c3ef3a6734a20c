// Prints how long a key typed in Character mode takes to reach the far end
// while the far end floods the receive pane as fast as the program drains it:
// median and worst over the presses, split into the wait for the window's
// thread and the way from the pane to the far end, and the rate the pane took
// meanwhile. Exits 2 when the worst press took 20 ms or more.
//   build/bench/app/bench_typing [presses]   (default 200)
// Runs on a pseudo-terminal; settings go to Qt's test area.

#include "ReceivePane.h"
#include "ReceiveStore.h"
#include "SendEdit.h"
#include "SettingsKeys.h"
#include "SendPage.h"
#include "SettingsPage.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QApplication>
#include <QKeyEvent>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <random>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void RunFor(std::chrono::milliseconds d) {
    const auto end = Clock::now() + d;
    while (Clock::now() < end)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;

    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    termios t{};
    ::tcgetattr(master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(master, TCSANOW, &t);
    ::close(slave);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);

    StoreSettings(name, 12); // 115200
    TFrmMain frm;
    frm.show();
    const auto openBy = Clock::now() + std::chrono::seconds(5);
    while (!frm.Worker().IsOpen() && Clock::now() < openBy)
        RunFor(std::chrono::milliseconds(10));
    if (!frm.Worker().IsOpen()) {
        std::fprintf(stderr, "port did not open\n");
        return 1;
    }

    // The far end: one thread floods, the other notes when each typed byte comes.
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> flooded{0};
    std::mutex arrivalsLock;
    std::vector<Clock::time_point> arrivals;
    std::thread flood([&] {
        std::mt19937 random(7);
        std::vector<uint8_t> chunk(4096);
        for (uint8_t& b : chunk)
            b = uint8_t(random());
        while (!stop.load()) {
            ssize_t n = ::write(master, chunk.data(), chunk.size());
            if (n > 0) {
                flooded += uint64_t(n);
            } else {
                pollfd p{master, POLLOUT, 0};
                ::poll(&p, 1, 5);
            }
        }
    });
    std::thread reader([&] {
        uint8_t buf[256];
        while (!stop.load()) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0)
                continue;
            ssize_t n = ::read(master, buf, sizeof buf);
            const auto now = Clock::now();
            std::lock_guard lock(arrivalsLock);
            for (ssize_t i = 0; i < n; ++i)
                if (buf[i] == 'a')
                    arrivals.push_back(now);
        }
    });

    RunFor(std::chrono::milliseconds(500)); // the pane is busy before the first key
    const uint64_t floodedBefore = flooded.load();
    const int64_t linesBefore = Part<TReceivePane>(frm, "ReceEdit")->Store().LineCount();
    Clock::time_point handled{};
    auto filter = Part<TSendEdit>(frm, "SendEdit")->OnKeyPress;
    Part<TSendEdit>(frm, "SendEdit")->OnKeyPress = [&](QString& text) {
        handled = Clock::now();
        return filter(text);
    };
    const auto start = Clock::now();
    std::vector<double> latency, waited, travelled;
    std::mt19937 random(11);
    for (int i = 0; i < presses; ++i) {
        // Queued like a real key press: handled when the window's thread gets to it.
        const auto pressed = Clock::now();
        QCoreApplication::postEvent(
            Part<TSendEdit>(frm, "SendEdit"), new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a"));
        QCoreApplication::postEvent(
            Part<TSendEdit>(frm, "SendEdit"), new QKeyEvent(QEvent::KeyRelease, Qt::Key_A, Qt::NoModifier, "a"));
        const auto giveUp = pressed + std::chrono::seconds(2);
        Clock::time_point arrived{};
        while (Clock::now() < giveUp) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            std::lock_guard lock(arrivalsLock);
            if (arrivals.size() > size_t(i)) {
                arrived = arrivals[size_t(i)];
                break;
            }
        }
        if (arrived == Clock::time_point{}) {
            std::fprintf(stderr, "press %d never arrived; handled after %.3f ms\n", i,
                         handled == Clock::time_point{} ? -1.0 : Ms(handled - pressed));
            break;
        }
        latency.push_back(Ms(arrived - pressed));
        waited.push_back(Ms(handled - pressed));
        travelled.push_back(Ms(arrived - handled));
        RunFor(std::chrono::milliseconds(5 + random() % 20)); // a typist's pace
    }
    const double seconds = Ms(Clock::now() - start) / 1000.0;
    const uint64_t took = flooded.load() - floodedBefore;
    const int64_t lines = Part<TReceivePane>(frm, "ReceEdit")->Store().LineCount() - linesBefore;
    stop = true;
    flood.join();
    reader.join();
    ::close(master);

    if (latency.empty())
        return 1;
    auto show = [](const char* what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("  %-34s median %8.3f ms   95%% %8.3f ms   worst %8.3f ms\n", what,
                    v[v.size() / 2], v[v.size() * 95 / 100], v.back());
        return v.back();
    };
    std::printf("Character mode, receive pane flooded, %zu presses\n", latency.size());
    const double worst = show("key press to byte at the far end", latency);
    show("  queued until the pane takes it", waited);
    show("  taken until the far end reads it", travelled);
    std::printf("  flood taken      %.2f MiB/s (%lld pane lines in %.1f s)\n",
                double(took) / seconds / (1 << 20), static_cast<long long>(lines), seconds);
    frm.Worker().Terminate();
    frm.Worker().WaitFor();
    return worst < 20.0 ? 0 : 2;
}
