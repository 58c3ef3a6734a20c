// The reader of Rich Text Format and plain text, as a push parser: bytes arrive in pieces of any
// size, and every token (a control word, its number, a \'hh escape, \bin data) may be split
// between two pieces, so the lexer keeps its place in a small state instead of looking ahead.
// It keeps the text of the body, the font and colour tables, and steps over everything else.

#include "Rtf.h"

#include "Codepage.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <vector>

namespace {

enum class Dest { Text, FontTable, ColorTable, Skip };

// What a group carries and restores at its end.
struct Group {
    Dest dest = Dest::Text;
    int font = -1; // -1: the document's default font
    int uc = 1;    // characters to skip after \uN
    int cf = 0;
    int highlight = 0;
    int fs = 0; // half points
};

struct FontEntry {
    QString name;
    int charset = -1;
    int codePage = 0;
};

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

int HexValue(char h) {
    if (h >= '0' && h <= '9')
        return h - '0';
    if (h >= 'a' && h <= 'f')
        return h - 'a' + 10;
    if (h >= 'A' && h <= 'F')
        return h - 'A' + 10;
    return -1;
}

// Bytes that end a run of body text in RTF, and a line of plain text.
constexpr std::array<bool, 256> MakeStops(std::string_view stops) {
    std::array<bool, 256> table{};
    for (const char c : stops)
        table[static_cast<unsigned char>(c)] = true;
    return table;
}
constexpr std::array<bool, 256> RtfStop = MakeStops(std::string_view("{}\\\r\n\0", 6));

// Text bytes wait in a run until the code page decodes them together, so that double-byte
// characters come out whole; a run that reaches this size is decoded up to its last byte below
// 0x40 (no double-byte page but Johab uses such a byte as a second byte), or whole when it has
// none. The place of that cut depends on the bytes alone, never on how they were fed.
constexpr size_t PendingMax = 1 << 20;
// Hostile tables must not grow without end; no real document comes near these.
constexpr size_t MaxFonts = 4096;
constexpr size_t MaxColors = 4096;
constexpr qsizetype MaxFontName = 1024;
// The longest control word kept; any longer one is unknown, whatever it spells.
constexpr size_t MaxWord = 32;

enum class Mode { Undecided, Rtf, Utf8, CodePage };

// Where the lexer of RTF stands between two bytes.
enum class Lex { Text, Backslash, Word, Minus, Digits, Hex1, Hex2, Bin, Ended };

enum class Target { None, Line, FontName };

// Whether a code page reads ASCII as ASCII, so that an ASCII run needs no decoder. Checked once
// per page by decoding every 7-bit byte.
bool IsAsciiPage(int codePage) {
    thread_local std::map<int, bool> known;
    const auto it = known.find(codePage);
    if (it != known.end())
        return it->second;
    char ascii[128];
    for (int b = 0; b < 128; ++b)
        ascii[b] = static_cast<char>(b);
    const QString decoded = FromWindowsCodePage(QByteArrayView(ascii, 128), codePage);
    bool same = decoded.size() == 128;
    for (int b = 0; same && b < 128; ++b)
        same = decoded[b].unicode() == b;
    if (known.size() > 64)
        known.clear();
    known.emplace(codePage, same);
    return same;
}

// Eight bytes at a time: this runs over every line of a history.
bool AllAscii(const char* p, size_t n) {
    uint64_t any = 0;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, p + i, 8);
        any |= word;
    }
    for (; i < n; ++i)
        any |= static_cast<unsigned char>(p[i]);
    return (any & 0x8080808080808080ULL) == 0;
}

} // namespace

struct TRtfStreamReader::Impl {
    explicit Impl(Mode m) : mode(m) {}

    // False when the data is to be read another way (mode then says which) from its first byte.
    bool Run(const char* p, size_t n);
    bool End();

    // --- RTF ---
    bool RtfRun(const char* p, size_t n);
    void RtfEnd();
    bool OpenGroup();
    void CloseGroup();
    void DispatchWord(bool hasParam, long long value);
    void Word(std::string_view word, bool hasParam, int param);
    void Symbol(char c);
    void TextByte(char c) {
        if (!SkipOne())
            AddByte(c);
    }
    bool SkipOne();
    void AddByte(char b, bool escaped = false);
    void AddChar(char16_t c);
    void Break();
    void TakeStyle();
    int CodePageOfFont(int font) const;
    bool InFontEntry() const { return cur.dest == Dest::FontTable && haveFontEntry; }
    QColor ColorAt(int index) const;

