#include "ReceiveStore.h"

#include "BlockSupply.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

void Feed(TReceiveStore& store, std::vector<uint8_t> bytes) {
    store.Receive(bytes.data(), bytes.size());
}

std::vector<uint8_t> Sequence(size_t n, uint8_t first = 0) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = uint8_t(first + i);
    return out;
}

// The k-th dump line the pane should show for bytes, written out
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
    TReceiveStore store;
    Feed(store, Sequence(16, 0xF8)); // 0xF8..0x07 crosses 0xFF and 0x00
    ASSERT_EQ(store.LineCount(), 1);
    EXPECT_EQ(store.Line(0), Expected(Sequence(16, 0xF8), 0));
    Feed(store, {0xFF});
    ASSERT_EQ(store.LineCount(), 2);
    EXPECT_EQ(store.Line(0), Expected(Sequence(16, 0xF8), 0));
    EXPECT_EQ(store.Line(1), "  00000010:  FF" + std::string(48, ' ') + "." + std::string(15, ' '));
}

TEST(ReceStoreReceive, EmptyBlockChangesNothing) {
    TReceiveStore store;
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
    TReceiveStore store;
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
    TReceiveStore store;
    Feed(store, Sequence(21));
    store.Clear();
    EXPECT_EQ(store.LineCount(), 0);
    EXPECT_EQ(store.ReceLine().Count, 0);
    Feed(store, {0xFF});
    ASSERT_EQ(store.LineCount(), 1);
    EXPECT_EQ(store.Line(0), Expected({0xFF}, 0));
}

// What the store held before a file was opened, the file's lines and how
// they came: received bytes afterwards must begin on a line of their own
// below every opened line, counting from offset 0.
struct TOpenCase {
    const char* Name;
    size_t BytesBefore; // received before the open
    std::vector<std::string> Opened;
    const char* AsText; // non-null: opened through LoadText from this text
};

void PrintTo(const TOpenCase& c, std::ostream* os) {
    *os << c.Name;
}

class ReceStoreOpen : public ::testing::TestWithParam<TOpenCase> {};

