// Find in the receive run: patterns compile or say why not; matches are found
// the same however the bytes were cut into blocks and lines; the count runs
// on its own thread, grows with arriving bytes, starts over on a new pattern
// or session, and loses the matches of blocks dropped at the memory limit.

#include "FindCount.h"
#include "FindPattern.h"
#include "ReceiveStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using TMatch = TFindPattern::TMatch;
constexpr uint64_t Chunk = TFindCount::ChunkBytes;

std::shared_ptr<const TFindPattern> Compile(EFindKind kind, std::string_view text, bool caseless = false) {
    TFindPattern::TCompiled c = TFindPattern::Compile(kind, text, caseless);
    EXPECT_EQ(c.Error, EFindError::None) << text << ": " << c.Message;
    return c.Pattern;
}

std::vector<uint64_t> Positions(const TFindPattern& p, const TReceiveStore& store) {
    std::vector<uint64_t> out;
    p.Scan(store, 0, UINT64_MAX, 0, [&](const TMatch& m) {
        out.push_back(m.Pos);
        return true;
    });
    return out;
}

std::vector<uint64_t> FlatPositions(const TFindPattern& p, const std::string& bytes) {
    std::vector<uint64_t> out;
    p.ScanFlat(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), [&](const TMatch& m) {
        out.push_back(m.Pos);
        return true;
    });
    return out;
}

// Fed in pieces of the given sizes, round and round.
void Feed(TReceiveStore& store, const std::string& bytes, std::vector<size_t> cuts) {
    size_t i = 0, k = 0;
    while (i < bytes.size()) {
        const size_t n = std::min(cuts[k++ % cuts.size()], bytes.size() - i);
        store.Receive(reinterpret_cast<const uint8_t*>(bytes.data()) + i, n);
        i += n;
    }
}

// Filler that holds none of the patterns below: printable ASCII without 'A'..'Z'.
std::string Filler(size_t n, unsigned seed = 1) {
    std::mt19937 random(seed);
    std::string s(n, ' ');
    for (char& c : s)
        c = char('a' + random() % 20);
    return s;
}

template <class F>
bool WaitFor(F&& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::yield();
    }
    return true;
}

uint64_t FinalCount(TFindCount& count) {
    EXPECT_TRUE(WaitFor([&] { return !count.State().Running; }));
    return count.State().Total;
}

} // namespace

TEST(FindPattern, BadPatternsSayWhy) {
    const struct {
        EFindKind Kind;
        std::string Text;
        EFindError Error;
    } cases[] = {
        {EFindKind::Text, "", EFindError::Empty},
        {EFindKind::Hex, "", EFindError::Empty},
        {EFindKind::Hex, "   ", EFindError::Empty},
        {EFindKind::Hex, "55 A", EFindError::OddHex},
        {EFindKind::Hex, "55AA0", EFindError::OddHex},
        {EFindKind::Hex, "55 ?A", EFindError::NotHex},
        {EFindKind::Hex, "55 GG", EFindError::NotHex},
        {EFindKind::Hex, "?? ??", EFindError::AllWildcard},
        {EFindKind::Regex, "", EFindError::Empty},
        {EFindKind::Regex, "(ab", EFindError::Regex},
        {EFindKind::Regex, "a{2,1}", EFindError::Regex},
        {EFindKind::Text, std::string(TFindPattern::MaxPatternBytes + 1, 'x'), EFindError::TooLong},
    };
    for (const auto& c : cases) {
        const TFindPattern::TCompiled r = TFindPattern::Compile(c.Kind, c.Text, false);
        EXPECT_EQ(r.Error, c.Error) << c.Text;
        EXPECT_EQ(r.Pattern == nullptr, c.Error != EFindError::None) << c.Text;
        if (c.Error == EFindError::Regex) {
            EXPECT_FALSE(r.Message.empty());
        }
    }
    EXPECT_EQ(TFindPattern::Compile(EFindKind::Hex, "55aa ??00,FF", false).Error, EFindError::None);
}