    // --- plain text ---
    bool PlainRun(const char* p, size_t n);
    bool PlainEnd();
    bool Utf8Byte(unsigned char b);

    // --- text runs and lines ---
    void AppendPending(const char* p, size_t n);
    void Flush();
    void DecodePending(size_t n);
    void AppendAscii(const char* p, size_t n);
    void AppendUtf16(const char16_t* s, size_t n);
    void AppendCodePoint(char32_t cp);
    void ResolveHigh();
    void CheckLineCap();
    void EmitLine();

    Mode mode;
    TRtfLineSink* sink = nullptr;
    std::string head; // the first bytes, until they tell RTF from plain text

    // The lexer.
    Lex lex = Lex::Text;
    char word[MaxWord];
    size_t wordLen = 0;
    bool wordLong = false;
    bool negative = false;
    long long value = 0;
    char hexHigh = 0;
    long long binLeft = 0;

    // The document.
    std::vector<Group> stack;
    Group cur;
    int ansiCp = 1252;
    int deff = 0;
    std::map<int, FontEntry> fonts;
    int fontEntry = 0; // the font table entry being read, when haveFontEntry
    bool haveFontEntry = false;
    std::vector<QColor> colors;
    int rgb[3] = {0, 0, 0};
    bool rgbSet = false;
    int skip = 0; // replacement characters still to skip after \uN
    RtfStyle style;
    bool styleTaken = false;

    // The run of text bytes waiting for its code page.
    std::string pending;
    Target pendingTarget = Target::None;
    int pendingFont = 0;
    int pendingCp = 0;

    // The line being read, as UTF-8; a high surrogate waits for its low half.
    std::string line;
    char16_t high = 0;

    // Plain text.
    bool afterCr = false;
    uint64_t offset = 0; // bytes of this pass read so far
    int need = 0;        // continuation bytes still to come in a UTF-8 sequence
    char32_t cp = 0;
    unsigned char low = 0x80, up = 0xBF; // the range of the next continuation byte
    uint64_t charStart = 0;
    char seq[4];
    int seqLen = 0;
};

// --- Text runs and lines -------------------------------------------------------------------

void TRtfStreamReader::Impl::ResolveHigh() {
    if (high != 0) {
        high = 0;
        line += "\xEF\xBF\xBD"; // an unpaired half
    }
}

void TRtfStreamReader::Impl::AppendAscii(const char* p, size_t n) {
    ResolveHigh();
    line.append(p, n);
    CheckLineCap();
}

void TRtfStreamReader::Impl::AppendCodePoint(char32_t c) {
    char out[4];
    size_t n = 0;
    if (c < 0x80) {
        out[n++] = static_cast<char>(c);
    } else if (c < 0x800) {
        out[n++] = static_cast<char>(0xC0 | c >> 6);
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out[n++] = static_cast<char>(0xE0 | c >> 12);
        out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out[n++] = static_cast<char>(0xF0 | c >> 18);
        out[n++] = static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out[n++] = static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    line.append(out, n);
}

void TRtfStreamReader::Impl::AppendUtf16(const char16_t* s, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const char16_t u = s[i];
        const bool isHigh = u >= 0xD800 && u <= 0xDBFF;
        const bool isLow = u >= 0xDC00 && u <= 0xDFFF;
        if (high != 0 && isLow) {
            AppendCodePoint(0x10000 + ((char32_t(high) - 0xD800) << 10) + (u - 0xDC00));
            high = 0;
            continue;
        }
        ResolveHigh();
        if (isHigh)
            high = u;
        else
            AppendCodePoint(isLow ? 0xFFFD : u);
    }
    CheckLineCap();
}

// Hands on the front of an overlong line, cut between two characters.
void TRtfStreamReader::Impl::CheckLineCap() {
    while (line.size() > RtfMaxLineBytes) {
        size_t cut = RtfMaxLineBytes;
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
            --cut;
        sink->Line(std::string_view(line.data(), cut));
        line.erase(0, cut);
    }
}

void TRtfStreamReader::Impl::EmitLine() {
    ResolveHigh();
    sink->Line(line);
    line.clear();
}

