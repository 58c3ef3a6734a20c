// The worker on ports across the network, against a server the test plays:
// what the server refuses, the modem lines it reports, sequences split over
// many reads, garbage, and connections refused and dropped.

#include "NetBackend.h"
#include "Recorder.h"
#include "Scriptserver.h"
#include "Telnet.h"

#include <gtest/gtest.h>

using namespace telnet;

namespace {

std::string Rfc(const TScriptServer& s) {
    return "rfc2217://127.0.0.1:" + std::to_string(s.Port);
}

std::vector<uint8_t> Sub(uint8_t code, uint8_t value) {
    if (value == Iac)
        return {Iac, Sb, OptComPort, code, Iac, Iac, Iac, Se};
    return {Iac, Sb, OptComPort, code, value, Iac, Se};
}

size_t CountStarting(TRecorder& rec, const std::string& prefix) {
    size_t n = 0;
    for (const auto& e : rec.Snapshot())
        n += e.rfind(prefix, 0) == 0;
    return n;
}

// What the client sent after its greeting, decoded as the far end reads it.
std::vector<uint8_t> DataSent(std::vector<uint8_t> raw) {
    TTelnetParser parser;
    struct : TTelnetEvents {
        void OnNegotiation(uint8_t, uint8_t) override {}
        void OnSubnegotiation(const uint8_t*, size_t) override {}
    } ignore;
    raw.resize(parser.Feed(raw.data(), raw.size(), raw.data(), ignore));
    return raw;
}

TEST(RemotePort, RefusedOptionsAreReportedOnceAndNeverAskedAgain) {
    TScriptServer server([](int fd, TScriptServer& s) {
        // Refuses everything, several times over, the last refusals a byte at a time.
        const std::vector<uint8_t> no = {Iac, Dont, OptComPort, Iac, Dont, OptBinary,
                                         Iac, Wont, OptBinary};
        s.Send(fd, no);
        s.Pump(fd, std::chrono::milliseconds(100));
        s.Send(fd, no, true);
        s.Send(fd, {'o', 'k'});
        s.PumpUntilStopped(fd);
    });
    TRunningWorker w(Rfc(server));
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    // The data comes last: every refusal and notice is in before it.
    ASSERT_TRUE(w.Rec.WaitBytes(2)) << w.Rec.Joined();
    EXPECT_EQ(w.Rec.ReceivedBytes(), (std::vector<uint8_t>{'o', 'k'}));
    EXPECT_EQ(CountStarting(w.Rec, "notice the server refuses the COM port option"), 1u)
        << w.Rec.Joined();
    EXPECT_EQ(CountStarting(w.Rec, "notice the server refuses binary mode"), 2u) << w.Rec.Joined();
    EXPECT_EQ(server.CountReceived({Iac, Will, OptComPort}), 1u);
    EXPECT_EQ(server.CountReceived({Iac, Do, OptBinary}), 1u);
    // Line changes go nowhere now, and still succeed; the port stays up.
    // A byte sent after them is all the server gets.
    const size_t before = server.ReceivedBytes().size();
    w.Worker.SetBaudRate(19200);
    w.Worker.SetRts(true);
    const uint8_t z = 'z';
    ASSERT_TRUE(w.Worker.Send(&z, 1));
    ASSERT_TRUE(server.WaitReceived([&](const auto& raw) { return raw.size() > before; }));
    const auto raw = server.ReceivedBytes();
    EXPECT_EQ(std::vector<uint8_t>(raw.begin() + ptrdiff_t(before), raw.end()),
              std::vector<uint8_t>{'z'});
    EXPECT_TRUE(w.Worker.IsOpen());
}

TEST(RemotePort, ModemStateNotificationsLightTheLampsEvenSentAByteAtATime) {
    TScriptServer server([](int fd, TScriptServer& s) {
        s.Pump(fd, std::chrono::milliseconds(100));
        s.Send(fd, Sub(ServerOffset + CpNotifyModemState, 0x30 | 0x03), true); // CTS, DSR
        s.Pump(fd, std::chrono::milliseconds(100));
        s.Send(fd, Sub(ServerOffset + CpNotifyModemState, 0x80 | 0x08 | 0x03), true); // RLSD
        s.Pump(fd, std::chrono::milliseconds(100));
        s.Send(fd, Sub(ServerOffset + CpNotifyModemState, 0x40 | 0x08), false); // RI
        s.PumpUntilStopped(fd);
    });
    TRunningWorker w(Rfc(server));
    EXPECT_TRUE(w.Rec.WaitEvent("modem 1100")) << w.Rec.Joined();
    EXPECT_TRUE(w.Rec.WaitEvent("modem 0001")) << w.Rec.Joined();
    EXPECT_TRUE(w.Rec.WaitEvent("modem 0010")) << w.Rec.Joined();
    // The worker asked for every line's report and switched flow control off.
    EXPECT_EQ(server.CountReceived(Sub(CpSetModemStateMask, 0xFF)), 1u);
    EXPECT_EQ(server.CountReceived(Sub(CpSetControl, CtlNoFlow)), 1u);
}

TEST(RemotePort, SplitSequencesAndGarbageLeaveExactlyTheDataBytes) {
    // Doubled 0xFF and commands, each byte in a read of its own, then garbage:
    // unknown commands, a stray SE, a broken and an overlong subnegotiation,
    // an unknown option offered again and again.
    std::vector<uint8_t> wire = {'A', Iac, Iac, 0x00, Iac, Iac, Iac, Iac, 'B', Iac, Will, 1,
                                 Iac, 1,   'a', Iac,  Se,  'b', Iac, Sb,  44,  107, Iac, 'x', 'c'};
    wire.insert(wire.end(), {Iac, Sb, 44, 107});
    wire.insert(wire.end(), 300, 0xF0);
    wire.insert(wire.end(), {Iac, Se, 'd'});
    for (int i = 0; i < 3; ++i)
        wire.insert(wire.end(), {Iac, Will, 99, Iac, Do, 98});
    wire.push_back('e');
    TScriptServer server([&wire](int fd, TScriptServer& s) {
        s.Send(fd, wire, true);
        s.PumpUntilStopped(fd);
    });
    TRunningWorker w(Rfc(server));
    const std::vector<uint8_t> expected = {'A', 0xFF, 0x00, 0xFF, 0xFF, 'B', 'a', 'b', 'c', 'd', 'e'};
    // 'e' is the last byte on the wire: a stray byte would come before it.
    ASSERT_TRUE(w.Rec.WaitBytes(expected.size(), std::chrono::milliseconds(5000))) << w.Rec.Joined();
    EXPECT_EQ(w.Rec.ReceivedBytes(), expected);
    // Each unknown option is refused once; the broken notifications lit nothing.
    // The refusals go out as the bytes before 'e' are read: a byte sent now
    // reaches the server after all of them.
    const uint8_t z = 'z';
    ASSERT_TRUE(w.Worker.Send(&z, 1));
    EXPECT_TRUE(server.WaitReceived([](const auto& raw) { return !DataSent(raw).empty(); }));
    EXPECT_EQ(server.CountReceived({Iac, Dont, 99}), 1u);
    EXPECT_EQ(server.CountReceived({Iac, Wont, 98}), 1u);
    EXPECT_EQ(server.CountReceived({Iac, Dont, 1}), 1u);
    EXPECT_EQ(CountStarting(w.Rec, "modem"), 0u) << w.Rec.Joined();
}

TEST(RemotePort, BytesOfEveryValueGoOutWholeToASlowReaderAndSettingsAsSubcommands) {
    // A small receive buffer and a slow reader: the worker's writes are cut
    // anywhere, between the halves of a doubled 0xFF too.
    std::atomic<bool> slow{true};
    TScriptServer server(
        [&slow](int fd, TScriptServer& s) {
            while (!s.Stopping && slow)
                s.Pump(fd, std::chrono::milliseconds(3));
            s.PumpUntilStopped(fd);
        },
        4096);
    TRunningWorker w(Rfc(server));
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    std::vector<uint8_t> block(300000);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = (i / 7) % 3 ? 0xFF : static_cast<uint8_t>(i);
    ASSERT_TRUE(w.Worker.Send(block.data(), uint32_t(block.size())));
    const std::vector<uint8_t> ff = {0xFF, 0xFF, 0xFF};
    ASSERT_TRUE(w.Worker.Send(ff.data(), 3));
    w.Worker.SetParity(3); // mark, sent while data still waits to go
    w.Worker.SetBaudRate(0x1234FF);
    w.Worker.SetDtr(true);
    slow = false;
    std::vector<uint8_t> expected = block;
    expected.insert(expected.end(), ff.begin(), ff.end());
    EXPECT_TRUE(server.WaitReceived(
        [&](const auto& raw) { return DataSent(raw).size() >= expected.size(); },
        std::chrono::milliseconds(10000)));
    EXPECT_EQ(DataSent(server.ReceivedBytes()), expected);
    EXPECT_TRUE(server.WaitReceived([&](const auto& raw) {
        return TScriptServer::Count(raw, Sub(CpSetControl, CtlDtrOn)) == 1;
    }));
    EXPECT_EQ(server.CountReceived(Sub(CpSetParity, 4)), 1u);
    EXPECT_EQ(server.CountReceived({Iac, Sb, 44, 1, 0x00, 0x12, 0x34, 0xFF, 0xFF, Iac, Se}), 1u);
    EXPECT_EQ(w.Rec.Count("dropped 0"), 0u);
}

TEST(RemotePort, ARefusedConnectionIsExplainedAndRetriedUntilTheServerComes) {
    // A port that nothing listens on (taken from a server that then goes away).
    uint16_t port;
    {
        TScriptServer gone([](int, TScriptServer&) {});
        port = gone.Port;
    }
    TRecorder rec;
    TWThreadComm worker(true);
    rec.Attach(worker);
    worker.SetPortMap(MapTo("tcp://127.0.0.1:" + std::to_string(port)));
    worker.RequestPort(1);
    worker.Resume();
    ASSERT_TRUE(rec.WaitEvent("open 0", 2));
    const TOpenError e = worker.LastOpenError();
    EXPECT_EQ(e.Code, ceOpen);
    EXPECT_EQ(e.SysError, uint32_t(ECONNREFUSED));
    EXPECT_EQ(e.Target, "tcp://127.0.0.1:" + std::to_string(port));
    // The attempts keep their pace, not one per pass: a late report can bring
    // two a little closer, never much closer.
    ASSERT_TRUE(rec.WaitEvent("open 0", rec.Count("open 0") + 3));
    const auto ev = rec.Snapshot();
    const auto times = rec.Times();
    std::vector<Clock::time_point> failed;
    for (size_t i = 0; i < ev.size(); ++i)
        if (ev[i] == "open 0")
            failed.push_back(times[i]);
    for (size_t i = 1; i < failed.size(); ++i)
        EXPECT_GE(failed[i] - failed[i - 1], TWThreadComm::RetryInterval / 2) << i;
}

TEST(RemotePort, ADroppedRawConnectionDeliversEveryByteThenReconnects) {
    std::vector<uint8_t> burst(200000);
    for (size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<uint8_t>(i * 13);
    TScriptServer server([&burst](int fd, TScriptServer& s) {
        if (s.Connections == 1) {
            s.Send(fd, burst); // and hang up at once
            return;
        }
        s.Send(fd, {0xFF, 0x00});
        s.PumpUntilStopped(fd);
    });
    TRunningWorker w("tcp://localhost:" + std::to_string(server.Port));
    EXPECT_TRUE(w.Rec.WaitEvent("open 1", 2, std::chrono::milliseconds(5000))) << w.Rec.Joined();
    EXPECT_GE(w.Rec.Count("open 0"), 1u);
    ASSERT_TRUE(w.Rec.WaitBytes(burst.size() + 2));
    std::vector<uint8_t> expected = burst;
    expected.insert(expected.end(), {0xFF, 0x00});
    EXPECT_EQ(w.Rec.ReceivedBytes(), expected);
    // Raw TCP has no lines: settings are kept and RTS/DTR read back, nothing more.
    w.Worker.SetBaudRate(57600);
    w.Worker.SetRts(true);
    EXPECT_TRUE(w.Worker.GetRts());
    EXPECT_EQ(CountStarting(w.Rec, "modem"), 0u);
}

// RTS and DTR as the server reports them, asked at connect and answered to
// every switch, are what the port reads back.
TEST(RemotePort, RtsAndDtrAreReadBackAsTheServerReportsThem) {
    TScriptServer server([](int fd, TScriptServer& s) {
        s.Pump(fd, std::chrono::milliseconds(50));
        s.Send(fd, Sub(ServerOffset + CpSetControl, CtlRtsOn));
        s.Send(fd, Sub(ServerOffset + CpSetControl, CtlDtrOff));
        s.PumpUntilStopped(fd);
    });
    TNetTarget target;
    ASSERT_TRUE(ParseNetTarget(Rfc(server), target));
    auto backend = MakeRfc2217Backend(target);
    int rc = EINPROGRESS;
    for (int i = 0; i < 100 && rc == EINPROGRESS; ++i)
        rc = backend->Open("");
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(server.WaitReceived([](const auto& raw) {
        return TScriptServer::Count(raw, Sub(CpSetControl, CtlAskRts)) == 1 &&
               TScriptServer::Count(raw, Sub(CpSetControl, CtlAskDtr)) == 1;
    }));
    TLineSettings s;
    s.Dtr = true;
    const auto end = Clock::now() + std::chrono::seconds(3);
    while (!(s.Rts && !s.Dtr) && Clock::now() < end) {
        uint8_t buf[64];
        size_t got = 0;
        backend->Read(buf, sizeof buf, got);
        backend->GetState(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(s.Rts);
    EXPECT_FALSE(s.Dtr);
    backend->Close();
}

} // namespace
