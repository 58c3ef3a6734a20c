#pragma once
// The state of TRtfStreamReader, shared by its two halves: RtfReader.cpp reads the tokens of RTF
// and keeps the document's tables, RtfLines.cpp gathers text into lines, reads plain text and
// drives the passes. Not for use outside them.

#include "Rtf.h"

#include <map>
#include <string>
#include <vector>

namespace rtfread {

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

} // namespace rtfread

struct TRtfStreamReader::Impl {
    using Mode = rtfread::Mode;
    using Lex = rtfread::Lex;
    using Dest = rtfread::Dest;
    using Target = rtfread::Target;
    using Group = rtfread::Group;
    using FontEntry = rtfread::FontEntry;

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
    char word[rtfread::MaxWord];
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
    int checkedCp = -1; // the last code page asked of IsAsciiPage, and its answer
    bool checkedCpAscii = false;

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
