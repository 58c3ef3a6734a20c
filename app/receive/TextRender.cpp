#include "TextRender.h"

#include <cstdint>
#include <cstring>
#include <ctime>

namespace {

constexpr char Hex[] = "0123456789ABCDEF";

bool IsLead(uint8_t b) {
    return b >= 0x81 && b <= 0xFE;
}

bool IsTrail(uint8_t b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

// The escape of b, "\x1B", at out; its length.
size_t EscapeTo(uint8_t b, char* out) {
    out[0] = '\\';
    out[1] = 'x';
    out[2] = Hex[b >> 4];
    out[3] = Hex[b & 0xF];
    return 4;
}

} // namespace

TTextRender::TTextRender(TDecodePair decode) : Decode(std::move(decode)) {}

namespace {
constexpr int FirstLead = 0x81, FirstTrail = 0x40, Trails = 0xFE - FirstTrail + 1;
constexpr uint32_t LongerPair = 0xFF;
} // namespace

void TTextRender::KeepPairs() {
    Pairs.clear();
    if (!Decode)
        return;
    Pairs.assign(size_t(0xFE - FirstLead + 1) * Trails, 0);
    for (int lead = FirstLead; lead <= 0xFE; ++lead)
        for (int trail = FirstTrail; trail <= 0xFE; ++trail) {
            const std::string c = Decode(uint8_t(lead), uint8_t(trail));
            uint32_t& e = Pairs[size_t(lead - FirstLead) * Trails + size_t(trail - FirstTrail)];
            if (c.size() > 3) {
                e = LongerPair;
                continue;
            }
            e = uint32_t(c.size());
            for (size_t k = 0; k < c.size(); ++k)
                e |= uint32_t(uint8_t(c[k])) << (8 * (k + 1));
        }
}

size_t TTextRender::DecodeTo(uint8_t lead, uint8_t trail, char* out, std::string* longer) const {
    if (!Pairs.empty()) {
        const uint32_t e = Pairs[size_t(lead - FirstLead) * Trails + size_t(trail - FirstTrail)];
        if (e != LongerPair) {
            out[0] = char(e >> 8);
            out[1] = char(e >> 16);
            out[2] = char(e >> 24);
            return e & 0xFF;
        }
    }
    if (!Decode)
        return 0;
    std::string c = Decode(lead, trail);
    if (c.size() <= 4) {
        std::memcpy(out, c.data(), c.size());
        return c.size();
    }
    *longer = std::move(c);
    return SIZE_MAX;
}

std::string TTextRender::StampText(int64_t ms) {
    const time_t seconds = time_t(ms / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    const int millis = int(ms % 1000 + 1000) % 1000;
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d ", local.tm_hour, local.tm_min,
                  local.tm_sec, millis);
    return text;
}

void TTextRender::Begin(int64_t ms) {
    if (Started)
        return;
    Started = true;
    if (!Stamps)
        return;
    if (ms != StampMs) {
        Stamp = StampText(ms);
        StampMs = ms;
    }
    Line.assign(Stamp);
}

void TTextRender::Escape(uint8_t b) {
    char escape[4];
    Line.append(escape, EscapeTo(b, escape));
}

void TTextRender::End(const std::function<void(const std::string&)>& done) {
    if (Lead >= 0) {
        Escape(uint8_t(Lead));
        Lead = -1;
    }
    done(Line);
    Line.clear();
    Started = false;
}

void TTextRender::Put(uint8_t b, int64_t ms, const std::function<void(const std::string&)>& done) {
    const bool afterCr = AfterCr;
    AfterCr = false;
    if (Lead >= 0) {
        const uint8_t lead = uint8_t(Lead);
        Lead = -1;
        if (IsTrail(b)) {
            char c[4];
            std::string longer;
            const size_t n = DecodeTo(lead, b, c, &longer);
            if (n == SIZE_MAX) {
                Line += longer;
                return;
            }
            if (n > 0) {
                Line.append(c, n);
                return;
            }
        }
        // Not a pair after all: the lead byte alone, and this byte on its own.
        Escape(lead);
    }
    if (b == '\n' && afterCr)
        return; // the second half of a CR LF
    if (b == '\r' || b == '\n') {
        Begin(ms); // an empty line has a stamp too
        End(done);
        AfterCr = b == '\r';
        return;
    }
    Begin(ms);
    if (b == '\\')
        Line += "\\\\";
    else if (b >= 0x20 && b < 0x7F)
        Line += char(b);
    else if (IsLead(b))
        Lead = b;
    else
        Escape(b);
}

void TTextRender::Feed(const uint8_t* bytes, size_t count, int64_t ms,
                       const std::function<void(const std::string&)>& done) {
    for (size_t i = 0; i < count;) {
        // A line break, or a byte after a CR or a lead byte of an earlier block, one at a time.
        if (Lead >= 0 || AfterCr || bytes[i] == '\r' || bytes[i] == '\n') {
            Put(bytes[i++], ms, done);
            continue;
        }
        Begin(ms);
        // A run of printable ASCII as it stands, at once.
        size_t end = i;
        while (end < count && bytes[end] >= 0x20 && bytes[end] < 0x7F && bytes[end] != '\\')
            ++end;
        if (end > i) {
            Line.append(reinterpret_cast<const char*>(bytes + i), end - i);
            i = end;
            continue;
        }
        // Anything else up to the next line break, gathered here and appended at once.
        char text[1024];
        size_t n = 0;
        for (; i < count && n + 4 <= sizeof text; ++i) {
            const uint8_t b = bytes[i];
            if (b >= 0x20 && b < 0x7F && b != '\\') {
                text[n++] = char(b);
            } else if (b == '\\') {
                text[n++] = '\\';
                text[n++] = '\\';
            } else if (b == '\r' || b == '\n') {
                break;
            } else if (IsLead(b)) {
                if (i + 1 == count) {
                    Lead = b; // its trail comes with the next block
                    ++i;
                    break;
                }
                if (IsTrail(bytes[i + 1])) {
                    std::string longer;
                    const size_t used = DecodeTo(b, bytes[i + 1], text + n, &longer);
                    if (used == SIZE_MAX) { // longer than the room kept for one: as it comes
                        Line.append(text, n);
                        n = 0;
                        Line += longer;
                        ++i;
                        continue;
                    }
                    if (used > 0) {
                        n += used;
                        ++i;
                        continue;
                    }
                }
                // Not a pair: the lead byte alone, and the next byte on its own.
                n += EscapeTo(b, text + n);
            } else {
                n += EscapeTo(b, text + n);
            }
        }
        Line.append(text, n);
    }
}

void TTextRender::Finish(const std::function<void(const std::string&)>& done) {
    if (Started || Lead >= 0)
        End(done);
}

void TTextRender::Reset() {
    Line.clear();
    Started = false;
    AfterCr = false;
    Lead = -1;
}
