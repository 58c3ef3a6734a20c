// The text view's line index: each indexed line, rendered alone from its own
// bytes, is the line the renderer gives for the whole stream, however the
// blocks are cut; each line carries the time of the block with its first
// byte; dropping the oldest chunks keeps a line that runs across the cut.

#include "TextIndex.h"
#include "TextRender.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

std::string Decode(uint8_t lead, uint8_t trail) {
    return lead == 0xC4 && trail == 0xE3 ? "你" : std::string();
}

// A stream fed in blocks, kept whole beside the index as the store keeps it.
struct TStream {
    TTextIndex Index;
    std::string Bytes;
    void Feed(const std::string& block, int64_t ms = 0) {
        Bytes += block;
        Index.Feed(reinterpret_cast<const uint8_t*>(block.data()), block.size(), ms);
    }
    // Line k as the text view renders it: its bytes alone through a fresh renderer.
    std::string Line(int64_t k, bool stamps = false) const {
        const TTextIndex::TLine line = Index.Line(k);
        TTextRender r(Decode);
        r.Stamps = stamps;
        std::string out;
        bool done = false;
        const auto take = [&](const std::string& l) {
            if (!done)
                out = l;
            done = true;
        };
        r.Feed(reinterpret_cast<const uint8_t*>(Bytes.data()) + line.Begin,
               size_t(line.End - line.Begin), line.Ms, take);
        r.Finish(take);
        return out;
    }
    Lines All() const {
        Lines out;
        for (int64_t k = Index.FirstLine(); k < Index.EndLine(); ++k)
            out.push_back(Line(k));
        return out;
    }
};

Lines RenderWhole(const std::string& bytes) {
    TTextRender r(Decode);
    Lines out;
    const auto take = [&](const std::string& l) { out.push_back(l); };
    r.Feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), 0, take);
    r.Finish(take);
    return out;
}

TEST(TextIndex, LinesMatchTheRendererHoweverTheBlocksAreCut) {
    // CR LF, lone CR and LF, empty lines, a pair, escapes with 0x00 and 0xFF,
    // a backslash, a lead byte before a break, and a last line without one.
    const std::string stream = std::string("AT\r\nOK\x1B\xC4\xE3\r\r\n\n\\x41\x00\xFF\xC4\rend", 24);
    const Lines want = RenderWhole(stream);
    ASSERT_EQ(want, (Lines{"AT", "OK\\x1B你", "", "", "\\\\x41\\x00\\xFF\\xC4", "end"}));
    for (size_t a = 0; a <= stream.size(); ++a) {
        for (size_t b = a; b <= stream.size(); ++b) {
            TStream s;
            s.Feed(stream.substr(0, a));
            s.Feed(std::string()); // an empty block changes nothing
            s.Feed(stream.substr(a, b - a));
            s.Feed(stream.substr(b));
            ASSERT_EQ(s.All(), want) << a << " " << b;
        }
    }
}

TEST(TextIndex, EachLineHasTheTimeOfTheBlockWithItsFirstByte) {
    TStream s;
    s.Feed("first li", 1000);
    s.Feed("ne\r", 2000);   // the line began in the block before
    s.Feed("\nsecond", 3000); // the LF of the CR LF begins nothing
    s.Feed("\n\n", 4000);     // an empty line is stamped by its break
    s.Feed("x", 4000);
    ASSERT_EQ(s.Index.LineCount(), 4);
    EXPECT_EQ(s.Index.Line(0).Ms, 1000);
    EXPECT_EQ(s.Index.Line(1).Ms, 3000);
    EXPECT_EQ(s.Index.Line(2).Ms, 4000);
    EXPECT_EQ(s.Index.Line(3).Ms, 4000);
    EXPECT_EQ(s.Line(1), "second");
    const std::string stamp = TTextRender::StampText(3000);
    EXPECT_EQ(s.Line(1, true), stamp + "second");
    // Where in the stream each line lies, the break included.
    EXPECT_EQ(s.Index.Line(1).Begin, 12u);
    EXPECT_EQ(s.Index.Line(1).End, 19u);
    EXPECT_EQ(s.Index.LineAt(0), 0);
    EXPECT_EQ(s.Index.LineAt(10), 0);  // the CR
    EXPECT_EQ(s.Index.LineAt(11), 0);  // the LF after it
    EXPECT_EQ(s.Index.LineAt(12), 1);
    EXPECT_EQ(s.Index.LineAt(99), 3);  // past the end: the last line
}

