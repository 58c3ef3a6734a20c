#include "Recestore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

void Feed(TReceStore& store, std::vector<uint8_t> bytes) {
    store.Receive(bytes.data(), bytes.size());
}

std::vector<uint8_t> Sequence(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = uint8_t(first + i);
    return out;
}

// The line the pane should show for bytes at line position k, written out
// independently of the formatter under test.
std::string Expected(const std::vector<uint8_t>& bytes, uint64_t k) {
    char offset[16];
    std::snprintf(offset, sizeof offset, "%08X", unsigned(k * 16));
    std::string hex, chars;
    for (uint8_t b : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", b);
        hex += digits;
        chars += (b >= 32 && b < 127) ? char(b) : '.';
    }
    hex.resize(48, ' ');
    chars.resize(16, ' ');
    return "  " + std::string(offset) + ":  " + hex + "  " + chars;
}

TEST(ReceStoreReceive, FillsLinesOfSixteenAndAppendsTheNext) {
    TReceStore store;
    Feed(store, Sequence(16, 0xF8)); // 0xF8..0x07 crosses 0xFF and 0x00
    ASSERT_EQ(store.LineCount(), 1);
    EXPECT_EQ(store.Line(0), Expected(Sequence(16, 0xF8), 0));
    Feed(store, {0xFF});
    ASSERT_EQ(store.LineCount(), 2);
    EXPECT_EQ(store.Line(0), Expected(Sequence(16, 0xF8), 0));
    EXPECT_EQ(store.Line(1), "  00000010:  FF" + std::string(48, ' ') + "." + std::string(15, ' '));
}

TEST(ReceStoreReceive, EmptyBlockChangesNothing) {
    TReceStore store;
    store.Receive(nullptr, 0);
    EXPECT_EQ(store.LineCount(), 0);
    Feed(store, {0x00, 0x41});
    const uint64_t revision = store.Revision();
    store.Receive(nullptr, 0);
    EXPECT_EQ(store.LineCount(), 1);
    EXPECT_EQ(store.Revision(), revision);
    EXPECT_EQ(store.ReceLine().Count, 2);
}

TEST(ReceStoreReceive, BlockBoundariesDoNotMatterAcrossChunks) {
    // More than one storage chunk of lines, fed in blocks of every size.
    std::mt19937 random(7);
    std::vector<uint8_t> data(16384 * 16 * 2 + 77);
    for (uint8_t& b : data)
        b = uint8_t(random());
    data[0] = 0x00;
    data[1] = 0xFF;
    TReceStore store;
    for (size_t at = 0; at < data.size();) {
        const size_t n = std::min<size_t>(random() % 4097, data.size() - at);
        store.Receive(data.data() + at, n);
        at += n;
    }
    const int64_t lines = int64_t((data.size() + 15) / 16);
    ASSERT_EQ(store.LineCount(), lines);
    for (int64_t k = 0; k < lines; ++k) {
        const size_t begin = size_t(k) * 16;
        const std::vector<uint8_t> bytes(data.begin() + begin,
                                         data.begin() + std::min(begin + 16, data.size()));
        ASSERT_EQ(store.Line(k), Expected(bytes, uint64_t(k))) << k;
    }
    EXPECT_EQ(store.ReceLine().Count, 77 % 16);
    // The line being filled reads right after whole lines were passed through.
    const std::vector<uint8_t> tail(data.end() - 77 % 16, data.end());
    EXPECT_EQ(HexDumpRender(store.ReceLine(), uint64_t(lines - 1), ReceLeading),
              Expected(tail, uint64_t(lines - 1)));
    for (size_t n :
         {size_t(16), size_t(33), size_t(1)}) { // a block ending on a line's end, then more
        std::vector<uint8_t> more(n, uint8_t(0x41 + n));
        store.Receive(more.data(), more.size());
    }
    EXPECT_EQ(store.LineCount(), int64_t((data.size() + 50 + 15) / 16));
}

TEST(ReceStoreClear, NextByteStartsAtOffsetZero) {
    TReceStore store;
    Feed(store, Sequence(21));
    store.Clear();
    EXPECT_EQ(store.LineCount(), 0);
    EXPECT_EQ(store.ReceLine().Count, 0);
    Feed(store, {0xFF});
    ASSERT_EQ(store.LineCount(), 1);
    EXPECT_EQ(store.Line(0), Expected({0xFF}, 0));
}

TEST(ReceStoreLoad, HalfFullLineIsRenderedOverTheLastOpenedLine) {
    TReceStore store;
    Feed(store, {0x00, 0x01, 0x02, 0x03, 0xFF});
    store.Load({"first", "second", "third"});
    EXPECT_EQ(store.LineCount(), 3);
    EXPECT_EQ(store.ReceLine().Count, 5);
    EXPECT_EQ(store.Line(2), "third");

    Feed(store, {0x41});
    ASSERT_EQ(store.LineCount(), 3);
    EXPECT_EQ(store.Line(1), "second");
    EXPECT_EQ(store.Line(2), Expected({0x00, 0x01, 0x02, 0x03, 0xFF, 0x41}, 2));
    EXPECT_FALSE(store.IsDumpLine(1));
    EXPECT_TRUE(store.IsDumpLine(2));

    // The line fills up, stays, and the next lines follow it.
    Feed(store, Sequence(10 + 16 + 1, 0x30));
    ASSERT_EQ(store.LineCount(), 5);
    std::vector<uint8_t> line2 = {0x00, 0x01, 0x02, 0x03, 0xFF, 0x41};
    for (uint8_t b = 0x30; b < 0x3A; ++b)
        line2.push_back(b);
    EXPECT_EQ(store.Line(2), Expected(line2, 2));
    EXPECT_EQ(store.Line(3), Expected(Sequence(16, 0x3A), 3));
    EXPECT_EQ(store.Line(4), Expected({0x4A}, 4));
}

