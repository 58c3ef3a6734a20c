// The plot's values: text lines and binary records read into values, the series store and
// the decimation to pixel columns against a point-by-point reference.

#include "PlotData.h"
#include "PlotFeed.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using TValues = std::vector<std::pair<std::string, double>>;

// The values of one line, or nullopt-like {false} when it is bad.
std::pair<bool, TValues> Line(std::string_view text) {
    std::vector<TPlotValue> out;
    const bool ok = TTextPlotReader::ParseLine(text, out);
    TValues values;
    for (const TPlotValue& v : out)
        values.emplace_back(v.Name, v.Value);
    return {ok, values};
}

} // namespace

TEST(PlotText, LinesOfEveryFormatReadToTheirValues) {
    struct TCase {
        const char* Text;
        bool Ok;
        TValues Values;
    };
    const TCase cases[] = {
        {"1,2,3", true, {{"1", 1}, {"2", 2}, {"3", 3}}},
        {"  1 2\t3  ", true, {{"1", 1}, {"2", 2}, {"3", 3}}},
        {"1, -0, 1e3", true, {{"1", 1}, {"2", -0.0}, {"3", 1000}}},
        {"+4.5", true, {{"1", 4.5}}},
        {"1,,3", true, {{"1", 1}, {"3", 3}}},        // an empty field leaves its column out
        {"1, ,3", true, {{"1", 1}, {"3", 3}}},
        {"temp:21.5,hum:40", true, {{"temp", 21.5}, {"hum", 40}}},
        {"hum=40 temp=21.5", true, {{"hum", 40}, {"temp", 21.5}}},
        {"room temp: 21.5, fan speed=-3", true, {{"room temp", 21.5}, {"fan speed", -3}}},
        {"a:1e3 b:-0", true, {{"a", 1000}, {"b", -0.0}}},
        {"", true, {}},
        {"   ", true, {}},
        {"1,2,x", false, {}},          // one bad field spoils the line
        {"1,2,3abc", false, {}},
        {"temp:", false, {}},
        {":5", false, {}},
        {"temp:abc", false, {}},
        {"temp:1 hum", false, {}},
        {",,,", false, {}},
        {"++1", false, {}},
        {"+-1", false, {}},
        {"hello world", false, {}},
    };
    for (const TCase& c : cases) {
        const auto [ok, values] = Line(c.Text);
        EXPECT_EQ(ok, c.Ok) << c.Text;
        if (ok) {
            EXPECT_EQ(values, c.Values) << c.Text;
        }
    }
    // nan reads as a value that is not a number: a gap in the line.
    const auto [ok, values] = Line("1,nan,3");
    ASSERT_TRUE(ok);
    ASSERT_EQ(values.size(), 3u);
    EXPECT_TRUE(std::isnan(values[1].second));
    EXPECT_TRUE(std::signbit(Line("-0").second[0].second));
}

TEST(PlotText, LineEndsSplitAcrossBlocksEndOneLineEach) {
    // CR LF split between blocks is one end; CR alone and LF alone end a line too; a bad line
    // and an over-long one are counted, empty lines are not.
    const std::string stream = "1,2\r\n3,4\r5,6\nbad\r\n\r\n" + std::string(5000, '7') + "\n8\r";
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        TTextPlotReader reader;
        std::vector<double> firsts;
        auto take = [&](const std::vector<TPlotValue>& v) { firsts.push_back(v[0].Value); };
        reader.Feed(reinterpret_cast<const uint8_t*>(stream.data()), cut, take);
        reader.Feed(reinterpret_cast<const uint8_t*>(stream.data()) + cut, stream.size() - cut, take);
        ASSERT_EQ(firsts, (std::vector<double>{1, 3, 5, 8})) << "cut at " << cut;
        EXPECT_EQ(reader.BadLines(), 2u);
        EXPECT_EQ(reader.GoodLines(), 4u);
    }
}

