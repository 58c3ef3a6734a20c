// The receive store as runs of text and dump lines: opened dump lines kept as bytes, snapshots,
// and the memory limit that drops the oldest lines.
#include "ReceiveStore.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

// A receive-pane dump line written out independently of the store's formatter.
std::string DumpLine(uint32_t offset, const std::vector<uint8_t>& bytes) {
    char head[16];
    std::snprintf(head, sizeof head, "%08X", unsigned(offset));
    std::string hex, chars;
    for (uint8_t b : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", b);
        hex += digits;
        chars += (b >= 32 && b < 127) ? char(b) : '.';
    }
    hex.resize(48, ' ');
    chars.resize(16, ' ');
    return "  " + std::string(head) + ":  " + hex + "  " + chars;
}

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = uint8_t(first + i * 37);
    return out;
}

void ExpectSameLines(const TReceiveStore& store, const std::vector<std::string>& lines) {
    ASSERT_EQ(store.LineCount(), int64_t(lines.size()));
    for (size_t k = 0; k < lines.size(); ++k)
        ASSERT_EQ(store.Line(int64_t(k)), lines[k]) << k;
}

struct TLineCase {
    const char* Name;
    std::string Line;
    bool Dump; // kept as bytes
};

void PrintTo(const TLineCase& c, std::ostream* os) {
    *os << c.Name;
}

std::string Edited(std::string line, size_t at, char c) {
    line[at] = c;
    return line;
}

const std::string Full = DumpLine(0x40, {0x00, 0xFF, 0x41, 0x7E, 0x7F, 0x20, 0x0A, 0x80, 0x30,
                                         0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37});
const std::string Short = DumpLine(0x10, {0xFF, 0x00, 0x61});

class ReceStoreDumpLine : public ::testing::TestWithParam<TLineCase> {};

