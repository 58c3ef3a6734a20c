// The reader of Rich Text Format: one pass over the bytes with a stack of group states. It
// keeps the text of the body, the font and colour tables, and steps over everything else.

#include "Rtf.h"

#include "Codepage.h"

#include <algorithm>
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
bool IsSkippedDestination(QByteArrayView word) {
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
                       [&](const char* n) { return word == QByteArrayView(n); });
}

QChar NamedChar(QByteArrayView word) {
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
        if (word == QByteArrayView(entry.name))
            return QChar(entry.c);
    return QChar();
}

bool IsBreak(QByteArrayView word) {
    return word == "par" || word == "line" || word == "sect" || word == "page" || word == "row";
}

class Reader {
public:
    explicit Reader(QByteArrayView data) : data_(data) {}

    // False when the groups nest too deep to be a document.
    bool Run();
    QStringList Lines() const { return lines_; }
    RtfStyle Style() const { return style_; }

private:
    void ControlWord();
    void Word(QByteArrayView word, bool hasParam, int param);
    void Symbol(char c);
    bool SkipOne();
    void AddByte(char b, bool escaped = false);
    void AddChar(QChar c);
    void Break();
    void Flush();
    void TakeStyle();
    int CodePageOfFont(int font) const;
    bool InFontEntry() const { return cur_.dest == Dest::FontTable && haveFontEntry_; }
    QColor ColorAt(int index) const;

    QByteArrayView data_;
    qsizetype pos_ = 0;
    std::vector<Group> stack_;
    Group cur_;
    int ansiCp_ = 1252;
    int deff_ = 0;
    std::map<int, FontEntry> fonts_;
    int fontEntry_ = 0; // the font table entry being read, when haveFontEntry_
    bool haveFontEntry_ = false;
    std::vector<QColor> colors_;
    int rgb_[3] = {0, 0, 0};
    bool rgbSet_ = false;
    int skip_ = 0; // replacement characters still to skip after \uN

    // Bytes of text wait here until the code page decodes them together, so that double-byte
    // characters written as two \'hh escapes come out whole.
    QByteArray pending_;
    QString* pendingTarget_ = nullptr;
    int pendingCp_ = 0;

    QString line_;
    QStringList lines_;
    RtfStyle style_;
    bool styleTaken_ = false;
};

bool Reader::Run() {
    const qsizetype size = data_.size();
    while (pos_ < size) {
        const char c = data_[pos_];
        if (c == '{') {
            ++pos_;
            Flush();
            skip_ = 0;
            if (stack_.size() >= static_cast<size_t>(RtfMaxDepth))
                return false;
            stack_.push_back(cur_);
        } else if (c == '}') {
            ++pos_;
            Flush();
            skip_ = 0;
            if (stack_.empty())
                break;
            if (stack_.size() == 1)
                TakeStyle(); // a document without text still has its style
            if (cur_.dest == Dest::FontTable && stack_.back().dest != Dest::FontTable)
                haveFontEntry_ = false;
            cur_ = stack_.back();
            stack_.pop_back();
            if (stack_.empty())
                break; // the document's own group has ended; anything after it is not text
        } else if (c == '\\') {
            ControlWord();
        } else if (c == '\r' || c == '\n' || c == '\0') {
            ++pos_;
        } else if (skip_ == 0 && cur_.dest == Dest::Text) {
            // A run of plain text goes to the line in one piece.
            const auto plain = [](char p) {
                return p != '{' && p != '}' && p != '\\' && p != '\r' && p != '\n' && p != '\0';
            };
            qsizetype end = pos_ + 1;
            while (end < size && plain(data_[end]))
                ++end;
            AddByte(c);
            pending_.append(data_.sliced(pos_ + 1, end - pos_ - 1));
            pos_ = end;
        } else {
            ++pos_;
            if (!SkipOne())
                AddByte(c);
        }
    }
    Flush();
    lines_.append(line_);
    if (lines_.last().isEmpty())
        lines_.removeLast();
    if (!styleTaken_)
        TakeStyle();
    return true;
}