void TRtfStreamReader::Impl::AppendPending(const char* p, size_t n) {
    while (n > 0) {
        const size_t take = std::min(n, PendingMax - pending.size());
        pending.append(p, take);
        p += take;
        n -= take;
        if (pending.size() == PendingMax) {
            size_t cut = pending.size();
            while (cut > 0 && static_cast<unsigned char>(pending[cut - 1]) >= 0x40)
                --cut;
            DecodePending(cut == 0 ? pending.size() : cut);
        }
    }
}

// Decodes the first n bytes of the run into its target; the rest stays for the same target.
void TRtfStreamReader::Impl::DecodePending(size_t n) {
    if (pendingTarget == Target::Line) {
        if (AllAscii(pending.data(), n) && IsAsciiPage(pendingCp)) {
            AppendAscii(pending.data(), n);
        } else {
            const QString text = FromWindowsCodePage(
                QByteArrayView(pending.data(), static_cast<qsizetype>(n)), pendingCp);
            AppendUtf16(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<size_t>(text.size()));
        }
    } else if (pendingTarget == Target::FontName) {
        QString& name = fonts[pendingFont].name;
        if (name.size() < MaxFontName)
            name += FromWindowsCodePage(QByteArrayView(pending.data(), static_cast<qsizetype>(n)),
                                        pendingCp)
                        .left(MaxFontName - name.size());
    }
    pending.erase(0, n);
}

void TRtfStreamReader::Impl::Flush() {
    if (!pending.empty())
        DecodePending(pending.size());
    pendingTarget = Target::None;
}

// --- Passes --------------------------------------------------------------------------------

bool TRtfStreamReader::Impl::Run(const char* p, size_t n) {
    if (mode == Mode::Undecided) {
        const size_t take = std::min(n, size_t(5) - head.size());
        head.append(p, take);
        p += take;
        n -= take;
        if (head.size() < 5)
            return true;
        mode = head == "{\\rtf" ? Mode::Rtf : Mode::Utf8;
        const std::string first = std::move(head);
        head.clear();
        if (!Run(first.data(), first.size()))
            return false;
    }
    return mode == Mode::Rtf ? RtfRun(p, n) : PlainRun(p, n);
}

