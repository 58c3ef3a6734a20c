#include "Recestore.h"

#include <algorithm>
#include <cstring>

TReceStore::TReceStore(std::string_view leading) : m_leading(leading) {}

void TReceStore::Freeze(const uint8_t* line) {
    const size_t frozen = size_t(m_dumpLines - 1);
    const size_t at = frozen % ChunkLines;
    if (at == 0 && frozen / ChunkLines == m_chunks.size())
        m_chunks.push_back(std::make_unique_for_overwrite<uint8_t[]>(ChunkBytes));
    std::memcpy(m_chunks[frozen / ChunkLines].get() + at * HexDumpBytesPerLine, line,
                HexDumpBytesPerLine);
}

void TReceStore::Receive(const uint8_t* bytes, size_t count) {
    if (count == 0 || bytes == nullptr)
        return;
    for (size_t i = 0; i < count; ++i) {
        // Whole lines inside a block go to the store as raw bytes; only the
        // line the block ends on is laid out as text. The copied line is
        // frozen by the next pass, and Add resets the full line before any
        // of its stale text could show.
        while (m_rece.Count > 15 && m_dumpLines > 0 && count - i > HexDumpBytesPerLine) {
            Freeze(m_rece.Bytes);
            ++m_dumpLines;
            std::memcpy(m_rece.Bytes, bytes + i, HexDumpBytesPerLine);
            i += HexDumpBytesPerLine;
        }
        if (m_rece.Count > 15 && m_dumpLines > 0)
            Freeze(m_rece.Bytes); // the last line is complete and stays as it is
        // The first byte of a pane without dump lines finds ReceLine empty
        // rather than full, so Add does not report the line it begins.
        if (m_rece.Add(bytes[i]) || m_dumpLines == 0)
            ++m_dumpLines;
    }
    ++m_revision;
}

void TReceStore::Clear() {
    std::string().swap(m_textData);
    std::vector<uint64_t>().swap(m_textEnds);
    m_maxTextLine = 0;
    m_dumpLines = 0;
    std::vector<std::unique_ptr<uint8_t[]>>().swap(m_chunks);
    m_rece.Reset();
    ++m_epoch;
    ++m_revision;
}

void TReceStore::AddTextLines(std::string_view text) {
    size_t i = 0;
    for (;;) {
        const size_t end = text.find_first_of("\r\n", i);
        const std::string_view line = text.substr(i, end == std::string_view::npos ? end : end - i);
        m_textData.append(line);
        m_textEnds.push_back(m_textData.size());
        m_maxTextLine = std::max(m_maxTextLine, line.size());
        if (end == std::string_view::npos)
            return;
        i = end + 1;
        if (text[end] == '\r' && i < text.size() && text[i] == '\n')
            ++i;
    }
}

void TReceStore::Load(const std::vector<std::string>& lines) {
    Clear();
    size_t total = 0;
    for (const std::string& line : lines)
        total += line.size();
    m_textData.reserve(total);
    m_textEnds.reserve(lines.size());
    // A line that holds line breaks itself becomes several lines, so the
    // line count always matches what is shown.
    for (const std::string& line : lines)
        AddTextLines(line);
}

void TReceStore::LoadText(std::string_view text) {
    Clear();
    if (text.ends_with("\r\n"))
        text.remove_suffix(2);
    else if (text.ends_with('\n') || text.ends_with('\r'))
        text.remove_suffix(1);
    else if (text.empty())
        return;
    m_textData.reserve(text.size());
    AddTextLines(text);
    m_textEnds.shrink_to_fit();
}

bool TReceStore::IsDumpLine(int64_t k) const {
    return k >= int64_t(m_textEnds.size()) && k < LineCount();
}

void TReceStore::AppendLine(int64_t k, std::string& out) const {
    if (k < 0 || k >= LineCount())
        return;
    const int64_t texts = int64_t(m_textEnds.size());
    if (k < texts) {
        const uint64_t begin = k == 0 ? 0 : m_textEnds[size_t(k - 1)];
        out.append(m_textData, begin, m_textEnds[size_t(k)] - begin);
        return;
    }
    const int64_t j = k - texts;
    const uint8_t* bytes = m_rece.Bytes;
    int count = m_rece.Count;
    if (j < m_dumpLines - 1) {
        bytes =
            m_chunks[size_t(j) / ChunkLines].get() + (size_t(j) % ChunkLines) * HexDumpBytesPerLine;
        count = HexDumpBytesPerLine;
    }
    const size_t at = out.size();
    out.resize(at + m_leading.size() + HexDumpOffsetLen + HexDumpTextLen);
    HexDumpRenderBytes(out.data() + at, bytes, count, uint64_t(j), m_leading);
}

std::string_view TReceStore::LineView(int64_t k, std::string& scratch) const {
    if (k >= 0 && k < int64_t(m_textEnds.size())) {
        const uint64_t begin = k == 0 ? 0 : m_textEnds[size_t(k - 1)];
        return std::string_view(m_textData).substr(begin, m_textEnds[size_t(k)] - begin);
    }
    scratch.clear();
    AppendLine(k, scratch);
    return scratch;
}

size_t TReceStore::LineBytes(int64_t k) const {
    if (k < 0 || k >= LineCount())
        return 0;
    if (k >= int64_t(m_textEnds.size()))
        return m_leading.size() + HexDumpOffsetLen + HexDumpTextLen;
    return m_textEnds[size_t(k)] - (k == 0 ? 0 : m_textEnds[size_t(k - 1)]);
}

std::string TReceStore::Line(int64_t k) const {
    std::string out;
    AppendLine(k, out);
    return out;
}

std::string TReceStore::Text(int64_t first, int64_t last) const {
    if (first < 0)
        first = 0;
    if (last > LineCount())
        last = LineCount();
    std::string out;
    if (first >= last)
        return out;
    // Dump lines have a fixed width; text lines are a rough guess.
    out.reserve(size_t(last - first) * (m_leading.size() + HexDumpOffsetLen + HexDumpTextLen + 1));
    for (int64_t k = first; k < last; ++k) {
        if (k > first)
            out += '\n';
        AppendLine(k, out);
    }
    return out;
}

size_t TReceStore::MemoryUsed() const {
    return sizeof(*this) + m_textData.capacity() + m_textEnds.capacity() * sizeof(uint64_t) +
           m_chunks.capacity() * sizeof(m_chunks[0]) + m_chunks.size() * ChunkBytes;
}

size_t TReceStore::MaxLineBytes() const {
    const size_t dump = m_dumpLines > 0 ? m_leading.size() + HexDumpOffsetLen + HexDumpTextLen : 0;
    return std::max(m_maxTextLine, dump);
}