TEST(TextIndex, LongLinesSpanChunksAndDroppingKeepsTheLineThatRunsAcrossTheCut) {
    constexpr uint64_t C = TTextIndex::ChunkBytes;
    TStream s;
    s.Feed("head\n", 5);
    // One line over two and a half chunks, cut into odd blocks.
    std::string longLine(size_t(2 * C + C / 2), 'a');
    longLine[C] = '\xC4'; // a pair across the chunk boundary
    longLine[C + 1] = '\xE3';
    for (size_t at = 0; at < longLine.size(); at += 70001)
        s.Feed(longLine.substr(at, 70001), 6);
    s.Feed("\nshort\nlast", 7);
    const Lines want = RenderWhole(s.Bytes);
    ASSERT_EQ(s.All(), want);
    EXPECT_EQ(s.Index.LineCount(), 4);
    EXPECT_GE(s.Index.MaxCells(), longLine.size() - 1);
    EXPECT_LE(s.Index.MaxCells(), longLine.size());
    EXPECT_EQ(s.Index.LineAt(C + 5), 1);

    const size_t before = s.Index.MemoryBytes();
    s.Index.DropBefore(C + 100); // to the start of the second chunk
    EXPECT_EQ(s.Index.Begin(), C);
    EXPECT_EQ(s.Index.FirstLine(), 1); // the long line, from the cut on
    EXPECT_EQ(s.Index.Line(1).Begin, C);
    EXPECT_EQ(s.Index.Line(1).Ms, 6);
    EXPECT_EQ(s.Line(2), "short");
    EXPECT_EQ(s.Index.LineAt(0), 1);
    EXPECT_LT(s.Index.MemoryBytes(), before);

    // A cut just after a line's end drops that line whole.
    TStream t;
    t.Feed(std::string(size_t(C - 1), 'b') + "\r", 1);
    t.Feed("\nnext\n", 2); // begins the next chunk with the LF of a CR LF
    t.Index.DropBefore(C);
    EXPECT_EQ(t.Index.FirstLine(), 1);
    EXPECT_EQ(t.Index.LineCount(), 1);
    EXPECT_EQ(t.Line(1), "next");
    // Bytes keep coming after everything held was dropped.
    t.Feed(std::string(size_t(C - 7), 'c') + "\n", 3);
    ASSERT_EQ(t.Index.End(), 2 * C);
    t.Index.DropBefore(2 * C);
    EXPECT_EQ(t.Index.LineCount(), 0);
    EXPECT_EQ(t.Index.LineAt(0), 3);
    t.Feed("more", 4);
    EXPECT_EQ(t.Index.LineCount(), 1);
    EXPECT_EQ(t.Line(3), "more");
}

// Line beginnings are held in 16 bits with a base for each quarter of a chunk: lines that
// begin on either side of each quarter's edge, exactly on it, and a line that leaps over a
// whole quarter are all found where they begin.
TEST(TextIndex, LinesAreFoundOnEitherSideOfEveryQuarterOfAChunk) {
    constexpr size_t Q = size_t(1) << 16;
    TStream s;
    std::vector<uint64_t> begins;
    const auto line = [&](size_t bytes) { // bytes with its LF
        begins.push_back(s.Bytes.size());
        s.Feed(std::string(bytes - 1, 'q') + "\n");
    };
    line(Q - 1);         // the next begins just below the second quarter
    line(1);             // a lone break: the next begins exactly on its edge
    line(Q + Q / 2);
    line(Q + Q / 2);     // over the fourth quarter, which begins no line, to the next chunk
    line(2 * Q + 10);    // over the next chunk's second quarter
    for (int i = 0; i < 4; ++i)
        line(Q / 2 + 7);
    for (size_t k = 0; k < begins.size(); ++k) {
        EXPECT_EQ(s.Index.Line(int64_t(k)).Begin, begins[k]) << k;
        EXPECT_EQ(s.Index.LineAt(begins[k]), int64_t(k)) << k;
        if (k > 0) {
            EXPECT_EQ(s.Index.LineAt(begins[k] - 1), int64_t(k) - 1) << k;
        }
    }
    EXPECT_EQ(s.Index.LineAt(3 * Q + Q / 2), 3); // inside the lines that leap a quarter
    EXPECT_EQ(s.Index.LineAt(5 * Q), 4);
}