TEST(PlotRecords, LayoutsReadRecordsBuiltByTheTest) {
    TRecordLayout layout;
    size_t bad = 99;
    ASSERT_TRUE(TRecordLayout::Parse(
        "0 u8; 1 i8 s8; 3 u16be 0.5 half; 0x5 i16le; 7 u32be; 11 i32; 15 f32be 2 twice; 19 F32LE f;",
        layout, bad));
    ASSERT_EQ(layout.Fields.size(), 8u);
    EXPECT_EQ(layout.Fields[0].Name, "u8@0");
    EXPECT_EQ(layout.Fields[3].Name, "i16le@5");
    // Odd offsets throughout, 0x00 and 0xFF bytes in the record.
    std::vector<uint8_t> rec(23, 0);
    rec[0] = 0xFF;
    rec[1] = 0x80;                       // -128
    rec[3] = 0x01, rec[4] = 0x00;        // 256 * 0.5
    rec[5] = 0xFE, rec[6] = 0xFF;        // -2
    rec[7] = 0xDE, rec[8] = 0xAD, rec[9] = 0xBE, rec[10] = 0xEF;
    const int32_t i32 = -123456789;
    std::memcpy(&rec[11], &i32, 4);
    const float f = 1.25f;
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    for (int i = 0; i < 4; ++i)
        rec[size_t(15 + i)] = uint8_t(bits >> (24 - 8 * i)); // big endian
    const float g = -3.5f;
    std::memcpy(&rec[19], &g, 4);
    TRecordPlotReader reader;
    reader.SetLayout(layout);
    std::vector<double> got;
    auto take = [&](const std::vector<TPlotValue>& v) {
        for (const TPlotValue& x : v)
            got.push_back(x.Value);
    };
    reader.Feed(rec.data(), rec.size(), take);
    EXPECT_EQ(got, (std::vector<double>{255, -128, 128, -2, 0xDEADBEEF, -123456789, 2.5, -3.5}));
    // Records cut by the framing before the last field's end give nothing and are counted.
    got.clear();
    for (size_t n : {22u, 19u, 1u, 0u})
        reader.Feed(rec.data(), n, take);
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(reader.BadRecords(), 4u);
    EXPECT_EQ(reader.GoodRecords(), 1u);
    // The layout's text reads back to the same layout.
    TRecordLayout again;
    ASSERT_TRUE(TRecordLayout::Parse(layout.Text(), again, bad));
    ASSERT_EQ(again.Fields.size(), layout.Fields.size());
    for (size_t i = 0; i < again.Fields.size(); ++i) {
        EXPECT_EQ(again.Fields[i].Name, layout.Fields[i].Name);
        EXPECT_EQ(again.Fields[i].Offset, layout.Fields[i].Offset);
        EXPECT_EQ(again.Fields[i].Type, layout.Fields[i].Type);
        EXPECT_EQ(again.Fields[i].BigEndian, layout.Fields[i].BigEndian);
        EXPECT_EQ(again.Fields[i].Scale, layout.Fields[i].Scale);
    }
}

TEST(PlotRecords, BadLayoutsNameTheirField) {
    const std::pair<const char*, size_t> cases[] = {
        {"0 u8; x u8", 2}, {"0 u24", 1}, {"0", 1}, {"0 u8 a; 1 u8 a", 2},
        {"0 u8; 1 u8; 99999999 u8", 3}, {"0 u8 1e300", 1}, {"-1 u8", 1},
    };
    for (const auto& [text, field] : cases) {
        TRecordLayout layout;
        size_t bad = 0;
        EXPECT_FALSE(TRecordLayout::Parse(text, layout, bad)) << text;
        EXPECT_EQ(bad, field) << text;
        EXPECT_TRUE(layout.Fields.empty());
    }
}