// Every kind of pattern, placed across a block's end, a 16-byte line's end and
// the session's two ends, is found at the same places in the store fed in
// any cuts as in one flat buffer, and at exactly the places it was put.
TEST(FindPattern, MatchesAcrossBlocksLinesAndCuts) {
    const struct {
        EFindKind Kind;
        std::string Pattern;
        bool Caseless;
        std::string Put; // the bytes placed
    } cases[] = {
        {EFindKind::Text, "HEADER-16-BYTES!", false, "HEADER-16-BYTES!"},
        {EFindKind::Text, "error", true, "ErRoR"},
        {EFindKind::Text, "A\\\\B\\x00\\xFF", false, std::string("A\\B\0\xFF", 5)},
        {EFindKind::Text, "\xC4\xE3Z", false, "\xC4\xE3Z"},
        {EFindKind::Hex, "55 AA ?? 01", false, "\x55\xAA\x7E\x01"},
        {EFindKind::Hex, "?? 00 FF ??", false, std::string("Q\0\xFFQ", 4)},
        {EFindKind::Regex, "ID=[0-9]+;", false, "ID=12345;"},
        {EFindKind::Regex, "x\\r?\\nY", false, "x\r\nY"},
    };
    const uint64_t n = 2 * Chunk + 100;
    for (const auto& c : cases) {
        const auto p = Compile(c.Kind, c.Pattern, c.Caseless);
        ASSERT_TRUE(p);
        std::string bytes = Filler(n);
        const std::vector<uint64_t> at = {0, 40, Chunk - 3, Chunk + 15, 2 * Chunk - 1, n - c.Put.size()};
        for (uint64_t pos : at)
            bytes.replace(pos, c.Put.size(), c.Put);
        EXPECT_EQ(FlatPositions(*p, bytes), at) << c.Pattern;
        for (const std::vector<size_t>& cuts : {std::vector<size_t>{size_t(n)}, {1}, {7, 4096, 3}}) {
            TReceiveStore store;
            Feed(store, bytes, cuts);
            EXPECT_EQ(Positions(*p, store), at) << c.Pattern << " in cuts of " << cuts[0];
        }
    }
}

// A text match begins on a character: not on the second byte of a code page
// pair, even when the pair is split between two blocks.
TEST(FindPattern, TextKeepsCodePagePairsWhole) {
    const auto p = Compile(EFindKind::Text, "AB");
    std::string bytes = Filler(Chunk + 64);
    bytes.replace(Chunk - 1, 3, "\xC4" "AB"); // a lead byte and its trail A across the block end
    bytes.replace(100, 4, "\xC4\xC4" "AB");    // a whole pair before: AB stands alone
    TReceiveStore store;
    Feed(store, bytes, {size_t(Chunk - 1), 1, 64});
    EXPECT_EQ(Positions(*p, store), std::vector<uint64_t>{102});
    // Hex looks at bytes, not characters.
    EXPECT_EQ(Positions(*Compile(EFindKind::Hex, "41 42"), store), (std::vector<uint64_t>{102, Chunk}));
}

// A regular expression that could match nothing finds only what holds bytes,
// and matches do not overlap.
TEST(FindPattern, EmptyMatchesAndOverlaps) {
    const std::string bytes = "baaab" + std::string(10, 'x') + "aaaa";
    EXPECT_EQ(FlatPositions(*Compile(EFindKind::Regex, "a*"), bytes), (std::vector<uint64_t>{1, 15}));
    EXPECT_TRUE(FlatPositions(*Compile(EFindKind::Regex, "^|$|\\b"), bytes).empty());
    EXPECT_EQ(FlatPositions(*Compile(EFindKind::Text, "aa"), bytes), (std::vector<uint64_t>{1, 15, 17}));
}

TEST(FindCount, CountsGrowWithArrivingBytesAndStepRound) {
    TReceiveStore store;
    TFindCount count;
    std::string bytes = Filler(3 * Chunk);
    for (uint64_t pos : {uint64_t(10), Chunk - 2, 2 * Chunk + 5})
        bytes.replace(pos, 4, "KEY!");
    Feed(store, bytes.substr(0, Chunk), {size_t(Chunk)});
    count.Start(Compile(EFindKind::Text, "KEY!"), store.Snapshot());
    EXPECT_EQ(FinalCount(count), 1u); // the one across the block's end is not all here yet

    // Bytes that arrive are counted on, a match split between two deliveries included.
    for (uint64_t at = Chunk; at < bytes.size(); at += 4099) {
        Feed(store, bytes.substr(at, 4099), {4099});
        count.Update(store.Snapshot());
    }
    EXPECT_EQ(FinalCount(count), 3u);

    TMatch m;
    ASSERT_EQ(count.Next(store, 11, true, m), TFindCount::EFound::Match);
    EXPECT_EQ(m.Pos, Chunk - 2);
    uint64_t rank = 0;
    ASSERT_TRUE(count.Rank(store, m, rank));
    EXPECT_EQ(rank, 1u);
    ASSERT_EQ(count.Next(store, 2 * Chunk + 6, true, m), TFindCount::EFound::Match);
    EXPECT_EQ(m.Pos, 10u); // round from the start
    ASSERT_EQ(count.Next(store, 10, false, m), TFindCount::EFound::Match);
    EXPECT_EQ(m.Pos, 2 * Chunk + 5); // and back round the end
    ASSERT_TRUE(count.Rank(store, m, rank));
    EXPECT_EQ(rank, 2u);
    EXPECT_EQ(count.MatchesIn(store, Chunk, Chunk + 16).size(), 1u); // the one reaching in
}

