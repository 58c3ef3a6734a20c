// The writer of Rich Text Format: a head naming the code page, font and colours, then one
// paragraph per line. History files are almost all hex-dump lines of printable ASCII, so a line
// is copied in runs and only \ { } and the rare other character cost more.

#include "Rtf.h"

#include "CodePage.h"

#include <algorithm>
#include <array>
#include <unordered_map>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

const char HexDigits[] = "0123456789abcdef";

void AppendHexByte(std::string& out, unsigned char b) {
    const char escape[4] = {'\\', '\'', HexDigits[b >> 4], HexDigits[b & 0x0F]};
    out.append(escape, 4);
}

// Bytes that leave a run of plain ASCII: everything but printable characters, and the three that
// RTF escapes. In a font name ";" would end the name, so it is escaped there too.
constexpr std::array<bool, 256> MakeSpecial(bool fontName) {
    std::array<bool, 256> table{};
    for (int b = 0; b < 256; ++b)
        table[static_cast<size_t>(b)] = b < 0x20 || b >= 0x7F || b == '\\' || b == '{' ||
                                        b == '}' || (fontName && b == ';');
    return table;
}
constexpr std::array<bool, 256> Special = MakeSpecial(false);
constexpr std::array<bool, 256> SpecialInFontName = MakeSpecial(true);

// The first byte of text[from..) that Special marks, or the text's end. A
// dump line is one such run, so it is scanned 16 bytes at a time where the
// processor has SSE2 (every x86-64).
size_t PlainRunEnd(std::string_view text, size_t from) {
    size_t i = from;
    const size_t n = text.size();
#ifdef __SSE2__
    const char* p = text.data();
    const __m128i space = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7F);
    const __m128i slash = _mm_set1_epi8('\\'), open = _mm_set1_epi8('{');
    const __m128i close = _mm_set1_epi8('}');
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        // Signed: below 0x20 takes in the bytes from 0x80 up as well.
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_cmplt_epi8(v, space), _mm_cmpeq_epi8(v, del)),
            _mm_or_si128(_mm_cmpeq_epi8(v, slash),
                         _mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close))));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    while (i < n && !Special[static_cast<unsigned char>(text[i])])
        ++i;
    return i;
}

// One UTF-16 code unit outside ASCII: its code page 936 bytes when they read back as the same
// character, else \uN with "?" for readers that do not know \u (N is a signed 16-bit number;
// surrogate halves go one by one). The answer for a character is kept: iconv is slow for one
// character at a time, and a history repeats its few Chinese characters many times.
void AppendWide(std::string& out, char16_t u) {
    thread_local std::unordered_map<char16_t, std::string> known;
    auto it = known.find(u);
    if (it == known.end()) {
        std::string code;
        const QChar c(u);
        bool ok = false;
        const QByteArray bytes = c.isSurrogate() ? QByteArray() : ToCodePage(QString(c), &ok);
        if (ok && FromCodePage(bytes) == c) {
            for (const char b : bytes)
                AppendHexByte(code, static_cast<unsigned char>(b));
        } else {
            code = "\\u" + std::to_string(static_cast<int16_t>(u)) + '?';
        }
        if (known.size() > 4096)
            known.clear(); // bounded whatever text comes
        it = known.emplace(u, std::move(code)).first;
    }
    out += it->second;
}

// Decodes the UTF-8 sequence at text[i]; returns its length and sets cp, or returns 1 with cp
// U+FFFD for a byte that begins no valid sequence (overlong forms, surrogates and values past
// U+10FFFF are not valid).
size_t DecodeUtf8(std::string_view text, size_t i, char32_t& cp) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = b(i);
    size_t len = 0;
    char32_t value = 0;
    char32_t min = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        len = 2, value = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        len = 3, value = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        len = 4, value = lead & 0x07, min = 0x10000;
    } else {
        cp = 0xFFFD;
        return 1;
    }
    if (i + len > text.size()) {
        cp = 0xFFFD;
        return 1;
    }
    for (size_t k = 1; k < len; ++k) {
        if ((b(i + k) & 0xC0) != 0x80) {
            cp = 0xFFFD;
            return 1;
        }
        value = value << 6 | (b(i + k) & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        cp = 0xFFFD;
        return 1;
    }
    cp = value;
    return len;
}

