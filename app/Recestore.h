#pragma once
// TReceStore: the receive pane's content, without any widget.
//
// The pane is a sequence of lines. An opened history file contributes text
// lines (UTF-8; the window converts byte text before loading). Received bytes
// contribute hex-dump lines, which are kept as raw bytes, 16 per line, and
// rendered on demand. Text lines always come first: received bytes only ever
// rewrite the last dump line or append one, so no opened line is ever lost to
// them, and Load replaces everything.
//
// A dump line's offset is that of its first byte among the bytes received
// since the pane was last cleared or opened: the j-th dump line shows 16·j,
// whatever number of text lines stands above it. An opened file holds some
// other session's bytes (with offsets of its own, or edited by hand), so
// counting on from the line's place in the pane would pass off the new bytes
// as that session's continuation; starting again from 00000000 marks where
// this session begins, as a Clear does.
//
// Not thread-safe: every call comes from the user-interface thread. Received
// blocks reach it through TReceQueue.

#include "Hexdump.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TReceStore {
public:
    explicit TReceStore(std::string_view leading = ReceLeading);

    // The pane's half of OnCommData for one delivered block: every byte goes
    // into ReceLine, which then rewrites the last line or, when the byte
    // began a new line, is appended. An empty block changes nothing.
    void Receive(const uint8_t* bytes, size_t count);
    // Empties the pane and resets ReceLine.
    void Clear();
    // Replaces the whole content by text lines and empties ReceLine: bytes
    // received next begin a dump line of their own below the text, at offset 0.
    void Load(const std::vector<std::string>& lines);
    // Same, splitting text at "\r\n", "\n" or "\r". An empty line after a
    // final line break is not a line.
    void LoadText(std::string_view text);

    int64_t LineCount() const { return int64_t(m_textEnds.size()) + m_dumpLines; }
    // The exact text of line k (empty when k is out of range).
    std::string Line(int64_t k) const;
    // Appends line k to out; nothing when k is out of range.
    void AppendLine(int64_t k, std::string& out) const;
    // Line k without a copy where possible: text lines are viewed in place,
    // dump lines are rendered into scratch. Empty when k is out of range.
    std::string_view LineView(int64_t k, std::string& scratch) const;
    // Length of line k in bytes, in O(1).
    size_t LineBytes(int64_t k) const;
    // True when line k was made from received bytes (all ASCII, fixed width).
    bool IsDumpLine(int64_t k) const;
    // Lines first..last-1 joined by "\n", without a final line break.
    std::string Text(int64_t first, int64_t last) const;
    std::string AllText() const { return Text(0, LineCount()); }

    // Length of the longest line in bytes (an upper bound once text lines
    // have been rewritten): the pane's horizontal extent without a scan.
    size_t MaxLineBytes() const;

    const THexDumpLine& ReceLine() const { return m_rece; }
    std::string_view Leading() const { return m_leading; }
    // Bytes of memory held for the content (for the benchmark's figures).
    size_t MemoryUsed() const;
    // Changes on Clear and Load: positions taken before no longer mean anything.
    uint64_t Epoch() const { return m_epoch; }
    // Changes on every change of the content.
    uint64_t Revision() const { return m_revision; }

private:
    // Full dump lines live in fixed-size chunks so growth never moves old data.
    static constexpr size_t ChunkLines = 16384;
    static constexpr size_t ChunkBytes = ChunkLines * HexDumpBytesPerLine;

    void Freeze(const uint8_t* line);
    // Appends the lines of text, split at line breaks, as text lines.
    void AddTextLines(std::string_view text);

    std::string m_leading;
    THexDumpLine m_rece;
    // Text lines: line i is m_textData[m_textEnds[i-1] .. m_textEnds[i]).
    std::string m_textData;
    std::vector<uint64_t> m_textEnds;
    size_t m_maxTextLine = 0;
    // Dump lines after the text lines. All but the last are full and frozen
    // in m_chunks; the last one is m_rece itself.
    int64_t m_dumpLines = 0;
    std::vector<std::unique_ptr<uint8_t[]>> m_chunks;
    uint64_t m_epoch = 0;
    uint64_t m_revision = 0;
};
