#include "TextIndex.h"

#include "BlockSupply.h"

#include <algorithm>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr bool IsLead(uint8_t b) {
    return b >= 0x81 && b <= 0xFE;
}

constexpr bool IsTrail(uint8_t b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// Cells a byte takes in TTextRender's text when it stands alone: printable
// ASCII one, a backslash two ("\\"), anything else four ("\x1B"). A lead byte
// is counted as an escape until its trail makes it a pair.
struct TCells {
    uint8_t Of[256];
    constexpr TCells() : Of() {
        for (int b = 0; b < 256; ++b)
            Of[b] = b == '\\' ? 2 : b >= 0x20 && b < 0x7F ? 1 : 4;
    }
};
constexpr TCells Cells;

// Lead: the byte may begin a pair. Trail: the byte may end one. Merge: what
// a trail gives back when it ends a pair: its own cells, and two of the
// lead's four.
struct TKinds {
    uint8_t Lead[256];
    uint8_t Trail[256];
    uint8_t Merge[256];
    constexpr TKinds() : Lead(), Trail(), Merge() {
        for (int b = 0; b < 256; ++b) {
            Lead[b] = IsLead(uint8_t(b)) ? 1 : 0;
            Trail[b] = IsTrail(uint8_t(b)) ? 1 : 0;
            Merge[b] = uint8_t(Cells.Of[b] + 2);
        }
    }
};
[[maybe_unused]] constexpr TKinds Kinds; // for the way without SSE2

// From i on, the first CR or LF (or count), the cells of the bytes before it
// when every byte stands alone (an upper bound when code page pairs are among
// them), and whether any of them is above 0x7F. One pass, 16 bytes at a time
// where the processor has SSE2 (every x86-64); only the last few bytes of a
// block are taken one at a time.
size_t LineRun(const uint8_t* bytes, size_t i, size_t count, uint64_t& cells, bool& high) {
    uint64_t sum = 0;
    bool anyHigh = false;
#ifdef __SSE2__
    const __m128i cr = _mm_set1_epi8('\r'), lf = _mm_set1_epi8('\n');
    const __m128i space = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7F);
    const __m128i slash = _mm_set1_epi8('\\'), one = _mm_set1_epi8(1), three = _mm_set1_epi8(3);
    const __m128i lanes = _mm_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m128i total = _mm_setzero_si128();
    int highs = 0;
    bool found = false;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const int breaks =
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, lf)));
        // Signed: below 0x20 takes in the bytes from 0x80 up as well.
        const __m128i escape = _mm_or_si128(_mm_cmplt_epi8(v, space), _mm_cmpeq_epi8(v, del));
        __m128i c = _mm_add_epi8(_mm_add_epi8(one, _mm_and_si128(_mm_cmpeq_epi8(v, slash), one)),
                                 _mm_and_si128(escape, three));
        int high16 = _mm_movemask_epi8(v);
        if (breaks != 0) {
            const int n = __builtin_ctz(unsigned(breaks));
            c = _mm_and_si128(c, _mm_cmplt_epi8(lanes, _mm_set1_epi8(char(n))));
            high16 &= (1 << n) - 1;
            i += size_t(n);
            found = true;
        }
        total = _mm_add_epi64(total, _mm_sad_epu8(c, _mm_setzero_si128()));
        highs |= high16;
        if (found)
            break;
    }
    sum = uint64_t(_mm_cvtsi128_si64(total)) +
          uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(total, total)));
    anyHigh = highs != 0;
    if (!found)
#endif
        for (; i < count && bytes[i] != '\r' && bytes[i] != '\n'; ++i) {
            sum += Cells.Of[bytes[i]];
            anyHigh = anyHigh || bytes[i] >= 0x80;
        }
    cells = sum;
    high = anyHigh;
    return i;
}

