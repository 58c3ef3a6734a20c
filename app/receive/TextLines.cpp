#include "TextLines.h"

#include <algorithm>

TTextLines::TTextLines(const TReceiveStore& store, TTextRender::TDecodePair decode)
    : m_store(store), m_decode(std::move(decode)) {}

int64_t TTextLines::LineCount() const {
    return RunStart() + m_store.TextIndex().LineCount();
}

int64_t TTextLines::DroppedLines() const {
    const TTextIndex& index = m_store.TextIndex();
    const int64_t before = m_store.DroppedLines() - m_store.RunFirstLine();
    return before + index.FirstLine();
}

int64_t TTextLines::LinesShifted() const {
    return DroppedLines() - Mark();
}

std::string_view TTextLines::LineView(int64_t k, std::string& scratch, size_t maxBytes) const {
    scratch.clear();
    if (k < 0 || k >= LineCount())
        return {};
    if (k < Mark()) {
        scratch = TReceiveStore::DroppedMark(DroppedLines());
        return scratch;
    }
    if (k < RunStart())
        return m_store.LineView(k, scratch);
    Render(m_store.TextIndex().FirstLine() + (k - RunStart()), scratch, maxBytes);
    return scratch;
}

// Line's bytes through a renderer of its own, a piece at a time, until the
// line ends or is long enough for the caller.
void TTextLines::Render(int64_t line, std::string& out, size_t maxBytes) const {
    const TTextIndex::TLine where = m_store.TextIndex().Line(line);
    TTextRender render(m_decode);
    render.Stamps = Stamps;
    bool done = false;
    const auto take = [&](const std::string& text) {
        if (!done)
            out = text;
        done = true;
    };
    constexpr size_t Piece = 4096;
    for (uint64_t pos = where.Begin; pos < where.End && !done;) {
        const uint8_t* at = nullptr;
        size_t n = m_store.RunBytes(pos, at);
        if (n == 0)
            break;
        n = size_t(std::min<uint64_t>({n, where.End - pos, Piece}));
        render.Feed(at, n, where.Ms, take);
        pos += n;
        if (!done && render.Partial().size() >= maxBytes) {
            out = render.Partial();
            return;
        }
    }
    render.Finish(take);
}

size_t TTextLines::LineBytes(int64_t k) const {
    if (k < 0 || k >= LineCount())
        return 0;
    if (k < RunStart()) {
        std::string scratch;
        return k < Mark() ? LineView(k, scratch).size() : m_store.LineBytes(k);
    }
    const TTextIndex::TLine where =
        m_store.TextIndex().Line(m_store.TextIndex().FirstLine() + (k - RunStart()));
    // An escape is four bytes for one; a pair three for two.
    const uint64_t bytes = (where.End - where.Begin) * 4 + (Stamps ? StampCells : 0);
    return size_t(std::min<uint64_t>(bytes, SIZE_MAX / 2));
}

size_t TTextLines::MaxLineCells() const {
    size_t cells = m_store.MaxOpenedLineBytes();
    if (m_store.TextIndex().LineCount() > 0)
        cells = std::max(cells, m_store.TextIndex().MaxCells() + (Stamps ? StampCells : 0));
    if (Mark() > 0)
        cells = std::max(cells, TReceiveStore::DroppedMark(DroppedLines()).size());
    return cells;
}

int64_t TTextLines::FromHexLine(int64_t k) const {
    const int64_t count = LineCount();
    if (k < RunStart() || count == 0)
        return std::clamp<int64_t>(k, 0, std::max<int64_t>(0, count - 1));
    const TTextIndex& index = m_store.TextIndex();
    const int64_t runLine = m_store.RunFirstLine() + (k - RunStart());
    const int64_t line = index.LineAt(uint64_t(runLine) * HexDumpBytesPerLine);
    return std::min(count - 1, RunStart() + (line - index.FirstLine()));
}

int64_t TTextLines::ToHexLine(int64_t k) const {
    const int64_t count = m_store.LineCount();
    if (k < RunStart() || count == 0)
        return std::clamp<int64_t>(k, 0, std::max<int64_t>(0, count - 1));
    const TTextIndex& index = m_store.TextIndex();
    const TTextIndex::TLine where = index.Line(index.FirstLine() + (k - RunStart()));
    const int64_t runLine = int64_t(where.Begin / HexDumpBytesPerLine);
    return std::clamp<int64_t>(RunStart() + (runLine - m_store.RunFirstLine()), 0, count - 1);
}
