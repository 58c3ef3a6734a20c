// Received bytes as text lines: breaks of every kind, however the blocks are
// cut, code page pairs split between blocks, escapes, and the stamps of
// lines whose first byte came in an earlier block than their last.

#include "TextRender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// Two characters of code page 936 are enough to see pairs handled.
std::string Decode(uint8_t lead, uint8_t trail) {
    if (lead == 0xC4 && trail == 0xE3)
        return "你";
    if (lead == 0xBA && trail == 0xC3)
        return "好";
    return {};
}

struct TFeed {
    TTextRender Render{Decode};
    Lines Out;
    void operator()(const std::string& bytes, int64_t ms = 0) {
        Render.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), ms,
                    [&](const std::string& line) { Out.push_back(line); });
    }
};

TEST(TextRender, EveryKindOfBreakEndsOneLineHoweverTheBlocksAreCut) {
    const std::string stream = "one\r\ntwo\nthree\rfour\r\n\r\nsix\n\nend";
    const Lines want{"one", "two", "three", "four", "", "six", ""};
    // Whole, byte by byte, and cut at every place in two.
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TFeed f;
        f(stream.substr(0, cut));
        f(stream.substr(cut));
        EXPECT_EQ(f.Out, want) << cut;
        EXPECT_EQ(f.Render.Partial(), "end") << cut;
    }
    TFeed bytes;
    for (char c : stream)
        bytes(std::string(1, c));
    EXPECT_EQ(bytes.Out, want);
    bytes.Render.Finish([&](const std::string& l) { bytes.Out.push_back(l); });
    EXPECT_EQ(bytes.Out.back(), "end");
}

TEST(TextRender, PairsDecodeAcrossBlocksAndEverythingElseIsEscapedVisibly) {
    TFeed f;
    f("\xC4");
    f("\xE3\xBA\xC3!\x1B[0m\t\\x41\x7F\x80\xFF");
    f("\xC4\r"); // a lead byte before a break stands alone
    f("\xC4\x41\n"); // and before a byte that cannot trail it
    EXPECT_EQ(f.Out, (Lines{"你好!\\x1B[0m\\x09\\\\x41\\x7F\\x80\\xFF\\xC4", "\\xC4A"}));
    // A pair the table does not hold: both bytes are shown.
    f("\xA1\x40\n");
    EXPECT_EQ(f.Out.back(), "\\xA1@");
    // Without a decoder every high byte is an escape.
    TTextRender bare;
    Lines out;
    bare.Feed(reinterpret_cast<const uint8_t*>("\xC4\xE3\n"), 3, 0,
              [&](const std::string& l) { out.push_back(l); });
    EXPECT_EQ(out, (Lines{"\\xC4\\xE3"}));
}

TEST(TextRender, AStampIsTheTimeOfTheLinesFirstByte) {
    TFeed f;
    f.Render.Stamps = true;
    const int64_t t1 = 1'700'000'000'123, t2 = t1 + 2'500;
    f("ab", t1);
    f("c\r", t2);
    f("\nd\n", t2 + 7); // the LF of the CR LF makes no line of its own
    ASSERT_EQ(f.Out.size(), 2u);
    EXPECT_EQ(f.Out[0], TTextRender::StampText(t1) + "abc");
    EXPECT_EQ(f.Out[1], TTextRender::StampText(t2 + 7) + "d");
    EXPECT_EQ(TTextRender::StampText(t1).size(), 13u);
    EXPECT_EQ(TTextRender::StampText(t1).substr(8), ".123 ");
    f.Render.Reset();
    EXPECT_FALSE(f.Render.HasPartial());
}

} // namespace
