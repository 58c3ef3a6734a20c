#pragma once
// TTextLines: the receive pane's content as text instead of a hex dump. The
// same store, read another way: the lines of an opened file and the mark line
// of dropped lines as they are, then the received bytes as TTextRender's lines
// (found through the store's TTextIndex and rendered when asked for), each
// optionally with the time its first byte arrived. Dump lines of an opened
// file are shown as their dump text here too: they are another session's
// bytes, laid out as that session showed them.
//
// Line numbers of the two views map both ways to the line that shows the
// same bytes, in O(log), so switching keeps the view where it was.
//
// Plain C++; reads the store it is given, on the store's thread (or a
// snapshot's on any thread).

#include "ReceiveStore.h"
#include "TextRender.h"

#include <cstdint>
#include <string>
#include <string_view>

class TTextLines {
public:
    // "HH:MM:SS.mmm ": the cells a stamp adds before a line.
    static constexpr size_t StampCells = 13;

    TTextLines(const TReceiveStore& store, TTextRender::TDecodePair decode);

    bool Stamps = false;

    int64_t LineCount() const;
    // Line k as shown (empty when out of range). A line longer than maxBytes
    // may be cut a little past it, so a huge line costs only what is in view.
    std::string_view LineView(int64_t k, std::string& scratch, size_t maxBytes = SIZE_MAX) const;
    // An upper bound of line k's length in bytes, in O(log).
    size_t LineBytes(int64_t k) const;
    // The widest line in character cells (see TTextIndex::MaxCells).
    size_t MaxLineCells() const;
    // Lines dropped from the top since the last Clear or load; how far the
    // lines still held have moved up (the mark line takes the first place).
    int64_t DroppedLines() const;
    int64_t LinesShifted() const;
    // The line of this view that shows the first byte of hex-view line k, and
    // the other way round; clamped to the lines there are.
    int64_t FromHexLine(int64_t k) const;
    int64_t ToHexLine(int64_t k) const;

private:
    int64_t Mark() const { return m_store.DroppedLines() > 0 ? 1 : 0; }
    // The first line of the received bytes in this view's numbering.
    int64_t RunStart() const { return Mark() + m_store.LinesBeforeRun(); }
    void Render(int64_t line, std::string& out, size_t maxBytes) const;

    const TReceiveStore& m_store;
    TTextRender::TDecodePair m_decode;
};