// The widest line's cells, counted byte by byte with the code page pairs of
// every line, against the index fed in blocks of any size: binary bytes and
// Chinese text, whose pairs take two cells instead of eight.
TEST(TextIndex, WidestLineCountsItsPairsHoweverTheBlocksAreCut) {
    const auto widest = [](const std::string& bytes) {
        size_t best = 0, cells = 0;
        bool lead = false, afterCr = false;
        for (const char c : bytes) {
            const uint8_t b = uint8_t(c);
            if (afterCr && b == '\n') {
                afterCr = false;
                continue;
            }
            afterCr = false;
            if (b == '\r' || b == '\n') {
                best = std::max(best, cells);
                cells = 0;
                lead = false;
                afterCr = b == '\r';
                continue;
            }
            if (lead && b >= 0x40 && b <= 0xFE && b != 0x7F) {
                cells -= 2; // the lead's escape (4) and this trail make one wide character
                lead = false;
                continue;
            }
            cells += b == '\\' ? 2 : b >= 0x20 && b < 0x7F ? 1 : 4;
            lead = b >= 0x81 && b <= 0xFE;
        }
        return std::max(best, cells);
    };
    uint32_t seed = 11;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    std::string binary, chinese, records;
    for (int i = 0; i < 200000; ++i)
        binary += char(next());
    // Binary records of one length: no line is plainly narrower than the widest, so every
    // line's pairs are counted, across runs of leads of every length and parity.
    for (int line = 0; line < 2000; ++line) {
        for (int k = 0; k < 150; ++k) {
            const uint32_t r = next();
            const char c = char(r % 3 == 0 ? 0x81 + r % 0x7E : r >> 3);
            records += c == '\r' || c == '\n' ? 'x' : c;
        }
        records += "\r\n";
    }
    for (int line = 0; line < 3000; ++line) {
        const uint32_t n = next() % 90;
        for (uint32_t k = 0; k < n; ++k)
            chinese += k % 7 == 3 ? std::string("a\\") : std::string("\xC4\xE3");
        chinese += next() % 2 ? "\r\n" : "\n";
    }
    for (const std::string* bytes : {&binary, &chinese, &records}) {
        for (const size_t block : {size_t(1), size_t(3), size_t(17), size_t(4096), size_t(70000)}) {
            TTextIndex index;
            for (size_t at = 0; at < bytes->size(); at += block) {
                const size_t n = std::min(block, bytes->size() - at);
                index.Feed(reinterpret_cast<const uint8_t*>(bytes->data() + at), n, 0);
            }
            EXPECT_EQ(index.MaxCells(), widest(*bytes)) << "block " << block;
        }
    }
}

TEST(TextIndex, ASnapshotReadsAsItWasWhileTheIndexGoesOn) {
    TStream s;
    s.Feed("one\ntw", 1);
    const TTextIndex shot = s.Index.Snapshot();
    s.Feed("o\nthree\n", 2);
    EXPECT_EQ(shot.LineCount(), 2);
    EXPECT_EQ(shot.Line(1).End, 6u);
    EXPECT_EQ(s.Index.LineCount(), 3);
    s.Index.Clear();
    EXPECT_EQ(s.Index.LineCount(), 0);
    EXPECT_EQ(s.Index.End(), 0u);
    EXPECT_EQ(shot.Line(0).End, 4u);
}

} // namespace
