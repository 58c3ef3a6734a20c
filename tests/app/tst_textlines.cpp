// The text view of the receive store: received bytes in any blocks read as the
// renderer's lines with each block's time; opened lines stay as they are;
// lines of either view map to the line of the other that shows the same
// bytes; the memory limit drops bytes from both views; a snapshot reads as
// it was. Then the pane: switching, copying and dropping in the text view.

#include "CodePage.h"
#include "ReceivePane.h"
#include "TextLines.h"
#include "TextRender.h"

#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct TBlock {
    std::string Bytes;
    int64_t Ms;
};

Lines Rendered(const std::vector<TBlock>& blocks, bool stamps) {
    TTextRender r(CodePagePairUtf8);
    r.Stamps = stamps;
    Lines out;
    const auto take = [&](const std::string& l) { out.push_back(l); };
    for (const TBlock& b : blocks)
        r.Feed(reinterpret_cast<const uint8_t*>(b.Bytes.data()), b.Bytes.size(), b.Ms, take);
    r.Finish(take);
    return out;
}

void Receive(TReceiveStore& store, const std::string& bytes, int64_t ms = 0) {
    store.Receive(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ms);
}

Lines Shown(const TTextLines& lines, int64_t first = 0) {
    Lines out;
    std::string scratch;
    for (int64_t k = first; k < lines.LineCount(); ++k)
        out.emplace_back(lines.LineView(k, scratch));
    return out;
}

TEST(TextLines, ReceivedBlocksReadAsTheRenderersLinesWithTheirBlocksTimes) {
    // Breaks of each kind with CR LF split between blocks, a pair split between
    // blocks, 0x00, 0xFF and a backslash, empty blocks, lines past 16 bytes.
    const std::vector<TBlock> blocks = {
        {"AT+CSQ\r", 1000},
        {"\n+CSQ: 21,99\r\n\r\nOK\x1B\xC4", 1001},
        {"", 1002},
        {std::string("\xE3 \x00\xFF\\\n", 6), 1003},
        {std::string(40, 'z') + "\n\npartial", 1004},
    };
    for (bool stamps : {false, true}) {
        TReceiveStore store;
        TTextLines lines(store, CodePagePairUtf8);
        lines.Stamps = stamps;
        for (const TBlock& b : blocks)
            Receive(store, b.Bytes, b.Ms);
        const Lines want = Rendered(blocks, stamps);
        EXPECT_EQ(Shown(lines), want);
        if (!stamps) {
            EXPECT_EQ(want[3], "OK\\x1B你 \\x00\\xFF\\\\");
            EXPECT_EQ(lines.MaxLineCells(), 40u);
        } else {
            EXPECT_EQ(want[1], TTextRender::StampText(1001) + "+CSQ: 21,99");
            EXPECT_EQ(lines.MaxLineCells(), 40u + TTextLines::StampCells);
        }
        for (int64_t k = 0; k < lines.LineCount(); ++k) {
            std::string scratch;
            EXPECT_GE(lines.LineBytes(k), lines.LineView(k, scratch).size()) << k;
        }
    }

    // The same bytes in random blocks of 1..40, against the whole.
    std::mt19937 random(7);
    std::string all;
    for (const TBlock& b : blocks)
        all += b.Bytes;
    for (int round = 0; round < 50; ++round) {
        TReceiveStore store;
        TTextLines lines(store, CodePagePairUtf8);
        for (size_t at = 0; at < all.size();) {
            const size_t n = std::min<size_t>(1 + random() % 40, all.size() - at);
            Receive(store, all.substr(at, n));
            at += n;
        }
        EXPECT_EQ(Shown(lines), Rendered({{all, 0}}, false)) << round;
    }
}

TEST(TextLines, OpenedLinesStayAsTheyAreAndTheViewsMapToTheSameBytes) {
    TReceiveStore store;
    // An opened file: a text line and one of our dump lines.
    TReceiveStore probe;
    Receive(probe, "0123456789ABCDEF");
    store.Load({"opened 文本", probe.Line(0)});
    TTextLines lines(store, CodePagePairUtf8);
    std::string text;
    for (int i = 0; i < 100; ++i)
        text += "line " + std::to_string(1000 + i) + "\n"; // 10 bytes a line
    Receive(store, text, 5);
    ASSERT_EQ(lines.LineCount(), 102);
    std::string scratch;
    EXPECT_EQ(lines.LineView(0, scratch), "opened 文本");
    EXPECT_EQ(lines.LineView(1, scratch), probe.Line(0)); // a dump line keeps its dump text
    EXPECT_EQ(lines.LineView(2, scratch), "line 1000");
    EXPECT_EQ(lines.LineView(101, scratch), "line 1099");
    EXPECT_EQ(lines.MaxLineCells(), store.MaxLineBytes()); // the dump line is the widest

    for (int64_t k = 0; k < 2; ++k) {
        EXPECT_EQ(lines.FromHexLine(k), k);
        EXPECT_EQ(lines.ToHexLine(k), k);
    }
    // Hex line 2 + h begins at run byte 16h; text line 2 + t at 10t.
    for (int64_t h = 0; h < store.LineCount() - 2; ++h)
        EXPECT_EQ(lines.FromHexLine(2 + h), 2 + (16 * h) / 10) << h;
    for (int64_t t = 0; t < 100; ++t)
        EXPECT_EQ(lines.ToHexLine(2 + t), 2 + (10 * t) / 16) << t;
    EXPECT_EQ(lines.FromHexLine(1000), 101); // clamped
}

