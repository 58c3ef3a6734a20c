// The reader of Rich Text Format and plain text, as a push parser: bytes arrive in pieces of any
// size, and every token (a control word, its number, a \'hh escape, \bin data) may be split
// between two pieces, so the lexer keeps its place in a small state instead of looking ahead.
// It keeps the text of the body, the font and colour tables, and steps over everything else.

#include "RtfReaderState.h"

#include "CodePage.h"
#include "HexText.h"

#include <algorithm>
#include <array>
#include <cstddef>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

using namespace rtfread;

namespace {

// Windows character set numbers of \fcharset and the code pages they stand for.
int CodePageOfCharset(int charset, int fallback) {
    static const struct {
        int charset;
        int codePage;
    } table[] = {
        {0, 1252},   {77, 10000}, {128, 932},  {129, 949},  {130, 1361}, {134, 936},
        {136, 950},  {161, 1253}, {162, 1254}, {163, 1258}, {177, 1255}, {178, 1256},
        {186, 1257}, {204, 1251}, {222, 874},  {238, 1250}, {255, 437},
    };
    for (const auto& entry : table)
        if (entry.charset == charset)
            return entry.codePage;
    return fallback;
}

// Destinations whose content is not part of the text.
bool IsSkippedDestination(std::string_view word) {
    static const char* const names[] = {
        "stylesheet", "info",         "pict",      "object",
        "header",     "headerl",      "headerr",   "headerf",
        "footer",     "footerl",      "footerr",   "footerf",
        "footnote",   "annotation",   "xe",        "tc",
        "txe",        "fldinst",      "themedata", "colorschememapping",
        "datastore",  "latentstyles", "listtable", "listoverridetable",
        "revtbl",     "rsidtbl",      "filetbl",   "generator",
        "xmlnstbl",   "pgdsctbl",     "userprops", "docvar",
        "private",    "pn",           "bkmkstart", "bkmkend",
        "nonshppict", "shp",          "shpinst",   "atnid",
        "atnauthor",  "operator",     "title",     "author",
        "company",    "comment",      "doccomm",
    };
    return std::any_of(std::begin(names), std::end(names),
                       [&](const char* n) { return word == n; });
}

char16_t NamedChar(std::string_view word) {
    static const struct {
        const char* name;
        char16_t c;
    } table[] = {
        {"tab", u'\t'},         {"cell", u'\t'},          {"emdash", u'\u2014'},
        {"endash", u'\u2013'},  {"bullet", u'\u2022'},    {"lquote", u'\u2018'},
        {"rquote", u'\u2019'},  {"ldblquote", u'\u201C'}, {"rdblquote", u'\u201D'},
        {"emspace", u'\u2003'}, {"enspace", u'\u2002'},   {"qmspace", u'\u2005'},
    };
    for (const auto& entry : table)
        if (word == entry.name)
            return entry.c;
    return 0;
}

bool IsBreak(std::string_view word) {
    return word == "par" || word == "line" || word == "sect" || word == "page" || word == "row";
}

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Bytes that end a run of body text in RTF, and a line of plain text.
constexpr std::array<bool, 256> MakeStops(std::string_view stops) {
    std::array<bool, 256> table{};
    for (const char c : stops)
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr std::array<bool, 256> RtfStop = MakeStops(std::string_view("{}\\\r\n\0", 6));

// The first byte of p[from..n) that ends a run of RTF body text, or n. Runs are
// most of a history file (a dump line is one run), so they are scanned 16
// bytes at a time where the processor has SSE2 (every x86-64).
size_t RunEnd(const char* p, size_t from, size_t n) {
    size_t i = from;
#ifdef __SSE2__
    const __m128i open = _mm_set1_epi8('{'), close = _mm_set1_epi8('}');
    const __m128i slash = _mm_set1_epi8('\\'), cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n'), nul = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
        const __m128i hit = _mm_or_si128(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, open), _mm_cmpeq_epi8(v, close)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, slash), _mm_cmpeq_epi8(v, cr))),
            _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, nul)));
        const int mask = _mm_movemask_epi8(hit);
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
#endif
    while (i < n && !RtfStop[static_cast<unsigned char>(p[i])])
        ++i;
    return i;
}

} // namespace

