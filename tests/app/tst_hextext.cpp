#include "HexText.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Parse(const std::string& text, bool* result = nullptr, bool* cut = nullptr) {
    HexBytes bytes;
    const bool r = HexTextToBytes(bytes, text.data(), static_cast<uint32_t>(text.size()), cut);
    if (result != nullptr)
        *result = r;
    return std::vector<uint8_t>(bytes.Data, bytes.Data + bytes.Count);
}

HexBytes Make(const std::vector<uint8_t>& values) {
    HexBytes bytes;
    bytes.Count = static_cast<uint32_t>(values.size());
    std::copy(values.begin(), values.end(), bytes.Data);
    return bytes;
}

struct ParseCase {
    const char* name;
    std::string text;
    std::vector<uint8_t> bytes;
    bool result;
};

class HexTextParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(HexTextParse, GivesBytesAndCarriageReturnResult) {
    const ParseCase& c = GetParam();
    bool result = !c.result;
    EXPECT_EQ(Parse(c.text, &result), c.bytes);
    EXPECT_EQ(result, c.result);
}

const ParseCase parseCases[] = {
    {"Spaced", "55 AA FF", {0x55, 0xAA, 0xFF}, true},
    {"Unspaced", "55AAFF", {0x55, 0xAA, 0xFF}, true},
    {"OddRunOfThree", "123", {0x12, 0x03}, true},
    {"OddRunOfFive", "12345", {0x12, 0x34, 0x05}, true},
    {"LoneDigits", "5 A", {0x05, 0x0A}, true},
    {"LoneF", "F", {0x0F}, true},
    {"SeparatorsCountAsOne", "55,,  AA", {0x55, 0xAA}, true},
    {"LeadingTrailingSeparators", "  55  ", {0x55}, true},
    {"SmallXEndsRun", "0x55", {0x00, 0x55}, true},
    {"EchoPrompt", "> 55 AA", {0x55, 0xAA}, true},
    {"LowerCaseIsSeparator", "aa", {}, true},
    {"LowerCaseEndsRun", "5a", {0x05}, true},
    {"CrLfJoinedLines", "55\r\nAA", {0x55, 0xAA}, false},
    {"LoneCarriageReturn", "\r", {}, false},
    {"Empty", "", {}, true},
    {"ZeroAndFF", "00 FF", {0x00, 0xFF}, true},
    {"TabsAndLineFeeds", "00\tFF\n7F", {0x00, 0xFF, 0x7F}, true},
    {"HighBytesSeparate",
     "1\x80"
     "2\xFF"
     "3",
     {0x01, 0x02, 0x03},
     true},
    {"ChineseBytesSeparate",
     "AB\xB2\xE2"
     "CD",
     {0xAB, 0xCD},
     true},
    {"NulIsSeparator",
     std::string("12\0"
                 "34",
                 5),
     {0x12, 0x34},
     true},
    {"LettersBeyondF", "FG0", {0x0F, 0x00}, true},
};

