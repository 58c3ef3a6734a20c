// A file handed to the send queue a piece at a time: every byte once and in
// order through a queue that is often full, a stop that takes effect at once,
// and the failures a user meets (no such file, a directory, a port that closes).

#include "Eventually.h"
#include "FileFeeder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using TTaken = TFileFeeder::TTaken;

class FileFeed : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/kestrel-feed-XXXXXX";
        const int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        Path = name;
    }
    void TearDown() override { std::remove(Path.c_str()); }
    void Write(const std::vector<uint8_t>& bytes) {
        std::ofstream(Path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    static bool WaitEnd(const TFileFeeder& f) {
        for (int i = 0; i < 2000 && f.State().Running; ++i)
            std::this_thread::sleep_for(5ms);
        return !f.State().Running;
    }
    std::string Path;
};

TEST_F(FileFeed, EveryByteGoesOnceInOrderThroughAQueueThatIsOftenFull) {
    std::vector<uint8_t> file(3 * TFileFeeder::PieceBytes + 12345);
    for (size_t i = 0; i < file.size(); ++i)
        file[i] = uint8_t(i * 131 + (i >> 9));
    Write(file);
    std::vector<uint8_t> queue;
    std::mutex m;
    int offers = 0;
    TFileFeeder feeder(Path, [&](const uint8_t* b, uint32_t n) {
        std::lock_guard lock(m);
        if (++offers % 3 != 0)
            return TTaken::Full;
        queue.insert(queue.end(), b, b + n);
        return TTaken::Yes;
    });
    ASSERT_TRUE(feeder.Start());
    ASSERT_TRUE(WaitEnd(feeder));
    const auto st = feeder.State();
    EXPECT_FALSE(st.Failed);
    EXPECT_FALSE(st.Cancelled);
    EXPECT_EQ(st.Size, file.size());
    EXPECT_EQ(st.Handed, file.size());
    std::lock_guard lock(m);
    EXPECT_TRUE(queue == file);
}

TEST_F(FileFeed, AnEmptyFileEndsAtOnceAndAStopEndsAFullQueuesWaitAtOnce) {
    {
        TFileFeeder empty(Path, [](const uint8_t*, uint32_t) { return TTaken::Yes; });
        ASSERT_TRUE(empty.Start());
        ASSERT_TRUE(WaitEnd(empty));
        EXPECT_EQ(empty.State().Handed, 0u);
        EXPECT_FALSE(empty.State().Failed);
    }
    Write(std::vector<uint8_t>(TFileFeeder::PieceBytes * 2, 0x5A));
    std::atomic<int> offers{0};
    TFileFeeder stuck(Path, [&offers](const uint8_t*, uint32_t) {
        ++offers;
        return TTaken::Full;
    });
    ASSERT_TRUE(stuck.Start());
    // Offered again after a refusal: the feeder is waiting on the full queue.
    ASSERT_TRUE(Eventually([&] { return offers >= 2; }));
    stuck.Cancel(); // returns once the thread has ended
    EXPECT_TRUE(stuck.State().Cancelled);
    EXPECT_FALSE(stuck.State().Running);
    EXPECT_EQ(stuck.State().Handed, 0u);
}

TEST_F(FileFeed, MissingFilesDirectoriesAndAClosedPortFailWithAReason) {
    TFileFeeder missing("/nonexistent/kestrel/file", [](const uint8_t*, uint32_t) { return TTaken::Yes; });
    EXPECT_FALSE(missing.Start());
    EXPECT_TRUE(missing.State().Failed);
    EXPECT_FALSE(missing.State().Error.empty());

    TFileFeeder dir("/tmp", [](const uint8_t*, uint32_t) { return TTaken::Yes; });
    EXPECT_FALSE(dir.Start());
    EXPECT_TRUE(dir.State().Failed);

    Write(std::vector<uint8_t>(TFileFeeder::PieceBytes * 3, 1));
    int calls = 0;
    TFileFeeder closed(Path, [&](const uint8_t*, uint32_t) {
        return ++calls == 1 ? TTaken::Yes : TTaken::Refused;
    });
    ASSERT_TRUE(closed.Start());
    ASSERT_TRUE(WaitEnd(closed));
    EXPECT_TRUE(closed.State().Failed);
    EXPECT_EQ(closed.State().Handed, TFileFeeder::PieceBytes);
    EXPECT_EQ(closed.State().Error, TFileFeeder::PortClosedError); // worded by the window
}

} // namespace
