// Scripts and automatic replies against pseudo-terminal devices played on a thread of this
// program:
//  1. send + expect round trips of a script against an echoing device, beside a plain C++
//     write/poll/read loop on the same kind of device. The device stamps each request: the time
//     from one request to the next is one whole exchange as the device sees it.
//  2. automatic replies to a device that sends frames at a steady rate (default 10,000 a
//     second): whether every frame is answered in order, and the reply latency (from the
//     device's write of a frame to its read of the answer).
//   build/bench/app/bench_script [exchanges] [frames] [frames per second]
//     (defaults 10000 10000 10000)
// Exits 1 when a reply is missing or out of order, or a script fails.

#include "Handover.h"
#include "Pty.h"
#include "ReplyRules.h"
#include "ScriptRunner.h"
#include "Threadcomm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <fcntl.h>
#include <optional>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct TFigures {
    double Median = 0, Worst = 0, Mean = 0; // microseconds
};

TFigures Summarise(std::vector<double> us) {
    TFigures f;
    if (us.empty())
        return f;
    std::sort(us.begin(), us.end());
    f.Median = us[us.size() / 2];
    f.Worst = us.back();
    double sum = 0;
    for (double v : us)
        sum += v;
    f.Mean = sum / double(us.size());
    return f;
}

// Echoes every byte and stamps each request's first byte (a request ends with '\n').
class TEchoDevice {
public:
    TEchoDevice() {
        Thread = std::thread([this] { Run(); });
    }
    ~TEchoDevice() {
        Stop.store(true);
        Thread.join();
    }
    std::vector<Clock::time_point> Requests; // read after the run
    TPty Pty;

private:
    void Run() {
        bool inRequest = false;
        while (!Stop.load()) {
            pollfd p{Pty.Master, POLLIN, 0};
            if (::poll(&p, 1, 5) <= 0)
                continue;
            char buf[4096];
            const ssize_t n = ::read(Pty.Master, buf, sizeof buf);
            if (n <= 0)
                continue;
            const Clock::time_point now = Clock::now();
            for (ssize_t i = 0; i < n; ++i) {
                if (!inRequest)
                    Requests.push_back(now);
                inRequest = buf[i] != '\n';
            }
            Pty.Write(std::vector<uint8_t>(buf, buf + n));
        }
    }
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

std::vector<double> Exchanges(const std::vector<Clock::time_point>& stamps) {
    std::vector<double> us;
    for (size_t i = 1; i < stamps.size(); ++i)
        us.push_back(std::chrono::duration<double, std::micro>(stamps[i] - stamps[i - 1]).count());
    return us;
}

TPortMap MapTo(const std::string& path) {
    TPortMap map;
    map.Targets[0] = path;
    return map;
}

bool WaitOpen(TWThreadComm& comm) {
    const auto end = Clock::now() + std::chrono::seconds(5);
    while (!comm.IsOpen() && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return comm.IsOpen();
}

std::optional<TFigures> ScriptRoundTrips(int exchanges) {
    TEchoDevice device;
    TWThreadComm comm(true);
    TScriptRunner runner(comm);
    comm.OnReceive = [&](const uint8_t* b, uint32_t n) { runner.Received(b, n); };
    comm.SetPortMap(MapTo(device.Pty.Path));
    comm.RequestPort(1);
    comm.Resume();
    if (!WaitOpen(comm))
        return std::nullopt;
    std::optional<TScriptResult> result;
    QObject::connect(&runner, &TScriptRunner::Finished, &runner,
                     [&](const TScriptResult& r) { result = r; });
    runner.Start("bench.js", QStringLiteral("for (var i = 0; i < %1; ++i) {\n"
                                            "    send('PING ' + i + '\\n');\n"
                                            "    expect('PING ' + i + '\\n', 2000);\n"
                                            "}\n")
                                 .arg(exchanges));
    while (!result)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    comm.Terminate();
    comm.WaitFor();
    if (result->Code != 0) {
        std::printf("script failed: %s\n", result->Text().toLocal8Bit().constData());
        return std::nullopt;
    }
    return Summarise(Exchanges(device.Requests));
}

TFigures PlainRoundTrips(int exchanges) {
    TEchoDevice device;
    const int fd = ::open(device.Pty.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    std::string got;
    for (int i = 0; i < exchanges; ++i) {
        const std::string request = "PING " + std::to_string(i) + "\n";
        [[maybe_unused]] ssize_t w = ::write(fd, request.data(), request.size());
        got.clear();
        while (got.size() < request.size()) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 2000);
            char buf[256];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, size_t(n));
        }
    }
    ::close(fd);
    return Summarise(Exchanges(device.Requests));
}