TEST(PlotDecimation, ColumnsAreExactAgainstEveryPoint) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-1000, 1000);
    for (size_t points : {0u, 1u, 63u, 4097u, 100000u}) {
        TPlotSeries s("s");
        uint32_t t = 0;
        for (size_t i = 0; i < points; ++i) {
            t += rng() % 3; // several points share a millisecond
            s.Append(t, rng() % 50 == 0 ? NAN : value(rng));
        }
        for (const auto& [t0, t1, columns] : {std::tuple{0.0, double(t) + 1, 640},
                                             std::tuple{17.5, double(t) / 3 + 20, 333},
                                             std::tuple{-50.0, double(t) * 2 + 5, 7}}) {
            std::vector<TPlotColumn> cols;
            DecimateSeries(s, t0, t1, columns, cols);
            ASSERT_EQ(cols.size(), size_t(columns));
            // The reference: each point into the column whose start it has reached.
            std::vector<TPlotColumn> ref(static_cast<size_t>(columns));
            for (size_t i = 0; i < s.Size(); ++i) {
                const double pt = s.Time(i);
                if (pt < t0 || pt >= ColumnStart(t0, t1, columns, columns))
                    continue;
                int c = 0;
                while (c + 1 < columns && pt >= ColumnStart(t0, t1, columns, c + 1))
                    ++c;
                TPlotColumn& r = ref[size_t(c)];
                const float v = s.Value(i);
                if (!r.HasPoints)
                    r.First = v;
                r.HasPoints = true;
                r.Last = v;
                if (std::isfinite(v)) {
                    r.Lo = r.Any ? std::min(r.Lo, v) : v;
                    r.Hi = r.Any ? std::max(r.Hi, v) : v;
                    r.Any = true;
                }
            }
            for (int c = 0; c < columns; ++c) {
                const TPlotColumn& a = cols[size_t(c)];
                const TPlotColumn& r = ref[size_t(c)];
                ASSERT_EQ(a.HasPoints, r.HasPoints) << points << " column " << c;
                ASSERT_EQ(a.Any, r.Any) << points << " column " << c;
                if (r.Any) {
                    ASSERT_EQ(a.Lo, r.Lo) << points << " column " << c;
                    ASSERT_EQ(a.Hi, r.Hi) << points << " column " << c;
                }
                if (r.HasPoints) {
                    ASSERT_TRUE(a.First == r.First || (std::isnan(a.First) && std::isnan(r.First)));
                    ASSERT_TRUE(a.Last == r.Last || (std::isnan(a.Last) && std::isnan(r.Last)));
                }
            }
        }
    }
}

// A view that follows the newest points, kept from frame to frame while points come and the
// oldest go, shows what the columns decimated afresh show.
TEST(PlotDecimation, KeptColumnsOfAFollowingViewMatchColumnsMadeAfresh) {
    std::mt19937 rng(11);
    TPlotSeries s("s");
    TPlotColumnCache kept;
    uint32_t t = 0;
    for (int frame = 0; frame < 300; ++frame) {
        for (int i = int(rng() % 3000); i > 0; --i) {
            t += rng() % 5 == 0 ? 1 : 0;
            s.Append(t, rng() % 40 == 0 ? NAN : float(int(rng() % 2001) - 1000));
        }
        if (frame % 7 == 6 && s.Size() > 3 * TPlotSeries::ChunkPoints)
            s.DropChunk();
        const int columns = frame < 150 ? 97 : 64; // and then a narrower window
        const double dt = 5000.0 / columns;
        const int64_t first = int64_t(std::floor(double(t) / dt)) - columns + 1;
        const std::vector<TPlotColumn> got = kept.Columns(s, first, columns, dt);
        const std::vector<TPlotColumn> fresh = TPlotColumnCache().Columns(s, first, columns, dt);
        for (int c = 0; c < columns; ++c) {
            const TPlotColumn& a = got[size_t(c)];
            const TPlotColumn& r = fresh[size_t(c)];
            ASSERT_EQ(a.HasPoints, r.HasPoints) << "frame " << frame << " column " << c;
            ASSERT_EQ(a.Any, r.Any) << "frame " << frame << " column " << c;
            ASSERT_TRUE(!r.Any || (a.Lo == r.Lo && a.Hi == r.Hi)) << "frame " << frame;
            const auto same = [](float x, float y) {
                return x == y || (std::isnan(x) && std::isnan(y));
            };
            ASSERT_TRUE(!r.HasPoints || (same(a.First, r.First) && same(a.Last, r.Last)))
                << "frame " << frame << " column " << c;
        }
    }
}

