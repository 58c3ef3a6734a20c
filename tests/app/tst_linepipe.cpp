#include "LinePipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// Keeps what reaches it; Restart empties it, as the pane's store does.
struct TKeep : TRtfLineSink {
    std::vector<std::string> Lines;
    int Restarts = 0;
    std::atomic<bool> Slow{false};
    void Line(std::string_view utf8) override {
        if (Slow)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        Lines.emplace_back(utf8);
    }
    void Restart() override {
        Lines.clear();
        ++Restarts;
    }
};

TEST(LinePipe, DeliversEveryLineInOrderAcrossBatchesAndStartsOverWhereTheReaderDid) {
    TKeep keep;
    std::vector<std::string> expected;
    {
        TLinePipe pipe(keep);
        // Lines before the restart are void; empty and long lines cross
        // batch boundaries intact.
        for (int i = 0; i < 1000; ++i)
            pipe.Line("void " + std::to_string(i));
        pipe.Restart();
        for (int i = 0; i < 200000; ++i) {
            std::string line = i % 7 == 0 ? std::string() : std::to_string(i);
            if (i % 50000 == 1)
                line.assign(TLinePipe::BatchBytes + 3, char('a' + i % 26));
            pipe.Line(line);
            expected.push_back(std::move(line));
        }
        pipe.Finish();
        // Everything is there as Finish returns, before the pipe goes.
        EXPECT_EQ(keep.Lines.size(), expected.size());
    }
    EXPECT_EQ(keep.Restarts, 1);
    ASSERT_EQ(keep.Lines.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ASSERT_EQ(keep.Lines[i], expected[i]) << i;
}

TEST(LinePipe, AbandonDropsWhatIsQueuedInsteadOfDeliveringIt) {
    // A cancelled open: the store is being built slowly and the reader
    // stops; the lines still queued are not worth building.
    TKeep keep;
    keep.Slow = true;
    TLinePipe pipe(keep);
    const std::string line(1024, 'x');
    const size_t total = 6 * (TLinePipe::BatchBytes / line.size());
    for (size_t i = 0; i < total; ++i)
        pipe.Line(line);
    pipe.Abandon();
    EXPECT_LT(keep.Lines.size(), total);
}

} // namespace