// --- RTF -----------------------------------------------------------------------------------

bool TRtfStreamReader::Impl::RtfRun(const char* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        const char c = p[i];
        switch (lex) {
        case Lex::Ended:
            return true; // the document's own group has ended; anything after it is not text
        case Lex::Bin: {
            const size_t take = static_cast<size_t>(std::min<long long>(binLeft, n - i));
            i += take;
            binLeft -= static_cast<long long>(take);
            if (binLeft == 0)
                lex = Lex::Text;
            break;
        }
        case Lex::Text:
            if (c == '{') {
                ++i;
                if (!OpenGroup())
                    return false;
            } else if (c == '}') {
                ++i;
                CloseGroup();
            } else if (c == '\\') {
                ++i;
                lex = Lex::Backslash;
            } else if (c == '\r' || c == '\n' || c == '\0') {
                ++i;
            } else if (skip == 0 && cur.dest == Dest::Text) {
                // A run of plain text goes to the line in one piece.
                const size_t end = RunEnd(p, i + 1, n);
                AddByte(c);
                AppendPending(p + i + 1, end - i - 1);
                i = end;
            } else {
                ++i;
                TextByte(c);
            }
            break;
        case Lex::Backslash:
            ++i;
            if (IsAlpha(c)) {
                word[0] = c;
                wordLen = 1;
                wordLong = false;
                lex = Lex::Word;
            } else {
                lex = Lex::Text;
                Symbol(c);
            }
            break;
        case Lex::Word:
            if (IsAlpha(c)) {
                // The letters in this piece in one go.
                for (; i < n && IsAlpha(p[i]); ++i) {
                    if (wordLen < MaxWord)
                        word[wordLen++] = p[i];
                    else
                        wordLong = true;
                }
            } else if (c == '-') {
                ++i;
                lex = Lex::Minus;
            } else if (IsDigit(c)) {
                ++i;
                negative = false;
                value = c - '0';
                lex = Lex::Digits;
            } else {
                if (c == ' ')
                    ++i; // the delimiter belongs to the word
                lex = Lex::Text;
                DispatchWord(false, 0);
            }
            break;
        case Lex::Minus:
            if (IsDigit(c)) {
                ++i;
                negative = true;
                value = c - '0';
                lex = Lex::Digits;
            } else {
                // A "-" that no digit follows is text after a word without a number.
                lex = Lex::Text;
                DispatchWord(false, 0);
                TextByte('-');
            }
            break;
        case Lex::Digits:
            if (IsDigit(c)) {
                ++i;
                // Clamp rather than overflow; no sound parameter comes near this.
                value = std::min(value * 10 + (c - '0'), 1'000'000'000'000LL);
            } else {
                if (c == ' ')
                    ++i;
                lex = Lex::Text;
                DispatchWord(true, negative ? -value : value);
            }
            break;
        case Lex::Hex1:
            lex = Lex::Text;
            if (HexDigitValue(c) >= 0) {
                ++i;
                hexHigh = c;
                lex = Lex::Hex2;
            }
            // else a damaged escape: drop it and read what follows as it stands
            break;
        case Lex::Hex2:
            lex = Lex::Text;
            if (HexDigitValue(c) >= 0) {
                ++i;
                if (!SkipOne())
                    AddByte(static_cast<char>(HexDigitValue(hexHigh) * 16 + HexDigitValue(c)), true);
            } else {
                TextByte(hexHigh);
            }
            break;
        }
    }
    return true;
}

void TRtfStreamReader::Impl::RtfEnd() {
    // A token cut off by the end of the data ends there.
    switch (lex) {
    case Lex::Word:
        DispatchWord(false, 0);
        break;
    case Lex::Minus:
        DispatchWord(false, 0);
        TextByte('-');
        break;
    case Lex::Digits:
        DispatchWord(true, negative ? -value : value);
        break;
    case Lex::Hex2:
        TextByte(hexHigh);
        break;
    default:
        break;
    }
    lex = Lex::Ended;
    Flush();
    if (!line.empty() || high != 0)
        EmitLine();
    if (!styleTaken)
        TakeStyle();
}

