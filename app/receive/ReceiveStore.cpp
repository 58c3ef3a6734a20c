#include "ReceiveStore.h"

#include "BlockSupply.h"

#include <algorithm>
#include <cstring>

static_assert(TReceiveStore::DumpBlockLines * HexDumpBytesPerLine == blocksupply::BlockBytes,
              "a dump block takes one block of the supply");

struct TReceiveStore::TBlock {
    bool Dump = false;
    uint64_t K0 = 0;   // dump: line number (offset / 16) of the first line
    int LastCount = 0; // dump: bytes in the last line; every other line holds 16
    size_t Lines = 0;
    // Dump: 16 per line. A block's bytes come from the supply that makes them
    // present ahead of need.
    blocksupply::TBytes Bytes;
    // Text: the lines back to back, from the supply as well: an opened file of a gigabyte in
    // small pages cost the window's thread stretches of several milliseconds while idle on a
    // virtual machine that maps the process's memory through tables of its own.
    blocksupply::TBytes Data;
    // Text: where each line ends in Data. A line longer than a block is alone in
    // one, and then ends at Data's end whatever 32 bits make of it.
    std::vector<uint32_t> Ends;

    std::string_view TextLine(size_t i) const {
        const size_t begin = i == 0 ? 0 : Ends[i - 1];
        const size_t end = Lines == 1 ? Data.size() : Ends[i];
        return std::string_view(reinterpret_cast<const char*>(Data.data()) + begin, end - begin);
    }
    int DumpCount(size_t i) const { return i + 1 == Lines ? LastCount : HexDumpBytesPerLine; }
    // The allocation of the block and its control block included.
    size_t MemoryBytes() const {
        return sizeof(TBlock) + 32 + Bytes.capacity() + Data.capacity() +
               Ends.capacity() * sizeof(uint32_t);
    }
};

namespace {

// The value of each upper-case hex digit, -1 for any other character.
struct THexValues {
    int8_t Of[256];
    constexpr THexValues() : Of() {
        for (int c = 0; c < 256; ++c)
            Of[c] = c >= '0' && c <= '9' ? int8_t(c - '0') : c >= 'A' && c <= 'F' ? int8_t(c - 'A' + 10) : -1;
    }
};
constexpr THexValues HexValues;

// The first "\r" or "\n" at or after i, or npos: two vectorised scans instead
// of find_first_of's test of every character against the set.
size_t BreakAt(std::string_view text, size_t i) {
    const char* begin = text.data() + i;
    size_t n = text.size() - i;
    const void* lf = std::memchr(begin, '\n', n);
    if (lf != nullptr)
        n = size_t(static_cast<const char*>(lf) - begin);
    const void* cr = std::memchr(begin, '\r', n);
    if (cr != nullptr)
        return i + size_t(static_cast<const char*>(cr) - begin);
    return lf != nullptr ? i + n : std::string_view::npos;
}

// Offsets are 8 hex digits: line numbers continue modulo 2^28.
constexpr uint64_t LineNumberMask = (uint64_t(1) << 28) - 1;

} // namespace

bool ParseDumpLine(std::string_view line, std::string_view leading, uint8_t* bytes, int& count,
                   uint64_t& k) {
    const size_t len = leading.size() + HexDumpOffsetLen + HexDumpTextLen;
    if (line.size() != len || !line.starts_with(leading))
        return false;
    const char* p = line.data() + leading.size();
    uint32_t offset = 0;
    for (int i = 0; i < 8; ++i) {
        const int v = HexValues.Of[uint8_t(p[i])];
        if (v < 0)
            return false;
        offset = offset << 4 | uint32_t(v);
    }
    if (offset % HexDumpBytesPerLine != 0 || p[8] != ':' || p[9] != ' ' || p[10] != ' ')
        return false;
    const char* hex = p + HexDumpOffsetLen;
    const char* chars = hex + HexDumpCharCol;
    // Checked as HexDumpRenderBytes writes it, without writing it: the pairs
    // with a space after each, spaces for the pairs not there, two spaces,
    // then the printable column padded with spaces.
    int n = 0;
    for (; n < HexDumpBytesPerLine; ++n) {
        const int high = HexValues.Of[uint8_t(hex[3 * n])], low = HexValues.Of[uint8_t(hex[3 * n + 1])];
        if ((high | low) < 0)
            break;
        const uint8_t b = uint8_t(high << 4 | low);
        if (hex[3 * n + 2] != ' ' || chars[n] != HexDumpPrintable(b))
            return false;
        bytes[n] = b;
    }
    if (n == 0)
        return false;
    for (int i = 3 * n; i < HexDumpCharCol; ++i) {
        if (hex[i] != ' ')
            return false;
    }
    for (int i = n; i < HexDumpBytesPerLine; ++i) {
        if (chars[i] != ' ')
            return false;
    }
    count = n;
    k = offset / HexDumpBytesPerLine;
    return true;
}