void Reader::ControlWord() {
    ++pos_; // the backslash
    const qsizetype size = data_.size();
    if (pos_ >= size)
        return;
    const auto isAlpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    if (!isAlpha(data_[pos_])) {
        Symbol(data_[pos_++]);
        return;
    }
    const qsizetype start = pos_;
    while (pos_ < size && isAlpha(data_[pos_]))
        ++pos_;
    const QByteArrayView word = data_.sliced(start, pos_ - start);
    bool negative = false;
    if (pos_ + 1 < size && data_[pos_] == '-' && isDigit(data_[pos_ + 1])) {
        negative = true;
        ++pos_;
    }
    bool hasParam = false;
    long long value = 0;
    while (pos_ < size && isDigit(data_[pos_])) {
        hasParam = true;
        // Clamp rather than overflow; no sound parameter comes near this.
        value = std::min(value * 10 + (data_[pos_] - '0'), 1'000'000'000'000LL);
        ++pos_;
    }
    if (pos_ < size && data_[pos_] == ' ')
        ++pos_;
    if (negative)
        value = -value;
    const int param = static_cast<int>(std::clamp<long long>(value, -2'000'000'000, 2'000'000'000));
    Word(word, hasParam, param);
}

void Reader::Word(QByteArrayView word, bool hasParam, int param) {
    if (word == "bin") {
        // Binary data follows; step over it whatever the destination, so that its bytes are not
        // taken for braces.
        if (hasParam && param > 0)
            pos_ += std::min<qsizetype>(param, data_.size() - pos_);
        SkipOne();
        return;
    }
    if (cur_.dest == Dest::Skip || SkipOne())
        return;
    if (word == "fonttbl") {
        Flush();
        cur_.dest = Dest::FontTable;
        haveFontEntry_ = false;
    } else if (word == "colortbl") {
        Flush();
        cur_.dest = Dest::ColorTable;
        rgbSet_ = false;
        rgb_[0] = rgb_[1] = rgb_[2] = 0;
    } else if (IsSkippedDestination(word)) {
        Flush();
        cur_.dest = Dest::Skip;
    } else if (word == "ansi") {
        ansiCp_ = 1252;
    } else if (word == "mac") {
        ansiCp_ = 10000;
    } else if (word == "pc") {
        ansiCp_ = 437;
    } else if (word == "pca") {
        ansiCp_ = 850;
    } else if (word == "ansicpg") {
        if (hasParam && param > 0)
            ansiCp_ = param;
    } else if (word == "deff") {
        deff_ = param;
    } else if (word == "f") {
        Flush();
        if (cur_.dest == Dest::FontTable) {
            fontEntry_ = param;
            haveFontEntry_ = true;
            fonts_[param]; // an entry even when it has no name
        } else {
            cur_.font = param;
        }
    } else if (word == "fcharset") {
        if (InFontEntry())
            fonts_[fontEntry_].charset = param;
    } else if (word == "cpg") {
        if (InFontEntry())
            fonts_[fontEntry_].codePage = param;
    } else if (cur_.dest == Dest::ColorTable &&
               (word == "red" || word == "green" || word == "blue")) {
        const int i = word == "red" ? 0 : word == "green" ? 1 : 2;
        rgb_[i] = std::clamp(param, 0, 255);
        rgbSet_ = true;
    } else if (word == "cf") {
        cur_.cf = param;
    } else if (word == "highlight" || word == "cb") {
        cur_.highlight = param;
    } else if (word == "fs") {
        cur_.fs = param;
    } else if (word == "plain") {
        cur_.font = -1;
        cur_.cf = cur_.highlight = cur_.fs = 0;
    } else if (word == "uc") {
        cur_.uc = std::clamp(param, 0, 1'000'000);
    } else if (word == "u") {
        if (hasParam) {
            // N is a signed 16-bit number; negative values stand for code units above 0x7FFF.
            AddChar(QChar(static_cast<char16_t>(param & 0xFFFF)));
            skip_ = cur_.uc;
        }
    } else if (IsBreak(word)) {
        Break();
    } else if (const QChar c = NamedChar(word); !c.isNull()) {
        AddChar(c);
    }
}

