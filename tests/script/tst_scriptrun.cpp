#include "Device.h"
#include "ReplyRules.h"
#include "ScriptRunner.h"
#include "Threadcomm.h"

#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

#include <mutex>
#include <optional>

namespace {

// The worker on a device's port with a script runner fed from it.
class TScriptBench {
public:
    explicit TScriptBench(const std::string& path) : Runner(Comm) {
        Comm.OnReceive = [this](const uint8_t* b, uint32_t n) {
            Runner.Received(b, n);
            if (Replier)
                Replier->Received(b, n);
        };
        QObject::connect(&Runner, &TScriptRunner::Finished, &Runner,
                         [this](const TScriptResult& r) { Result = r; });
        QObject::connect(&Runner, &TScriptRunner::Logged, &Runner,
                         [this](const QString& l) { Log << l; });
        TPortMap map;
        map.Targets[0] = path;
        Comm.SetPortMap(map);
        Comm.RequestPort(1);
        Comm.Resume();
    }
    ~TScriptBench() {
        Runner.Stop();
        Comm.Terminate();
        Comm.WaitFor();
    }
    // Runs the script to its end.
    TScriptResult Run(const QString& source, int ms = 10000) {
        EXPECT_TRUE(WaitFor([&] { return Comm.IsOpen(); }));
        Result.reset();
        EXPECT_TRUE(Runner.Start("t.js", source));
        EXPECT_TRUE(WaitFor([&] { return Result.has_value(); }, ms));
        return Result.value_or(TScriptResult{});
    }
    TWThreadComm Comm{true};
    std::unique_ptr<TAutoReplier> Replier;
    TScriptRunner Runner;
    std::optional<TScriptResult> Result;
    QStringList Log;
};

std::vector<std::string> Silent(std::string& received) {
    received.clear();
    return {};
}

// A far end that only keeps what it receives.
struct TRecordingHost {
    std::string Got() {
        std::lock_guard g(Lock);
        return Text;
    }
    std::mutex Lock;
    std::string Text;
    TPtyDevice Device{[this](std::string& received) {
        std::lock_guard g(Lock);
        Text += received;
        received.clear();
        return std::vector<std::string>{};
    }};
};

} // namespace

TEST(ScriptRun, TalksToAModemAndToADeviceThatSplitsItsAnswers) {
    TPtyDevice modem(ModemAnswer);
    TScriptBench bench(modem.Pty.Path);
    const TScriptResult r = bench.Run(R"(
        send("AT\r");
        var ok = expect("OK\r\n", 2000);
        send("ATX\r");
        expect(/ERR\w+/, 2000);
        log("got", JSON.stringify(ok));
    )");
    EXPECT_EQ(r.Code, 0) << r.Text().toStdString();
    EXPECT_TRUE(bench.Log.last().endsWith("got \"OK\\r\\n\"")) << bench.Log.join('\n').toStdString();

    // "55 AA" in, the frame back in three reads, the last one late.
    TPtyDevice splitter([](std::string& received) -> std::vector<std::string> {
        if (received.find("\x55\xAA") == std::string::npos)
            return {};
        received.clear();
        return {"\x01\x02", std::string("\x00\x03", 2), "\xFF\x0D"};
    });
    TScriptBench split(splitter.Pty.Path);
    const TScriptResult s = split.Run(R"(
        sendHex("55 AA");
        var frame = expect(bytes("01 02 00 03 FF 0D"), 3000);
        if (hex(frame) !== "01 02 00 03 FF 0D") fail("got " + hex(frame));
    )");
    EXPECT_EQ(s.Code, 0) << s.Text().toStdString();
}

// A device that never answers: the expectation fails with its own line, and a test block's
// failure does not keep the next block from running.
TEST(ScriptRun, AnExpectationThatTimesOutNamesItsLine) {
    TPtyDevice mute(Silent);
    TScriptBench bench(mute.Pty.Path);
    const TScriptResult r = bench.Run("send('AT\\r');\n"
                                      "test('quiet', function () {\n"
                                      "    expect('OK', 50);\n"
                                      "});\n"
                                      "test('after', function () {});\n");
    EXPECT_EQ(r.Code, 1);
    EXPECT_EQ(r.Line, 3) << r.Text().toStdString();
    EXPECT_TRUE(r.Text().startsWith("t.js:3: ")) << r.Text().toStdString();
    ASSERT_EQ(r.Tests.size(), 2);
    EXPECT_FALSE(r.Tests[0].Passed);
    EXPECT_EQ(r.Tests[0].Line, 3);
    EXPECT_TRUE(r.Tests[1].Passed);
}

