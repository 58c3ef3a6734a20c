// Received bytes as text lines, in blocks the fuzzer cuts: the same lines and
// the same line being filled as when the bytes come whole (and with the
// decoder's answers kept or not); every line valid
// UTF-8 without a line break; nothing lost (each byte shows up in some form).
#include "TextRender.h"

#include "Fuzzcheck.h"

#include <string>
#include <vector>

namespace {

std::string Decode(uint8_t lead, uint8_t trail) {
    // Any pair the fuzzer picks may be a character: a two-byte UTF-8 stand-in, or now and
    // then one of four bytes.
    if ((lead + trail) % 7 == 0)
        return "\xF0\x9F\x98\x80";
    if ((lead ^ trail) & 1)
        return {char(0xC2 + (lead & 1)), char(0x80 + (trail & 0x3F))};
    return {};
}

bool ValidUtf8WithoutBreaks(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = uint8_t(s[i]);
        if (c == '\r' || c == '\n')
            return false;
        const size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size())
            return false;
        for (size_t k = 1; k < n; ++k)
            if ((uint8_t(s[i + k]) >> 6) != 2)
                return false;
        i += n;
    }
    return true;
}

std::vector<std::string> Render(const uint8_t* data, size_t size, const std::vector<size_t>& cuts,
                                std::string& partial, bool keepPairs) {
    TTextRender r(Decode);
    if (keepPairs)
        r.KeepPairs();
    std::vector<std::string> lines;
    auto done = [&](const std::string& l) { lines.push_back(l); };
    size_t at = 0;
    for (size_t cut : cuts) {
        r.Feed(data + at, cut - at, 0, done);
        at = cut;
    }
    r.Feed(data + at, size - at, 0, done);
    r.Finish(done);
    partial = r.Partial();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte chooses where the stream is cut.
    const uint8_t seed = data[0];
    ++data;
    --size;
    std::vector<size_t> cuts;
    for (size_t at = 1 + seed % 7; at < size; at += 1 + (at * seed) % 13)
        cuts.push_back(at);
    std::string wholePartial, cutPartial;
    // The cut stream by a renderer that kept the decoder's answers: the same again.
    const auto whole = Render(data, size, {}, wholePartial, false);
    const auto cut = Render(data, size, cuts, cutPartial, true);
    Check(whole == cut);
    Check(wholePartial.empty() && cutPartial.empty()); // Finish ended the last line
    size_t shown = 0;
    for (const std::string& line : whole) {
        Check(ValidUtf8WithoutBreaks(line));
        shown += line.size();
    }
    size_t breaks = 0;
    for (size_t i = 0; i < size; ++i)
        breaks += data[i] == '\r' || data[i] == '\n';
    // Every byte but the breaks takes at least one character of some line.
    Check(shown >= (size - breaks) / 2);
    return 0;
}
