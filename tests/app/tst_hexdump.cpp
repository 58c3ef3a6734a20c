#include "HexDump.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Fills a fresh line with bytes and renders it at position k of the receive pane.
std::string Rendered(const std::vector<uint8_t>& bytes, uint64_t k = 0,
                     std::string_view leading = ReceLeading) {
    THexDumpLine line;
    for (uint8_t b : bytes)
        line.Add(b);
    return HexDumpRender(line, k, leading);
}

std::string Spaces(size_t n) {
    return std::string(n, ' ');
}

struct TDumpCase {
    const char* Name;
    std::vector<uint8_t> Bytes;
    std::string Expected;
};

class HexDumpFormat : public ::testing::TestWithParam<TDumpCase> {};

TEST_P(HexDumpFormat, RendersTheReceivePaneLine) {
    const TDumpCase& c = GetParam();
    const std::string line = Rendered(c.Bytes);
    EXPECT_EQ(line, c.Expected);
    EXPECT_EQ(line.size(), 79u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HexDumpFormat,
    ::testing::Values(
        TDumpCase{"Hello",
                  {0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x0D, 0x0A},
                  "  00000000:  48 65 6C 6C 6F 0D 0A " + Spaces(27) + "  Hello.." + Spaces(9)},
        TDumpCase{"SingleByte", {0x41}, "  00000000:  41" + Spaces(48) + "A" + Spaces(15)},
        TDumpCase{
            "ZeroAndFF", {0x00, 0xFF}, "  00000000:  00 FF " + Spaces(42) + "  .." + Spaces(14)},
        TDumpCase{"PrintableEdges",
                  {0x00, 0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF},
                  "  00000000:  00 1F 20 7E 7F 80 FF " + Spaces(27) + "  .. ~..." + Spaces(9)},
        TDumpCase{
            "FullLine",
            {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD,
             0xEE, 0xFF},
            "  00000000:  00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF   ..\"3DUfw........"},
        TDumpCase{"Empty", {}, "  00000000:  " + Spaces(66)}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST(HexDumpLine, ResetLeavesSixtySixSpaces) {
    THexDumpLine line;
    line.Add(0xFF);
    line.Add(0x00);
    line.Reset();
    EXPECT_EQ(line.Count, 0);
    EXPECT_EQ(std::string(line.Text), Spaces(66));
}

TEST(HexDumpLine, SeventeenthByteBeginsANewLine) {
    THexDumpLine line;
    for (int i = 0; i < 16; ++i)
        EXPECT_FALSE(line.Add(uint8_t(0xF0 + i))) << i;
    EXPECT_EQ(line.Count, 16);
    EXPECT_TRUE(line.Add(0x00));
    EXPECT_EQ(line.Count, 1);
    EXPECT_EQ(std::string(line.Text), "00" + Spaces(48) + "." + Spaces(15));
}

TEST(HexDumpLine, OutOfRangeCountStartsOverInsteadOfWritingOutside) {
    for (int32_t bad : {-1, -1000, 17, 1 << 30}) {
        THexDumpLine line;
        line.Count = bad;
        EXPECT_TRUE(line.Add(0x7E));
        EXPECT_EQ(line.Count, 1);
        EXPECT_EQ(std::string(line.Text), "7E" + Spaces(48) + "~" + Spaces(15));
    }
}

TEST(HexDumpRender, OffsetFollowsThePositionInThePane) {
    EXPECT_EQ(Rendered({0xFF}, 1).substr(0, 13), "  00000010:  ");
    EXPECT_EQ(Rendered({0xFF}, 0xABC).substr(0, 13), "  0000ABC0:  ");
    EXPECT_EQ(Rendered({0xFF}, 0x0FFFFFFF).substr(0, 13), "  FFFFFFF0:  ");
    // Past 4 GiB the eight columns show the low 32 bits of the offset.
    EXPECT_EQ(Rendered({0xFF}, 0x10000000).substr(0, 13), "  00000000:  ");
    EXPECT_EQ(Rendered({0xFF}, 0x10000001).substr(0, 13), "  00000010:  ");
}

TEST(HexDumpRender, SendPaneUsesOneLeadingSpace) {
    const std::string line = Rendered({0x00, 0x41, 0xFF}, 2, SendLeading);
    EXPECT_EQ(line, " 00000020:  00 41 FF " + Spaces(39) + "  .A." + Spaces(13));
    EXPECT_EQ(line.size(), 78u);
}

TEST(HexDumpRender, FromRawBytesMatchesTheLineRecord) {
    THexDumpLine line;
    std::vector<uint8_t> bytes;
    for (int n = 0; n <= 16; ++n) {
        char out[ReceLineLen];
        const int len = HexDumpRenderBytes(out, bytes.data(), n, 5, ReceLeading);
        EXPECT_EQ(std::string(out, size_t(len)), HexDumpRender(line, 5, ReceLeading)) << n;
        const uint8_t b = uint8_t(n * 37 + 0xF0);
        bytes.push_back(b);
        line.Add(b);
    }
}

TEST(HexDumpHeader, ColumnsSitAboveTheirBytes) {
    const std::string header = HexDumpHeader();
    EXPECT_EQ(header, "   Offset    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F        ASCII");
    EXPECT_EQ(header.size(), 73u);
    EXPECT_EQ(header.substr(13, 2), "00");
    EXPECT_EQ(header.substr(68, 5), "ASCII");
    // Byte i's digits stand at columns 13+3i of a receive-pane line.
    const std::string line = Rendered({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x0F});
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(header.substr(13 + 3 * i, 2), line.substr(13 + 3 * i, 2)) << i;
}

} // namespace
