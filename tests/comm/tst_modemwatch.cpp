// The line-change watch over a stand-in wait: a read of a pipe blocks like
// TIOCMIWAIT does and, like it, returns EINTR when the watch's signal arrives.

#include "ModemWatch.h"

#include <cerrno>
#include <chrono>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

bool Readable(int fd, int ms) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, ms) == 1 && (p.revents & POLLIN);
}

class PipeWait : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::pipe(Pipe), 0); }
    void TearDown() override {
        ::close(Pipe[0]);
        ::close(Pipe[1]);
    }
    // One byte in the pipe is one change of the lines.
    int Wait() {
        char c;
        const ssize_t n = ::read(Pipe[0], &c, 1);
        return n == 1 ? 0 : n == 0 ? EIO : errno;
    }
    void Change() { ASSERT_EQ(::write(Pipe[1], "x", 1), 1); }
    int Pipe[2] = {-1, -1};
};

TEST_F(PipeWait, EachChangeWakesThePollerAndStopCutsABlockedWaitShort) {
    TModemWatch watch([this] { return Wait(); });
    EXPECT_EQ(watch.Fd(), -1);
    ASSERT_TRUE(watch.Start());
    ASSERT_GE(watch.Fd(), 0);
    EXPECT_FALSE(Readable(watch.Fd(), 50));
    for (int i = 0; i < 3; ++i) {
        Change();
        EXPECT_TRUE(Readable(watch.Fd(), 1000));
        watch.Done();
        EXPECT_FALSE(Readable(watch.Fd(), 20));
    }
    EXPECT_TRUE(watch.Watching());
    // The thread sits in read(): only the signal gets it out.
    const auto start = Clock::now();
    watch.Stop();
    EXPECT_LT(Clock::now() - start, 500ms);
    EXPECT_FALSE(watch.Watching());
    watch.Stop(); // twice is harmless
}

TEST_F(PipeWait, StartAndStopAtOnceManyTimesNeverHang) {
    // Stop often lands before the thread has reached its wait.
    for (int i = 0; i < 200; ++i) {
        TModemWatch watch([this] { return Wait(); });
        ASSERT_TRUE(watch.Start());
        watch.Stop();
    }
}

TEST(ModemWatch, AWaitThatCannotBeDoneEndsTheWatchAndSaysSoOnce) {
    TModemWatch watch([] { return ENOTTY; });
    ASSERT_TRUE(watch.Start());
    ASSERT_TRUE(Readable(watch.Fd(), 1000));
    for (int i = 0; i < 100 && watch.Watching(); ++i)
        std::this_thread::sleep_for(1ms);
    EXPECT_FALSE(watch.Watching());
    watch.Done();
    EXPECT_FALSE(Readable(watch.Fd(), 20));
}

} // namespace
