// The live log: a flood pushed from another thread is in the file whole and
// in order, raw or as text lines; what was pushed is on the disk without a
// Stop (a killed program loses nothing); a file that cannot be opened says why.

#include "LiveLog.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Waits for done() as the file is written to (inotify), 10 s at most; false when it never came.
template <class F> bool WaitForWrites(const std::string& path, F done) {
    const int fd = inotify_init1(IN_CLOEXEC);
    if (fd < 0 || inotify_add_watch(fd, path.c_str(), IN_MODIFY) < 0)
        return false;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    bool ok;
    while (!(ok = done()) && std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0) {
            char events[4096];
            [[maybe_unused]] const ssize_t n = ::read(fd, events, sizeof events);
        }
    }
    ::close(fd);
    return ok;
}

class LiveLog : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/kestrel-log-XXXXXX";
        const int fd = ::mkstemp(name);
        ASSERT_GE(fd, 0);
        ::close(fd);
        Path = name;
    }
    void TearDown() override { std::remove(Path.c_str()); }
    std::string Path;
};

TEST_F(LiveLog, AFloodFromAnotherThreadIsInTheFileWholeAndInOrder) {
    std::string sent;
    for (int i = 0; i < (8 << 20); ++i)
        sent += char(i * 131 + (i >> 11));
    TLiveLog log;
    ASSERT_TRUE(log.Start(Path, TLiveLog::TMode::Raw));
    std::thread worker([&] {
        for (size_t at = 0; at < sent.size();) {
            const size_t n = std::min<size_t>(1 + at % 4093, sent.size() - at);
            log.Push(reinterpret_cast<const uint8_t*>(sent.data() + at), n);
            at += n;
        }
    });
    worker.join();
    log.Stop();
    EXPECT_EQ(log.FileBytes(), sent.size());
    EXPECT_TRUE(ReadFile(Path) == sent);
    log.Push(reinterpret_cast<const uint8_t*>("late"), 4); // after Stop: not written
    EXPECT_EQ(ReadFile(Path).size(), sent.size());
}

TEST_F(LiveLog, TextLinesGoOutAsTheyComeAndTheLastOneAtStop) {
    TLiveLog log;
    ASSERT_TRUE(log.Start(Path, TLiveLog::TMode::Text));
    auto push = [&](const char* s) { log.Push(reinterpret_cast<const uint8_t*>(s), strlen(s)); };
    push("AT\r");
    push("\nOK\r\nhalf");
    // The line being filled is on the disk before its break arrives.
    for (int i = 0; i < 200 && ReadFile(Path) != "AT\nOK\nhalf"; ++i)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(ReadFile(Path), "AT\nOK\nhalf");
    push(" line\x1B");
    log.Stop();
    EXPECT_EQ(ReadFile(Path), "AT\nOK\nhalf line\\x1B\n");
}

// After a flood the writer takes blocks in batches; a line that comes alone later still reaches
// the disk without a Stop.
TEST_F(LiveLog, ALineAfterAFloodReachesTheDiskWithoutAStop) {
    TLiveLog log;
    ASSERT_TRUE(log.Start(Path, TLiveLog::TMode::Text));
    std::string flood;
    while (flood.size() < (size_t(4) << 20))
        flood += "0123456789012345678901234567890123456\r\n";
    for (size_t at = 0; at < flood.size(); at += 4096)
        log.Push(reinterpret_cast<const uint8_t*>(flood.data() + at),
                 std::min<size_t>(4096, flood.size() - at));
    const uint64_t floodText = flood.size() / 39 * 38;
    ASSERT_TRUE(WaitForWrites(Path, [&] { return log.FileBytes() >= floodText; }));
    ASSERT_EQ(log.FileBytes(), floodText);
    log.Push(reinterpret_cast<const uint8_t*>("OK\r\n"), 4);
    EXPECT_TRUE(WaitForWrites(Path, [&] { return log.FileBytes() >= floodText + 3; }));
    EXPECT_EQ(log.FileBytes(), floodText + 3);
    log.Stop();
}

// Written by a child that is then killed without any chance to stop the log.
TEST_F(LiveLog, WhatWasPushedSurvivesAKill) {
    const pid_t child = fork();
    if (child == 0) {
        TLiveLog log;
        if (!log.Start(Path, TLiveLog::TMode::Raw))
            _exit(1);
        log.Push(reinterpret_cast<const uint8_t*>("0123456789"), 10);
        while (log.FileBytes() < 10)
            std::this_thread::sleep_for(1ms);
        for (;;)
            pause();
    }
    ASSERT_GT(child, 0);
    for (int i = 0; i < 400 && ReadFile(Path).size() < 10; ++i)
        std::this_thread::sleep_for(5ms);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(ReadFile(Path), "0123456789");
}

TEST(LiveLogOpen, AFileThatCannotBeOpenedSaysWhy) {
    TLiveLog log;
    EXPECT_FALSE(log.Start("/nonexistent/dir/log.bin", TLiveLog::TMode::Raw));
    EXPECT_FALSE(log.Running());
    EXPECT_FALSE(log.Error().empty());
    log.Push(reinterpret_cast<const uint8_t*>("x"), 1); // harmless
    log.Stop();
}

} // namespace
