#include "PlotData.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <charconv>
#include <cstring>
#include <limits>

namespace {

constexpr float NoLo = std::numeric_limits<float>::infinity();
constexpr float NoHi = -std::numeric_limits<float>::infinity();

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The first of a or b in s from pos on, or npos (find_first_of asks memchr once a character).
size_t FindEither(std::string_view s, char a, char b, size_t pos = 0) {
    for (; pos < s.size(); ++pos)
        if (s[pos] == a || s[pos] == b)
            return pos;
    return std::string_view::npos;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// A number at the start of s: an optional sign, then what strtod reads in the C locale
// (1e3, -0, nan, inf); its length, or 0 when s does not start with one.
size_t ReadNumber(std::string_view s, double& value) {
    size_t skip = 0;
    if (!s.empty() && s.front() == '+') {
        if (s.size() < 2 || s[1] == '-' || s[1] == '+')
            return 0;
        skip = 1;
    }
    const char* begin = s.data() + skip;
    const char* const end = s.data() + s.size();
    {
        // The common case at once: up to 15 digits with a point among them, which a double holds
        // exactly, so that one division rounds as the full reading does.
        static constexpr double Pow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                           1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
        const auto digit = [](char c) { return c >= '0' && c <= '9'; };
        const char* p = begin;
        const bool negative = p < end && *p == '-';
        p += negative;
        uint64_t m = 0;
        int digits = 0, fraction = 0;
        const char* const first = p;
        for (; p < end && digit(*p) && digits < 16; ++p, ++digits)
            m = m * 10 + uint64_t(*p - '0');
        if (p > first && p < end && *p == '.') {
            const char* const point = p++;
            for (; p < end && digit(*p) && digits < 16; ++p, ++digits, ++fraction)
                m = m * 10 + uint64_t(*p - '0');
            if (fraction == 0)
                p = point; // "1." is for the full reading
        }
        if (p > first && digits <= 15 &&
            (p == end || !(digit(*p) || *p == '.' || *p == 'e' || *p == 'E'))) {
            const double v = fraction ? double(m) / Pow10[fraction] : double(m);
            value = negative ? -v : v;
            return size_t(p - s.data());
        }
    }
    const auto r = std::from_chars(begin, s.data() + s.size(), value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Too large or too small for a double: read as a gap or as 0 by the sign of the exponent.
        value = NAN;
        return size_t(r.ptr - s.data());
    }
    if (r.ec != std::errc())
        return 0;
    return size_t(r.ptr - s.data());
}

// The whole of s is one number.
bool WholeNumber(std::string_view s, double& value) {
    return !s.empty() && ReadNumber(s, value) == s.size();
}

// The name of column k (from 1): "1", "2", ...
std::string ColumnName(size_t k) {
    static const auto names = [] {
        std::array<std::string, TPlotStore::MaxSeries + 1> all;
        for (size_t i = 0; i < all.size(); ++i)
            all[i] = std::to_string(i);
        return all;
    }();
    return k < names.size() ? names[k] : std::to_string(k);
}

} // namespace

// ---- TPlotSeries ----

void TPlotSeries::Append(uint32_t ms, float value) {
    const size_t j = m_size % ChunkPoints;
    if (j == 0) {
        // Not value-initialised: every field is written before it is read.
        auto chunk = std::allocate_shared_for_overwrite<TPlotChunk>(
            blocksupply::TPackedAllocator<TPlotChunk>(m_packer));
        chunk->Lo = NoLo;
        chunk->Hi = NoHi;
        m_chunks.push_back(std::move(chunk));
    }
    TPlotChunk& c = *m_chunks.back();
    const size_t block = j / BlockPoints;
    if (j % BlockPoints == 0) {
        c.BlockLo[block] = NoLo;
        c.BlockHi[block] = NoHi;
    }
    c.Times[j] = ms;
    c.Values[j] = value;
    if (std::isfinite(value)) {
        c.BlockLo[block] = std::min(c.BlockLo[block], value);
        c.BlockHi[block] = std::max(c.BlockHi[block], value);
        c.Lo = std::min(c.Lo, value);
        c.Hi = std::max(c.Hi, value);
    }
    ++m_size;
}

size_t TPlotSeries::LowerBound(double ms) const {
    // The chunk first, by its first time, then the point within it.
    size_t lo = 0, hi = m_chunks.size();
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        if (double(m_chunks[mid]->Times[0]) < ms)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0)
        return 0;
    const size_t chunk = lo - 1;
    const TPlotChunk& c = *m_chunks[chunk];
    const size_t n = std::min(ChunkPoints, m_size - chunk * ChunkPoints);
    const uint32_t* at = std::partition_point(c.Times, c.Times + n,
                                              [ms](uint32_t t) { return double(t) < ms; });
    return chunk * ChunkPoints + size_t(at - c.Times);
}