TEST_P(ReceStoreOpen, NextBytesStartBelowEveryOpenedLineAtOffsetZero) {
    const TOpenCase& c = GetParam();
    TReceiveStore store;
    Feed(store, Sequence(c.BytesBefore, 0x80));
    if (c.AsText)
        store.LoadText(c.AsText);
    else
        store.Load(c.Opened);
    const int64_t opened = int64_t(c.Opened.size());
    ASSERT_EQ(store.LineCount(), opened);

    // One byte alone first (the case that used to land on the last line),
    // then a block that fills the line and begins the next.
    Feed(store, {0xF8});
    Feed(store, Sequence(19, 0xF9)); // 0xF9..0x0B crosses 0xFF and 0x00
    ASSERT_EQ(store.LineCount(), opened + 2);
    for (int64_t k = 0; k < opened; ++k) {
        EXPECT_EQ(store.Line(k), c.Opened[size_t(k)]) << k;
        EXPECT_FALSE(store.IsDumpLine(k)) << k;
    }
    EXPECT_EQ(store.Line(opened), Expected(Sequence(16, 0xF8), 0));
    EXPECT_EQ(store.Line(opened + 1), Expected(Sequence(4, 0x08), 1));
    EXPECT_TRUE(store.IsDumpLine(opened));
    EXPECT_EQ(store.ReceLine().Count, 4);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReceStoreOpen,
    ::testing::Values(TOpenCase{"NothingReceived", 0, {"first", "second", "third"}, nullptr},
                      TOpenCase{"HalfLineReceived", 5, {"first", "second", "third"}, nullptr},
                      TOpenCase{"FullLinesReceived", 32, {"only"}, nullptr},
                      TOpenCase{"EmptyFile", 3, {}, nullptr},
                      TOpenCase{"DumpLinesOfAnEarlierSession",
                                21,
                                {"  00000000:  41 42", "  00000010:  43"},
                                nullptr},
                      TOpenCase{"TextHalfLineReceived", 21, {"a", "", "b"}, "a\r\n\r\nb\r\n"},
                      TOpenCase{"TextWithoutFinalBreak", 16, {"x"}, "x"}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ReceStoreLoad, DropsEarlierDumpLines) {
    TReceiveStore store;
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
    TReceiveStore store;
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
    TReceiveStore store;
    store.Load({"a\nb", "", "c\r\n"});
    EXPECT_EQ(store.LineCount(), 5);
    EXPECT_EQ(store.AllText(), "a\nb\n\nc\n");
}

TEST(ReceStoreLines, OutOfRangeAndJoinedText) {
    TReceiveStore store;
    store.Load({"x", "y"});
    Feed(store, Sequence(16, 0x40));
    Feed(store, {0xFF});
    EXPECT_EQ(store.Line(-1), "");
    EXPECT_EQ(store.Line(4), "");
    EXPECT_EQ(store.Text(0, 1), "x");
    EXPECT_EQ(store.Text(2, 1), "");
    EXPECT_EQ(store.Text(-5, 99), store.AllText());
    EXPECT_EQ(store.AllText(),
              "x\ny\n" + Expected(Sequence(16, 0x40), 0) + "\n" + Expected({0xFF}, 1));
    EXPECT_EQ(store.MaxLineBytes(), 79u);
}

TEST(ReceStoreMemory, AboutOneBytePerReceivedByte) {
    TReceiveStore store;
    const std::vector<uint8_t> block = Sequence(4096);
    for (int i = 0; i < 1024; ++i) // 4 MiB
        store.Receive(block.data(), block.size());
    const double perByte = double(store.MemoryUsed()) / (4096.0 * 1024);
    EXPECT_GE(perByte, 1.0);
    EXPECT_LT(perByte, 1.1);
    store.Clear();
    EXPECT_LT(store.MemoryUsed(), 1024u);
}

// An opened file's lines are kept in the supply's blocks (huge pages where the system has them),
// filled to within a sixteenth, and given back on Clear.
TEST(ReceStoreMemory, OpenedTextFillsTheSupplysBlocks) {
    blocksupply::Settle();
    const size_t before = blocksupply::Mapped();
    TReceiveStore store;
    const std::string line(99, 'a');
    constexpr size_t lines = 40000; // 4 MB
    for (size_t k = 0; k < lines; ++k)
        store.AddLoadedLine(line);
    store.EndLoad();
    const size_t bytes = lines * line.size();
    EXPECT_GE(blocksupply::Mapped(), before + bytes / blocksupply::BlockBytes);
    EXPECT_LT(double(store.MemoryUsed()), 1.1 * double(bytes));
    EXPECT_EQ(store.Line(lines - 1), line);
    store.Clear();
    blocksupply::Settle();
    EXPECT_EQ(blocksupply::Mapped(), before);
}

// Clear and Adopt hand the old blocks to the discarding thread: none may be kept, and none that
// a snapshot (a save under way) still reads may go.
TEST(ReceStoreMemory, ClearAndAdoptGiveEveryBlockBack) {
    blocksupply::Settle(); // what tests before this one let go of
    const size_t before = blocksupply::Mapped();
    const std::vector<uint8_t> bytes = Sequence(4 * blocksupply::BlockBytes);
    {
        TReceiveStore store, opened;
        Feed(store, bytes);
        Feed(opened, bytes);
        EXPECT_GE(blocksupply::Mapped(), before + 8);
        const std::shared_ptr<const TReceiveStore> shot = store.Snapshot();
        const int64_t k = shot->LineCount() - 2;
        const std::string line = shot->Line(k);
        store.Adopt(std::move(opened));
        store.Clear();
        blocksupply::Settle();
        EXPECT_EQ(store.LineCount(), 0);
        EXPECT_EQ(shot->Line(k), line);
        EXPECT_EQ(shot->Line(0), Expected(Sequence(16), 0));
    }
    blocksupply::Settle();
    EXPECT_EQ(blocksupply::Mapped(), before);
}

} // namespace
