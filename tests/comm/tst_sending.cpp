// The worker's sending over pseudo-terminals whose far end echoes, stops
// reading or vanishes mid-block, on the loopback plug and on the failing double.

#include "Eventually.h"
#include "Failbackend.h"
#include "Pty.h"
#include "Recorder.h"

#include <atomic>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Pattern(size_t n, uint32_t seed = 1) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

// A far end that sends back every byte it reads, in its own thread.
class TEcho {
public:
    explicit TEcho(int master) : Master(master), Thread([this] { Run(); }) {}
    ~TEcho() {
        Stop = true;
        Thread.join();
    }

private:
    void Run() {
        uint8_t buf[4096];
        while (!Stop) {
            pollfd p{Master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            ssize_t n = ::read(Master, buf, sizeof buf);
            for (ssize_t done = 0; n > 0 && done < n && !Stop;) {
                ssize_t w = ::write(Master, buf + done, static_cast<size_t>(n - done));
                if (w > 0) {
                    done += w;
                } else {
                    pollfd q{Master, POLLOUT, 0};
                    ::poll(&q, 1, 20);
                }
            }
        }
    }
    int Master;
    std::atomic<bool> Stop{false};
    std::thread Thread;
};

// Runs call on another thread; false when it has not returned within the limit,
// which is seconds for a call that takes microseconds.
bool ReturnsSoon(const std::function<void()>& call, std::future<void>& pending) {
    pending = std::async(std::launch::async, call);
    return pending.wait_for(5s) == std::future_status::ready;
}

// Waits until the device stops taking bytes: bytes are left and three passes
// of the worker wrote none of them.
uint64_t StalledToGo(TWThreadComm& w) {
    uint64_t left = w.BytesToGo();
    uint64_t waits = w.WaitCount();
    Eventually([&] {
        const uint64_t now = w.BytesToGo();
        if (now != left) {
            left = now;
            waits = w.WaitCount();
            return false;
        }
        return left > 0 && w.WaitCount() >= waits + 3;
    });
    return left;
}

// The count of the first "dropped N" event, 0 when there is none.
uint64_t Dropped(const std::vector<std::string>& events) {
    for (const auto& e : events)
        if (e.rfind("dropped ", 0) == 0)
            return std::stoull(e.substr(8));
    return 0;
}
uint64_t Dropped(TRecorder& rec) {
    return Dropped(rec.Snapshot());
}

class SendPty : public ::testing::Test {
protected:
    SendPty() : W(Pty.Path) { EXPECT_TRUE(W.Rec.WaitEvent("open 1")); }
    TPty Pty;
    TRunningWorker W;
};

TEST_F(SendPty, AnEchoedMegabyteLineGoesOutWholeAndItsEchoComesBackWhole) {
    TEcho echo(Pty.Master);
    const auto line = Pattern(1 << 20);
    ASSERT_TRUE(W.Worker.Send(line.data(), static_cast<uint32_t>(line.size())));
    ASSERT_TRUE(W.Rec.WaitBytes(line.size(), 60s)) << W.Rec.ReceivedBytes().size();
    EXPECT_TRUE(W.Rec.ReceivedBytes() == line);
    EXPECT_EQ(W.Rec.Count("open 0"), 0u);
    for (const auto& e : W.Rec.Snapshot())
        EXPECT_NE(e.rfind("dropped", 0), 0u) << e;
    EXPECT_EQ(W.Worker.BytesToGo(), 0u);
}

TEST_F(SendPty, AFarEndThatStopsReadingHoldsTheBlockButNotTheCallsNorTheReads) {
    const auto block = Pattern(256 << 10, 2);
    ASSERT_TRUE(W.Worker.Send(block.data(), static_cast<uint32_t>(block.size())));
    const uint64_t stuck = StalledToGo(W.Worker);
    ASSERT_GT(stuck, 0u); // the far end's buffer is full

    // The window's calls go through between two writes.
    std::future<void> call;
    ASSERT_TRUE(ReturnsSoon([&] { W.Worker.SetRts(true); }, call));
    EXPECT_TRUE(W.Worker.GetRts());
    ASSERT_TRUE(ReturnsSoon([&] { W.Worker.SetDtr(true); }, call));
    EXPECT_TRUE(W.Worker.GetDtr());
    ASSERT_TRUE(ReturnsSoon([&] { W.Worker.SetBaudRate(19200); }, call));
    EXPECT_NE(W.Worker.GetSettingsText().find("19200"), std::string::npos);
    // And the far end is heard meanwhile.
    Pty.Write({0x00, 0x7E, 0xFF});
    ASSERT_TRUE(W.Rec.WaitBytes(3));

    // A hundred passes of the worker later, the far end reads again: nothing
    // was cut.
    const uint64_t waits = W.Worker.WaitCount();
    ASSERT_TRUE(Eventually([&] { return W.Worker.WaitCount() >= waits + 100; }));
    EXPECT_EQ(Pty.Read(block.size(), 20000), block);
    // The worker counts its last write once the write has returned.
    EXPECT_TRUE(Eventually([&] { return W.Worker.BytesToGo() == 0; }));
    EXPECT_EQ(W.Rec.Count("open 0"), 0u);
}

TEST_F(SendPty, BlocksAndBytesQueuedBehindAStalledBlockKeepTheirOrder) {
    const auto big = Pattern(128 << 10, 3);
    ASSERT_TRUE(W.Worker.Send(big.data(), static_cast<uint32_t>(big.size())));
    const uint8_t line[] = {'O', 'K', '\r'};
    ASSERT_TRUE(W.Worker.SendByte(0x00));
    ASSERT_TRUE(W.Worker.Send(line, 3));
    ASSERT_TRUE(W.Worker.SendByte(0xFF));
    auto expected = big;
    expected.insert(expected.end(), {0x00, 'O', 'K', '\r', 0xFF});
    EXPECT_EQ(Pty.Read(expected.size(), 20000), expected);
}

// Short blocks are written several at a time; a device that takes only part
// of such a write must still get every block whole, in order, each with its
// preamble, while single bytes and an RTS-controlled block keep their places.
TEST_F(SendPty, ManyShortBlocksToAFarEndThatReadsInDribsKeepTheirBytesAndOrder) {
    const uint8_t pre[] = {0x55, 0xAA};
    ASSERT_TRUE(W.Worker.SetPreamble(pre, 2, 2048));
    W.Worker.SetPreambleMode(true);
    std::vector<uint8_t> expected;
    const auto bytes = Pattern(300 * 2000, 9);
    size_t at = 0;
    for (int i = 0; i < 2000; ++i) {
        const uint32_t n = 1 + uint32_t(i * 37 % 300);
        if (i % 500 == 7) {
            ASSERT_TRUE(W.Worker.SendByte(uint8_t(i)));
            expected.push_back(uint8_t(i));
        }
        ASSERT_TRUE(W.Worker.Send(bytes.data() + at, n));
        expected.insert(expected.end(), pre, pre + 2);
        expected.insert(expected.end(), bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + n));
        at += n;
    }
    std::vector<uint8_t> got;
    while (got.size() < expected.size()) {
        const auto piece = Pty.Read(std::min<size_t>(777, expected.size() - got.size()), 20000);
        ASSERT_FALSE(piece.empty());
        got.insert(got.end(), piece.begin(), piece.end());
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(got == expected);
    EXPECT_EQ(W.Worker.BytesToGo(), 0u);
}

TEST_F(SendPty, AnUnplugMidBlockDropsTheRestAndSaysHowMuch) {
    const auto block = Pattern(256 << 10, 4);
    ASSERT_TRUE(W.Worker.Send(block.data(), static_cast<uint32_t>(block.size())));
    ASSERT_TRUE(W.Worker.Send(block.data(), 1000)); // and a block behind it
    const uint64_t left = StalledToGo(W.Worker);
    ASSERT_GT(left, 1000u);
    Pty.CloseMaster();
    ASSERT_TRUE(W.Rec.WaitFor([](const auto& ev) { return Dropped(ev) > 0; })) << W.Rec.Joined();
    // What the device had taken before it went is not counted.
    EXPECT_GT(Dropped(W.Rec), 1000u);
    EXPECT_LE(Dropped(W.Rec), left);
    EXPECT_TRUE(W.Rec.WaitEvent("open 0"));
    EXPECT_EQ(W.Worker.BytesToGo(), 0u);
    EXPECT_FALSE(W.Worker.Send(block.data(), 10)); // closed: refused, not queued
}

TEST_F(SendPty, CancelSendDropsWhatIsQueuedAndLaterSendsGoOutAfterWhatWasWritten) {
    const auto block = Pattern(256 << 10, 5);
    ASSERT_TRUE(W.Worker.Send(block.data(), static_cast<uint32_t>(block.size())));
    ASSERT_GT(StalledToGo(W.Worker), 0u);
    W.Worker.CancelSend();
    ASSERT_TRUE(W.Rec.WaitFor([](const auto& ev) { return Dropped(ev) > 0; })) << W.Rec.Joined();
    const uint64_t left = Dropped(W.Rec);
    EXPECT_EQ(W.Worker.BytesToGo(), 0u);
    EXPECT_TRUE(W.Worker.IsOpen());

    const uint8_t tail[] = {0xAB, 0x00, 0xFF};
    ASSERT_TRUE(W.Worker.Send(tail, 3));
    std::vector<uint8_t> expected(block.begin(), block.end() - static_cast<long>(left));
    expected.insert(expected.end(), tail, tail + 3);
    EXPECT_EQ(Pty.Read(expected.size(), 20000), expected);
    // Nothing queued: nothing reported, however often; two waits after a
    // cancel, the worker has had its pass for it.
    const uint64_t waits = W.Worker.WaitCount();
    ASSERT_TRUE(Eventually([&] {
        W.Worker.CancelSend();
        return W.Worker.WaitCount() >= waits + 2;
    }));
    EXPECT_EQ(W.Rec.Count("dropped " + std::to_string(left)), 1u);
    EXPECT_EQ(W.Rec.Joined().find("dropped 0"), std::string::npos);
}

TEST_F(SendPty, ALongSendReportsWhatIsLeftUntilItIsDoneAndAShortOneNothing) {
    const uint8_t shortLine[] = {'A', 'T'};
    ASSERT_TRUE(W.Worker.Send(shortLine, 2));
    ASSERT_EQ(Pty.Read(2).size(), 2u);

    const auto block = Pattern(128 << 10, 6);
    ASSERT_TRUE(W.Worker.Send(block.data(), static_cast<uint32_t>(block.size())));
    // A slow reader: 8 KiB after each report, until all is written.
    const auto reports = [](const std::vector<std::string>& ev) {
        return std::count_if(ev.begin(), ev.end(), [](auto& e) { return e.rfind("left ", 0) == 0; });
    };
    std::vector<uint8_t> got;
    while (got.size() < block.size()) {
        const auto seen = reports(W.Rec.Snapshot());
        ASSERT_TRUE(W.Rec.WaitFor(
                        [&](const auto& ev) {
                            return reports(ev) > seen ||
                                   std::find(ev.begin(), ev.end(), "left 0") != ev.end();
                        },
                        10s))
            << W.Rec.Joined();
        auto part = Pty.Read(std::min<size_t>(8192, block.size() - got.size()), 2000);
        ASSERT_FALSE(part.empty());
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, block);
    ASSERT_TRUE(W.Rec.WaitEvent("left 0")) << W.Rec.Joined();
    std::vector<uint64_t> left;
    for (const auto& e : W.Rec.Snapshot())
        if (e.rfind("left ", 0) == 0)
            left.push_back(std::stoull(e.substr(5)));
    ASSERT_GE(left.size(), 3u);
    EXPECT_LE(left.front(), block.size());
    EXPECT_TRUE(std::is_sorted(left.rbegin(), left.rend())); // never grows
    EXPECT_EQ(left.back(), 0u);
    EXPECT_EQ(std::count(left.begin(), left.end(), 0u), 1);
}

TEST_F(SendPty, TheQueueRefusesABlockPastItsBoundButTakesAnyBlockWhenEmpty) {
    const std::vector<uint8_t> mib(1 << 20, 0x5A);
    int taken = 0;
    while (taken < 20 && W.Worker.Send(mib.data(), static_cast<uint32_t>(mib.size())))
        ++taken;
    EXPECT_GE(taken, 7);
    EXPECT_LE(taken, 8);
    W.Worker.CancelSend();
    ASSERT_TRUE(W.Rec.WaitFor([](const auto& ev) {
        return std::any_of(ev.begin(), ev.end(),
                           [](auto& e) { return e.rfind("dropped", 0) == 0; });
    }));
    EXPECT_EQ(W.Worker.BytesToGo(), 0u);
    const std::vector<uint8_t> huge(TWThreadComm::MaxQueueCost + 1, 0x33);
    EXPECT_TRUE(W.Worker.Send(huge.data(), static_cast<uint32_t>(huge.size())));
    EXPECT_FALSE(W.Worker.Send(huge.data(), 1)); // even one byte: the queue is past its bound
    W.Worker.CancelSend();
}

TEST_F(SendPty, AnRtsControlledBlockStalledMidWayLeavesTheLinesToTheWindow) {
    W.Worker.ControlRTS = true;
    const auto block = Pattern(256 << 10, 7);
    ASSERT_TRUE(W.Worker.Send(block.data(), static_cast<uint32_t>(block.size())));
    ASSERT_TRUE(W.Rec.WaitEvent("rts 1"));
    const uint64_t stuck = StalledToGo(W.Worker);
    ASSERT_GT(stuck, 0u);
    std::future<void> call;
    ASSERT_TRUE(ReturnsSoon([&] { W.Worker.SetRts(false); }, call));
    EXPECT_FALSE(W.Worker.GetRts());
    ASSERT_TRUE(ReturnsSoon([&] { W.Worker.SetDtr(true); }, call));
    EXPECT_TRUE(W.Worker.GetDtr());
    EXPECT_FALSE(W.Worker.Send(block.data(), 1)); // the block is still under way
    EXPECT_EQ(Pty.Read(block.size(), 30000), block);
    // Its end switches RTS over from where the window left it.
    EXPECT_TRUE(W.Rec.WaitEvent("rts 1", 2)) << W.Rec.Joined();
    EXPECT_TRUE(W.Worker.GetRts());
}

TEST(SendRts, ABlockForAnUnpluggedDeviceWaitsWithoutSpinningAndGoesOutWhenItIsBack) {
    fs::path link = fs::temp_directory_path() / ("kestrel-rts-" + std::to_string(getpid()));
    fs::remove(link);
    TRunningWorker w(link.string());
    ASSERT_TRUE(w.Rec.WaitEvent("open 0"));
    w.Worker.ControlRTS = true;
    const uint8_t frame[] = {0x55, 0x00, 0xFF};
    ASSERT_TRUE(w.Worker.Send(frame, 3));
    EXPECT_TRUE(w.Worker.GetRts());
    // A few waits per open attempt, not a busy loop.
    const size_t failed = w.Rec.Count("open 0");
    const uint64_t before = w.Worker.WaitCount();
    ASSERT_TRUE(w.Rec.WaitEvent("open 0", failed + 3));
    EXPECT_LT(w.Worker.WaitCount() - before, 30u);

    TPty pty;
    fs::create_symlink(pty.Path, link);
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    EXPECT_EQ(pty.Read(3), (std::vector<uint8_t>{0x55, 0x00, 0xFF}));
    EXPECT_TRUE(w.Rec.WaitEvent("rts 0")) << w.Rec.Joined();
    fs::remove(link);
}

TEST(SendRts, ACancelledRtsControlledBlockGivesRtsBack) {
    TRecorder rec;
    TWThreadComm worker(true);
    rec.Attach(worker);
    worker.SetPortMap(MapTo("")); // COM1 leads nowhere: the block waits
    worker.RequestPort(1);
    worker.Resume();
    ASSERT_TRUE(rec.WaitEvent("open 0"));
    worker.ControlRTS = true;
    const uint8_t frame[] = {1, 2, 3, 4};
    ASSERT_TRUE(worker.Send(frame, 4));
    EXPECT_TRUE(worker.GetRts());
    worker.CancelSend();
    ASSERT_TRUE(rec.WaitEvent("dropped 4")) << rec.Joined();
    EXPECT_TRUE(rec.WaitEvent("rts 0"));
    EXPECT_FALSE(worker.GetRts());
    EXPECT_TRUE(worker.Send(frame, 4)); // another may follow now
    worker.Terminate();
    worker.WaitFor();
}

TEST(SendDouble, AFailedWriteDropsTheBlockAndKeepsThePortOpen) {
    auto state = std::make_shared<TFailState>();
    state->FailWith[TFailState::Write] = EIO;
    TRecorder rec;
    TWThreadComm worker(true);
    rec.Attach(worker);
    worker.SetPortMap(MapTo("double"));
    worker.SetBackendFactory(FailFactory(state));
    worker.RequestPort(1);
    worker.Resume();
    ASSERT_TRUE(rec.WaitEvent("open 1"));
    const auto block = Pattern(100);
    ASSERT_TRUE(worker.Send(block.data(), 100));
    EXPECT_TRUE(rec.WaitEvent("dropped 100")) << rec.Joined();
    EXPECT_TRUE(worker.IsOpen());
    EXPECT_EQ(worker.BytesToGo(), 0u);
    worker.Terminate();
    worker.WaitFor();
}

} // namespace
