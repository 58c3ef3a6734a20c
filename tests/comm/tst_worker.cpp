// The worker on pseudo-terminals, the loopback plug and the failing double.

#include "Eventually.h"
#include "Failbackend.h"
#include "Pty.h"
#include "Recorder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/eventfd.h>
#include <ostream>
#include <thread>

namespace fs = std::filesystem;

namespace {

class WorkerPty : public ::testing::Test {
protected:
    WorkerPty() : W(Pty.Path) { EXPECT_TRUE(W.Rec.WaitEvent("open 1")); }
    TPty Pty;
    TRunningWorker W;
};

TEST_F(WorkerPty, SendAndSendByteReachTheFarEndWithThePreambleWhenFramingIsOn) {
    const uint8_t line[] = {'A', 'T', 'Z'};
    EXPECT_TRUE(W.Worker.Send(line, 3));
    EXPECT_TRUE(W.Worker.SendByte(0x00));
    EXPECT_EQ(Pty.Read(4), (std::vector<uint8_t>{'A', 'T', 'Z', 0x00}));

    W.Worker.SetPreambleMode(true);
    EXPECT_TRUE(W.Worker.Send(line, 3));
    EXPECT_TRUE(W.Worker.SendByte(0xFF)); // never with the preamble
    EXPECT_EQ(Pty.Read(7), (std::vector<uint8_t>{0x55, 0xAA, 0xFF, 'A', 'T', 'Z', 0xFF}));
}

// A pseudo-terminal has no modem lines: an idle worker on it sleeps until the
// device or the window has something for it, instead of polling lines.
TEST_F(WorkerPty, AnIdleWorkerOnADeviceWithoutModemLinesHardlyWakes) {
    EXPECT_TRUE(Eventually([&] { return W.Worker.WaitLimit() == TWThreadComm::QuietInterval; }))
        << W.Worker.WaitLimit().count() << " ns"; // polling lines: ModemPollInterval
    // It still answers at once, a wake-up for each thing to do.
    const uint64_t before = W.Worker.WaitCount();
    Pty.Write({0x42});
    EXPECT_TRUE(W.Rec.WaitBytes(1));
    const uint8_t b = 0x43;
    EXPECT_TRUE(W.Worker.Send(&b, 1));
    EXPECT_EQ(Pty.Read(1), std::vector<uint8_t>{0x43});
    EXPECT_LE(W.Worker.WaitCount() - before, 4u);
}

TEST_F(WorkerPty, ABlockLongerThanTheSendBufferGoesOutWhole) {
    std::vector<uint8_t> block(5000);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<uint8_t>(i * 7);
    const uint8_t pre[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    ASSERT_TRUE(W.Worker.SetPreamble(pre, 12, 2048));
    W.Worker.SetPreambleMode(true);
    EXPECT_TRUE(W.Worker.Send(block.data(), static_cast<uint32_t>(block.size())));
    std::vector<uint8_t> expected(pre, pre + 12);
    expected.insert(expected.end(), block.begin(), block.end());
    EXPECT_EQ(Pty.Read(expected.size()), expected);
}

TEST_F(WorkerPty, OversizedPreambleOrFrameLengthIsRefusedWithoutHarm) {
    uint8_t pre[13] = {};
    EXPECT_FALSE(W.Worker.SetPreamble(pre, 13, 6));
    EXPECT_FALSE(W.Worker.SetPreamble(pre, 3, 2049));
    EXPECT_FALSE(W.Worker.SetPreamble(pre, 3, 0));
    W.Worker.SetPreambleMode(true);
    const uint8_t x = 'x';
    W.Worker.Send(&x, 1);
    EXPECT_EQ(Pty.Read(4), (std::vector<uint8_t>{0x55, 0xAA, 0xFF, 'x'})); // defaults kept
}

TEST_F(WorkerPty, BytesFromTheFarEndArriveInOrder) {
    std::vector<uint8_t> sent;
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> chunk(1 + round * 37 % 500);
        for (auto& b : chunk)
            b = static_cast<uint8_t>(sent.size() + (&b - chunk.data()));
        Pty.Write(chunk);
        sent.insert(sent.end(), chunk.begin(), chunk.end());
    }
    ASSERT_TRUE(W.Rec.WaitBytes(sent.size()));
    EXPECT_EQ(W.Rec.ReceivedBytes(), sent);
}

TEST_F(WorkerPty, FramingDeliversOnlyTheFrameAfterEachPreamble) {
    W.Worker.SetPreambleMode(true);
    // Each in a read of its own: the stray 00 and 07 are dropped.
    uint64_t sent = 0;
    for (std::vector<uint8_t> part : {std::vector<uint8_t>{0x00, 0x55},
                                      {0xAA},
                                      {0xFF, 0x01, 0x02, 0x03},
                                      {0x04, 0x05, 0x06, 0x07}}) {
        Pty.Write(part);
        sent += part.size();
        ASSERT_TRUE(Eventually([&] { return W.Worker.BytesRead() >= sent; }));
    }
    // The second 55 restarts the match at position 1.
    Pty.Write({0x55, 0x55, 0xAA, 0xFF, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16});
    // A last frame: nothing stray was delivered before it.
    Pty.Write({0x55, 0xAA, 0xFF, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26});
    ASSERT_TRUE(W.Rec.WaitBytes(18)) << W.Rec.Joined();
    auto ev = W.Rec.Snapshot();
    std::vector<std::string> rx;
    for (const auto& e : ev)
        if (e.rfind("rx", 0) == 0)
            rx.push_back(e);
    EXPECT_EQ(rx, (std::vector<std::string>{"rx 01 02 03 04 05 06", "rx 11 12 13 14 15 16",
                                            "rx 21 22 23 24 25 26"}));
}

TEST_F(WorkerPty, EmptyPreambleCutsTheStreamIntoFramesAndSwitchingRestartsTheHunt) {
    ASSERT_TRUE(W.Worker.SetPreamble(nullptr, 0, 4));
    W.Worker.SetPreambleMode(true);
    Pty.Write({1, 2, 3, 4, 5, 6});
    ASSERT_TRUE(W.Rec.WaitEvent("rx 01 02 03 04"));
    ASSERT_TRUE(Eventually([&] { return W.Worker.BytesRead() >= 6; }));
    W.Worker.SetPreambleMode(true); // no change: the half frame 05 06 stays
    Pty.Write({7, 8});
    ASSERT_TRUE(W.Rec.WaitEvent("rx 05 06 07 08"));
    Pty.Write({9});
    ASSERT_TRUE(Eventually([&] { return W.Worker.BytesRead() >= 9; }));
    W.Worker.SetPreambleMode(false);
    W.Worker.SetPreambleMode(true); // restart: the 09 is forgotten
    Pty.Write({10, 11, 12, 13});
    ASSERT_TRUE(W.Rec.WaitEvent("rx 0A 0B 0C 0D"));
}

// A new preamble or frame length while the old one is half matched or half
// read: the hunt starts over with the new one, and stale state neither loses
// the next frame nor makes one of the old bytes. The partial bytes never
// match the new preamble, so a read of them after the change (a slow worker)
// cannot make a frame either.
struct TReframeCase {
    const char* Name;
    std::vector<uint8_t> OldPreamble;
    uint32_t OldLen;
    std::vector<uint8_t> Partial; // sent after one whole old frame
    std::vector<uint8_t> NewPreamble;
    uint32_t NewLen;
};

void PrintTo(const TReframeCase& c, std::ostream* os) {
    *os << c.Name;
}

// preamble, then len body bytes counting from first; *rx is the event that
// the body should make.
std::vector<uint8_t> Frame(const std::vector<uint8_t>& preamble, uint32_t len, uint8_t first,
                           std::string* rx) {
    std::vector<uint8_t> out = preamble;
    *rx = "rx";
    for (uint32_t i = 0; i < len; ++i) {
        out.push_back(uint8_t(first + i));
        char hex[4];
        snprintf(hex, sizeof hex, " %02X", out.back());
        *rx += hex;
    }
    return out;
}

class WorkerReframe : public WorkerPty, public ::testing::WithParamInterface<TReframeCase> {};

TEST_P(WorkerReframe, TheNextFrameFollowsTheNewPreambleAlone) {
    const TReframeCase& c = GetParam();
    ASSERT_TRUE(
        W.Worker.SetPreamble(c.OldPreamble.data(), uint32_t(c.OldPreamble.size()), c.OldLen));
    W.Worker.SetPreambleMode(true);
    std::string oldRx, newRx;
    std::vector<uint8_t> burst = Frame(c.OldPreamble, c.OldLen, 0xF8, &oldRx);
    // In one write with the frame that tells they have arrived, so that the
    // worker most likely reads them in the same pass.
    burst.insert(burst.end(), c.Partial.begin(), c.Partial.end());
    Pty.Write(burst);
    ASSERT_TRUE(W.Rec.WaitEvent(oldRx)) << W.Rec.Joined();
    // A worker that read them apart has read them all before the change.
    ASSERT_TRUE(Eventually([&] { return W.Worker.BytesRead() >= burst.size(); }));

    ASSERT_TRUE(
        W.Worker.SetPreamble(c.NewPreamble.data(), uint32_t(c.NewPreamble.size()), c.NewLen));
    Pty.Write(Frame(c.NewPreamble, c.NewLen, 0xFE, &newRx)); // body 0xFE, 0xFF, 0x00, ...
    EXPECT_TRUE(W.Rec.WaitEvent(newRx)) << W.Rec.Joined();
    std::vector<std::string> rx;
    for (const auto& e : W.Rec.Snapshot())
        if (e.rfind("rx", 0) == 0)
            rx.push_back(e);
    EXPECT_EQ(rx, (std::vector<std::string>{oldRx, newRx}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WorkerReframe,
    ::testing::Values(
        // Three of six matched; the new preamble stands at positions 3 and 4
        // of the old one, where a stale match would go on.
        TReframeCase{"ShorterPreambleMidMatch",
                     {0xA0, 0xA1, 0xA2, 0x7E, 0x81, 0xA5},
                     2,
                     {0xA0, 0xA1, 0xA2},
                     {0x7E, 0x81},
                     3},
        // Eleven of twelve matched: a stale match would run past the end of
        // the preamble's storage.
        TReframeCase{"MatchAtTheEndOfTheLongestPreamble",
                     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x7E},
                     2,
                     {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B},
                     {0x7E, 0x81},
                     2},
        // Three of eight frame bytes read when the frame shrinks to two.
        TReframeCase{"ShorterFrameMidFrame",
                     {0x55, 0xAA, 0xFF},
                     8,
                     {0x55, 0xAA, 0xFF, 0xE1, 0xE2, 0xE3},
                     {0x7E, 0x81},
                     2}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(WorkerPty, RequestPortReopensEvenWithTheSameNumber) {
    EXPECT_EQ(W.Worker.GetSettingsText(),
              "通讯端口: COM1\n\n通讯速率: 9600\n\n数据校验: None\n\n数 据 位: 8\n\n停 止 位: 1");
    W.Worker.RequestPort(1);
    EXPECT_TRUE(W.Rec.WaitEvent("open 1", 2));
    EXPECT_TRUE(W.Worker.IsOpen());
    EXPECT_EQ(W.Worker.LastOpenError().Code, 0);
}

TEST_F(WorkerPty, ReleaseLetsAnotherProgramHaveTheDeviceAndReconnectTakesItBack) {
    W.Worker.SetByteSize(7);
    W.Worker.SetStopBits(2);
    EXPECT_EQ(W.Worker.GetSettingsText(),
              "通讯端口: COM1\n\n通讯速率: 9600\n\n数据校验: None\n\n数 据 位: 7\n\n停 止 位: 2");
    W.Worker.Release();
    ASSERT_TRUE(W.Rec.WaitEvent("open 0"));
    EXPECT_TRUE(W.Worker.Released());
    const uint8_t b = 1;
    EXPECT_FALSE(W.Worker.Send(&b, 1));
    // Held by another program meanwhile, and not retried.
    {
        TRunningWorker other(Pty.Path);
        ASSERT_TRUE(other.Rec.WaitEvent("open 1"));
        const uint64_t waits = W.Worker.WaitCount();
        W.Worker.RequestPort(1); // chooses the port; it stays released
        // Two waits later the request has had its pass (Release again only
        // wakes the worker).
        ASSERT_TRUE(Eventually([&] {
            W.Worker.Release();
            return W.Worker.WaitCount() >= waits + 2;
        }));
        EXPECT_FALSE(W.Worker.IsOpen());
        EXPECT_EQ(W.Rec.Count("open 0"), 1u);
    }
    W.Worker.Reconnect();
    ASSERT_TRUE(W.Rec.WaitEvent("open 1", 2));
    EXPECT_FALSE(W.Worker.Released());
    EXPECT_EQ(W.Worker.GetLineSettings().ByteSize, 7); // the line settings stay
    Pty.Write({0x42});
    EXPECT_TRUE(W.Rec.WaitBytes(1));
}

TEST_F(WorkerPty, AVanishedDeviceIsReportedClosedAndReopenedWhenItComesBack) {
    // The port is reached through a stable name, like /dev/serial/by-id.
    fs::path link = fs::temp_directory_path() / ("kestrel-link-" + std::to_string(getpid()));
    fs::remove(link);
    fs::create_symlink(Pty.Path, link);
    W.Worker.SetPortMap(MapTo(link.string()));
    W.Worker.RequestPort(1);
    ASSERT_TRUE(W.Rec.WaitEvent("open 1", 2));

    Pty.Write({0x41, 0x42});
    ASSERT_TRUE(W.Rec.WaitBytes(2));
    Pty.CloseMaster(); // the adapter is pulled out
    ASSERT_TRUE(W.Rec.WaitEvent("open 0"));
    EXPECT_FALSE(W.Worker.IsOpen());
    EXPECT_EQ(W.Rec.ReceivedBytes(), (std::vector<uint8_t>{0x41, 0x42}));

    TPty again; // and plugged in again
    fs::remove(link);
    fs::create_symlink(again.Path, link);
    ASSERT_TRUE(W.Rec.WaitEvent("open 1", 3));
    again.Write({0x43});
    EXPECT_TRUE(W.Rec.WaitBytes(3));
    fs::remove(link);
}

TEST(WorkerRetry, AMissingDeviceIsRetriedAtAPaceAndOpensWhenItAppears) {
    fs::path link = fs::temp_directory_path() / ("kestrel-late-" + std::to_string(getpid()));
    fs::remove(link);
    TRunningWorker w(link.string());
    ASSERT_TRUE(w.Rec.WaitEvent("open 0", 3));
    TOpenError err = w.Worker.LastOpenError();
    EXPECT_EQ(err.Code, ceOpen);
    EXPECT_EQ(err.SysError, static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(err.Target, link.string());
    // Attempts keep their pace, not a flood: a late report can bring two a
    // little closer, never much closer.
    ASSERT_TRUE(w.Rec.WaitEvent("open 0", 4));
    std::vector<Clock::time_point> failed;
    const auto ev = w.Rec.Snapshot();
    const auto times = w.Rec.Times();
    for (size_t i = 0; i < ev.size(); ++i)
        if (ev[i] == "open 0")
            failed.push_back(times[i]);
    for (size_t i = 1; i < failed.size(); ++i)
        EXPECT_GE(failed[i] - failed[i - 1], TWThreadComm::RetryInterval / 2) << i;

    TPty pty;
    fs::create_symlink(pty.Path, link);
    EXPECT_TRUE(w.Rec.WaitEvent("open 1"));
    fs::remove(link);
}

TEST(WorkerRetry, SecondWorkerOnAHeldDeviceCannotOpenIt) {
    TPty pty;
    TRunningWorker first(pty.Path);
    ASSERT_TRUE(first.Rec.WaitEvent("open 1"));
    TRunningWorker second(pty.Path);
    ASSERT_TRUE(second.Rec.WaitEvent("open 0"));
    EXPECT_EQ(second.Worker.LastOpenError().SysError, static_cast<uint32_t>(EBUSY));
}

TEST(WorkerLoopback, ModemLinesFollowRtsAndDtr) {
    TRunningWorker w(LoopbackTarget);
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    w.Worker.SetRts(true);
    EXPECT_TRUE(w.Rec.WaitEvent("modem 1000"));
    w.Worker.SetDtr(true);
    EXPECT_TRUE(w.Rec.WaitEvent("modem 1101"));
    w.Worker.SetRts(false);
    EXPECT_TRUE(w.Rec.WaitEvent("modem 0101"));
    // Reopening with the lines as last reported reports nothing new.
    w.Worker.RequestPort(1);
    ASSERT_TRUE(w.Rec.WaitEvent("open 1", 2));
    w.Worker.SetRts(true); // its report comes after any of the reopening
    ASSERT_TRUE(w.Rec.WaitEvent("modem 1101", 2));
    EXPECT_EQ(w.Rec.Count("modem 0101"), 1u);
}

TEST(WorkerLoopback, RtsControlledSendRaisesRtsAroundTheBlockAndKeepsTheOrder) {
    TRunningWorker w(LoopbackTarget);
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    w.Worker.ControlRTS = true;
    const uint8_t frame[] = {0x55, 0xAA};
    auto start = Clock::now();
    ASSERT_TRUE(w.Worker.Send(frame, 2));
    EXPECT_TRUE(w.Worker.GetRts());        // switched over at the call
    EXPECT_FALSE(w.Worker.Send(frame, 2)); // one block at a time
    EXPECT_TRUE(w.Worker.SendByte(0x01));  // queued behind the block
    w.Worker.ControlRTS = false;
    EXPECT_TRUE(w.Worker.Send(frame, 1)); // a plain block too
    ASSERT_TRUE(w.Rec.WaitBytes(4)) << w.Rec.Joined();
    auto ev = w.Rec.Snapshot();
    auto times = w.Rec.Times();
    std::vector<std::string> sending;
    std::vector<Clock::time_point> at;
    // However the reads cut the bytes: consecutive deliveries are joined.
    for (size_t i = 0; i < ev.size(); ++i) {
        const bool rx = ev[i].rfind("rx", 0) == 0;
        if (rx && !sending.empty() && sending.back().rfind("rx", 0) == 0)
            sending.back() += ev[i].substr(2);
        else if (rx || ev[i].rfind("rts", 0) == 0) {
            sending.push_back(ev[i]);
            at.push_back(times[i]);
        }
    }
    ASSERT_EQ(sending, (std::vector<std::string>{"rts 1", "rx 55 AA", "rts 0", "rx 01 55"}))
        << w.Rec.Joined();
    EXPECT_GE(at[0] - start, 45ms); // 50 ms before the bytes
    EXPECT_GE(at[2] - at[1], 45ms); // and 50 ms after
    EXPECT_FALSE(w.Worker.GetRts());
    EXPECT_EQ(w.Worker.BytesToGo(), 0u);
}

TEST(WorkerLoopback, ClosedPortTakesAnRtsControlledBlockButNotAPlainOne) {
    TWThreadComm worker(true); // never resumed: the port stays closed
    const uint8_t b = 1;
    EXPECT_FALSE(worker.Send(&b, 1));
    EXPECT_FALSE(worker.SendByte(b));
    worker.ControlRTS = true;
    EXPECT_TRUE(worker.Send(&b, 1));
    EXPECT_TRUE(worker.GetRts());
    EXPECT_FALSE(worker.Send(&b, 1));
    EXPECT_EQ(worker.BytesToGo(), 1u);
}

// Starts a suspended worker on COM1 mapped to the double.
void StartOnDouble(TWThreadComm& worker, const std::shared_ptr<TFailState>& state) {
    worker.SetPortMap(MapTo("double"));
    worker.SetBackendFactory(FailFactory(state));
    worker.RequestPort(1);
    worker.Resume();
}

TEST(WorkerDouble, NoEventsAssignedStillOpensReadsAndWrites) {
    auto state = std::make_shared<TFailState>();
    state->Incoming = {1, 2, 3};
    TWThreadComm worker(true);
    StartOnDouble(worker, state);
    ASSERT_TRUE(Eventually([&] { return worker.IsOpen(); }));
    const uint8_t b = 9;
    EXPECT_TRUE(worker.Send(&b, 1));
    worker.Terminate();
    worker.WaitFor();
}

// The window asks for the port's number and line at any time: the answer never waits for
// the worker's hold on the device.
TEST(WorkerDouble, ThePortSettingsAreAnsweredWhileTheWorkerWaitsInARead) {
    auto state = std::make_shared<TFailState>();
    TWThreadComm worker(true);
    StartOnDouble(worker, state);
    ASSERT_TRUE(Eventually([&] { return worker.IsOpen(); }));
    worker.SetBaudRate(38400);
    std::unique_lock device(state->ReadGate);
    ASSERT_TRUE(
        Eventually([&] { return state->ReadsBegun.N.load() > state->ReadsEnded.N.load(); }));
    std::atomic<bool> answered{false};
    TWThreadComm::TPortSettings got;
    std::thread window([&] {
        got = worker.GetPortSettings();
        answered = true;
    });
    EXPECT_TRUE(Eventually([&] { return answered.load(); }));
    device.unlock();
    window.join();
    EXPECT_EQ(got.PortNumber, 1u);
    EXPECT_EQ(got.Line.BaudRate, 38400u);
    worker.Terminate();
    worker.WaitFor();
}

TEST(WorkerDouble, ReadFailuresKeepThePortOpenAndStopEndsTheLoopAtOnce) {
    auto state = std::make_shared<TFailState>();
    state->FailWith[TFailState::Read] = EIO;
    state->Incoming = {1};
    TRecorder rec;
    TWThreadComm worker(true);
    rec.Attach(worker); // the worker is stopped before rec goes
    StartOnDouble(worker, state);
    ASSERT_TRUE(rec.WaitEvent("open 1"));
    // Several failed reads later (a device without a descriptor is asked on
    // every pass), the port is still open.
    const uint64_t waits = worker.WaitCount();
    ASSERT_TRUE(Eventually([&] { return worker.WaitCount() >= waits + 5; }));
    EXPECT_TRUE(worker.IsOpen());
    EXPECT_EQ(rec.Count("open 0"), 0u);
    worker.Terminate();
    worker.WaitFor();
}

} // namespace

namespace {

// A device that reports its line changes: the worker sleeps until it does,
// and goes back to asking the lines on its timer when it no longer can.
TEST(WorkerLines, ReportedLineChangesWakeTheWorkerWhichOtherwiseSleeps) {
    auto state = std::make_shared<TFailState>();
    state->LinesFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(state->LinesFd, 0);
    state->DataFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); // never readable
    state->ModemLines = msCtsOn;
    TRecorder rec;
    TWThreadComm worker(true);
    rec.Attach(worker);
    worker.SetPortMap(MapTo("double"));
    worker.SetBackendFactory(FailFactory(state));
    worker.RequestPort(1);
    worker.Resume();
    ASSERT_TRUE(rec.WaitEvent("open 1"));
    EXPECT_TRUE(rec.WaitEvent("modem 1000")); // at open, without a report
    // Asking the lines would wait ModemPollInterval at most.
    EXPECT_TRUE(Eventually([&] { return worker.WaitLimit() == TWThreadComm::QuietInterval; }));
    const auto linesDone = [&] {
        std::lock_guard guard(state->Lock);
        return state->LinesDone;
    };

    auto report = [&](uint32_t lines) {
        {
            std::lock_guard guard(state->Lock);
            state->ModemLines = lines;
        }
        const uint64_t one = 1;
        ASSERT_EQ(::write(state->LinesFd, &one, sizeof one), ssize_t(sizeof one));
    };
    const int taken = linesDone();
    report(msDsrOn | msRlsdOn);
    EXPECT_TRUE(rec.WaitEvent("modem 0101"));
    EXPECT_GT(linesDone(), taken); // the report woke it, not its timer
    report(msRingOn);
    EXPECT_TRUE(rec.WaitEvent("modem 0010"));

    // The device's wait fails: it says so once more and reports no longer;
    // the timer takes over.
    const int fd = state->LinesFd;
    {
        std::lock_guard guard(state->Lock);
        state->LinesFd = -1;
    }
    const uint64_t one = 1;
    ASSERT_EQ(::write(fd, &one, sizeof one), ssize_t(sizeof one));
    ASSERT_TRUE(Eventually([&] { return worker.WaitLimit() == TWThreadComm::ModemPollInterval; }));
    {
        std::lock_guard guard(state->Lock);
        state->ModemLines = msCtsOn | msDsrOn;
    }
    EXPECT_TRUE(rec.WaitEvent("modem 1100"));
    worker.Terminate();
    worker.WaitFor();
    ::close(fd);
    ::close(state->DataFd);
}

TEST(WorkerLines, TheLoopbackPlugReportsItsLinesAndAnIdleWorkerOnItSleeps) {
    TRunningWorker w(LoopbackTarget);
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    EXPECT_TRUE(Eventually([&] { return w.Worker.WaitLimit() == TWThreadComm::QuietInterval; }));
    const uint64_t before = w.Worker.WaitCount();
    w.Worker.SetDtr(true);
    EXPECT_TRUE(w.Rec.WaitEvent("modem 0101"));
    // Woken by the change (or by SetDtr), not by its timer after many waits.
    EXPECT_LE(w.Worker.WaitCount() - before, 3u);
}

} // namespace
