#pragma once
// The values the plot draws, as plain C++ with no Qt: the series store, the
// readers that take values out of received bytes (text lines, framed binary
// records) and the decimation of a series to the pixel columns of a chart.
//
// Threads: none of these classes locks. TPlotFeed (PlotFeed.h) runs the
// readers on a thread of its own and guards the store with its lock.

#include "BlockSupply.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// A series' points in chunks of 3968 (62 blocks of 64), with the minimum and maximum of every 64
// points and of the chunk (+inf and -inf where all are gaps). Eight chunks fill one of the block
// supply's blocks.
inline constexpr size_t PlotChunkPoints = 3968;
inline constexpr size_t PlotBlockPoints = 64;
struct TPlotChunk {
    uint32_t Times[PlotChunkPoints];
    float Values[PlotChunkPoints];
    float BlockLo[PlotChunkPoints / PlotBlockPoints];
    float BlockHi[PlotChunkPoints / PlotBlockPoints];
    float Lo, Hi;
};

// One series: points (time, value) in arrival order, 8 bytes a point, in
// chunks of ChunkPoints with the minimum and maximum of every BlockPoints
// points and of every chunk beside them, so that the minimum and maximum of
// any range costs O(BlockPoints + range / ChunkPoints), whatever its length.
// Times are milliseconds from the store's origin and never go backwards; a
// value that is not finite (nan) is a gap in the line.
class TPlotSeries {
public:
    static constexpr size_t ChunkPoints = PlotChunkPoints;
    static constexpr size_t BlockPoints = PlotBlockPoints;
    static constexpr size_t BlocksPerChunk = ChunkPoints / BlockPoints;

    explicit TPlotSeries(std::string name) : m_name(std::move(name)) {}

    const std::string& Name() const { return m_name; }
    size_t Size() const { return m_size; }
    bool Empty() const { return m_size == 0; }
    uint32_t Time(size_t i) const { return Chunk(i).Times[i % ChunkPoints]; }
    float Value(size_t i) const { return Chunk(i).Values[i % ChunkPoints]; }
    float Latest() const { return m_size ? Value(m_size - 1) : NAN; }

    void Append(uint32_t ms, float value);
    // The first point at or after ms.
    size_t LowerBound(double ms) const;
    // The exact minimum and maximum of the finite values of [begin, end); false when there is none.
    bool MinMax(size_t begin, size_t end, float& lo, float& hi) const;
    // Drops the oldest chunk; the points left keep their order, indices shift down.
    void DropChunk();
    // Bytes held, chunks and their summaries.
    size_t MemoryBytes() const { return m_chunks.size() * sizeof(TChunk); }
    uint32_t FrontTime() const { return m_size ? Time(0) : 0; }

    // A view that reads the points present at the time it was taken while
    // more are appended (a later append never moves or changes them); dropped
    // chunks stay alive in the view.
    class TView {
    public:
        size_t Size() const { return m_size; }
        uint32_t Time(size_t i) const { return m_chunks[i / ChunkPoints]->Times[i % ChunkPoints]; }
        float Value(size_t i) const { return m_chunks[i / ChunkPoints]->Values[i % ChunkPoints]; }
        const std::string& Name() const { return m_name; }

    private:
        friend class TPlotSeries;
        std::vector<std::shared_ptr<const TPlotChunk>> m_chunks;
        size_t m_size = 0;
        std::string m_name;
    };
    TView View() const;

private:
    using TChunk = TPlotChunk;
    const TChunk& Chunk(size_t i) const { return *m_chunks[i / ChunkPoints]; }

    std::string m_name;
    // The chunks are packed into the block supply's memory, made present ahead of need and in
    // huge pages where the system has them: a flood of values filled hundreds of megabytes of
    // small pages, every one a fault on the reader's thread.
    blocksupply::TPacker m_packer{sizeof(TChunk) + 64}; // outlives the chunks
    std::deque<std::shared_ptr<TChunk>> m_chunks;
    size_t m_size = 0;
};

// Every series of a session, by name, with a limit on the memory they take:
// past it, the oldest chunk of all goes.
class TPlotStore {
public:
    static constexpr size_t MaxSeries = 64;
    static constexpr size_t MaxNameBytes = 64;