// What the code page pairs of a piece give back from LineRun's cells: a lead and
// its trail take two cells instead of the lead's four and the trail's own.
// lead: the byte before may begin a pair (in and out). readable: how many bytes
// from bytes on may be read (at least count).
#ifdef __SSE2__
// 64 bytes as masks, bit i for byte i: leads, trails, backslashes, bytes from 0x80.
struct TPairMasks {
    uint64_t Lead = 0, Trail = 0, Slash = 0, High = 0;
};

TPairMasks PairMasks(const uint8_t* bytes) {
    const __m128i x80 = _mm_set1_epi8(char(0x80)), xff = _mm_set1_epi8(char(0xFF));
    const __m128i x3f = _mm_set1_epi8(0x3F), x7f = _mm_set1_epi8(0x7F), slash = _mm_set1_epi8('\\');
    const auto mask = [](__m128i v) { return uint64_t(uint32_t(_mm_movemask_epi8(v))); };
    TPairMasks m;
    for (int k = 0; k < 4; ++k) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * k));
        const uint64_t high = mask(v), ff = mask(_mm_cmpeq_epi8(v, xff));
        // Signed: above 0x3F takes 0x40..0x7F only.
        const uint64_t ascii = mask(_mm_andnot_si128(_mm_cmpeq_epi8(v, x7f), _mm_cmpgt_epi8(v, x3f)));
        const int at = 16 * k;
        m.Lead |= (high & ~ff & ~mask(_mm_cmpeq_epi8(v, x80))) << at;
        m.Trail |= (ascii | (high & ~ff)) << at;
        m.Slash |= mask(_mm_cmpeq_epi8(v, slash)) << at;
        m.High |= high << at;
    }
    return m;
}

// Bits set in x: one instruction where the build may use it, otherwise a few in line (the
// compiler's fallback is a call into its library for each word, a seventh of the window's work
// under a flood of binary records).
inline uint64_t Pop(uint64_t x) {
#ifdef __POPCNT__
    return uint64_t(__builtin_popcountll(x));
#else
    x -= (x >> 1) & 0x5555555555555555ull;
    x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;
    return (x * 0x0101010101010101ull) >> 56;
#endif
}

// 64 bytes at a time, without a step per byte: equal lines of binary records
// have every line's pairs counted, as none of them is plainly narrower than
// the widest.
uint64_t PairSavings(const uint8_t* bytes, size_t count, size_t readable, bool& lead) {
    constexpr uint64_t Odd = 0xAAAAAAAAAAAAAAAAull;
    uint64_t merged = 0;
    uint64_t carry = lead ? 1 : 0; // the first byte follows a lead that may begin a pair
    uint8_t last[64];
    for (size_t at = 0; at < count; at += 64) {
        const size_t n = std::min<size_t>(64, count - at);
        const uint8_t* p = bytes + at;
        if (readable - at < 64) { // zero bytes neither lead nor trail
            std::memset(last, 0, sizeof last);
            std::memcpy(last, p, n);
            p = last;
        }
        TPairMasks m = PairMasks(p);
        if (n < 64) { // the bytes after the piece are not in it
            const uint64_t in = (uint64_t(1) << n) - 1;
            m.Lead &= in;
            m.Trail &= in;
        }
        // In a run of leads every other byte begins a pair, from the run's first byte, or
        // from its second when the first ends a pair begun before it. One subtraction finds
        // each run's parity: open holds the leads that may begin a pair, follows the bytes
        // right after them, which pair when they may trail.
        const uint64_t starts = m.Lead & ~carry;
        const uint64_t code = (((starts << 1) | Odd) - starts) ^ Odd;
        const uint64_t follows = code ^ (m.Lead | carry);
        const uint64_t open = code & m.Lead;
        const uint64_t trails = follows & m.Trail;
        // A trail gives back its own cells and two: 3 for ASCII, 4 for a backslash, 6 from 0x80.
        if (trails != 0)
            merged += 3 * Pop(trails) + Pop(trails & m.Slash) + 3 * Pop(trails & m.High);
        carry = (open >> (n - 1)) & 1;
    }
    lead = carry != 0;
    return merged;
}
#else
uint64_t PairSavings(const uint8_t* bytes, size_t count, size_t, bool& lead) {
    uint64_t merged = 0;
    uint32_t l = lead ? 1 : 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        const uint32_t pair = l & Kinds.Trail[b];
        merged += (0u - pair) & Kinds.Merge[b];
        l = (pair ^ 1u) & Kinds.Lead[b];
    }
    lead = l != 0;
    return merged;
}
#endif

} // namespace