bool TRtfStreamReader::Impl::OpenGroup() {
    Flush();
    skip = 0;
    if (stack.size() >= static_cast<size_t>(RtfMaxDepth))
        return false;
    stack.push_back(cur);
    return true;
}

void TRtfStreamReader::Impl::CloseGroup() {
    Flush();
    skip = 0;
    if (stack.empty()) {
        lex = Lex::Ended;
        return;
    }
    if (stack.size() == 1)
        TakeStyle(); // a document without text still has its style
    if (cur.dest == Dest::FontTable && stack.back().dest != Dest::FontTable)
        haveFontEntry = false;
    cur = stack.back();
    stack.pop_back();
    if (stack.empty())
        lex = Lex::Ended;
}

void TRtfStreamReader::Impl::DispatchWord(bool hasParam, long long v) {
    const std::string_view w = wordLong ? std::string_view() : std::string_view(word, wordLen);
    Word(w, hasParam, static_cast<int>(std::clamp<long long>(v, -2'000'000'000, 2'000'000'000)));
}

void TRtfStreamReader::Impl::Word(std::string_view w, bool hasParam, int param) {
    if (w == "bin") {
        // Binary data follows; step over it whatever the destination, so that its bytes are not
        // taken for braces.
        if (hasParam && param > 0) {
            binLeft = param;
            lex = Lex::Bin;
        }
        SkipOne();
        return;
    }
    if (cur.dest == Dest::Skip || SkipOne())
        return;
    if (w == "par") { // one per line of a history: asked first
        Break();
    } else if (w == "fonttbl") {
        Flush();
        cur.dest = Dest::FontTable;
        haveFontEntry = false;
    } else if (w == "colortbl") {
        Flush();
        cur.dest = Dest::ColorTable;
        rgbSet = false;
        rgb[0] = rgb[1] = rgb[2] = 0;
    } else if (IsSkippedDestination(w)) {
        Flush();
        cur.dest = Dest::Skip;
    } else if (w == "ansi") {
        ansiCp = 1252;
    } else if (w == "mac") {
        ansiCp = 10000;
    } else if (w == "pc") {
        ansiCp = 437;
    } else if (w == "pca") {
        ansiCp = 850;
    } else if (w == "ansicpg") {
        if (hasParam && param > 0)
            ansiCp = param;
    } else if (w == "deff") {
        deff = param;
    } else if (w == "f") {
        Flush();
        if (cur.dest == Dest::FontTable) {
            // An entry even when it has no name; past the limit, new entries are not kept.
            haveFontEntry = fonts.size() < MaxFonts || fonts.count(param) != 0;
            fontEntry = param;
            if (haveFontEntry)
                fonts[param];
        } else {
            cur.font = param;
        }
    } else if (w == "fcharset") {
        if (InFontEntry())
            fonts[fontEntry].charset = param;
    } else if (w == "cpg") {
        if (InFontEntry())
            fonts[fontEntry].codePage = param;
    } else if (cur.dest == Dest::ColorTable && (w == "red" || w == "green" || w == "blue")) {
        const int i = w == "red" ? 0 : w == "green" ? 1 : 2;
        rgb[i] = std::clamp(param, 0, 255);
        rgbSet = true;
    } else if (w == "cf") {
        cur.cf = param;
    } else if (w == "highlight" || w == "cb") {
        cur.highlight = param;
    } else if (w == "fs") {
        cur.fs = param;
    } else if (w == "plain") {
        cur.font = -1;
        cur.cf = cur.highlight = cur.fs = 0;
    } else if (w == "uc") {
        cur.uc = std::clamp(param, 0, 1'000'000);
    } else if (w == "u") {
        if (hasParam) {
            // N is a signed 16-bit number; negative values stand for code units above 0x7FFF.
            AddChar(static_cast<char16_t>(param & 0xFFFF));
            skip = cur.uc;
        }
    } else if (IsBreak(w)) {
        Break();
    } else if (const char16_t c = NamedChar(w); c != 0) {
        AddChar(c);
    }
}

