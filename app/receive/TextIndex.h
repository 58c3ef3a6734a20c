#pragma once
// TTextIndex: where the text lines of the received bytes begin, and when, for
// the receive pane's text view. The bytes themselves stay in the receive
// store; this holds about 2 bytes per line.
//
// Lines are those of TTextRender: CR, LF and CR LF end a line, and a CR LF
// split between two blocks is one break. A line begins at its first byte (the
// LF of a CR LF is not one), so it holds at least one byte: its break, when
// it is empty. Rendering a line's bytes from its beginning with a fresh
// TTextRender gives the line as the renderer fed with every byte gives it: a
// line break leaves no state behind but the CR, and that is skipped here.
//
// Positions count received bytes from 0. The index is kept in chunks of
// ChunkBytes positions, which line up with the store's dump blocks, so the
// store's dropping of whole blocks drops whole chunks. A chunk holds the offsets
// of the lines that begin in it (2 bytes each) and the times of the blocks in which
// they begin: an entry only where a line begins in a block whose time differs
// from the entry before, so a flood of large blocks costs next to nothing and
// a trickle of single bytes no more than its lines do.
//
// Threads: not thread-safe; used by the thread that owns its store. A chunk
// is never written once the next one has begun, so Snapshot shares the full
// chunks with the copy and copies only the last.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

class TTextIndex {
public:
    // 16384 dump lines of 16 bytes: one dump block of the receive store.
    static constexpr uint64_t ChunkBytes = uint64_t(1) << 18;

    // Takes in a block received at ms (milliseconds since the epoch), in
    // O(count). An empty block changes nothing.
    void Feed(const uint8_t* bytes, size_t count, int64_t ms);
    void Clear();
    // Forgets the positions before cut (rounded down to a chunk) and the lines
    // that begin there. A line that runs on across cut stays, from cut on.
    void DropBefore(uint64_t cut);

    // Positions fed so far; the first one still held.
    uint64_t End() const { return m_end; }
    uint64_t Begin() const { return m_base; }
    // Lines are numbered from the first one since Clear; FirstLine is the
    // oldest held, EndLine one past the newest (which may still be growing).
    int64_t FirstLine() const;
    int64_t EndLine() const { return m_lines; }
    int64_t LineCount() const { return m_lines - FirstLine(); }

    struct TLine {
        uint64_t Begin = 0; // the first byte (or Begin() for a line that runs in from dropped bytes)
        uint64_t End = 0;   // where the next line begins, or End(): the break is included
        int64_t Ms = 0;     // when the block with its first byte arrived
    };
    // Line k, FirstLine() <= k < EndLine(), in O(log chunks).
    TLine Line(int64_t k) const;
    // The line that holds the byte at pos (positions outside what is held are
    // taken to its nearest end); FirstLine() when there are no lines.
    int64_t LineAt(uint64_t pos) const;

    // The width of the widest line in character cells, without a time stamp:
    // a printable byte takes one, a backslash two, an escape four and a code
    // page pair two (as if every pair were a character). Lines dropped since
    // still count: it is the pane's horizontal extent, not a measure.
    size_t MaxCells() const { return std::max(m_maxCells, m_open ? m_cells : size_t(0)); }
    // Bytes of memory held.
    size_t MemoryBytes() const;
    // A copy that reads alike while this one goes on changing (see above).
    TTextIndex Snapshot() const;

private:
    // The offsets of the lines begun in a chunk, in order: their low 16 bits, and where each
    // quarter of the chunk (64 KiB) begins among them.
    class TStarts {
    public:
        void Push(uint32_t offset);
        size_t size() const { return Low.size(); }
        uint32_t operator[](size_t i) const {
            const uint32_t quarter = uint32_t(i >= QuarterFirst[1]) + uint32_t(i >= QuarterFirst[2]) +
                                     uint32_t(i >= QuarterFirst[3]);
            return quarter << 16 | Low[i];
        }
        // The first of them above offset (size() when none is).
        size_t UpperBound(uint32_t offset) const;
        void Reserve(size_t n) { Low.reserve(n); }
        // Gives back room a chunk will not use; a little is kept rather than copied.
        void ShrinkToFit() {
            if (Low.capacity() - Low.size() > Low.size() / 8)
                Low.shrink_to_fit();
        }
        size_t MemoryBytes() const { return Low.capacity() * sizeof(uint16_t); }

    private:
        static constexpr uint32_t None = UINT32_MAX; // no line begins in this quarter or after it
        std::vector<uint16_t> Low;
        std::array<uint32_t, 4> QuarterFirst{0, None, None, None};
    };

    struct TChunk {
        int64_t FirstLine = 0;   // lines begun before the chunk
        bool OpenAtStart = false; // one of them runs on into it
        int64_t BaseMs = 0;       // the time of the last line begun before it
        TStarts Starts;
        std::vector<uint32_t> StampAt; // offsets where the time changes
        std::vector<int64_t> StampMs;

        size_t MemoryBytes() const {
            return sizeof(TChunk) + 32 + Starts.MemoryBytes() + StampAt.capacity() * 4 +
                   StampMs.capacity() * 8;
        }
        int64_t MsAt(uint32_t offset) const;
    };

    void NewChunk();
    void Scan(const uint8_t* bytes, size_t count, int64_t ms);
    // The chunk in which line k begins, k >= the first chunk's FirstLine.
    size_t ChunkOf(int64_t k) const;
    uint64_t ChunkBegin(size_t i) const { return m_base + i * ChunkBytes; }

    std::deque<std::shared_ptr<TChunk>> m_chunks;
    uint64_t m_base = 0; // position of the first chunk
    uint64_t m_end = 0;
    int64_t m_lines = 0;
    bool m_open = false;    // the last line has begun and not ended
    bool m_afterCr = false; // the last byte was a CR that ended a line
    bool m_lead = false;    // the last byte may begin a code page pair
    bool m_anyStamp = false;
    int64_t m_lastMs = 0;
    size_t m_cells = 0; // of the line being filled
    size_t m_maxCells = 0;
    size_t m_closedBytes = 0; // memory of every chunk but the last
};
