#include "Device.h"
#include "ReplyRules.h"
#include "Threadcomm.h"

#include <gtest/gtest.h>

#include <mutex>

namespace {

TPortMap MapTo(const std::string& path) {
    TPortMap map;
    map.Targets[0] = path;
    return map;
}

// The worker on the device's port with the replier fed from it and sending through it.
struct TReplyBench {
    explicit TReplyBench(TPtyDevice& device)
        : Replier([this](const uint8_t* b, uint32_t n) {
              if (Comm.Send(b, n))
                  return TSendResult::Sent;
              return Comm.IsOpen() ? TSendResult::Full : TSendResult::Closed;
          }) {
        Comm.OnReceive = [this](const uint8_t* b, uint32_t n) { Replier.Received(b, n); };
        Comm.SetPortMap(MapTo(device.Pty.Path));
        Comm.RequestPort(1);
        Comm.Resume();
    }
    ~TReplyBench() {
        Comm.Terminate();
        Comm.WaitFor();
    }
    TWThreadComm Comm{true};
    TAutoReplier Replier;
};

} // namespace

// A flood of frames, each split across reads at a different point, with a rule that does not
// compile beside the sound one: every frame is answered once, in order, and the bad rule never
// fires.
TEST(AutoReply, AnswersEveryFrameOfAFloodInOrderAndABadRuleNever) {
    std::mutex lock;
    std::string answers; // what the device got back
    TPtyDevice device([&](std::string& received) {
        std::lock_guard g(lock);
        answers += received;
        received.clear();
        return std::vector<std::string>{};
    });
    TReplyBench bench(device);
    ASSERT_TRUE(WaitFor([&] { return bench.Comm.IsOpen(); }));
    // Two rules with their own answers, so that the answers tell the order of the frames.
    TReplyRule one;
    one.Kind = TPatternKind::Hex;
    one.Pattern = "7E 01 ?? 0D";
    one.Reply = "A";
    TReplyRule two = one;
    two.Pattern = "7e 02 ?? 0d";
    two.Reply = "42";
    two.ReplyHex = true;
    TReplyRule bad;
    bad.Kind = TPatternKind::Regex;
    bad.Pattern = "\\x7E(";
    bad.Reply = "never";
    EXPECT_FALSE(RuleError(bad).empty());
    EXPECT_TRUE(RuleError(two).empty());
    bench.Replier.SetRules({one, bad, two});
    constexpr int Frames = 3000;
    std::string stream, want;
    for (int i = 0; i < Frames; ++i) {
        const bool second = i % 3 == 1 || i % 7 == 0;
        stream += std::string("\x7E") + (second ? '\x02' : '\x01') + char(i % 256) + "\r";
        want += second ? 'B' : 'A';
    }
    // Written in pieces of 7: frames of 4 cut at every point.
    for (size_t i = 0; i < stream.size(); i += 7)
        device.Pty.Write(std::vector<uint8_t>(stream.begin() + long(i),
                                              stream.begin() + long(std::min(stream.size(), i + 7))));
    ASSERT_TRUE(WaitFor([&] {
        std::lock_guard g(lock);
        return answers.size() >= want.size();
    }, 20000));
    std::lock_guard g(lock);
    EXPECT_EQ(answers, want);
    EXPECT_EQ(bench.Replier.Fired(0) + bench.Replier.Fired(2), uint64_t(Frames));
    EXPECT_EQ(bench.Replier.Fired(1), 0u);
}