TReceiveStore::TReceiveStore(std::string_view leading) : m_leading(leading) {}

std::string TReceiveStore::DroppedMark(int64_t n) {
    return "\xe2\x80\xa6\xe2\x80\xa6 \xe5\xb7\xb2\xe4\xb8\xa2\xe5\xbc\x83\xe6\x9c\x80\xe6\x97\xa9"
           "\xe7\x9a\x84 " +
           std::to_string(n) + " \xe8\xa1\x8c \xe2\x80\xa6\xe2\x80\xa6";
}

TReceiveStore::TBlock& TReceiveStore::Open(bool dump) {
    CloseTail();
    auto block = std::make_shared<TBlock>();
    block->Dump = dump;
    m_slots.push_back(TSlot{m_end, block});
    m_begin = m_slots.front().First;
    m_tailOpen = true;
    return *block;
}

void TReceiveStore::CloseTail() {
    if (!m_tailOpen)
        return;
    TBlock& tail = *m_slots.back().Block;
    tail.Bytes.shrink_to_fit();
    // A text block closes when the next line does not fit: a little room left stays, so
    // that its bytes stay in the supply's memory.
    if (tail.Data.capacity() - tail.Data.size() > TextBlockBytes / 16)
        tail.Data.shrink_to_fit();
    tail.Ends.shrink_to_fit();
    m_closedBytes += tail.MemoryBytes();
    m_tailOpen = false;
}

void TReceiveStore::Freeze(const uint8_t* line) {
    TBlock* tail = m_tailOpen ? m_slots.back().Block.get() : nullptr;
    if (tail == nullptr || tail->Lines == DumpBlockLines) {
        tail = &Open(true);
        tail->K0 = uint64_t(m_dumpLines - 1);
        tail->Bytes.reserve(DumpBlockLines * HexDumpBytesPerLine);
    }
    tail->Bytes.append(line, HexDumpBytesPerLine);
    tail->LastCount = HexDumpBytesPerLine;
    ++tail->Lines;
    ++m_end;
}

void TReceiveStore::FreezeRun(const uint8_t* lines, size_t n) {
    while (n > 0) {
        TBlock* tail = m_tailOpen ? m_slots.back().Block.get() : nullptr;
        if (tail == nullptr || tail->Lines == DumpBlockLines) {
            tail = &Open(true);
            tail->K0 = uint64_t(m_dumpLines - 1);
            tail->Bytes.reserve(DumpBlockLines * HexDumpBytesPerLine);
        }
        const size_t take = std::min(n, DumpBlockLines - tail->Lines);
        tail->Bytes.append(lines, take * HexDumpBytesPerLine);
        tail->LastCount = HexDumpBytesPerLine;
        tail->Lines += take;
        m_end += int64_t(take);
        m_dumpLines += int64_t(take);
        lines += take * HexDumpBytesPerLine;
        n -= take;
    }
}