// An endless loop, and a flood of sends held by the full queue of a device that reads nothing:
// Stop ends both, and the owner's thread runs its events all the while.
TEST(ScriptRun, StopEndsAnEndlessLoopAndASendHeldByTheQueue) {
    TPty deaf; // nobody reads its far end: the queue fills
    TScriptBench bench(deaf.Path);
    for (const char* source : {"log('looping'); for (;;) {}",
                               "log('flooding'); var b = new Uint8Array(65536); for (;;) send(b);"}) {
        ASSERT_TRUE(WaitFor([&] { return bench.Comm.IsOpen(); }));
        bench.Result.reset();
        bench.Log.clear();
        ASSERT_TRUE(bench.Runner.Start("t.js", source));
        ASSERT_TRUE(WaitFor([&] { return !bench.Log.isEmpty(); }));
        if (QByteArray(source).contains("flood")) {
            ASSERT_TRUE(WaitFor([&] { return bench.Comm.BytesToGo() >= TWThreadComm::MaxQueueCost / 2; }));
        }
        // The owner's events still run: a timer fires while the script works.
        bool ticked = false;
        QTimer::singleShot(0, [&] { ticked = true; });
        ASSERT_TRUE(WaitFor([&] { return ticked; }));
        EXPECT_TRUE(bench.Runner.Running());
        bench.Runner.Stop();
        ASSERT_TRUE(WaitFor([&] { return bench.Result.has_value(); }));
        EXPECT_EQ(bench.Result->Code, 1);
        EXPECT_TRUE(WaitFor([&] { return !bench.Runner.Running(); }));
    }
    bench.Comm.CancelSend();
}

// A script that plays a device with onReceive while automatic replies answer too: both answer
// every request, and the script's own expectations still see the bytes.
TEST(ScriptRun, ScriptHandlersAndReplyRulesAtOnce) {
    TRecordingHost recorder;
    TPtyDevice& host = recorder.Device;
    TScriptBench bench(host.Pty.Path);
    bench.Replier = std::make_unique<TAutoReplier>([&](const uint8_t* b, uint32_t n) {
        return bench.Comm.Send(b, n) ? TSendResult::Sent : TSendResult::Full;
    });
    TReplyRule rule;
    rule.Pattern = "PING";
    rule.Reply = "r";
    bench.Replier->SetRules({rule});
    ASSERT_TRUE(WaitFor([&] { return bench.Comm.IsOpen(); }));
    bench.Result.reset();
    ASSERT_TRUE(bench.Runner.Start("t.js", R"(
        var n = 0;
        onReceive(/PING/, function (m) { ++n; return "s"; });
        log("ready");
        expect("END", 10000);
        log("answered", n);
    )"));
    ASSERT_TRUE(WaitFor([&] { return !bench.Log.isEmpty(); }));
    constexpr int Pings = 200;
    std::string pings;
    for (int i = 0; i < Pings; ++i)
        pings += "PING";
    host.Pty.Write(std::vector<uint8_t>(pings.begin(), pings.end()));
    ASSERT_TRUE(WaitFor([&] {
        return recorder.Got().size() >= 2 * Pings;
    }));
    host.Pty.Write({'E', 'N', 'D'});
    // The handler stays: the script answers on until stopped.
    ASSERT_TRUE(WaitFor([&] { return bench.Log.size() >= 3; })) << bench.Log.join('\n').toStdString();
    EXPECT_TRUE(bench.Log[1].endsWith("answered 200")) << bench.Log.join('\n').toStdString();
    bench.Runner.Stop();
    ASSERT_TRUE(WaitFor([&] { return bench.Result.has_value(); }));
    EXPECT_EQ(bench.Result->Code, 0) << bench.Result->Text().toStdString();
    const std::string got = recorder.Got();
    EXPECT_EQ(std::count(got.begin(), got.end(), 'r'), Pings);
    EXPECT_EQ(std::count(got.begin(), got.end(), 's'), Pings);
    EXPECT_EQ(bench.Replier->Fired(0), uint64_t(Pings));
}

// A script whose body only registers handlers plays its device after the body has ended: each
// request is answered, the run goes on until Stop, and that stop is a clean end.
TEST(ScriptRun, HandlersLeftByTheBodyAnswerUntilStop) {
    TRecordingHost recorder;
    TPtyDevice& host = recorder.Device;
    TScriptBench bench(host.Pty.Path);
    ASSERT_TRUE(WaitFor([&] { return bench.Comm.IsOpen(); }));
    ASSERT_TRUE(bench.Runner.Start("sim.js", R"(
        onReceive(/REQ(\d)/, function (m) { return "ANS" + m.substring(3) + "\n"; });
    )"));
    // The body has ended once the script says it goes on answering.
    ASSERT_TRUE(WaitFor([&] { return !bench.Log.isEmpty(); }));
    for (char n : {'1', '2'}) {
        host.Pty.Write({'R', 'E', 'Q', uint8_t(n)});
        ASSERT_TRUE(WaitFor([&] {
            return recorder.Got().find(std::string("ANS") + n + "\n") != std::string::npos;
        })) << recorder.Got();
    }
    EXPECT_TRUE(bench.Runner.Running());
    EXPECT_FALSE(bench.Result.has_value());
    bench.Runner.Stop();
    ASSERT_TRUE(WaitFor([&] { return bench.Result.has_value(); }));
    EXPECT_EQ(bench.Result->Code, 0) << bench.Result->Text().toStdString();
    EXPECT_TRUE(WaitFor([&] { return !bench.Runner.Running(); }));
}
