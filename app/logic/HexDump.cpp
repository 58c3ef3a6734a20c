#include "HexDump.h"

#include <cstring>

namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";

void PutOffset(char* out, uint64_t k) {
    // Wraps after 0xFFFFFFFF on purpose: the column holds 8 digits.
    uint32_t offset = uint32_t(k * 16);
    for (int i = 7; i >= 0; --i) {
        out[i] = HexDigits[offset & 0xF];
        offset >>= 4;
    }
}

} // namespace

void THexDumpLine::Reset() {
    Count = 0;
    std::memset(Text, ' ', HexDumpTextLen);
    Text[HexDumpTextLen] = '\0';
    std::memset(Bytes, 0, sizeof Bytes);
}

std::string HexDumpRender(const THexDumpLine& line, uint64_t k, std::string_view leading) {
    std::string out(leading.size() + HexDumpOffsetLen + HexDumpTextLen, ' ');
    std::memcpy(out.data(), leading.data(), leading.size());
    char* p = out.data() + leading.size();
    PutOffset(p, k);
    p[8] = ':';
    std::memcpy(p + 11, line.Text, HexDumpTextLen);
    return out;
}

int HexDumpRenderBytes(char* out, const uint8_t* bytes, int count, uint64_t k,
                       std::string_view leading) {
    if (count < 0)
        count = 0;
    if (count > HexDumpBytesPerLine)
        count = HexDumpBytesPerLine;
    const int len = int(leading.size()) + HexDumpOffsetLen + HexDumpTextLen;
    std::memset(out, ' ', len);
    std::memcpy(out, leading.data(), leading.size());
    char* p = out + leading.size();
    PutOffset(p, k);
    p[8] = ':';
    char* text = p + 11;
    for (int i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        text[3 * i] = HexDigits[b >> 4];
        text[3 * i + 1] = HexDigits[b & 0xF];
        text[HexDumpCharCol + i] = HexDumpPrintable(b);
    }
    return len;
}

std::string HexDumpHeader() {
    std::string header = "   Offset    ";
    for (int i = 0; i < 16; ++i) {
        header += HexDigits[i >> 4];
        header += HexDigits[i & 0xF];
        header += ' ';
    }
    header += "       ASCII";
    return header;
}