TEST(ReceStoreLoad, FullLineAppendsAfterTheOpenedContent) {
    TReceStore store;
    Feed(store, Sequence(32));
    store.Load({"only"});
    Feed(store, {0x00});
    ASSERT_EQ(store.LineCount(), 2);
    EXPECT_EQ(store.Line(0), "only");
    EXPECT_EQ(store.Line(1), Expected({0x00}, 1));
}

TEST(ReceStoreLoad, EmptyContentThenReceive) {
    TReceStore store;
    Feed(store, Sequence(3));
    store.Load({});
    EXPECT_EQ(store.LineCount(), 0);
    Feed(store, {0xFF}); // ReceLine continues; the empty pane gets its first line
    ASSERT_EQ(store.LineCount(), 1);
    EXPECT_EQ(store.Line(0), Expected({0x00, 0x01, 0x02, 0xFF}, 0));

    Feed(store, Sequence(12));
    store.Load({});
    Feed(store, {0x7E}); // ReceLine was full: the line is appended at k = 0
    ASSERT_EQ(store.LineCount(), 1);
    EXPECT_EQ(store.Line(0), Expected({0x7E}, 0));
}

TEST(ReceStoreLoad, DropsEarlierDumpLines) {
    TReceStore store;
    Feed(store, Sequence(40));
    const uint64_t epoch = store.Epoch();
    store.Load({"a"});
    EXPECT_NE(store.Epoch(), epoch);
    EXPECT_EQ(store.AllText(), "a");
}

struct TCountCase {
    const char* Text;
    std::vector<std::string> Lines;
};

class ReceStoreLineCount : public ::testing::TestWithParam<TCountCase> {};

TEST_P(ReceStoreLineCount, EmptyLineAfterFinalBreakDoesNotCount) {
    TReceStore store;
    store.LoadText(GetParam().Text);
    const std::vector<std::string>& lines = GetParam().Lines;
    ASSERT_EQ(store.LineCount(), int64_t(lines.size()));
    for (size_t k = 0; k < lines.size(); ++k)
        EXPECT_EQ(store.Line(int64_t(k)), lines[k]) << k;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ReceStoreLineCount,
    ::testing::Values(TCountCase{"", {}}, TCountCase{"\n", {""}}, TCountCase{"a", {"a"}},
                      TCountCase{"a\n", {"a"}}, TCountCase{"a\nb", {"a", "b"}},
                      TCountCase{"a\n\n", {"a", ""}}, TCountCase{"a\r\nb\r\n", {"a", "b"}},
                      TCountCase{"a\rb\r\rc", {"a", "b", "", "c"}},
                      TCountCase{"\xe4\xb8\xad\xe6\x96\x87\n", {"\xe4\xb8\xad\xe6\x96\x87"}}));

TEST(ReceStoreLoad, LinesWithBreaksBecomeSeveralLines) {
    TReceStore store;
    store.Load({"a\nb", "", "c\r\n"});
    EXPECT_EQ(store.LineCount(), 5);
    EXPECT_EQ(store.AllText(), "a\nb\n\nc\n");
}

TEST(ReceStoreLines, OutOfRangeAndJoinedText) {
    TReceStore store;
    store.Load({"x", "y"});
    Feed(store, Sequence(16, 0x40));
    Feed(store, {0xFF});
    EXPECT_EQ(store.Line(-1), "");
    EXPECT_EQ(store.Line(3), "");
    EXPECT_EQ(store.Text(0, 1), "x");
    EXPECT_EQ(store.Text(2, 1), "");
    EXPECT_EQ(store.Text(-5, 99), store.AllText());
    EXPECT_EQ(store.AllText(),
              "x\n" + Expected(Sequence(16, 0x40), 1) + "\n" + Expected({0xFF}, 2));
    EXPECT_EQ(store.MaxLineBytes(), 79u);
}

TEST(ReceStoreMemory, AboutOneBytePerReceivedByte) {
    TReceStore store;
    const std::vector<uint8_t> block = Sequence(4096);
    for (int i = 0; i < 1024; ++i) // 4 MiB
        store.Receive(block.data(), block.size());
    const double perByte = double(store.MemoryUsed()) / (4096.0 * 1024);
    EXPECT_GE(perByte, 1.0);
    EXPECT_LT(perByte, 1.1);
    store.Clear();
    EXPECT_LT(store.MemoryUsed(), 1024u);
}

} // namespace
