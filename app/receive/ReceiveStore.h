#pragma once
// TReceiveStore: the receive pane's content, without any widget.
//
// The pane is a sequence of lines kept in blocks. A text block holds lines of
// an opened history file (UTF-8) back to back with a 32-bit end per line. A
// dump block holds hex-dump lines as raw bytes, 16 per line, rendered on
// demand, and the offset of its first line; the lines of one block have
// consecutive offsets. Blocks of both kinds alternate in any order, as an
// opened file may hold several sessions' dumps and hand-written text. A line
// is found by a binary search over the blocks' first line numbers.
//
// Received bytes go to the receive run at the end: full lines are frozen into
// dump blocks, the line being filled is ReceLine. A dump line's offset is that
// of its first byte among the bytes received since the pane was last cleared
// or opened: the receive run starts at 00000000 below everything opened. An
// opened file holds some other session's bytes (with offsets of its own, or
// edited by hand), so counting on from it would pass off the new bytes as
// that session's continuation.
//
// An opened line that is exactly one of our own dump lines (as
// HexDumpRenderBytes writes it with this store's leading text) is kept as its
// bytes, so a reopened session costs about what the received one did; every
// line gives back exactly the text it was loaded from.
//
// The bytes of the receive run are also indexed as text lines (TTextIndex)
// as they arrive, with the time of each block, for the text view (TTextLines).
//
// With a memory limit set, the oldest blocks are dropped whole once the
// content would pass it, and a mark line at the top says how many lines went.
//
// Threads: not thread-safe; a store is used by one thread at a time (the
// window's, or the thread that opens a file into a fresh store before it is
// handed over with Adopt). Snapshot() gives a read-only copy that shares the
// full blocks and copies the rest; it can be read on any thread while this
// store goes on changing, since a block is never written once shared.

#include "BlockSupply.h"
#include "HexDump.h"
#include "TextIndex.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TReceiveStore {
public:
    explicit TReceiveStore(std::string_view leading = ReceLeading);
    TReceiveStore(TReceiveStore&&) = default;
    TReceiveStore& operator=(TReceiveStore&&) = delete; // Adopt keeps Epoch moving on

    // The pane's half of OnCommData for one delivered block: every byte goes
    // into ReceLine, which then rewrites the last line or, when the byte
    // began a new line, is appended. An empty block changes nothing. ms: when
    // the block arrived, milliseconds since the epoch (the text view's stamps).
    void Receive(const uint8_t* bytes, size_t count, int64_t ms = 0);
    // Empties the pane and resets ReceLine. The memory is freed (see
    // ReturnFreeMemory for handing it back to the system).
    void Clear();
    // Replaces the whole content by loaded lines and empties ReceLine: bytes
    // received next begin a dump line of their own below them, at offset 0.
    void Load(const std::vector<std::string>& lines);
    // Same, splitting text at "\r\n", "\n" or "\r". An empty line after a
    // final line break is not a line.
    void LoadText(std::string_view text);
    // Opening in steps, on a store cleared before: AddLoadedLine for each
    // line of the file (line breaks inside it split it), then EndLoad.
    void AddLoadedLine(std::string_view line);
    void EndLoad();
    // Takes other's content in O(1), with an Epoch of its own; the old
    // content is freed.
    void Adopt(TReceiveStore&& other);

    // Largest MemoryUsed before the oldest lines are dropped; 0: no limit.
    void SetMemoryLimit(size_t bytes);
    size_t MemoryLimit() const { return m_limit; }
    // Lines dropped since the last Clear or load (0: no mark line).
    int64_t DroppedLines() const { return m_dropped; }
    // How far the lines kept have moved up since the last Clear or load: the
    // lines dropped, less the mark line that took the place of the first.
    int64_t LinesShifted() const { return m_dropped > 0 ? m_dropped - 1 : 0; }
    // The text of the mark line for n dropped lines.
    static std::string DroppedMark(int64_t n);

    int64_t LineCount() const { return Mark() + (m_end - m_begin) + (m_dumpLines > 0 ? 1 : 0); }
    // The exact text of line k (empty when k is out of range).
    std::string Line(int64_t k) const;
    // Appends line k to out; nothing when k is out of range.
    void AppendLine(int64_t k, std::string& out) const;
    // Line k without a copy where possible: text lines are viewed in place,
    // dump lines are rendered into scratch. Empty when k is out of range.
    std::string_view LineView(int64_t k, std::string& scratch) const;
    // Same, for lines read in order: hint (0 at first) keeps the block of
    // the last line found, so the next line is found without a search.
    std::string_view LineView(int64_t k, std::string& scratch, size_t& hint) const;
    // Length of line k in bytes, in O(log blocks).
    size_t LineBytes(int64_t k) const;
    // True when line k is a dump line (received, or recognised when loaded):
    // all ASCII, fixed width.
    bool IsDumpLine(int64_t k) const;
    // Lines first..last-1 joined by "\n", without a final line break.
    std::string Text(int64_t first, int64_t last) const;
    std::string AllText() const { return Text(0, LineCount()); }

    // Length of the longest line in bytes (an upper bound once lines have
    // been dropped): the pane's horizontal extent without a scan.
    size_t MaxLineBytes() const;

    // The receive run for the text view. Run bytes are numbered from 0 (the
    // first since the last Clear or load); the oldest may have been dropped.
    const TTextIndex& TextIndex() const { return m_text; }
    // Lines before the run's first line held, the mark line excluded: those
    // of an opened file that are still held.
    int64_t LinesBeforeRun() const;
    // The run line (run byte / 16) of the first line of the run still held.
    int64_t RunFirstLine() const;
    // Contiguous run bytes from pos on: a pointer to them in at and their
    // count, 0 when pos is not held.
    size_t RunBytes(uint64_t pos, const uint8_t*& at) const;
    // Width of the lines that are not received bytes: of an opened file and the mark.
    size_t MaxOpenedLineBytes() const;

    const THexDumpLine& ReceLine() const { return m_rece; }
    std::string_view Leading() const { return m_leading; }
    // Bytes of memory held for the content.
    size_t MemoryUsed() const;
    // Changes on Clear, Load and Adopt: positions taken before no longer mean anything.
    uint64_t Epoch() const { return m_epoch; }
    // Changes on every change of the content.
    uint64_t Revision() const { return m_revision; }

    // A read-only copy of the content as it is now, in O(blocks): shares every
    // full block and copies the one being filled and ReceLine.
    std::shared_ptr<const TReceiveStore> Snapshot() const;

    // Lines per dump block, and the most a text block takes before the next
    // line starts a new one (a longer line gets a block of its own).
    static constexpr size_t DumpBlockLines = 16384;
    static constexpr size_t TextBlockBytes = blocksupply::BlockBytes;
    static constexpr size_t TextBlockLines = 65536;

