// The worker on ports that a real ser2net serves on 127.0.0.1 from a
// pseudo-terminal whose far end the test holds.

#include "Pty.h"
#include "Recorder.h"
#include "Ser2net.h"
#include "Termios2.h"

#include <gtest/gtest.h>

namespace {

class Ser2netPort : public ::testing::Test {
protected:
    void SetUp() override {
        if (!TSer2net::Available())
            GTEST_SKIP() << "ser2net is not installed (tools/dev test installs it)";
        Server = std::make_unique<TSer2net>(Pty.Path);
        ASSERT_TRUE(Server->Start());
    }

    // Reads the far end until count bytes came.
    std::vector<uint8_t> FarEnd(size_t count) { return Pty.Read(count, 5000); }

    TPty Pty;
    std::unique_ptr<TSer2net> Server;
};

std::vector<uint8_t> Pattern(size_t n, size_t from = 0) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t k = from + i;
        // Runs of 0xFF and 0x00 among other values.
        out[i] = (k / 5) % 4 == 0 ? 0xFF : (k / 5) % 4 == 1 ? 0x00 : static_cast<uint8_t>(k * 31);
    }
    return out;
}

// ser2net serves one device to one connection at a time: each port gets a
// server of its own.
void CrossBothWays(const std::string& target, TPty& Pty) {
    {
        TRunningWorker w(target);
        ASSERT_TRUE(w.Rec.WaitEvent("open 1")) << w.Rec.Joined();
        const auto out = Pattern(20000);
        ASSERT_TRUE(w.Worker.Send(out.data(), uint32_t(out.size())));
        EXPECT_EQ(Pty.Read(out.size(), 5000), out);
        const auto in = Pattern(30000, 7);
        Pty.Write(in);
        ASSERT_TRUE(w.Rec.WaitBytes(in.size(), std::chrono::milliseconds(5000)));
        EXPECT_EQ(w.Rec.ReceivedBytes(), in);
    }
}

TEST_F(Ser2netPort, BytesOfEveryValueCrossBothWaysOnTheRfc2217Port) {
    CrossBothWays(Server->RfcTarget(), Pty);
}

TEST_F(Ser2netPort, BytesOfEveryValueCrossBothWaysOnTheRawPort) {
    CrossBothWays(Server->RawTarget(), Pty);
}