// Frames "7E k i 0D" at a steady rate, k 1 or 2; the rules answer 'A' or 'B'.
bool Replies(int frames, int rate, TFigures& latency) {
    TPty pty;
    TWThreadComm comm(true);
    TAutoReplier replier([&](const uint8_t* b, uint32_t n) {
        return comm.Send(b, n) ? TSendResult::Sent : comm.IsOpen() ? TSendResult::Full
                                                                   : TSendResult::Closed;
    });
    comm.OnReceive = [&](const uint8_t* b, uint32_t n) { replier.Received(b, n); };
    TReplyRule one;
    one.Kind = TPatternKind::Hex;
    one.Pattern = "7E 01 ?? 0D";
    one.Reply = "A";
    TReplyRule two = one;
    two.Pattern = "7E 02 ?? 0D";
    two.Reply = "B";
    replier.SetRules({one, two});
    comm.SetPortMap(MapTo(pty.Path));
    comm.RequestPort(1);
    comm.Resume();
    if (!WaitOpen(comm))
        return false;
    std::string want, got;
    std::vector<Clock::time_point> sent;
    std::vector<double> us;
    const auto period = std::chrono::nanoseconds(1000000000LL / rate);
    const Clock::time_point start = Clock::now();
    int next = 0;
    const Clock::time_point giveUp = start + period * frames + std::chrono::seconds(10);
    while ((next < frames || got.size() < want.size()) && Clock::now() < giveUp) {
        const Clock::time_point due = start + period * next;
        if (next < frames && Clock::now() >= due) {
            const bool second = next % 3 == 1;
            const uint8_t frame[] = {0x7E, uint8_t(second ? 2 : 1), uint8_t(next), 0x0D};
            pty.Write(std::vector<uint8_t>(frame, frame + 4));
            sent.push_back(Clock::now());
            want += second ? 'B' : 'A';
            ++next;
            continue;
        }
        pollfd p{pty.Master, POLLIN, 0};
        // Until the next frame is due, to the microsecond (no busy wait beside the threads measured).
        const auto wait = next < frames ? std::chrono::duration_cast<std::chrono::nanoseconds>(due - Clock::now())
                                        : std::chrono::nanoseconds(50000000);
        const int64_t ns = std::max<int64_t>(0, wait.count());
        const timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
        if (::ppoll(&p, 1, &ts, nullptr) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(pty.Master, buf, sizeof buf);
        const Clock::time_point now = Clock::now();
        for (ssize_t i = 0; i < n; ++i) {
            if (got.size() < sent.size())
                us.push_back(std::chrono::duration<double, std::micro>(now - sent[got.size()]).count());
            got += buf[i];
        }
    }
    comm.Terminate();
    comm.WaitFor();
    latency = Summarise(us);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("automatic replies: %d frames at %d/s sent in %.2f s, %zu answered, %s, fired %llu + %llu\n",
                frames, rate, seconds, got.size(), got == want ? "all in order" : "MISSING OR OUT OF ORDER",
                (unsigned long long)replier.Fired(0), (unsigned long long)replier.Fired(1));
    return got == want;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    InstallHandoverFilter(&app);
    const int exchanges = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10000;
    const int frames = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10000;
    const int rate = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10000;

    const TFigures plain = PlainRoundTrips(exchanges);
    const std::optional<TFigures> script = ScriptRoundTrips(exchanges);
    std::printf("round trips, %d exchanges (microseconds per exchange):\n", exchanges);
    std::printf("  plain write/poll/read  median %8.1f  mean %8.1f  worst %9.1f\n", plain.Median,
                plain.Mean, plain.Worst);
    if (!script)
        return 1;
    std::printf("  script send + expect   median %8.1f  mean %8.1f  worst %9.1f  (median %.2fx)\n",
                script->Median, script->Mean, script->Worst, script->Median / plain.Median);
    TFigures latency;
    const bool ok = Replies(frames, rate, latency);
    std::printf("  reply latency (microseconds): median %.1f  mean %.1f  worst %.1f\n", latency.Median,
                latency.Mean, latency.Worst);
    return ok ? 0 : 1;
}
