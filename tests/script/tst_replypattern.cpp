#include "ReplyPattern.h"

#include <gtest/gtest.h>

namespace {

struct TParseCase {
    TPatternKind Kind;
    std::string Text;
    std::string Bytes; // expected, for a sound text or hex pattern
    std::vector<bool> Any;
    bool Valid;
};

// Every way of matching the whole stream fed byte by byte, and in one piece.
std::vector<std::pair<uint64_t, std::string>> Matches(const TReplyPattern& p, const std::string& stream,
                                                      size_t piece) {
    TStreamMatcher m(p);
    std::vector<std::pair<uint64_t, std::string>> found;
    for (size_t i = 0; i < stream.size(); i += piece)
        m.Feed(reinterpret_cast<const uint8_t*>(stream.data()) + i, std::min(piece, stream.size() - i),
               [&](uint64_t end, std::string_view s) { found.emplace_back(end, std::string(s)); });
    return found;
}

} // namespace

TEST(ReplyPattern, ParsesTextHexAndRegexAndRefusesWhatCannotMatch) {
    using K = TPatternKind;
    const TParseCase cases[] = {
        {K::Text, "AT\\r\\n", "AT\r\n", {false, false, false, false}, true},
        {K::Text, "\\x00\\xFF\\\\", std::string("\0\xFF\\", 3), {false, false, false}, true},
        {K::Text, "\\q", "", {}, false},
        {K::Text, "\\x4", "", {}, false},
        {K::Text, "", "", {}, false},
        {K::Hex, "55 aa ?? FF 00", std::string("\x55\xAA\0\xFF\0", 5), {false, false, true, false, false}, true},
        {K::Hex, "55AA??", std::string("\x55\xAA\0", 3), {false, false, true}, true},
        {K::Hex, "55 A", "", {}, false},
        {K::Hex, "5G", "", {}, false},
        {K::Hex, "  ", "", {}, false},
        {K::Regex, "OK\\r\\n", "", {}, true},
        {K::Regex, "(OK", "", {}, false},
        {K::Regex, "x*", "", {}, false}, // matches nothing at all: it would fire on every read
    };
    for (const TParseCase& c : cases) {
        const TReplyPattern p = TReplyPattern::Parse(c.Kind, c.Text);
        EXPECT_EQ(p.Valid(), c.Valid) << c.Text;
        EXPECT_EQ(p.Error.empty(), c.Valid) << c.Text;
        if (c.Valid && c.Kind != K::Regex) {
            EXPECT_EQ(p.Bytes, c.Bytes) << c.Text;
            EXPECT_EQ(p.Any, c.Any) << c.Text;
        }
    }
}

TEST(ReplyPattern, FindsEachMatchOnceHoweverTheReadsSplitIt) {
    const std::string stream = std::string("xx\x55\xAA\x07\xFF yy \x55\x55\xAA\x00\xFF\x55\xAA", 17);
    const TReplyPattern hex = TReplyPattern::Parse(TPatternKind::Hex, "55 AA ?? FF");
    const TReplyPattern text = TReplyPattern::Parse(TPatternKind::Text, "aa");
    const TReplyPattern regex = TReplyPattern::Parse(TPatternKind::Regex, "OK\\d+;");
    const std::vector<std::pair<uint64_t, std::string>> hexWant = {
        {6, std::string("\x55\xAA\x07\xFF", 4)}, {15, std::string("\x55\xAA\x00\xFF", 4)}};
    for (size_t piece : {size_t(1), size_t(2), size_t(3), size_t(100)}) {
        EXPECT_EQ(Matches(hex, stream, piece), hexWant) << piece;
        // Matches do not overlap: "aaaaa" holds two.
        EXPECT_EQ(Matches(text, "aaaaa", piece).size(), 2u) << piece;
        // A regular expression waits while its match may still grow: "OK12;" is one match,
        // not "OK1" cut by the read.
        const auto r = Matches(regex, "OK12;zOK3;OK", piece);
        ASSERT_EQ(r.size(), 2u) << piece;
        EXPECT_EQ(r[0].second, "OK12;");
        EXPECT_EQ(r[1], (std::pair<uint64_t, std::string>{10, "OK3;"}));
    }
}

// A regular expression that may match only at the start of what it is given ("\\A") reported a
// partial match with no start once the stream had moved on: the matcher lost its place, and
// matches came with positions before the stream's first byte.
TEST(ReplyPattern, AnAnchoredAlternativeKeepsThePositionsInTheStream) {
    const TReplyPattern p = TReplyPattern::Parse(TPatternKind::Regex, "x\\Ay|000");
    ASSERT_TRUE(p.Valid());
    for (size_t piece : {size_t(1), size_t(4), size_t(100)}) {
        const auto found = Matches(p, std::string(9, '0'), piece);
        ASSERT_EQ(found.size(), 3u) << piece;
        for (size_t i = 0; i < found.size(); ++i)
            EXPECT_EQ(found[i].first, 3 * (i + 1)) << piece;
    }
}