bool TRtfStreamReader::Impl::End() {
    if (mode == Mode::Undecided) {
        mode = Mode::Utf8; // too short to be RTF
        const std::string first = std::move(head);
        head.clear();
        if (!PlainRun(first.data(), first.size()))
            return false;
    }
    if (mode != Mode::Rtf)
        return PlainEnd();
    RtfEnd();
    return true;
}

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
                size_t end = i + 1;
                while (end < n && !RtfStop[static_cast<unsigned char>(p[end])])
                    ++end;
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
                ++i;
                if (wordLen < MaxWord)
                    word[wordLen++] = c;
                else
                    wordLong = true;
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
            if (HexValue(c) >= 0) {
                ++i;
                hexHigh = c;
                lex = Lex::Hex2;
            }
            // else a damaged escape: drop it and read what follows as it stands
            break;
        case Lex::Hex2:
            lex = Lex::Text;
            if (HexValue(c) >= 0) {
                ++i;
                if (!SkipOne())
                    AddByte(static_cast<char>(HexValue(hexHigh) * 16 + HexValue(c)), true);
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

// --- Plain text ----------------------------------------------------------------------------

// Lines end in CR LF, LF or CR. In UTF-8 the bytes go to the line as they are once checked; a
// byte that makes the data invalid UTF-8 sends the reader back to the start in code page 936,
// whose lines are decoded whole (no byte of a line break is ever the second of a character, so
// line by line decodes as the whole would).
bool TRtfStreamReader::Impl::PlainRun(const char* p, size_t n) {
    size_t i = 0;
    while (i < n) {
        const char c = p[i];
        if (c == '\r' || c == '\n') {
            if (need > 0)
                return false;
            ++i;
            ++offset;
            if (c == '\n' && afterCr) {
                afterCr = false;
                continue;
            }
            afterCr = c == '\r';
            Flush();
            EmitLine();
            continue;
        }
        afterCr = false;
        if (mode == Mode::CodePage) {
            size_t end = i + 1;
            while (end < n && p[end] != '\r' && p[end] != '\n')
                ++end;
            pendingTarget = Target::Line;
            pendingCp = 936;
            AppendPending(p + i, end - i);
            offset += end - i;
            i = end;
        } else if (need == 0 && static_cast<unsigned char>(c) < 0x80) {
            size_t end = i + 1;
            while (end < n && static_cast<unsigned char>(p[end]) < 0x80 && p[end] != '\r' &&
                   p[end] != '\n')
                ++end;
            AppendAscii(p + i, end - i);
            offset += end - i;
            i = end;
        } else {
            if (!Utf8Byte(static_cast<unsigned char>(c)))
                return false;
            ++i;
            ++offset;
        }
    }
    return true;
}

// One byte of a multi-byte UTF-8 character: overlong forms, surrogates and values past U+10FFFF
// are invalid, as for QStringDecoder. A byte order mark at the very start is dropped.
bool TRtfStreamReader::Impl::Utf8Byte(unsigned char b) {
    if (need == 0) {
        charStart = offset;
        seqLen = 0;
        low = 0x80;
        up = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            need = 1, cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2, cp = b & 0x0F;
            low = b == 0xE0 ? 0xA0 : 0x80;
            up = b == 0xED ? 0x9F : 0xBF;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3, cp = b & 0x07;
            low = b == 0xF0 ? 0x90 : 0x80;
            up = b == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        seq[seqLen++] = static_cast<char>(b);
        return true;
    }
    if (b < low || b > up)
        return false;
    low = 0x80;
    up = 0xBF;
    cp = cp << 6 | (b & 0x3F);
    seq[seqLen++] = static_cast<char>(b);
    if (--need > 0)
        return true;
    if (!(cp == 0xFEFF && charStart == 0))
        AppendAscii(seq, static_cast<size_t>(seqLen)); // already checked: goes in as it is
    return true;
}

// A character cut off by the end of the file makes it invalid UTF-8, too.
bool TRtfStreamReader::Impl::PlainEnd() {
    if (need > 0)
        return false;
    Flush();
    if (!line.empty())
        EmitLine();
    return true;
}

// --- The reader ----------------------------------------------------------------------------

TRtfStreamReader::TRtfStreamReader(bool plainText)
    : d_(std::make_unique<Impl>(plainText ? Mode::Utf8 : Mode::Undecided)) {}
TRtfStreamReader::~TRtfStreamReader() = default;
TRtfStreamReader::TRtfStreamReader(TRtfStreamReader&&) noexcept = default;
TRtfStreamReader& TRtfStreamReader::operator=(TRtfStreamReader&&) noexcept = default;

namespace {

// Where a failed pass goes on: RTF nested too deep is plain text, and plain text that is not
// UTF-8 is code page 936.
Mode NextMode(Mode failed) {
    return failed == Mode::Rtf ? Mode::Utf8 : Mode::CodePage;
}

} // namespace

bool TRtfStreamReader::Feed(const char* data, size_t size, TRtfLineSink& sink) {
    d_->sink = &sink;
    if (d_->Run(data, size))
        return true;
    d_ = std::make_unique<Impl>(NextMode(d_->mode));
    sink.Restart();
    return false;
}

bool TRtfStreamReader::Finish(TRtfLineSink& sink) {
    d_->sink = &sink;
    if (d_->End())
        return true;
    d_ = std::make_unique<Impl>(NextMode(d_->mode));
    sink.Restart();
    return false;
}

bool TRtfStreamReader::IsRtf() const {
    return d_->mode == Mode::Rtf;
}

RtfStyle TRtfStreamReader::Style() const {
    return d_->mode == Mode::Rtf ? d_->style : RtfStyle();
}

// --- Whole documents -----------------------------------------------------------------------

namespace {

class TListSink : public TRtfLineSink {
public:
    void Line(std::string_view utf8) override {
        lines.append(QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())));
    }
    void Restart() override { lines.clear(); }
    QStringList lines;
};

QStringList ReadWhole(QByteArrayView data, TRtfStreamReader& reader) {
    TListSink sink;
    // Each failed pass leaves the reader ready to read the data again another way.
    while (!reader.Feed(data.data(), static_cast<size_t>(data.size()), sink) ||
           !reader.Finish(sink)) {
    }
    return std::move(sink.lines);
}

} // namespace

QStringList ReadRtf(QByteArrayView data, bool* isRtf, RtfStyle* style) {
    TRtfStreamReader reader;
    QStringList lines = ReadWhole(data, reader);
    if (isRtf != nullptr)
        *isRtf = reader.IsRtf();
    if (style != nullptr)
        *style = reader.Style();
    return lines;
}

QStringList ReadPlainText(QByteArrayView data) {
    TRtfStreamReader reader(true);
    return ReadWhole(data, reader);
}