private:
    struct TBlock;
    struct TSlot {
        int64_t First; // line number among every line the store ever held
        std::shared_ptr<TBlock> Block;
    };
    struct TWhere {
        const TBlock* Block = nullptr; // null: ReceLine (or the mark, see Kind)
        size_t Index = 0;              // line inside the block
    };

    int64_t Mark() const { return m_dropped > 0 ? 1 : 0; }
    // Line k (the mark line excluded by the caller) in its block.
    TWhere Find(int64_t k, size_t* hint = nullptr) const;
    void Reset();
    // A new last block; the one before it is finished.
    TBlock& Open(bool dump);
    void CloseTail();
    void Freeze(const uint8_t* line);
    // Freezes n whole lines that follow ReceLine's, each taking the next line number.
    void FreezeRun(const uint8_t* lines, size_t n);
    void AddText(std::string_view line);
    void AddDumpLine(const uint8_t* bytes, int count, uint64_t k);
    // Drops the oldest whole blocks while the content is over the limit.
    void Trim();

    std::string m_leading;
    THexDumpLine m_rece;
    std::deque<TSlot> m_slots;
    int64_t m_begin = 0;     // First of the oldest block kept
    int64_t m_end = 0;       // one past the last line in a block
    bool m_tailOpen = false; // the last block is still being filled (never shared)
    size_t m_closedBytes = 0; // memory of every block but an open tail
    size_t m_maxText = 0;
    bool m_anyDump = false;
    bool m_loadedDump = false; // an opened file gave dump lines
    // Lines of the receive run, ReceLine included; its frozen lines are the
    // last blocks.
    int64_t m_dumpLines = 0;
    int64_t m_runBegin = 0; // the receive run's first line among every line ever held
    TTextIndex m_text;      // the receive run's text lines
    int64_t m_dropped = 0;
    size_t m_limit = 0;
    uint64_t m_epoch = 0;
    uint64_t m_revision = 0;
};

// An opened line that is exactly one of our dump lines with this leading text:
// its bytes (count 1..16) and line number (offset / 16). False for anything
// else, including near misses that would not render back the same.
bool ParseDumpLine(std::string_view line, std::string_view leading, uint8_t* bytes, int& count,
                   uint64_t& k);