// A new pattern or a cleared session stops the count where it stands and
// starts over: the totals are the new pattern's alone.
TEST(FindCount, NewPatternOrClearStartsOver) {
    TReceiveStore store;
    std::string bytes = Filler(64 * Chunk);
    for (uint64_t pos = 5; pos < bytes.size(); pos += 100000)
        bytes.replace(pos, 3, "XYZ");
    Feed(store, bytes, {size_t(Chunk)});
    const uint64_t xyz = (bytes.size() - 5 + 99999) / 100000;
    TFindCount count;
    for (int i = 0; i < 3; ++i) {
        count.Start(Compile(EFindKind::Regex, "[a-t]{9}Q"), store.Snapshot()); // slow, none
        count.Start(Compile(EFindKind::Text, "xyz", true), store.Snapshot());
    }
    EXPECT_EQ(FinalCount(count), xyz);

    count.Start(Compile(EFindKind::Regex, "[a-t]{9}Q"), store.Snapshot());
    store.Clear();
    Feed(store, "XYZ..XYZ", {3});
    count.Start(Compile(EFindKind::Hex, "58 59 5A"), store.Snapshot());
    EXPECT_EQ(FinalCount(count), 2u);
}

// Blocks dropped at the memory limit take their matches with them.
TEST(FindCount, DroppedBlocksTakeTheirMatches) {
    TReceiveStore store;
    std::string bytes = Filler(8 * Chunk);
    for (uint64_t c = 0; c < 8; ++c)
        bytes.replace(c * Chunk + 100, 4, "MARK");
    TFindCount count;
    Feed(store, bytes.substr(0, 4 * Chunk), {size_t(Chunk)});
    count.Start(Compile(EFindKind::Text, "MARK"), store.Snapshot());
    EXPECT_EQ(FinalCount(count), 4u);
    store.SetMemoryLimit(3 * Chunk + Chunk / 2);
    Feed(store, bytes.substr(4 * Chunk), {size_t(Chunk)});
    count.Update(store.Snapshot());
    const uint64_t held = (store.TextIndex().End() - uint64_t(store.RunFirstLine()) * 16) / Chunk;
    ASSERT_LT(held, 8u);
    EXPECT_EQ(FinalCount(count), held);
    TMatch m;
    ASSERT_EQ(count.Next(store, 0, true, m), TFindCount::EFound::Match);
    EXPECT_EQ(m.Pos, (8 - held) * Chunk + 100);
    uint64_t rank = 99;
    ASSERT_TRUE(count.Rank(store, m, rank));
    EXPECT_EQ(rank, 0u);
}

// With lines collected, the count holds each text line that holds a match
// once: a line that runs across a block's end, a match that runs over a line
// break (both lines), lines that arrive later; lines dropped at the memory
// limit leave and are counted as dropped.
TEST(FindCount, CollectsTheLinesThatHoldAMatch) {
    std::string bytes;
    std::vector<int64_t> want;
    int64_t line = 0;
    const auto add = [&](const std::string& text, bool hit) {
        if (hit)
            want.push_back(line);
        bytes += text + "\r\n";
        ++line;
    };
    while (bytes.size() < 3 * Chunk) {
        add(Filler(30, unsigned(line)), false);
        if (line % 97 == 5)
            add("two KEY! on one KEY! line", true);
        if (bytes.size() > Chunk - 500 && bytes.size() < Chunk) {
            // KEY! on both sides of the first block's end, one line.
            add("KEY!" + Filler(1000) + "KEY!", true);
        }
        if (line % 1000 == 7) {
            want.push_back(line++);
            bytes += "ends with KEY\r\n";
            add("! and goes on", true);
        }
    }
    TReceiveStore store;
    Feed(store, bytes.substr(0, 2 * Chunk), {4099});
    TFindCount count;
    count.Start(Compile(EFindKind::Regex, "KEY(\\r\\n)?!"), store.Snapshot(), true);
    Feed(store, bytes.substr(2 * Chunk), {4099});
    count.Update(store.Snapshot());
    FinalCount(count);
    const auto lines = count.Lines();
    const auto all = [&] {
        std::vector<int64_t> got;
        for (int64_t k = 0; k < lines->Count(); ++k)
            got.push_back(lines->Line(k));
        return got;
    };
    EXPECT_EQ(all(), want);
    EXPECT_EQ(lines->Before(want[3]), 3);
    EXPECT_EQ(lines->Before(want.back() + 1), int64_t(want.size()));

    // A count without the lines collects none.
    TFindCount plain;
    plain.Start(Compile(EFindKind::Text, "KEY!"), store.Snapshot());
    FinalCount(plain);
    EXPECT_EQ(plain.Lines()->Count(), 0);

    store.SetMemoryLimit(2 * Chunk);
    Feed(store, "late KEY!\r\n", {3});
    count.Update(store.Snapshot());
    FinalCount(count);
    const int64_t first = store.TextIndex().FirstLine();
    ASSERT_GT(first, 0);
    std::vector<int64_t> kept;
    for (int64_t t : want) {
        if (t >= first)
            kept.push_back(t);
    }
    kept.push_back(line);
    EXPECT_EQ(all(), kept);
    EXPECT_EQ(lines->Dropped(), int64_t(want.size() + 1 - kept.size()));
}
