// The receive store's text view, fed in blocks the fuzzer cuts: its lines are
// the renderer's lines of the same bytes, stamps included; each line's length
// bound holds; the two views map to lines that show the same bytes.
#include "ReceiveStore.h"
#include "TextLines.h"
#include "TextRender.h"

#include "Fuzzcheck.h"

#include <string>
#include <vector>

namespace {

std::string Decode(uint8_t lead, uint8_t trail) {
    if ((lead ^ trail) & 1)
        return {char(0xC2 + (lead & 1)), char(0x80 + (trail & 0x3F))};
    return {};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte chooses where the stream is cut and whether lines are stamped.
    const uint8_t seed = data[0];
    ++data;
    --size;
    const bool stamps = seed & 0x80;
    TReceiveStore store;
    TTextLines lines(store, Decode);
    lines.Stamps = stamps;
    TTextRender whole(Decode);
    whole.Stamps = stamps;
    std::vector<std::string> want;
    const auto take = [&](const std::string& l) { want.push_back(l); };
    int64_t ms = 86399000; // a block each second, across midnight
    for (size_t at = 0, i = 0; at < size; ++i) {
        const size_t n = std::min<size_t>(size - at, (i * seed + 3) % 23); // empty blocks too
        store.Receive(data + at, n, ms);
        whole.Feed(data + at, n, ms, take);
        ms += 1000;
        at += n;
    }
    whole.Finish(take);

    Check(lines.LineCount() == int64_t(want.size()));
    std::string scratch;
    for (int64_t k = 0; k < lines.LineCount(); ++k) {
        Check(lines.LineView(k, scratch) == want[size_t(k)]);
        Check(lines.LineBytes(k) >= want[size_t(k)].size());
        const int64_t h = lines.ToHexLine(k);
        Check(h >= 0 && h < store.LineCount());
        Check(lines.FromHexLine(h) <= k);
        // A cut line begins as the whole one does.
        const std::string_view cut = lines.LineView(k, scratch, 5);
        Check(want[size_t(k)].starts_with(cut));
    }
    for (int64_t h = 0; h < store.LineCount(); ++h) {
        const int64_t k = lines.FromHexLine(h);
        Check(k >= 0 && (k < lines.LineCount() || lines.LineCount() == 0));
    }
    return 0;
}