INSTANTIATE_TEST_SUITE_P(Cases, HexTextParse, ::testing::ValuesIn(parseCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct FormatCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::string text;
};

class HexTextFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(HexTextFormat, GivesPairsEachFollowedBySpace) {
    const FormatCase& c = GetParam();
    EXPECT_EQ(BytesToHexText(Make(c.bytes)), c.text);
    EXPECT_EQ(Parse(c.text), c.bytes) << "formatted text parses back";
}

const FormatCase formatCases[] = {
    {"Empty", {}, ""},
    {"ZeroAnd0F", {0x00, 0x0F}, "00 0F "},
    {"Three", {0x55, 0xAA, 0xFF}, "55 AA FF "},
    {"Extremes", {0xFF, 0x00, 0x80, 0x7F}, "FF 00 80 7F "},
};

INSTANTIATE_TEST_SUITE_P(Cases, HexTextFormat, ::testing::ValuesIn(formatCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexTextLimits, TextOfFullCapacityFitsWithoutCut) {
    std::string text;
    for (uint32_t i = 0; i < HexBytesCapacity; ++i)
        text += (i % 2 != 0) ? "FF" : "00";
    bool cut = true;
    const auto bytes = Parse(text, nullptr, &cut);
    ASSERT_EQ(bytes.size(), HexBytesCapacity);
    EXPECT_FALSE(cut);
    EXPECT_EQ(bytes.front(), 0x00);
    EXPECT_EQ(bytes.back(), 0xFF);
}

TEST(HexTextLimits, LongerTextStopsAtCapacityAndSaysSo) {
    // 3000 bytes of text with a lone digit at the very end, beyond what fits.
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "AB ";
    text += "C";
    HexBytes bytes;
    bytes.Data[HexBytesCapacity - 1] = 0;
    bool cut = false;
    EXPECT_TRUE(HexTextToBytes(bytes, text, &cut));
    EXPECT_TRUE(cut);
    EXPECT_EQ(bytes.Count, HexBytesCapacity);
    EXPECT_EQ(bytes.Data[HexBytesCapacity - 1], 0xAB);
}

TEST(HexTextLimits, CarriageReturnAfterCutStillFound) {
    std::string text(5000, '1');
    text += "\r";
    HexBytes bytes;
    bool cut = false;
    EXPECT_FALSE(HexTextToBytes(bytes, text, &cut));
    EXPECT_TRUE(cut);
    EXPECT_EQ(bytes.Count, HexBytesCapacity);
}

TEST(HexTextLimits, LoneDigitAsLastFittingByte) {
    // 2047 pairs and a lone digit: exactly full, nothing cut; one more digit would be cut.
    std::string text(2 * (HexBytesCapacity - 1), 'E');
    text += " 7";
    bool cut = true;
    auto bytes = Parse(text, nullptr, &cut);
    ASSERT_EQ(bytes.size(), HexBytesCapacity);
    EXPECT_EQ(bytes.back(), 0x07);
    EXPECT_FALSE(cut);
    bytes = Parse(text + " 8", nullptr, &cut);
    EXPECT_EQ(bytes.size(), HexBytesCapacity);
    EXPECT_TRUE(cut);
}

TEST(HexTextLimits, NullTextParsesToNothing) {
    HexBytes bytes;
    bytes.Count = 7;
    EXPECT_TRUE(HexTextToBytes(bytes, nullptr, 10));
    EXPECT_EQ(bytes.Count, 0u);
}

TEST(HexTextLimits, ReparseOverwritesPreviousContent) {
    HexBytes bytes;
    HexTextToBytes(bytes, std::string_view("11 22 33"));
    HexTextToBytes(bytes, std::string_view("4"));
    ASSERT_EQ(bytes.Count, 1u);
    EXPECT_EQ(bytes.Data[0], 0x04);
}

TEST(HexTextCopy, CopiesExactlyCountBytes) {
    const HexBytes bytes = Make({0x00, 0xFF, 0x10});
    uint8_t dest[5] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    CopyHexBytes(bytes, dest);
    EXPECT_EQ(std::vector<uint8_t>(dest, dest + 5),
              (std::vector<uint8_t>{0x00, 0xFF, 0x10, 0xEE, 0xEE}));
}

struct DecimalCase {
    int64_t value;
    const char* text;
};

class DecimalText : public ::testing::TestWithParam<DecimalCase> {};

TEST_P(DecimalText, PlainDigits) {
    EXPECT_EQ(IntToStr(GetParam().value), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Cases, DecimalText,
                         ::testing::Values(DecimalCase{0, "0"}, DecimalCase{7, "7"},
                                           DecimalCase{10, "10"}, DecimalCase{-1, "-1"},
                                           DecimalCase{2048, "2048"},
                                           DecimalCase{4294967295LL, "4294967295"},
                                           DecimalCase{INT64_MAX, "9223372036854775807"},
                                           DecimalCase{INT64_MIN, "-9223372036854775808"}));

} // namespace