TEST(TextLines, TheMemoryLimitDropsTheOldestBytesFromTheTextViewToo) {
    TReceiveStore store;
    store.SetMemoryLimit(size_t(1) << 20);
    TTextLines lines(store, CodePagePairUtf8);
    std::vector<TBlock> blocks;
    std::string all;
    for (int i = 0; i < 200000; ++i) { // 20 bytes a line, 4 MB in all
        char line[32];
        std::snprintf(line, sizeof line, "%06d ABCDEFGHIJK\r\n", i);
        all += line;
    }
    for (size_t at = 0; at < all.size(); at += 3000)
        blocks.push_back({all.substr(at, 3000), int64_t(at)});
    int64_t shifted = 0;
    for (const TBlock& b : blocks) {
        Receive(store, b.Bytes, b.Ms);
        EXPECT_GE(lines.LinesShifted(), shifted);
        shifted = lines.LinesShifted();
    }
    EXPECT_LE(store.MemoryUsed(), size_t(1) << 20);
    ASSERT_GT(store.DroppedLines(), 0);
    const Lines want = Rendered(blocks, false);
    const Lines shown = Shown(lines, 1);
    ASSERT_FALSE(shown.empty());
    // The first line held may have lost its head; every other is whole.
    const int64_t first = lines.DroppedLines();
    EXPECT_EQ(int64_t(shown.size()) + first, int64_t(want.size()));
    EXPECT_TRUE(want[size_t(first)].ends_with(shown[0]));
    EXPECT_TRUE(std::equal(shown.begin() + 1, shown.end(), want.begin() + first + 1));
    std::string scratch;
    EXPECT_EQ(lines.LineView(0, scratch), TReceiveStore::DroppedMark(first));
    EXPECT_EQ(lines.LinesShifted(), first - 1);
    // Text line 1 and hex line 1 show the oldest bytes held.
    EXPECT_EQ(lines.FromHexLine(1), 1);
    EXPECT_EQ(lines.ToHexLine(1), 1);

    // A snapshot reads as it was while the store goes on and drops more.
    const auto shot = store.Snapshot();
    TTextLines shotLines(*shot, CodePagePairUtf8);
    const Lines before = Shown(shotLines);
    for (int i = 0; i < 5; ++i)
        Receive(store, all.substr(0, 400000), 9);
    EXPECT_EQ(Shown(shotLines), before);
    EXPECT_NE(Shown(lines), before);
}

// ---- the pane ----

class TextPane : public ::testing::Test {
protected:
    void SetUp() override {
        Pane.resize(500, 300);
        Pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Pane));
    }
    TReceivePane Pane;
};

TEST_F(TextPane, SwitchingKeepsTheBytesAtTheTopAndCopyTakesTheTextAsShown) {
    std::string text;
    for (int i = 0; i < 2000; ++i)
        text += "line " + std::to_string(1000 + i) + "\n";
    Receive(Pane.Store(), text);
    Pane.ScrollToEnd();
    const int64_t hexLines = Pane.LineTotal();
    Pane.verticalScrollBar()->setValue(625); // hex line 625 begins at byte 10000: text line 1000
    Pane.SetTextView(true);
    EXPECT_EQ(Pane.LineTotal(), 2000);
    EXPECT_EQ(Pane.TopLine(), 1000);
    EXPECT_EQ(Pane.LineString(Pane.TopLine()), "line 2000");
    Pane.verticalScrollBar()->setValue(1001); // begins at byte 10010, in hex line 625
    Pane.SetTextView(false);
    EXPECT_EQ(Pane.LineTotal(), hexLines);
    EXPECT_EQ(Pane.TopLine(), 625);

    // At the end, a switch stays at the end.
    Pane.ScrollToEnd();
    Pane.SetTextView(true);
    EXPECT_TRUE(Pane.ShowsEnd());
    EXPECT_EQ(Pane.LineString(Pane.LineTotal() - 1), "line 2999");

    Pane.Select({1998, 2}, {1999, 4});
    EXPECT_EQ(Pane.SelectedText(), "ne 2998\nline");
    Pane.SetTextStamps(true);
    EXPECT_EQ(Pane.LineString(0).toStdString(), TTextRender::StampText(0) + "line 1000");
}

TEST_F(TextPane, DroppedLinesMoveTheTextViewWithTheLinesThatStay) {
    Pane.Store().SetMemoryLimit(size_t(1) << 20);
    Pane.SetTextView(true);
    Pane.ScrollLock = true;
    std::string block(8000, ' ');
    QString top;
    int checkedAfterDrop = 0;
    // Blocks of 1000 numbered lines; the oldest 256 KiB go once past 1 MiB.
    for (int round = 0; round < 200; ++round) {
        for (int i = 0; i < 1000; ++i)
            std::snprintf(block.data() + 8 * i, 9, "%07d\n", round * 1000 + i);
        const bool atEnd = Pane.ShowsEnd();
        Receive(Pane.Store(), block);
        Pane.FollowNewData(atEnd);
        if (round == 50) {
            Pane.verticalScrollBar()->setValue(40000); // in the second 256 KiB
            top = Pane.LineString(Pane.TopLine());
            ASSERT_EQ(top, "0040000");
        } else if (round > 50) {
            if (Pane.TopLine() == 0)
                break; // the line in view went itself: the view holds at the top
            EXPECT_EQ(Pane.LineString(Pane.TopLine()), top) << round;
            checkedAfterDrop += Pane.Store().DroppedLines() > 0;
        }
    }
    EXPECT_GT(checkedAfterDrop, 0);
    EXPECT_TRUE(Pane.LineString(0).contains("已丢弃"));
    EXPECT_TRUE(Pane.NewDataBelow());
}

} // namespace
