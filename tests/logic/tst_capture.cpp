// The tick capture of the error statistics: what one tick keeps, and the worker appending on its
// own thread while the test's thread takes, as the window's timer does.

#include "ErrorStats.h"
#include "PortMap.h"
#include "Pty.h"
#include "Threadcomm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

using TBytes = std::vector<uint8_t>;

// Byte i of a stream; 251 is prime, so no block size lines up with the pattern.
uint8_t PatternByte(size_t i) {
    return uint8_t(i % 251);
}

TBytes Pattern(size_t n) {
    TBytes bytes(n);
    for (size_t i = 0; i < n; ++i)
        bytes[i] = PatternByte(i);
    return bytes;
}

TBytes TakeAll(TStatCapture& capture) {
    TBytes dest(ErrStatBufSize, 0xEE);
    dest.resize(capture.Take(dest.data()));
    return dest;
}

TEST(Capture, InactiveCaptureDropsWhatArrives) {
    TStatCapture capture;
    const TBytes bytes = {0x00, 0xFF, 0x55};
    EXPECT_FALSE(capture.Active());
    capture.Append(bytes.data(), 3);
    EXPECT_TRUE(TakeAll(capture).empty());

    capture.SetActive(true);
    EXPECT_TRUE(capture.Active());
    capture.Append(bytes.data(), 3);
    capture.SetActive(false);
    capture.Append(bytes.data(), 2);
    EXPECT_EQ(TakeAll(capture), bytes);
}

TEST(Capture, TakeAndResetStartTheNextTickEmpty) {
    TStatCapture capture;
    capture.SetActive(true);
    const TBytes first = {0x01, 0x02, 0x03}, second = {0xFF, 0x00};
    capture.Append(first.data(), 3);
    EXPECT_EQ(TakeAll(capture), first);
    EXPECT_TRUE(TakeAll(capture).empty());

    capture.Append(first.data(), 3);
    capture.Reset();
    capture.Append(second.data(), 2);
    EXPECT_EQ(TakeAll(capture), second);

    capture.Append(nullptr, 5);
    capture.Append(first.data(), 0);
    EXPECT_TRUE(TakeAll(capture).empty());
}

TEST(Capture, BeyondTheBufferEachByteOverwritesTheLastSlot) {
    struct {
        size_t Total;
        std::vector<size_t> Blocks; // how the stream is cut; the rest comes as one last block
    } cases[] = {
        {1023, {}},
        {1024, {}},
        {1025, {}},
        {1500, {}},
        {1500, {1}},
        {1500, {1000}},
        {1500, {1023, 1}},
        {1500, {1024}},
        {1500, {1024, 475}},
        {65536, {}},
        {1030, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Total << " bytes, " << c.Blocks.size() << " cuts");
        const TBytes stream = Pattern(c.Total);
        TStatCapture capture;
        capture.SetActive(true);
        size_t at = 0;
        for (size_t size : c.Blocks) {
            capture.Append(stream.data() + at, uint32_t(size));
            at += size;
        }
        capture.Append(stream.data() + at, uint32_t(stream.size() - at));

        TBytes expected = stream;
        if (stream.size() > ErrStatBufSize) {
            expected.resize(ErrStatBufSize);
            expected.back() = stream.back();
        }
        EXPECT_EQ(TakeAll(capture), expected);

        // The next tick fills in order again.
        capture.Append(stream.data(), 4);
        EXPECT_EQ(TakeAll(capture), TBytes(stream.begin(), stream.begin() + 4));
    }
}

// The worker on a pseudo-terminal appends every received block; the test's thread ticks.
class CaptureWorker : public ::testing::Test {
protected:
    CaptureWorker() {
        Worker.OnReceive = [this](const uint8_t* bytes, uint32_t n) { Capture.Append(bytes, n); };
        Worker.OnPortState = [this](bool open) { Open = open; };
        TPortMap map;
        map.Targets[0] = Pty.Path;
        Worker.SetPortMap(map);
        Worker.RequestPort(1);
        Worker.Resume();
    }

    bool WaitOpen() {
        const auto end = Clock::now() + 3s;
        while (!Open && Clock::now() < end)
            std::this_thread::sleep_for(5ms);
        return Open;
    }

    TPty Pty;
    TStatCapture Capture; // outlives the worker, which appends to it until it ends
    std::atomic<bool> Open{false};
    TWThreadComm Worker{true};
};

TEST_F(CaptureWorker, EveryByteTheFarEndWritesIsTakenOnceAndInOrder) {
    ASSERT_TRUE(WaitOpen());
    Capture.SetActive(true);
    constexpr size_t Total = 64 * 1024;
    std::atomic<size_t> takenTotal{0};

    // The far end writes blocks of 1 to 300 bytes as fast as it may: it never lets more than
    // ErrStatMaxCount bytes wait untaken, so that no tick overwrites its last slot.
    std::jthread farEnd([&](std::stop_token stop) {
        size_t written = 0;
        for (size_t round = 0; written < Total && !stop.stop_requested(); ++round) {
            const size_t n = std::min<size_t>(1 + round * 37 % 300, Total - written);
            while (written + n - takenTotal.load() > ErrStatMaxCount && !stop.stop_requested())
                std::this_thread::sleep_for(100us);
            TBytes block(n);
            for (size_t i = 0; i < n; ++i)
                block[i] = PatternByte(written + i);
            Pty.Write(block);
            written += n;
        }
    });

    TBytes taken;
    uint8_t tick[ErrStatBufSize];
    const auto end = Clock::now() + 20s;
    while (taken.size() < Total && Clock::now() < end) {
        std::this_thread::sleep_for(2ms);
        const uint32_t n = Capture.Take(tick);
        ASSERT_LE(n, ErrStatMaxCount);
        taken.insert(taken.end(), tick, tick + n);
        takenTotal += n;
    }
    farEnd.request_stop();
    farEnd.join();
    ASSERT_EQ(taken.size(), Total);
    EXPECT_EQ(taken, Pattern(Total));
    // Nothing came twice: a byte written now is the next one taken.
    Pty.Write({0xA5});
    TBytes after;
    while (after.empty() && Clock::now() < end + 10s) {
        std::this_thread::sleep_for(2ms);
        const uint32_t n = Capture.Take(tick);
        after.insert(after.end(), tick, tick + n);
    }
    EXPECT_EQ(after, TBytes{0xA5});
}

} // namespace