bool TPlotSeries::MinMax(size_t begin, size_t end, float& lo, float& hi) const {
    float l = NoLo, h = NoHi;
    end = std::min(end, m_size);
    size_t i = begin;
    while (i < end) {
        const TPlotChunk& c = Chunk(i);
        size_t j = i % ChunkPoints;
        if (j == 0 && i + ChunkPoints <= end) {
            l = std::min(l, c.Lo);
            h = std::max(h, c.Hi);
            i += ChunkPoints;
        } else if (j % BlockPoints == 0 && i + BlockPoints <= end) {
            l = std::min(l, c.BlockLo[j / BlockPoints]);
            h = std::max(h, c.BlockHi[j / BlockPoints]);
            i += BlockPoints;
        } else {
            const size_t stop = std::min(end - i, (j / BlockPoints + 1) * BlockPoints - j) + j;
            for (; j < stop; ++j, ++i) {
                const float v = c.Values[j];
                if (std::isfinite(v)) {
                    l = std::min(l, v);
                    h = std::max(h, v);
                }
            }
        }
    }
    if (l > h)
        return false;
    lo = l;
    hi = h;
    return true;
}

void TPlotSeries::DropChunk() {
    if (m_chunks.empty())
        return;
    m_chunks.pop_front();
    m_size -= std::min(ChunkPoints, m_size);
}

TPlotSeries::TView TPlotSeries::View() const {
    TView v;
    v.m_chunks.assign(m_chunks.begin(), m_chunks.end());
    v.m_size = m_size;
    v.m_name = m_name;
    return v;
}

// ---- TPlotStore ----

TPlotSeries* TPlotStore::Series(std::string_view name) {
    for (auto& s : m_series)
        if (s->Name() == name)
            return s.get();
    if (m_series.size() >= MaxSeries)
        return nullptr;
    m_series.push_back(std::make_unique<TPlotSeries>(std::string(name)));
    return m_series.back().get();
}

uint32_t TPlotStore::TimeOf(int64_t epochMs) {
    if (!m_hasOrigin) {
        m_origin = epochMs;
        m_hasOrigin = true;
    }
    // A clock set back does not take the line back in time.
    const int64_t d = std::clamp<int64_t>(epochMs - m_origin, m_last, UINT32_MAX);
    m_last = uint32_t(d);
    return m_last;
}

size_t TPlotStore::MemoryBytes() const {
    size_t bytes = 0;
    for (const auto& s : m_series)
        bytes += s->MemoryBytes();
    return bytes;
}

size_t TPlotStore::Points() const {
    size_t n = 0;
    for (const auto& s : m_series)
        n += s->Size();
    return n;
}

void TPlotStore::Trim() {
    size_t bytes = MemoryBytes();
    while (bytes > m_limit) {
        TPlotSeries* oldest = nullptr;
        for (auto& s : m_series)
            if (!s->Empty() && (!oldest || s->FrontTime() < oldest->FrontTime()))
                oldest = s.get();
        if (!oldest)
            return;
        const size_t before = oldest->Size();
        oldest->DropChunk();
        m_dropped += before - oldest->Size();
        bytes -= sizeof(TPlotChunk);
    }
}

void TPlotStore::Clear() {
    m_series.clear();
    m_hasOrigin = false;
    m_origin = 0;
    m_last = 0;
    m_dropped = 0;
}

// ---- text lines ----

bool TTextPlotReader::ParseLine(std::string_view line, std::vector<TPlotValue>& out) {
    out.clear();
    line = Trim(line);
    if (line.empty())
        return true;
    if (FindEither(line, ':', '=') != std::string_view::npos) {
        // name:value pairs; a name runs up to its ':' or '=' and may hold blanks.
        size_t pos = 0;
        for (;;) {
            while (pos < line.size() && (IsBlank(line[pos]) || line[pos] == ','))
                ++pos;
            if (pos == line.size())
                break;
            const size_t sep = FindEither(line, ':', '=', pos);
            if (sep == std::string_view::npos)
                return false;
            const std::string_view name = Trim(line.substr(pos, sep - pos));
            if (name.empty() || name.size() > TPlotStore::MaxNameBytes ||
                FindEither(name, ',', '\t') != std::string_view::npos)
                return false;
            pos = sep + 1;
            while (pos < line.size() && line[pos] == ' ')
                ++pos;
            double v = 0;
            const size_t n = ReadNumber(line.substr(pos), v);
            if (n == 0)
                return false;
            pos += n;
            if (pos < line.size() && !IsBlank(line[pos]) && line[pos] != ',')
                return false;
            out.push_back({std::string(name), v});
        }
    } else {
        // Columns: commas and tabs end a field (an empty one leaves its column out), blanks
        // within a field separate columns too. One pass: a number is read where it stands and
        // must end at a blank, a field's end or the line's.
        const size_t n = line.size();
        const auto fieldEnd = [&](size_t at) {
            return at == n || line[at] == ',' || line[at] == '\t';
        };
        size_t column = 0;
        for (size_t pos = 0;;) {
            while (pos < n && line[pos] == ' ')
                ++pos;
            if (fieldEnd(pos)) {
                ++column; // an empty field
            } else {
                do {
                    double v = 0;
                    const size_t used = ReadNumber(line.substr(pos), v);
                    pos += used;
                    if (used == 0 || !(fieldEnd(pos) || line[pos] == ' '))
                        return false;
                    out.push_back({ColumnName(++column), v});
                    while (pos < n && line[pos] == ' ')
                        ++pos;
                } while (!fieldEnd(pos));
            }
            if (pos == n)
                break;
            ++pos; // past the comma or tab
        }
    }
    return !out.empty();
}