    // The series named, created at the end of the list; null when MaxSeries are there.
    TPlotSeries* Series(std::string_view name);
    size_t Count() const { return m_series.size(); }
    const TPlotSeries& At(size_t i) const { return *m_series[i]; }
    TPlotSeries& At(size_t i) { return *m_series[i]; }

    // The first stamp (milliseconds since the epoch) is the origin of the times.
    uint32_t TimeOf(int64_t epochMs);
    int64_t Origin() const { return m_origin; }
    bool HasOrigin() const { return m_hasOrigin; }
    // The time of the latest point, from the origin.
    uint32_t LastTime() const { return m_last; }

    void SetMemoryLimit(size_t bytes) { m_limit = bytes; }
    size_t MemoryLimit() const { return m_limit; }
    size_t MemoryBytes() const;
    size_t Points() const;
    uint64_t DroppedPoints() const { return m_dropped; }
    // Drops the oldest chunks while the store is over its limit.
    void Trim();
    void Clear();

private:
    std::vector<std::unique_ptr<TPlotSeries>> m_series;
    int64_t m_origin = 0;
    bool m_hasOrigin = false;
    uint32_t m_last = 0;
    size_t m_limit = size_t(256) << 20;
    uint64_t m_dropped = 0;
};

// A value read out of the received bytes, before it joins its series.
struct TPlotValue {
    std::string Name;
    double Value;
};

// Text lines: numbers separated by commas, tabs or blanks (series "1", "2", ... by column; an
// empty field between commas leaves its column out), or name:value / name=value pairs (names
// may hold blanks, and come and go). Lines end with LF, CR or CR LF, split across blocks or
// not. A line with anything else in it is counted as bad and gives no value at all; an empty
// line is skipped.
class TTextPlotReader {
public:
    static constexpr size_t MaxLine = 4096;

    // Reads a block; calls take(values) for each complete line that gave values.
    template <class F>
    void Feed(const uint8_t* bytes, size_t count, F&& take) {
        for (size_t i = 0; i < count;) {
            const uint8_t c = bytes[i];
            if (c == '\n' || c == '\r') {
                ++i;
                if (c == '\n' && m_afterCr) {
                    m_afterCr = false;
                    continue;
                }
                m_afterCr = c == '\r';
                if (m_cut) // the end of a line whose beginning was not read
                    m_cut = false;
                else
                    EndLine(take);
                continue;
            }
            m_afterCr = false;
            // The run of bytes up to the line's end, taken at once.
            size_t end = i + 1;
            while (end < count && bytes[end] != '\n' && bytes[end] != '\r')
                ++end;
            if (!m_cut && end < count && m_line.empty() && !m_tooLong) {
                // The whole line is in this block: read where it stands, and its end with it.
                const std::string_view line(reinterpret_cast<const char*>(bytes + i), end - i);
                m_afterCr = bytes[end] == '\r';
                ReadLine(line, line.size() > MaxLine, take);
                i = end + 1;
                continue;
            }
            if (!m_cut) {
                const size_t room = MaxLine - std::min(MaxLine, m_line.size());
                m_line.append(reinterpret_cast<const char*>(bytes + i), std::min(end - i, room));
                m_tooLong = m_tooLong || end - i > room;
            }
            i = end;
        }
    }
    // The line in progress, if any, as if ended.
    template <class F>
    void Flush(F&& take) {
        if (!m_line.empty() || m_tooLong)
            EndLine(take);
    }
    uint64_t BadLines() const { return m_bad; }
    uint64_t GoodLines() const { return m_good; }
    // Forgets the line in progress; the counts stay.
    void Restart() {
        m_line.clear();
        m_afterCr = m_tooLong = m_cut = false;
    }
    // Bytes were lost here: the line in progress and the rest of the line the bytes come in are
    // not read, nor counted.
    void Cut() {
        Restart();
        m_cut = true;
    }

    // One line without its end: the values, or false when the line is bad. An empty line is
    // good and gives none.
    static bool ParseLine(std::string_view line, std::vector<TPlotValue>& out);

private:
    template <class F>
    void EndLine(F& take) {
        ReadLine(m_line, m_tooLong, take);
        m_line.clear();
        m_tooLong = false;
    }
    template <class F> void ReadLine(std::string_view line, bool tooLong, F& take) {
        m_values.clear();
        const bool ok = !tooLong && ParseLine(line, m_values);
        if (!ok) {
            ++m_bad;
            return;
        }
        if (m_values.empty())
            return;
        ++m_good;
        take(m_values);
    }