void TReceiveStore::Receive(const uint8_t* bytes, size_t count, int64_t ms) {
    if (count == 0 || bytes == nullptr)
        return;
    if (m_dumpLines == 0) {
        CloseTail(); // the receive run never continues a loaded block
        m_runBegin = m_end;
    }
    m_text.Feed(bytes, count, ms);
    for (size_t i = 0; i < count; ++i) {
        // Whole lines inside a block go to the store as raw bytes; only the
        // line the block ends on is laid out as text. The copied line is
        // frozen by the next pass, and Add resets the full line before any
        // of its stale text could show.
        if (m_rece.Count > 15 && m_dumpLines > 0 && count - i > HexDumpBytesPerLine) {
            Freeze(m_rece.Bytes);
            ++m_dumpLines;
            // Lines followed by more bytes of this block: all but the last
            // go to the blocks in one copy, the last waits in ReceLine.
            const size_t lines = (count - i - 1) / HexDumpBytesPerLine;
            FreezeRun(bytes + i, lines - 1);
            i += (lines - 1) * HexDumpBytesPerLine;
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
    m_anyDump = true;
    ++m_revision;
    Trim();
}

void TReceiveStore::Reset() {
    // A long session's blocks are unmapped on another thread: a Clear takes no longer after a
    // day of receiving than after a minute.
    blocksupply::DiscardContents(m_slots);
    m_begin = m_end = 0;
    m_tailOpen = false;
    m_closedBytes = 0;
    m_maxText = 0;
    m_anyDump = false;
    m_loadedDump = false;
    m_dumpLines = 0;
    m_runBegin = 0;
    m_text.Clear();
    m_dropped = 0;
    m_rece.Reset();
}

void TReceiveStore::Clear() {
    Reset();
    ++m_epoch;
    ++m_revision;
}

void TReceiveStore::AddText(std::string_view line) {
    TBlock* tail = m_tailOpen ? m_slots.back().Block.get() : nullptr;
    if (tail == nullptr || tail->Dump || tail->Lines == TextBlockLines ||
        (tail->Lines > 0 && tail->Data.size() + line.size() > TextBlockBytes)) {
        tail = &Open(false);
        tail->Data.reserve(std::max(TextBlockBytes, line.size()));
    }
    tail->Data.append(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    tail->Ends.push_back(uint32_t(tail->Data.size()));
    ++tail->Lines;
    ++m_end;
    m_maxText = std::max(m_maxText, line.size());
}

void TReceiveStore::AddDumpLine(const uint8_t* bytes, int count, uint64_t k) {
    TBlock* tail = m_tailOpen ? m_slots.back().Block.get() : nullptr;
    const bool follows = tail != nullptr && tail->Dump &&
                         tail->LastCount == HexDumpBytesPerLine &&
                         ((tail->K0 + tail->Lines) & LineNumberMask) == k;
    if (!follows || tail->Lines == DumpBlockLines) {
        // A full block's run goes on in the next with the same numbering, so
        // the offsets still count on past a wrap of the 8 digits.
        const uint64_t k0 = follows ? tail->K0 + tail->Lines : k;
        tail = &Open(true);
        tail->K0 = k0;
    }
    const size_t at = tail->Bytes.size();
    tail->Bytes.resize(at + HexDumpBytesPerLine);
    std::memcpy(tail->Bytes.data() + at, bytes, size_t(count));
    tail->LastCount = count;
    ++tail->Lines;
    ++m_end;
    m_anyDump = true;
    m_loadedDump = true;
}

void TReceiveStore::AddLoadedLine(std::string_view text) {
    size_t i = 0;
    for (;;) {
        const size_t end = BreakAt(text, i);
        const std::string_view line = text.substr(i, end == std::string_view::npos ? end : end - i);
        uint8_t bytes[HexDumpBytesPerLine];
        int count = 0;
        uint64_t k = 0;
        if (ParseDumpLine(line, m_leading, bytes, count, k))
            AddDumpLine(bytes, count, k);
        else
            AddText(line);
        if (end == std::string_view::npos)
            break;
        i = end + 1;
        if (text[end] == '\r' && i < text.size() && text[i] == '\n')
            ++i;
    }
    ++m_revision;
    Trim();
}

void TReceiveStore::EndLoad() {
    CloseTail();
    ++m_revision;
    Trim();
}

void TReceiveStore::Load(const std::vector<std::string>& lines) {
    Clear();
    // A line that holds line breaks itself becomes several lines, so the
    // line count always matches what is shown.
    for (const std::string& line : lines)
        AddLoadedLine(line);
    EndLoad();
}

void TReceiveStore::LoadText(std::string_view text) {
    Clear();
    if (text.ends_with("\r\n"))
        text.remove_suffix(2);
    else if (text.ends_with('\n') || text.ends_with('\r'))
        text.remove_suffix(1);
    else if (text.empty())
        return;
    AddLoadedLine(text);
    EndLoad();
}

void TReceiveStore::Adopt(TReceiveStore&& other) {
    const uint64_t epoch = std::max(m_epoch, other.m_epoch) + 1;
    const uint64_t revision = std::max(m_revision, other.m_revision) + 1;
    blocksupply::DiscardContents(m_slots);
    m_text.Clear();
    m_slots = std::move(other.m_slots);
    m_rece = other.m_rece;
    m_begin = other.m_begin;
    m_end = other.m_end;
    m_tailOpen = other.m_tailOpen;
    m_closedBytes = other.m_closedBytes;
    m_maxText = other.m_maxText;
    m_anyDump = other.m_anyDump;
    m_loadedDump = other.m_loadedDump;
    m_dumpLines = other.m_dumpLines;
    m_runBegin = other.m_runBegin;
    m_text = std::move(other.m_text);
    m_dropped = other.m_dropped;
    m_epoch = epoch;
    m_revision = revision;
    other.Clear();
    Trim();
}

void TReceiveStore::SetMemoryLimit(size_t bytes) {
    m_limit = bytes;
    Trim();
}

void TReceiveStore::Trim() {
    if (m_limit == 0 || MemoryUsed() <= m_limit)
        return;
    // The last block stays: it may be the one being filled.
    bool any = false;
    while (m_slots.size() > 1 && MemoryUsed() > m_limit) {
        const TSlot& front = m_slots.front();
        const int64_t lines = m_slots[1].First - front.First;
        m_closedBytes -= front.Block->MemoryBytes();
        m_dropped += lines;
        m_slots.pop_front();
        m_begin = m_slots.front().First;
        if (m_dumpLines > 0 && m_begin > m_runBegin)
            m_text.DropBefore(uint64_t(m_begin - m_runBegin) * HexDumpBytesPerLine);
        any = true;
    }
    if (any)
        ++m_revision;
}

TReceiveStore::TWhere TReceiveStore::Find(int64_t k, size_t* hint) const {
    TWhere where;
    if (k >= m_end - m_begin)
        return where; // ReceLine
    const int64_t line = m_begin + k;
    const auto holds = [&](size_t slot) {
        const int64_t end = slot + 1 < m_slots.size() ? m_slots[slot + 1].First : m_end;
        return line >= m_slots[slot].First && line < end;
    };
    // The hinted block or the one after it, else a search.
    size_t slot = hint != nullptr ? *hint : m_slots.size();
    if (slot >= m_slots.size() || !holds(slot)) {
        if (slot + 1 < m_slots.size() && holds(slot + 1)) {
            ++slot;
        } else {
            auto it = std::upper_bound(m_slots.begin(), m_slots.end(), line,
                                       [](int64_t l, const TSlot& s) { return l < s.First; });
            slot = size_t(it - m_slots.begin()) - 1;
        }
    }
    if (hint != nullptr)
        *hint = slot;
    where.Block = m_slots[slot].Block.get();
    where.Index = size_t(line - m_slots[slot].First);
    return where;
}

bool TReceiveStore::IsDumpLine(int64_t k) const {
    if (k < Mark() || k >= LineCount())
        return false;
    const TWhere where = Find(k - Mark());
    return where.Block == nullptr || where.Block->Dump;
}

void TReceiveStore::AppendLine(int64_t k, std::string& out) const {
    std::string scratch;
    out.append(LineView(k, scratch));
}

std::string_view TReceiveStore::LineView(int64_t k, std::string& scratch) const {
    size_t hint = m_slots.size();
    return LineView(k, scratch, hint);
}

std::string_view TReceiveStore::LineView(int64_t k, std::string& scratch, size_t& hint) const {
    scratch.clear();
    if (k < 0 || k >= LineCount())
        return {};
    if (k < Mark()) {
        scratch = DroppedMark(m_dropped);
        return scratch;
    }
    const TWhere where = Find(k - Mark(), &hint);
    if (where.Block != nullptr && !where.Block->Dump)
        return where.Block->TextLine(where.Index);
    const uint8_t* bytes = m_rece.Bytes;
    int count = m_rece.Count;
    uint64_t j = uint64_t(m_dumpLines - 1);
    if (where.Block != nullptr) {
        bytes = where.Block->Bytes.data() + where.Index * HexDumpBytesPerLine;
        count = where.Block->DumpCount(where.Index);
        j = where.Block->K0 + where.Index;
    }
    scratch.resize(m_leading.size() + HexDumpOffsetLen + HexDumpTextLen);
    HexDumpRenderBytes(scratch.data(), bytes, count, j, m_leading);
    return scratch;
}

size_t TReceiveStore::LineBytes(int64_t k) const {
    if (k < 0 || k >= LineCount())
        return 0;
    if (k < Mark())
        return DroppedMark(m_dropped).size();
    const TWhere where = Find(k - Mark());
    if (where.Block != nullptr && !where.Block->Dump)
        return where.Block->TextLine(where.Index).size();
    return m_leading.size() + HexDumpOffsetLen + HexDumpTextLen;
}

std::string TReceiveStore::Line(int64_t k) const {
    std::string out;
    AppendLine(k, out);
    return out;
}

std::string TReceiveStore::Text(int64_t first, int64_t last) const {
    if (first < 0)
        first = 0;
    if (last > LineCount())
        last = LineCount();
    std::string out;
    if (first >= last)
        return out;
    std::string scratch;
    for (int64_t k = first; k < last; ++k) {
        if (k > first)
            out += '\n';
        out.append(LineView(k, scratch));
    }
    return out;
}

size_t TReceiveStore::MemoryUsed() const {
    size_t bytes = sizeof(*this) + m_closedBytes + m_slots.size() * sizeof(TSlot) +
                   m_text.MemoryBytes() - sizeof(m_text);
    if (m_tailOpen)
        bytes += m_slots.back().Block->MemoryBytes();
    return bytes;
}

size_t TReceiveStore::MaxLineBytes() const {
    size_t width = m_maxText;
    if (m_anyDump || m_dumpLines > 0)
        width = std::max(width, m_leading.size() + HexDumpOffsetLen + HexDumpTextLen);
    if (m_dropped > 0)
        width = std::max(width, DroppedMark(m_dropped).size());
    return width;
}

std::shared_ptr<const TReceiveStore> TReceiveStore::Snapshot() const {
    auto copy = std::make_shared<TReceiveStore>(m_leading);
    copy->m_slots = m_slots;
    // The block being filled is written on; the copy takes its lines so far.
    if (m_tailOpen)
        copy->m_slots.back().Block = std::make_shared<TBlock>(*m_slots.back().Block);
    copy->m_rece = m_rece;
    copy->m_begin = m_begin;
    copy->m_end = m_end;
    copy->m_text = m_text.Snapshot();
    copy->m_closedBytes = MemoryUsed() - sizeof(*this) - m_slots.size() * sizeof(TSlot) -
                          (m_text.MemoryBytes() - sizeof(m_text));
    copy->m_maxText = m_maxText;
    copy->m_anyDump = m_anyDump;
    copy->m_loadedDump = m_loadedDump;
    copy->m_dumpLines = m_dumpLines;
    copy->m_runBegin = m_runBegin;
    copy->m_dropped = m_dropped;
    copy->m_epoch = m_epoch;
    copy->m_revision = m_revision;
    return copy;
}

int64_t TReceiveStore::LinesBeforeRun() const {
    if (m_dumpLines == 0)
        return m_end - m_begin;
    return std::clamp<int64_t>(m_runBegin - m_begin, 0, m_end - m_begin);
}

int64_t TReceiveStore::RunFirstLine() const {
    return m_dumpLines == 0 ? 0 : std::max<int64_t>(0, m_begin - m_runBegin);
}

size_t TReceiveStore::RunBytes(uint64_t pos, const uint8_t*& at) const {
    at = nullptr;
    if (m_dumpLines == 0)
        return 0;
    const int64_t j = int64_t(pos / HexDumpBytesPerLine);
    const size_t in = size_t(pos % HexDumpBytesPerLine);
    if (j == m_dumpLines - 1) {
        if (int(in) >= m_rece.Count)
            return 0;
        at = m_rece.Bytes + in;
        return size_t(m_rece.Count) - in;
    }
    if (j < RunFirstLine() || j >= m_dumpLines)
        return 0;
    const TWhere where = Find(m_runBegin + j - m_begin);
    if (where.Block == nullptr)
        return 0;
    at = where.Block->Bytes.data() + where.Index * HexDumpBytesPerLine + in;
    return (where.Block->Lines - where.Index) * HexDumpBytesPerLine - in;
}

size_t TReceiveStore::MaxOpenedLineBytes() const {
    size_t width = m_maxText;
    if (m_loadedDump)
        width = std::max(width, m_leading.size() + HexDumpOffsetLen + HexDumpTextLen);
    if (m_dropped > 0)
        width = std::max(width, DroppedMark(m_dropped).size());
    return width;
}