void TRtfStreamReader::Impl::Symbol(char c) {
    if (c == '\'') {
        lex = Lex::Hex1;
        return;
    }
    if (c == '*') {
        // An ignorable destination: we read none of them.
        Flush();
        cur.dest = Dest::Skip;
        return;
    }
    if (SkipOne())
        return;
    switch (c) {
    case '\\':
    case '{':
    case '}':
        AddByte(c, true);
        break;
    case '~':
        AddChar(0x00A0);
        break;
    case '_':
        AddChar(0x2011);
        break;
    case '\r':
    case '\n':
        Break();
        break;
    default:
        break; // \- optional hyphen, \| and the like show nothing
    }
}

// Counts one character against the replacement of a \uN; true when it is to be dropped.
bool TRtfStreamReader::Impl::SkipOne() {
    if (skip <= 0)
        return false;
    --skip;
    return true;
}

// Escaped bytes are always text; a plain ";" ends an entry of the font or colour table.
void TRtfStreamReader::Impl::AddByte(char b, bool escaped) {
    // Every change of font or group flushes, so text waiting for the line is in the right code
    // page already.
    if (pendingTarget == Target::Line && cur.dest == Dest::Text) {
        AppendPending(&b, 1);
        return;
    }
    Target target = Target::None;
    int codePage = ansiCp;
    switch (cur.dest) {
    case Dest::Text:
        target = Target::Line;
        codePage = CodePageOfFont(cur.font);
        TakeStyle();
        break;
    case Dest::FontTable:
        if (!InFontEntry())
            return;
        if (b == ';' && !escaped) {
            Flush();
            FontEntry& entry = fonts[fontEntry];
            entry.name = entry.name.trimmed();
            haveFontEntry = false;
            return;
        }
        target = Target::FontName;
        codePage = CodePageOfFont(fontEntry);
        break;
    case Dest::ColorTable:
        if (b == ';' && !escaped) {
            if (colors.size() < MaxColors)
                colors.push_back(rgbSet ? QColor(rgb[0], rgb[1], rgb[2]) : QColor());
            rgbSet = false;
            rgb[0] = rgb[1] = rgb[2] = 0;
        }
        return;
    case Dest::Skip:
        return;
    }
    if (target != pendingTarget || codePage != pendingCp ||
        (target == Target::FontName && fontEntry != pendingFont))
        Flush();
    pendingTarget = target;
    pendingFont = fontEntry;
    pendingCp = codePage;
    AppendPending(&b, 1);
}

void TRtfStreamReader::Impl::AddChar(char16_t c) {
    if (cur.dest == Dest::Text) {
        TakeStyle();
        Flush();
        AppendUtf16(&c, 1);
    } else if (InFontEntry()) {
        Flush();
        QString& name = fonts[fontEntry].name;
        if (name.size() < MaxFontName)
            name.append(QChar(c));
    }
}

void TRtfStreamReader::Impl::Break() {
    if (cur.dest != Dest::Text)
        return;
    TakeStyle();
    Flush();
    EmitLine();
}

// The style of a document is the one in force where its text begins.
void TRtfStreamReader::Impl::TakeStyle() {
    if (styleTaken)
        return;
    styleTaken = true;
    const auto font = fonts.find(cur.font < 0 ? deff : cur.font);
    if (font != fonts.end())
        style.FontName = font->second.name.trimmed();
    style.TextColor = ColorAt(cur.cf);
    style.BackColor = ColorAt(cur.highlight);
    style.FontSize = cur.fs > 0 ? cur.fs / 2 : 0;
}

int TRtfStreamReader::Impl::CodePageOfFont(int font) const {
    const auto entry = fonts.find(font < 0 ? deff : font);
    if (entry == fonts.end())
        return ansiCp;
    if (entry->second.codePage > 0)
        return entry->second.codePage;
    return CodePageOfCharset(entry->second.charset, ansiCp);
}

QColor TRtfStreamReader::Impl::ColorAt(int index) const {
    if (index <= 0 || static_cast<size_t>(index) >= colors.size())
        return QColor();
    return colors[static_cast<size_t>(index)];
}