    std::string m_line;
    std::vector<TPlotValue> m_values;
    bool m_afterCr = false;
    bool m_tooLong = false;
    bool m_cut = false;
    uint64_t m_bad = 0;
    uint64_t m_good = 0;
};

// The fields of a framed binary record, written as text: fields separated by ';', each
// "offset type [scale] [name]", for example "0 u16le 0.1 temp; 2 f32be; 6 i8 count".
// The offset counts from the record's first byte after the preamble (decimal or 0x hex);
// the types are u8 i8 u16 i16 u32 i32 f32 with le or be after the multi-byte ones (le when
// neither); a field without a name is named after its offset and type.
struct TRecordField {
    enum class TType { U8, I8, U16, I16, U32, I32, F32 };
    uint32_t Offset = 0;
    TType Type = TType::U8;
    bool BigEndian = false;
    double Scale = 1;
    std::string Name;

    size_t Bytes() const;
    // The field's value in the record; false when the record ends before it.
    bool Read(const uint8_t* record, size_t size, double& value) const;
};

struct TRecordLayout {
    static constexpr size_t MaxFields = 64;
    static constexpr uint32_t MaxOffset = 1u << 20;
    std::vector<TRecordField> Fields;

    // The layout read from text; false, with the number of the field that cannot be read
    // (from 1) and an empty layout, when one cannot. Empty text gives an empty layout.
    static bool Parse(std::string_view text, TRecordLayout& out, size_t& badField);
    // The layout written back as text that Parse reads to the same.
    std::string Text() const;
};

// Framed records: each block received is one record. A record too short for a field of the
// layout is counted as cut and gives no value.
class TRecordPlotReader {
public:
    void SetLayout(TRecordLayout layout) { m_layout = std::move(layout); }
    const TRecordLayout& Layout() const { return m_layout; }
    template <class F>
    void Feed(const uint8_t* bytes, size_t count, F&& take) {
        if (m_layout.Fields.empty())
            return;
        m_values.resize(m_layout.Fields.size());
        for (size_t i = 0; i < m_layout.Fields.size(); ++i) {
            m_values[i].Name = m_layout.Fields[i].Name;
            if (!m_layout.Fields[i].Read(bytes, count, m_values[i].Value)) {
                ++m_bad;
                return;
            }
        }
        ++m_good;
        take(m_values);
    }
    uint64_t BadRecords() const { return m_bad; }
    uint64_t GoodRecords() const { return m_good; }

private:
    TRecordLayout m_layout;
    std::vector<TPlotValue> m_values;
    uint64_t m_bad = 0;
    uint64_t m_good = 0;
};

// One pixel column of a chart: the minimum and maximum of its points, and its first and last
// value (nan for a gap) to join it to the columns beside it.
struct TPlotColumn {
    bool Any = false; // any finite value in the column
    float Lo = 0, Hi = 0;
    float First = NAN, Last = NAN;
    bool HasPoints = false;
};

// Column c of width columns over [t0, t1) starts at this time.
inline double ColumnStart(double t0, double t1, int columns, int c) {
    return t0 + (t1 - t0) * double(c) / double(columns);
}

// The series' points over [t0, t1) into columns pixel columns (out gets columns entries);
// the cost grows with the columns, not with the points.
void DecimateSeries(const TPlotSeries& series, double t0, double t1, int columns,
                    std::vector<TPlotColumn>& out);

// The columns of a series on a grid of columns of width dt milliseconds, column k over
// [k * dt, (k + 1) * dt), for a view that follows the newest points a whole column at a time.
// They are kept from one frame to the next: a frame decimates only the columns that points
// were added to or dropped from since, not the whole view.
class TPlotColumnCache {
public:
    // Columns first .. first + count - 1 of width dt.
    const std::vector<TPlotColumn>& Columns(const TPlotSeries& series, int64_t first, int count,
                                            double dt);
    // The series was emptied or replaced: decimate it afresh.
    void Clear() { m_columns.clear(); }

private:
    std::vector<TPlotColumn> m_columns;
    int64_t m_first = 0;
    double m_dt = 0;
    uint32_t m_front = 0; // the series' oldest and newest time when kept
    uint32_t m_last = 0;
};