// Text as RTF: printable ASCII as it is, tabs as \tab, other control characters as \'hh, the
// rest through AppendWide.
void AppendEscaped(std::string& out, std::string_view text, bool fontName = false) {
    const std::array<bool, 256>& special = fontName ? SpecialInFontName : Special;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        size_t run = i;
        if (fontName) {
            while (run < n && !special[static_cast<unsigned char>(text[run])])
                ++run;
        } else {
            run = PlainRunEnd(text, i);
        }
        out.append(text.data() + i, run - i);
        i = run;
        if (i == n)
            break;
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\\' || c == '{' || c == '}') {
            const char escape[2] = {'\\', static_cast<char>(c)};
            out.append(escape, 2);
            ++i;
        } else if (c == '\t') {
            out += "\\tab ";
            ++i;
        } else if (c < 0x80) {
            AppendHexByte(out, c);
            ++i;
        } else {
            char32_t cp = 0;
            i += DecodeUtf8(text, i, cp);
            if (cp >= 0x10000) {
                AppendWide(out, static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                AppendWide(out, static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
            } else {
                AppendWide(out, static_cast<char16_t>(cp));
            }
        }
    }
}

void AppendColor(std::string& out, const QColor& color) {
    out += "\\red" + std::to_string(color.red()) + "\\green" + std::to_string(color.green()) +
           "\\blue" + std::to_string(color.blue()) + ';';
}

} // namespace

TRtfWriter::TRtfWriter(const RtfStyle& style) {
    std::string& out = head_;
    out += "{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang1033\\deflangfe2052";
    out += "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset134 ";
    AppendEscaped(out, (style.FontName.isEmpty() ? QStringLiteral("宋体") : style.FontName).toStdString(),
                  true);
    out += ";}}\r\n{\\colortbl ;";
    int next = 1;
    int textIndex = 0;
    int backIndex = 0;
    if (style.TextColor.isValid()) {
        AppendColor(out, style.TextColor);
        textIndex = next++;
    }
    if (style.BackColor.isValid()) {
        AppendColor(out, style.BackColor);
        backIndex = next++;
    }
    out += "}\r\n";
    // The maker's name closes the head, after the tables, as RTF lays it
    // out. LibreOffice reads a document that names none with every blank
    // turned into U+2006 and a blank, and the hex columns fall apart; named,
    // its blanks are read as written.
    out += "{\\*\\generator Kestrel " KESTREL_VERSION ";}";
    out += "\\viewkind4\\uc1\\pard";
    if (textIndex != 0)
        out += "\\cf" + std::to_string(textIndex);
    if (backIndex != 0)
        out += "\\highlight" + std::to_string(backIndex);
    out += "\\f0";
    if (style.FontSize > 0)
        out += "\\fs" + std::to_string(std::min(style.FontSize, 1638) * 2); // RTF's largest
    out += ' ';
}

void TRtfWriter::Head(std::string& out) const {
    out += head_;
}

void TRtfWriter::AppendLine(std::string& out, std::string_view utf8Line) const {
    AppendEscaped(out, utf8Line);
    out += "\\par\r\n";
}

std::string_view TRtfWriter::Tail() {
    return "}\r\n";
}

QByteArray WriteRtf(const QStringList& lines, const RtfStyle& style) {
    const TRtfWriter writer(style);
    std::string out;
    writer.Head(out);
    for (const QString& line : lines)
        writer.AppendLine(out, line.toStdString());
    out += TRtfWriter::Tail();
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}