// ---- binary records ----

size_t TRecordField::Bytes() const {
    switch (Type) {
    case TType::U8:
    case TType::I8:
        return 1;
    case TType::U16:
    case TType::I16:
        return 2;
    default:
        return 4;
    }
}

bool TRecordField::Read(const uint8_t* record, size_t size, double& value) const {
    const size_t n = Bytes();
    if (size < n || Offset > size - n)
        return false;
    const uint8_t* p = record + Offset;
    uint32_t raw = 0;
    for (size_t i = 0; i < n; ++i)
        raw |= uint32_t(p[BigEndian ? n - 1 - i : i]) << (8 * i);
    switch (Type) {
    case TType::U8:
    case TType::U16:
    case TType::U32:
        value = double(raw);
        break;
    case TType::I8:
        value = double(int8_t(uint8_t(raw)));
        break;
    case TType::I16:
        value = double(int16_t(uint16_t(raw)));
        break;
    case TType::I32:
        value = double(int32_t(raw));
        break;
    case TType::F32: {
        float f;
        std::memcpy(&f, &raw, sizeof f);
        value = double(f);
        break;
    }
    }
    value *= Scale;
    return true;
}

namespace {

struct TTypeName {
    const char* Text;
    TRecordField::TType Type;
    bool Big;
};
constexpr TTypeName TypeNames[] = {
    {"u8", TRecordField::TType::U8, false},     {"i8", TRecordField::TType::I8, false},
    {"u16le", TRecordField::TType::U16, false}, {"u16be", TRecordField::TType::U16, true},
    {"u16", TRecordField::TType::U16, false},   {"i16le", TRecordField::TType::I16, false},
    {"i16be", TRecordField::TType::I16, true},  {"i16", TRecordField::TType::I16, false},
    {"u32le", TRecordField::TType::U32, false}, {"u32be", TRecordField::TType::U32, true},
    {"u32", TRecordField::TType::U32, false},   {"i32le", TRecordField::TType::I32, false},
    {"i32be", TRecordField::TType::I32, true},  {"i32", TRecordField::TType::I32, false},
    {"f32le", TRecordField::TType::F32, false}, {"f32be", TRecordField::TType::F32, true},
    {"f32", TRecordField::TType::F32, false},
};

std::string TypeText(const TRecordField& f) {
    for (const TTypeName& t : TypeNames)
        if (t.Type == f.Type && t.Big == f.BigEndian &&
            (f.Bytes() == 1 || std::strlen(t.Text) == 5))
            return t.Text;
    return "u8";
}

std::string NumberText(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

} // namespace

bool TRecordLayout::Parse(std::string_view text, TRecordLayout& out, size_t& badField) {
    out.Fields.clear();
    badField = 0;
    size_t number = 0;
    while (!text.empty()) {
        const size_t semi = text.find(';');
        const std::string_view item = Trim(text.substr(0, semi));
        text = semi == std::string_view::npos ? std::string_view() : text.substr(semi + 1);
        if (item.empty())
            continue;
        ++number;
        auto fail = [&](const char*) {
            badField = number;
            out.Fields.clear();
            return false;
        };
        std::vector<std::string_view> tokens;
        for (std::string_view rest = item; !rest.empty();) {
            const size_t blank = rest.find_first_of(" \t");
            tokens.push_back(rest.substr(0, blank));
            rest = blank == std::string_view::npos ? std::string_view() : Trim(rest.substr(blank));
        }
        if (out.Fields.size() >= MaxFields)
            return fail("fields");
        TRecordField f;
        std::string_view off = tokens[0];
        int base = 10;
        if (off.size() > 2 && off[0] == '0' && (off[1] == 'x' || off[1] == 'X')) {
            off.remove_prefix(2);
            base = 16;
        }
        const auto r = std::from_chars(off.data(), off.data() + off.size(), f.Offset, base);
        if (r.ec != std::errc() || r.ptr != off.data() + off.size() || f.Offset > MaxOffset)
            return fail("offset");
        if (tokens.size() < 2)
            return fail("type");
        std::string type(tokens[1]);
        for (char& c : type)
            c = char(std::tolower(uint8_t(c)));
        const TTypeName* found = nullptr;
        for (const TTypeName& t : TypeNames)
            if (type == t.Text)
                found = &t;
        if (!found)
            return fail("type");
        f.Type = found->Type;
        f.BigEndian = found->Big;
        size_t next = 2;
        double scale = 1;
        if (tokens.size() > 2 && WholeNumber(tokens[2], scale)) {
            if (!std::isfinite(scale) || std::fabs(scale) > 1e20)
                return fail("scale");
            f.Scale = scale;
            next = 3;
        }
        for (size_t i = next; i < tokens.size(); ++i)
            f.Name += (i > next ? " " : "") + std::string(tokens[i]);
        if (f.Name.empty())
            f.Name = TypeText(f) + "@" + std::to_string(f.Offset);
        if (f.Name.size() > TPlotStore::MaxNameBytes)
            return fail("name");
        for (const TRecordField& other : out.Fields)
            if (other.Name == f.Name)
                return fail("name");
        out.Fields.push_back(std::move(f));
    }
    return true;
}

std::string TRecordLayout::Text() const {
    std::string s;
    for (const TRecordField& f : Fields) {
        if (!s.empty())
            s += "; ";
        s += std::to_string(f.Offset) + " " + TypeText(f) + " " + NumberText(f.Scale) + " " + f.Name;
    }
    return s;
}

// ---- decimation ----

namespace {

// The columns out[0 .. count) from the points at and after start(0), up to start(c + 1) for
// column c.
template <class F> void Decimate(const TPlotSeries& series, F start, int count, TPlotColumn* out) {
    std::fill(out, out + std::max(count, 0), TPlotColumn{});
    size_t a = series.LowerBound(start(0));
    for (int c = 0; c < count && a < series.Size(); ++c) {
        const size_t b = series.LowerBound(start(c + 1));
        if (b > a) {
            TPlotColumn& col = out[c];
            col.HasPoints = true;
            col.First = series.Value(a);
            col.Last = series.Value(b - 1);
            col.Any = series.MinMax(a, b, col.Lo, col.Hi);
        }
        a = b;
    }
}

} // namespace

void DecimateSeries(const TPlotSeries& series, double t0, double t1, int columns,
                    std::vector<TPlotColumn>& out) {
    out.assign(size_t(std::max(columns, 0)), TPlotColumn{});
    if (columns <= 0 || !(t1 > t0) || series.Empty())
        return;
    Decimate(
        series, [&](int c) { return ColumnStart(t0, t1, columns, c); }, columns, out.data());
}

const std::vector<TPlotColumn>& TPlotColumnCache::Columns(const TPlotSeries& series, int64_t first,
                                                          int count, double dt) {
    count = std::max(count, 0);
    const uint32_t front = series.FrontTime();
    const uint32_t last = series.Empty() ? 0 : series.Time(series.Size() - 1);
    // What is kept holds for the same grid, while points were only added at the end and
    // dropped at the front.
    const bool keep =
        !m_columns.empty() && dt == m_dt && !series.Empty() && last >= m_last && front >= m_front;
    std::vector<TPlotColumn> columns(size_t(count), TPlotColumn{});
    // Column k holds for good once it ended before the newest time when kept (every later
    // point comes at that time or after) and began after the oldest time now (no point of it
    // was dropped since).
    std::vector<bool> done(size_t(count), false);
    if (keep)
        for (int c = 0; c < count; ++c) {
            const int64_t k = first + c;
            const int64_t kept = k - m_first;
            if (kept < 0 || kept >= int64_t(m_columns.size()))
                continue;
            if (double(k + 1) * dt <= double(m_last) && double(k) * dt > double(front)) {
                columns[size_t(c)] = m_columns[size_t(kept)];
                done[size_t(c)] = true;
            }
        }
    for (int c = 0; c < count;) {
        if (done[size_t(c)]) {
            ++c;
            continue;
        }
        int end = c;
        while (end < count && !done[size_t(end)])
            ++end;
        Decimate(
            series, [&](int i) { return double(first + c + i) * dt; }, end - c, columns.data() + c);
        c = end;
    }
    m_columns = std::move(columns);
    m_first = first;
    m_dt = dt;
    m_front = front;
    m_last = last;
    return m_columns;
}