void Reader::Symbol(char c) {
    if (c == '\'') {
        const auto hexValue = [](char h) {
            if (h >= '0' && h <= '9')
                return h - '0';
            if (h >= 'a' && h <= 'f')
                return h - 'a' + 10;
            if (h >= 'A' && h <= 'F')
                return h - 'A' + 10;
            return -1;
        };
        const int hi = pos_ < data_.size() ? hexValue(data_[pos_]) : -1;
        const int lo = pos_ + 1 < data_.size() ? hexValue(data_[pos_ + 1]) : -1;
        if (hi < 0 || lo < 0)
            return; // a damaged escape: drop it and read what follows as it stands
        pos_ += 2;
        if (!SkipOne())
            AddByte(static_cast<char>(hi * 16 + lo), true);
        return;
    }
    if (c == '*') {
        // An ignorable destination: we read none of them.
        Flush();
        cur_.dest = Dest::Skip;
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
        AddChar(QChar(0x00A0));
        break;
    case '_':
        AddChar(QChar(0x2011));
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
bool Reader::SkipOne() {
    if (skip_ <= 0)
        return false;
    --skip_;
    return true;
}

// Escaped bytes are always text; a plain ";" ends an entry of the font or colour table.
void Reader::AddByte(char b, bool escaped) {
    // Every change of font or group flushes, so text waiting for the line is in the right code
    // page already.
    if (pendingTarget_ == &line_ && cur_.dest == Dest::Text) {
        pending_.append(b);
        return;
    }
    QString* target = nullptr;
    int cp = ansiCp_;
    switch (cur_.dest) {
    case Dest::Text:
        target = &line_;
        cp = CodePageOfFont(cur_.font);
        TakeStyle();
        break;
    case Dest::FontTable:
        if (!InFontEntry())
            return;
        if (b == ';' && !escaped) {
            Flush();
            FontEntry& entry = fonts_[fontEntry_];
            entry.name = entry.name.trimmed();
            haveFontEntry_ = false;
            return;
        }
        target = &fonts_[fontEntry_].name;
        cp = CodePageOfFont(fontEntry_);
        break;
    case Dest::ColorTable:
        if (b == ';' && !escaped) {
            colors_.push_back(rgbSet_ ? QColor(rgb_[0], rgb_[1], rgb_[2]) : QColor());
            rgbSet_ = false;
            rgb_[0] = rgb_[1] = rgb_[2] = 0;
        }
        return;
    case Dest::Skip:
        return;
    }
    if (target != pendingTarget_ || cp != pendingCp_)
        Flush();
    pendingTarget_ = target;
    pendingCp_ = cp;
    pending_.append(b);
}

void Reader::AddChar(QChar c) {
    if (cur_.dest == Dest::Text) {
        TakeStyle();
        Flush();
        line_.append(c);
    } else if (InFontEntry()) {
        Flush();
        fonts_[fontEntry_].name.append(c);
    }
}

void Reader::Break() {
    if (cur_.dest != Dest::Text)
        return;
    TakeStyle();
    Flush();
    lines_.append(line_);
    line_.clear();
}

void Reader::Flush() {
    if (!pending_.isEmpty() && pendingTarget_ != nullptr)
        pendingTarget_->append(FromWindowsCodePage(pending_, pendingCp_));
    pending_.resize(0); // keeps the buffer for the next run
    pendingTarget_ = nullptr;
}

// The style of a document is the one in force where its text begins.
void Reader::TakeStyle() {
    if (styleTaken_)
        return;
    styleTaken_ = true;
    const auto font = fonts_.find(cur_.font < 0 ? deff_ : cur_.font);
    if (font != fonts_.end())
        style_.FontName = font->second.name.trimmed();
    style_.TextColor = ColorAt(cur_.cf);
    style_.BackColor = ColorAt(cur_.highlight);
    style_.FontSize = cur_.fs > 0 ? cur_.fs / 2 : 0;
}

int Reader::CodePageOfFont(int font) const {
    const auto entry = fonts_.find(font < 0 ? deff_ : font);
    if (entry == fonts_.end())
        return ansiCp_;
    if (entry->second.codePage > 0)
        return entry->second.codePage;
    return CodePageOfCharset(entry->second.charset, ansiCp_);
}

QColor Reader::ColorAt(int index) const {
    if (index <= 0 || static_cast<size_t>(index) >= colors_.size())
        return QColor();
    return colors_[static_cast<size_t>(index)];
}

} // namespace

QStringList ReadRtf(QByteArrayView data, bool* isRtf, RtfStyle* style) {
    if (data.startsWith("{\\rtf")) {
        Reader reader(data);
        if (reader.Run()) {
            if (isRtf != nullptr)
                *isRtf = true;
            if (style != nullptr)
                *style = reader.Style();
            return reader.Lines();
        }
    }
    if (isRtf != nullptr)
        *isRtf = false;
    if (style != nullptr)
        *style = RtfStyle();
    return ReadPlainText(data);
}