TEST_F(Ser2netPort, RateAndLineSettingsSetThroughTheWorkerReachTheDevice) {
    TRunningWorker w(Server->RfcTarget());
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    auto speed = [&] {
        TTtyState s;
        return ReadTtyState(Pty.Master, s) ? s.OutSpeed : 0u;
    };
    // The rate the port held at open went out with the greeting.
    const auto until = [&](uint32_t rate) {
        const auto end = Clock::now() + std::chrono::seconds(3);
        while (speed() != rate && Clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return speed();
    };
    EXPECT_EQ(until(9600), 9600u);
    for (uint32_t rate : {115200u, 19200u, 57600u}) {
        w.Worker.SetBaudRate(rate);
        EXPECT_EQ(until(rate), rate);
    }
    // A pseudo-terminal keeps neither parity nor lines; every setting is taken
    // all the same and the bytes still flow.
    for (uint8_t parity = 0; parity <= 4; ++parity)
        EXPECT_NO_THROW(w.Worker.SetParity(parity));
    w.Worker.SetRts(true);
    w.Worker.SetDtr(true);
    const std::vector<uint8_t> b = {0xFF, 0x55, 0x00};
    ASSERT_TRUE(w.Worker.Send(b.data(), 3));
    EXPECT_EQ(FarEnd(3), b);
    EXPECT_TRUE(w.Worker.IsOpen());
}

TEST_F(Ser2netPort, FramesAreFoundBehindTheirPreambleAcrossTheNetwork) {
    TRunningWorker w(Server->RfcTarget());
    ASSERT_TRUE(w.Rec.WaitEvent("open 1"));
    const uint8_t pre[] = {0x55, 0xAA, 0xFF};
    ASSERT_TRUE(w.Worker.SetPreamble(pre, 3, 4));
    w.Worker.SetPreambleMode(true);
    // Noise, a frame holding 0xFF and 0x00, noise, a second frame.
    Pty.Write({0x01, 0xFF, 0xFF, 0x55, 0xAA, 0xFF, 0xFF, 0x00, 0xFF, 0x02, 0x00, 0x55, 0xAA,
               0xFF, 0x10, 0x20, 0x30, 0x40});
    ASSERT_TRUE(w.Rec.WaitBytes(8));
    EXPECT_EQ(w.Rec.ReceivedBytes(),
              (std::vector<uint8_t>{0xFF, 0x00, 0xFF, 0x02, 0x10, 0x20, 0x30, 0x40}));
    // What goes out carries the preamble, doubled 0xFF undone by the server.
    const uint8_t body[] = {0xFF, 0x00};
    ASSERT_TRUE(w.Worker.Send(body, 2));
    EXPECT_EQ(FarEnd(5), (std::vector<uint8_t>{0x55, 0xAA, 0xFF, 0xFF, 0x00}));
}

// ser2net killed in the middle of a flood and started again: the worker
// reports the drop, delivers every byte that came before it, in order, and
// reconnects by itself.
TEST_F(Ser2netPort, AServerKilledMidFloodIsReconnectedWithoutLosingWhatCameBefore) {
    TRecorder rec;
    TWThreadComm worker(true);
    rec.Attach(worker);
    std::mutex m;
    std::vector<size_t> bytesAtState; // bytes delivered when each state change came
    worker.OnPortState = [&](bool open) {
        std::lock_guard lock(m);
        bytesAtState.push_back(rec.ReceivedBytes().size());
        rec.OnPortStateForTest(open);
    };
    worker.SetPortMap(MapTo(Server->RfcTarget()));
    worker.RequestPort(1);
    worker.Resume();
    ASSERT_TRUE(rec.WaitEvent("open 1"));

    std::atomic<bool> flooding{true};
    std::atomic<size_t> written{0};
    std::thread flood([&] {
        while (flooding) {
            const auto chunk = Pattern(4096, written);
            ssize_t n = ::write(Pty.Master, chunk.data(), chunk.size());
            if (n > 0)
                written += size_t(n);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    EXPECT_TRUE(rec.WaitBytes(256 * 1024, std::chrono::milliseconds(10000)));
    Server->Stop(SIGKILL);
    EXPECT_TRUE(rec.WaitEvent("open 0", 1, std::chrono::milliseconds(3000))) << rec.Joined();
    // A few refused attempts before the server is back.
    EXPECT_TRUE(rec.WaitEvent("open 0", 3, std::chrono::milliseconds(5000))) << rec.Joined();
    EXPECT_TRUE(Server->Start());
    EXPECT_TRUE(rec.WaitEvent("open 1", 2, std::chrono::milliseconds(5000))) << rec.Joined();
    size_t atReopen;
    {
        std::lock_guard lock(m);
        atReopen = bytesAtState.back();
    }
    EXPECT_TRUE(rec.WaitBytes(atReopen + 64 * 1024, std::chrono::milliseconds(10000)));
    flooding = false;
    flood.join();

    size_t atDrop;
    {
        std::lock_guard lock(m);
        ASSERT_GE(bytesAtState.size(), 3u);
        atDrop = bytesAtState[1];
    }
    const auto got = rec.ReceivedBytes();
    ASSERT_GE(atDrop, 256u * 1024);
    // Everything before the drop is the flood's start, whole and in order.
    const auto expected = Pattern(atDrop);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
    const TOpenError e = worker.LastOpenError();
    EXPECT_EQ(e.Code, 0); // open again
    EXPECT_GE(rec.Count("open 0"), 1u);
}

} // namespace
