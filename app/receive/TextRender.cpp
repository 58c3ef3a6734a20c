#include "TextRender.h"

#include <ctime>

namespace {

constexpr char Hex[] = "0123456789ABCDEF";

bool IsLead(uint8_t b) {
    return b >= 0x81 && b <= 0xFE;
}

bool IsTrail(uint8_t b) {
    return b >= 0x40 && b <= 0xFE && b != 0x7F;
}

} // namespace

TTextRender::TTextRender(TDecodePair decode) : Decode(std::move(decode)) {}

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
    const char escape[4] = {'\\', 'x', Hex[b >> 4], Hex[b & 0xF]};
    Line.append(escape, 4);
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
            const std::string c = Decode ? Decode(lead, b) : std::string();
            if (!c.empty()) {
                Line += c;
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
        // A run of printable ASCII as it stands, at once.
        size_t end = i;
        while (Lead < 0 && end < count && bytes[end] >= 0x20 && bytes[end] < 0x7F &&
               bytes[end] != '\\')
            ++end;
        if (end > i) {
            AfterCr = false;
            Begin(ms);
            Line.append(reinterpret_cast<const char*>(bytes + i), end - i);
            i = end;
            continue;
        }
        Put(bytes[i++], ms, done);
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