// Whether kept as bytes or as text, a line comes back exactly as it was opened, and bytes
// received afterwards still start at offset 0 below it.
TEST_P(ReceStoreDumpLine, RecognisedOnlyWhenItRendersBackTheSame) {
    const TLineCase& c = GetParam();
    TReceiveStore store;
    store.Load({"text above", c.Line});
    ExpectSameLines(store, {"text above", c.Line});
    EXPECT_EQ(store.IsDumpLine(1), c.Dump);
    const uint8_t b = 0xAB;
    store.Receive(&b, 1);
    EXPECT_EQ(store.Line(2), DumpLine(0, {0xAB}));
    EXPECT_EQ(store.Line(1), c.Line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ReceStoreDumpLine,
    ::testing::Values(
        TLineCase{"FullLine", Full, true}, TLineCase{"ThreeBytes", Short, true},
        TLineCase{"LastOffsetOfTheColumn", DumpLine(0xFFFFFFF0, {0xFF}), true},
        TLineCase{"LowerCaseHexDigit", Edited(Full, 2 + 11 + 3, 'f'), false},
        TLineCase{"LowerCaseOffset", Edited(DumpLine(0xA0, {1}), 2 + 6, 'a'), false},
        TLineCase{"WrongPrintableColumn", Edited(Full, 2 + 11 + 50 + 2, '.'), false},
        TLineCase{"PrintableColumnOfAHiddenByte", Edited(Short, 2 + 11 + 50 + 3, 'x'), false},
        TLineCase{"OffsetNotAMultipleOfSixteen", DumpLine(0x41, {1, 2}), false},
        TLineCase{"NoBytes", DumpLine(0x10, {}), false},
        TLineCase{"TrailingSpaceMissing", Short.substr(0, Short.size() - 1), false},
        TLineCase{"TrailingSpaceAdded", Short + " ", false},
        TLineCase{"TabInsteadOfSpace", Edited(Short, 2 + 8 + 1, '\t'), false},
        TLineCase{"OtherLeading", "- " + Short.substr(2), false},
        TLineCase{"PairAfterAGap", Edited(Edited(Short, 2 + 11 + 15, '4'), 2 + 11 + 16, '1'),
                  false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(ReceStoreRuns, TextAndDumpRunsAlternateAndComeBackExactly) {
    std::vector<std::string> lines = {"session one"};
    for (uint32_t j = 0; j < 3; ++j)
        lines.push_back(DumpLine(j * 16, Bytes(16, uint8_t(j))));
    lines.push_back(DumpLine(0x30, Bytes(5, 9))); // a partial line ends its run
    lines.push_back(DumpLine(0x40, Bytes(16, 3))); // so this one starts the next
    lines.push_back(DumpLine(0x80, Bytes(16, 4))); // and a gap another
    lines.push_back("");
    lines.push_back("\xe4\xb8\xad\xe6\x96\x87 hand-written");
    lines.push_back(DumpLine(0xFFFFFFF0, Bytes(16, 5))); // wraps on to 00000000
    lines.push_back(DumpLine(0, Bytes(16, 6)));
    lines.push_back(DumpLine(0x10, Bytes(1, 7)));
    TReceiveStore store;
    store.Load(lines);
    ExpectSameLines(store, lines);
    for (size_t k = 0; k < lines.size(); ++k)
        EXPECT_EQ(store.IsDumpLine(int64_t(k)), lines[k].size() == ReceLineLen && k != 0) << k;
    EXPECT_EQ(store.MaxLineBytes(), size_t(ReceLineLen));

    // Received bytes begin their own run at 0, below the last opened dump line.
    const std::vector<uint8_t> more = Bytes(20, 0xF0);
    store.Receive(more.data(), more.size());
    EXPECT_EQ(store.Line(int64_t(lines.size())),
              DumpLine(0, std::vector<uint8_t>(more.begin(), more.begin() + 16)));
    EXPECT_EQ(store.Line(int64_t(lines.size()) + 1),
              DumpLine(16, std::vector<uint8_t>(more.begin() + 16, more.end())));
    EXPECT_EQ(store.Line(int64_t(lines.size()) - 1), lines.back());
}

TEST(ReceStoreRuns, RandomMixturesOfLinesComeBackByteForByte) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> lines;
        uint32_t offset = random() % 4 * 16;
        const int count = int(random() % 3000);
        for (int i = 0; i < count; ++i) {
            switch (random() % 5) {
            case 0:
                lines.push_back(std::string(random() % 40, char('a' + random() % 26)));
                break;
            case 1: // a near miss: one character changed
                lines.push_back(
                    Edited(DumpLine(offset, Bytes(16, uint8_t(i))), random() % ReceLineLen, 'z'));
                break;
            default:
                lines.push_back(DumpLine(offset, Bytes(random() % 4 ? 16 : 1 + random() % 16, uint8_t(i))));
                offset += 16;
            }
        }
        TReceiveStore store;
        store.Load(lines);
        ExpectSameLines(store, lines);
        // Read in order with a hint, as a save does, then backwards and at random with it.
        size_t hint = 0;
        std::string scratch;
        for (size_t k = 0; k < lines.size(); ++k)
            ASSERT_EQ(store.LineView(int64_t(k), scratch, hint), lines[k]) << k;
        for (size_t k = lines.size(); k-- > 0;)
            ASSERT_EQ(store.LineView(int64_t(k), scratch, hint), lines[k]) << k;
        for (int i = 0; i < 100 && !lines.empty(); ++i) {
            const size_t k = random() % lines.size();
            ASSERT_EQ(store.LineView(int64_t(k), scratch, hint), lines[k]) << k;
        }
    }
}

TEST(ReceStoreRuns, AReopenedSessionCostsAboutWhatTheReceivedOneDid) {
    TReceiveStore received;
    const std::vector<uint8_t> bytes = Bytes(4 << 20, 1);
    received.Receive(bytes.data(), bytes.size());
    std::vector<std::string> lines;
    for (int64_t k = 0; k < received.LineCount(); ++k)
        lines.push_back(received.Line(k));
    TReceiveStore opened;
    opened.Load(lines);
    ExpectSameLines(opened, lines);
    EXPECT_LT(double(opened.MemoryUsed()), 1.05 * double(received.MemoryUsed()));
}

TEST(ReceStoreRuns, ShortTextLinesCostFewBytesBesideTheirCharacters) {
    TReceiveStore store;
    constexpr int64_t lines = 1 << 20;
    for (int64_t k = 0; k < lines; ++k)
        store.AddLoadedLine(k % 2 ? "ab" : "");
    store.EndLoad();
    ASSERT_EQ(store.LineCount(), lines);
    const double perLine = double(store.MemoryUsed()) / double(lines);
    EXPECT_LT(perLine, 1.0 + 4.5); // a character on average, and a 32-bit end
    EXPECT_EQ(store.Line(lines - 1), "ab");
    EXPECT_EQ(store.Line(lines - 2), "");
}

TEST(ReceStoreSnapshot, KeepsTheLinesOfItsMomentWhateverTheStoreDoesAfter) {
    TReceiveStore store;
    store.Load({"opened", DumpLine(0, Bytes(16, 0))});
    const std::vector<uint8_t> bytes = Bytes(16 * TReceiveStore::DumpBlockLines + 7, 2);
    store.Receive(bytes.data(), bytes.size());
    std::vector<std::string> before;
    for (int64_t k = 0; k < store.LineCount(); ++k)
        before.push_back(store.Line(k));

    std::shared_ptr<const TReceiveStore> shot = store.Snapshot();
    store.Receive(bytes.data(), 9); // rewrites the partial last line, then adds lines
    store.Receive(bytes.data(), bytes.size());
    ExpectSameLines(*shot, before);
    store.Clear();
    store.Load({"another file"});
    ExpectSameLines(*shot, before);
}

TEST(ReceStoreLimit, DropsTheOldestBlocksBehindAMarkLine) {
    TReceiveStore store;
    store.Load({"opened line"});
    constexpr size_t Block = TReceiveStore::DumpBlockLines * HexDumpBytesPerLine;
    store.SetMemoryLimit(3 * Block + Block / 2);
    const std::vector<uint8_t> bytes = Bytes(10 * Block + 5, 3);
    for (size_t at = 0; at < bytes.size(); at += 4096)
        store.Receive(bytes.data() + at, std::min<size_t>(4096, bytes.size() - at));
    EXPECT_LE(store.MemoryUsed(), store.MemoryLimit());

    // Whole blocks went: the opened line and then the received lines up to a block boundary.
    const int64_t dropped = store.DroppedLines();
    ASSERT_GT(dropped, 1);
    EXPECT_EQ((dropped - 1) % int64_t(TReceiveStore::DumpBlockLines), 0);
    EXPECT_EQ(store.Line(0), TReceiveStore::DroppedMark(dropped));
    EXPECT_FALSE(store.IsDumpLine(0));
    EXPECT_EQ(store.LinesShifted(), dropped - 1);
    const int64_t received = int64_t(bytes.size() + 15) / 16;
    ASSERT_EQ(store.LineCount(), 1 + 1 + received - dropped);
    // The first line kept is received line dropped - 1, with its own offset.
    const size_t first = size_t(dropped - 1) * 16;
    EXPECT_EQ(store.Line(1), DumpLine(uint32_t(first), std::vector<uint8_t>(bytes.begin() + first,
                                                                            bytes.begin() + first + 16)));
    EXPECT_EQ(store.Line(store.LineCount() - 1),
              DumpLine(uint32_t(bytes.size() / 16 * 16),
                       std::vector<uint8_t>(bytes.end() - 5, bytes.end())));
    EXPECT_NE(TReceiveStore::DroppedMark(dropped).find(std::to_string(dropped)), std::string::npos);

    store.Clear();
    EXPECT_EQ(store.DroppedLines(), 0);
    EXPECT_EQ(store.LineCount(), 0);
}

TEST(ReceStoreLimit, AnOpenedFileOverTheLimitKeepsItsLatestLines) {
    TReceiveStore store;
    store.SetMemoryLimit(TReceiveStore::TextBlockBytes * 2);
    const std::string line(1000, 'x');
    for (int i = 0; i < 5000; ++i)
        store.AddLoadedLine(line + std::to_string(i));
    store.EndLoad();
    ASSERT_GT(store.DroppedLines(), 0);
    EXPECT_EQ(store.LineCount(), 1 + 5000 - store.DroppedLines());
    EXPECT_EQ(store.Line(store.LineCount() - 1), line + "4999");
    EXPECT_EQ(store.Line(1), line + std::to_string(store.DroppedLines()));
}

TEST(ReceStoreAdopt, TakesTheContentWithANewEpoch) {
    TReceiveStore pane, fresh;
    const std::vector<uint8_t> bytes = Bytes(100, 0);
    pane.Receive(bytes.data(), bytes.size());
    fresh.AddLoadedLine("a\r\nb");
    fresh.EndLoad();
    const uint64_t epoch = pane.Epoch();
    pane.Adopt(std::move(fresh));
    EXPECT_NE(pane.Epoch(), epoch);
    EXPECT_EQ(pane.AllText(), "a\nb");
    EXPECT_EQ(fresh.LineCount(), 0);
    pane.Receive(bytes.data(), 1);
    EXPECT_EQ(pane.Line(2), DumpLine(0, {0}));
}

} // namespace
