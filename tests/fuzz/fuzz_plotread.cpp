// The plot's readers of received bytes: text lines fed whole and in two pieces give the same
// values and counts; the first line, read as a record layout, reads back from its own text;
// records cut anywhere never read past their end; every value found lands in the store and
// the columns of any view are exact.
#include "PlotData.h"

#include "Fuzzcheck.h"

#include <string>
#include <vector>

namespace {

struct TTaken {
    std::vector<std::string> Names;
    std::vector<double> Values;
    bool operator==(const TTaken& o) const {
        if (Names != o.Names || Values.size() != o.Values.size())
            return false;
        for (size_t i = 0; i < Values.size(); ++i)
            if (!(Values[i] == o.Values[i] || (Values[i] != Values[i] && o.Values[i] != o.Values[i])))
                return false;
        return true;
    }
};

TTaken ReadText(const uint8_t* data, size_t size, size_t cut, uint64_t& bad) {
    TTextPlotReader reader;
    TTaken taken;
    auto take = [&](const std::vector<TPlotValue>& v) {
        for (const TPlotValue& x : v) {
            Check(!x.Name.empty() && x.Name.size() <= TPlotStore::MaxNameBytes);
            taken.Names.push_back(x.Name);
            taken.Values.push_back(x.Value);
        }
    };
    reader.Feed(data, cut, take);
    reader.Feed(data + cut, size - cut, take);
    reader.Flush(take);
    bad = reader.BadLines();
    return taken;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t cut = size ? data[0] % (size + 1) : 0;
    uint64_t badWhole = 0, badCut = 0;
    const TTaken whole = ReadText(data, size, size, badWhole);
    const TTaken pieces = ReadText(data, size, cut, badCut);
    Check(whole == pieces);
    Check(badWhole == badCut);

    // The first line as a layout; the rest as records of every length.
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string first = text.substr(0, text.find('\n'));
    TRecordLayout layout;
    size_t badField = 0;
    if (TRecordLayout::Parse(first, layout, badField)) {
        Check(badField == 0);
        TRecordLayout again;
        Check(TRecordLayout::Parse(layout.Text(), again, badField));
        Check(again.Text() == layout.Text());
        TRecordPlotReader records;
        records.SetLayout(layout);
        const size_t rest = first.size() < size ? first.size() + 1 : size;
        for (size_t n = 0; n <= std::min<size_t>(size - rest, 64); ++n)
            records.Feed(data + rest, n, [](const std::vector<TPlotValue>&) {});
    } else {
        Check(badField > 0 && layout.Fields.empty());
    }

    // The values into one series at times the bytes give; a view's columns against every point.
    TPlotSeries s("s");
    uint32_t t = 0;
    for (size_t i = 0; i < whole.Values.size(); ++i) {
        t += i < size ? data[i] % 4 : 1;
        const double v = whole.Values[i];
        s.Append(t, v == v && v < 1e30 && v > -1e30 ? float(v) : NAN);
    }
    const int columns = 1 + (size ? data[size - 1] % 50 : 0);
    std::vector<TPlotColumn> cols;
    DecimateSeries(s, 0, double(t) + 1, columns, cols);
    size_t points = 0;
    for (int c = 0; c < columns; ++c) {
        const size_t a = s.LowerBound(ColumnStart(0, double(t) + 1, columns, c));
        const size_t b = s.LowerBound(ColumnStart(0, double(t) + 1, columns, c + 1));
        points += b - a;
        Check(cols[size_t(c)].HasPoints == (b > a));
        for (size_t i = a; i < b; ++i) {
            const float v = s.Value(i);
            if (v == v)
                Check(cols[size_t(c)].Any && cols[size_t(c)].Lo <= v && v <= cols[size_t(c)].Hi);
        }
    }
    Check(points == s.Size());
    return 0;
}