TEST(PlotStore, OverItsLimitTheOldestPointsGoAndAreCounted) {
    TPlotStore store;
    store.SetMemoryLimit(4 * sizeof(TPlotChunk));
    TPlotSeries* a = store.Series("a");
    TPlotSeries* b = store.Series("b");
    for (uint32_t t = 0; t < 4 * TPlotSeries::ChunkPoints; ++t) {
        a->Append(t, float(t));
        b->Append(t + 1, float(t));
        store.Trim();
    }
    EXPECT_LE(store.MemoryBytes(), store.MemoryLimit());
    EXPECT_EQ(store.Points() + store.DroppedPoints(), 8 * TPlotSeries::ChunkPoints);
    // The newest points are kept, in order.
    EXPECT_EQ(a->Latest(), float(4 * TPlotSeries::ChunkPoints - 1));
    EXPECT_EQ(a->Time(0) % TPlotSeries::ChunkPoints, 0u);
    // Past the most series, a new name is refused rather than taking memory without end.
    for (size_t i = store.Count(); i < TPlotStore::MaxSeries; ++i)
        ASSERT_NE(store.Series("s" + std::to_string(i)), nullptr);
    EXPECT_EQ(store.Series("one more"), nullptr);
}

TEST(PlotFeed, BlocksFromAnotherThreadAreReadInOrderWithTheirTimes) {
    TPlotFeed feed;
    feed.Start();
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            const std::string line = "a:" + std::to_string(i) + (i % 100 == 0 ? ",oops\n" : "\n");
            feed.Push(reinterpret_cast<const uint8_t*>(line.data()), line.size(), 1000000 + i);
        }
    });
    worker.join();
    feed.Settle();
    feed.Read([](const TPlotStore& store, const TPlotFeed::TCounts& counts) {
        ASSERT_EQ(store.Count(), 1u);
        const TPlotSeries& a = store.At(0);
        EXPECT_EQ(a.Size(), 990u);
        EXPECT_EQ(counts.Bad, 10u);
        EXPECT_EQ(counts.Good, 990u);
        EXPECT_EQ(a.Time(0), 1u); // from the first block's time
        EXPECT_EQ(a.Value(a.Size() - 1), 999.0f);
    });
    // Records from now on: each block one record.
    TRecordLayout layout;
    size_t bad = 0;
    ASSERT_TRUE(TRecordLayout::Parse("0 u16le v", layout, bad));
    feed.SetSource(TPlotFeed::TSource::Records, layout);
    const uint8_t rec[] = {0x34, 0x12, 0x00};
    feed.Push(rec, 3, 2000000);
    feed.Push(rec, 1, 2000001);
    feed.Settle();
    feed.Read([](const TPlotStore& store, const TPlotFeed::TCounts& counts) {
        ASSERT_EQ(store.Count(), 2u);
        EXPECT_EQ(store.At(1).Latest(), float(0x1234));
        EXPECT_EQ(counts.Bad, 11u);
    });
    feed.Stop();
}