int64_t TTextIndex::TChunk::MsAt(uint32_t offset) const {
    const auto it = std::upper_bound(StampAt.begin(), StampAt.end(), offset);
    return it == StampAt.begin() ? BaseMs : StampMs[size_t(it - StampAt.begin()) - 1];
}

static_assert(TTextIndex::ChunkBytes == uint64_t(4) << 16, "a chunk is four quarters of 64 KiB");

void TTextIndex::TStarts::Push(uint32_t offset) {
    for (uint32_t quarter = 1; quarter <= offset >> 16; ++quarter)
        if (QuarterFirst[quarter] == None)
            QuarterFirst[quarter] = uint32_t(Low.size());
    Low.push_back(uint16_t(offset));
}

size_t TTextIndex::TStarts::UpperBound(uint32_t offset) const {
    const uint32_t quarter = offset >> 16;
    const size_t begin = QuarterFirst[quarter];
    if (begin == None)
        return Low.size();
    const size_t end =
        quarter < 3 && QuarterFirst[quarter + 1] != None ? QuarterFirst[quarter + 1] : Low.size();
    return size_t(std::upper_bound(Low.begin() + ptrdiff_t(begin), Low.begin() + ptrdiff_t(end),
                                   uint16_t(offset)) -
                  Low.begin());
}

void TTextIndex::Clear() {
    // A long session's chunks are many: they are freed on another thread.
    blocksupply::DiscardContents(m_chunks);
    *this = TTextIndex();
}

void TTextIndex::NewChunk() {
    size_t expected = 0; // lines, like the last chunk's: room made once, not grown and copied
    if (!m_chunks.empty()) {
        TChunk& back = *m_chunks.back();
        back.Starts.ShrinkToFit();
        back.StampAt.shrink_to_fit();
        back.StampMs.shrink_to_fit();
        m_closedBytes += back.MemoryBytes();
        expected = back.Starts.size() + back.Starts.size() / 16;
    }
    auto chunk = std::make_shared<TChunk>();
    chunk->Starts.Reserve(expected);
    chunk->FirstLine = m_lines;
    chunk->OpenAtStart = m_open;
    chunk->BaseMs = m_lastMs;
    m_chunks.push_back(std::move(chunk));
}

void TTextIndex::Feed(const uint8_t* bytes, size_t count, int64_t ms) {
    while (count > 0) {
        if (m_chunks.empty() || m_end >= ChunkBegin(m_chunks.size() - 1) + ChunkBytes)
            NewChunk();
        const size_t n = size_t(std::min<uint64_t>(count, ChunkBytes - m_end % ChunkBytes));
        Scan(bytes, n, ms);
        bytes += n;
        count -= n;
    }
}

// One piece of a block inside the last chunk, a line's run of bytes at a time.
void TTextIndex::Scan(const uint8_t* bytes, size_t count, int64_t ms) {
    TChunk& chunk = *m_chunks.back();
    const uint32_t first = uint32_t(m_end % ChunkBytes);
    for (size_t i = 0; i < count;) {
        const uint8_t b = bytes[i];
        if (m_afterCr) {
            m_afterCr = false;
            if (b == '\n') {
                ++i;
                continue; // the second half of a CR LF
            }
        }
        if (!m_open) {
            m_open = true;
            ++m_lines;
            m_cells = 0;
            m_lead = false;
            const uint32_t at = first + uint32_t(i);
            chunk.Starts.Push(at);
            if (!m_anyStamp || ms != m_lastMs) {
                chunk.StampAt.push_back(at);
                chunk.StampMs.push_back(ms);
                m_lastMs = ms;
                m_anyStamp = true;
            }
        }
        if (b == '\r' || b == '\n') {
            m_open = false;
            m_afterCr = b == '\r';
            m_maxCells = std::max(m_maxCells, m_cells);
            ++i;
            continue;
        }
        uint64_t lone = 0;
        bool high = false;
        const size_t end = LineRun(bytes, i, count, lone, high);
        if (!high && !m_lead) {
            m_cells += lone; // nothing to pair
        } else if (end == count || m_cells + lone > m_maxCells) {
            // The line goes on in the next block, or may become the widest:
            // its pairs are counted.
            m_cells += lone - PairSavings(bytes + i, end - i, count - i, m_lead);
        } else {
            // The line ends here and is not the widest even with every byte
            // alone: its pairs need not be found.
            m_cells += lone;
        }
        i = end;
    }
    m_end += count;
}