// A plot opened, or switched to text, while a line is under way does not read the rest of that
// line as a line; one opened between lines, or before any byte, reads the first line whole.
TEST(PlotFeed, TheLineUnderWayWhenThePlotOpensOrItsSourceChangesIsNotRead) {
    for (const std::string before : {"7,8\r\n-37", "", "7,8\r\n"}) {
        TPlotFeed feed;
        auto push = [&](const std::string& b) {
            feed.Push(reinterpret_cast<const uint8_t*>(b.data()), b.size(), 1000);
        };
        push(before);
        feed.Start();
        push("84,5\r\n1,2\r\n");
        feed.Settle();
        feed.Read([&](const TPlotStore& store, const TPlotFeed::TCounts& counts) {
            ASSERT_EQ(store.Count(), 2u) << before;
            const bool cut = !before.empty() && before.back() != '\n';
            EXPECT_EQ(store.At(0).Size(), cut ? 1u : 2u) << before;
            EXPECT_EQ(store.At(0).Value(0), cut ? 1.0f : 84.0f) << before;
            EXPECT_EQ(counts.Bad, 0u);
        });
        feed.Stop();
    }
    // Likewise when frames give way to text lines in the middle of one.
    TPlotFeed feed;
    feed.Start();
    TRecordLayout layout;
    size_t bad = 0;
    ASSERT_TRUE(TRecordLayout::Parse("0 u8 v", layout, bad));
    feed.SetSource(TPlotFeed::TSource::Records, layout);
    const std::string frame = "7,8\r\n-37";
    feed.Push(reinterpret_cast<const uint8_t*>(frame.data()), frame.size(), 1000);
    feed.Settle();
    feed.SetSource(TPlotFeed::TSource::Text, layout);
    const std::string lines = "84,5\r\n1,2\r\n";
    feed.Push(reinterpret_cast<const uint8_t*>(lines.data()), lines.size(), 1001);
    feed.Settle();
    feed.Read([&](const TPlotStore& store, const TPlotFeed::TCounts&) {
        ASSERT_EQ(store.Count(), 3u);
        EXPECT_EQ(store.At(1).Size(), 1u);
        EXPECT_EQ(store.At(1).Value(0), 1.0f);
    });
    feed.Stop();
}

// Blocks that come while the reader is held up beyond what may wait are skipped and counted,
// and a line they cut is read neither in pieces nor joined across the gap.
TEST(PlotFeed, AFloodTheReaderCannotKeepUpWithIsSkippedAtLineEnds) {
    TPlotFeed feed;
    feed.Start();
    const size_t size = TPlotFeed::MaxPendingBytes / 2;
    const std::string one = "1." + std::string(29, '0') + "\n";
    std::vector<std::string> blocks;
    for (int i = 0; i < 6; ++i) {
        // "<i>\n", lines of 1, and "0...01<i>" that the next block's first line ends.
        std::string block = std::to_string(i) + "\n";
        const std::string tail = "1" + std::to_string(i);
        while (block.size() + one.size() + tail.size() <= size)
            block += one;
        block.resize(size - tail.size(), '0');
        blocks.push_back(block + tail);
    }
    auto push = [&](const std::string& b) {
        feed.Push(reinterpret_cast<const uint8_t*>(b.data()), b.size(), 1000);
    };
    // The reader takes at most one batch and then waits for the store, which this holds.
    feed.Read([&](const TPlotStore&, const TPlotFeed::TCounts&) {
        for (int i = 0; i < 5; ++i)
            push(blocks[i]); // the last of them is always skipped
    });
    feed.Settle();
    push(blocks[5]);
    feed.Settle();
    feed.Read([&](const TPlotStore& store, const TPlotFeed::TCounts& counts) {
        EXPECT_GE(counts.Skipped, size);
        EXPECT_EQ(counts.Skipped % size, 0u);
        EXPECT_EQ(counts.Bad, 0u);
        ASSERT_EQ(store.Count(), 1u);
        const TPlotSeries& s = store.At(0);
        EXPECT_EQ(s.Value(0), 0.0f);
        for (size_t i = 1; i < s.Size(); ++i) {
            const float v = s.Value(i);
            // A line of 1s, or block n-1's last line ended by block n's first.
            const bool joined = v == 101 || v == 112 || v == 123 || v == 134;
            ASSERT_TRUE(v == 1 || joined) << "point " << i << ": " << v;
        }
    });
    feed.Stop();
}