void TTextIndex::DropBefore(uint64_t cut) {
    cut = std::min(cut, m_end - m_end % ChunkBytes);
    while (!m_chunks.empty() && m_base + ChunkBytes <= cut) {
        if (m_chunks.size() > 1)
            m_closedBytes -= m_chunks.front()->MemoryBytes();
        m_chunks.pop_front();
        m_base += ChunkBytes;
    }
}

int64_t TTextIndex::FirstLine() const {
    if (m_chunks.empty())
        return m_lines;
    const TChunk& front = *m_chunks.front();
    return front.FirstLine - (front.OpenAtStart ? 1 : 0);
}

size_t TTextIndex::ChunkOf(int64_t k) const {
    const auto it = std::partition_point(m_chunks.begin(), m_chunks.end(), [k](const auto& c) {
        return c->FirstLine + int64_t(c->Starts.size()) <= k;
    });
    return size_t(it - m_chunks.begin());
}

TTextIndex::TLine TTextIndex::Line(int64_t k) const {
    TLine line;
    if (k < FirstLine() || k >= m_lines)
        return line;
    const TChunk& front = *m_chunks.front();
    size_t i = 0;
    if (k < front.FirstLine) { // runs in from bytes that were dropped
        line.Begin = m_base;
        line.Ms = front.BaseMs;
    } else {
        i = ChunkOf(k);
        const TChunk& chunk = *m_chunks[i];
        const uint32_t offset = chunk.Starts[size_t(k - chunk.FirstLine)];
        line.Begin = ChunkBegin(i) + offset;
        line.Ms = chunk.MsAt(offset);
    }
    line.End = m_end;
    if (k + 1 < m_lines) {
        const TChunk* chunk = m_chunks[i].get();
        if (k + 1 >= chunk->FirstLine + int64_t(chunk->Starts.size())) {
            i = ChunkOf(k + 1);
            chunk = m_chunks[i].get();
        }
        line.End = ChunkBegin(i) + chunk->Starts[size_t(k + 1 - chunk->FirstLine)];
    }
    return line;
}

int64_t TTextIndex::LineAt(uint64_t pos) const {
    const int64_t first = FirstLine();
    if (m_lines == first)
        return first;
    pos = std::clamp(pos, m_base, m_end - 1);
    const size_t i = size_t((pos - m_base) / ChunkBytes);
    const TChunk& chunk = *m_chunks[i];
    const int64_t k = chunk.FirstLine + int64_t(chunk.Starts.UpperBound(uint32_t(pos % ChunkBytes))) - 1;
    return std::clamp(k, first, m_lines - 1);
}

size_t TTextIndex::MemoryBytes() const {
    size_t bytes = sizeof(*this) + m_closedBytes + m_chunks.size() * sizeof(m_chunks.front());
    if (!m_chunks.empty())
        bytes += m_chunks.back()->MemoryBytes();
    return bytes;
}

TTextIndex TTextIndex::Snapshot() const {
    TTextIndex copy = *this;
    if (!copy.m_chunks.empty())
        copy.m_chunks.back() = std::make_shared<TChunk>(*m_chunks.back());
    return copy;
}
