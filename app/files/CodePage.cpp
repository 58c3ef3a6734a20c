#include "CodePage.h"

#include <bit>
#include <cerrno>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

// Qt strings hold UTF-16 in host order; the names below say little-endian.
static_assert(std::endian::native == std::endian::little);

// One converter for one direction, opened on first use by the thread that owns it.
class Converter {
public:
    Converter() = default;
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    ~Converter() { Close(); }

    // Returns false when iconv does not know one of the two names.
    bool Open(const char* to, const char* from) {
        if (to_ == to && from_ == from)
            return Handle() != invalid();
        Close();
        to_ = to;
        from_ = from;
        cd_ = iconv_open(to, from);
        return cd_ != invalid();
    }
    iconv_t Handle() const { return cd_; }
    void Reset() { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

private:
    static iconv_t invalid() { return reinterpret_cast<iconv_t>(-1); }
    void Close() {
        if (cd_ != invalid())
            iconv_close(cd_);
        cd_ = invalid();
    }
    std::string to_, from_;
    iconv_t cd_ = invalid();
};

// Decodes bytes into UTF-16 with one U+FFFD per byte that starts no valid character.
QString Decode(Converter& conv, QByteArrayView bytes) {
    QString out;
    if (bytes.isEmpty())
        return out;
    // Double-byte pages yield at most one UTF-16 unit per byte; the loop grows the buffer for
    // any page that does not.
    out.resize(bytes.size());
    qsizetype used = 0;
    conv.Reset();
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = static_cast<size_t>(bytes.size());
    while (inLeft > 0) {
        char* dst = reinterpret_cast<char*>(out.data() + used);
        size_t dstLeft = static_cast<size_t>(out.size() - used) * sizeof(QChar);
        const size_t rc = iconv(conv.Handle(), &in, &inLeft, &dst, &dstLeft);
        const int error = errno;
        used = out.size() - static_cast<qsizetype>(dstLeft / sizeof(QChar));
        if (rc != static_cast<size_t>(-1))
            break;
        if (error == E2BIG || used == out.size()) {
            out.resize(out.size() + static_cast<qsizetype>(inLeft) + 2);
            continue;
        }
        // EILSEQ, or EINVAL for a character cut off at the end: mark the byte, go on after it.
        out[used++] = QChar(0xFFFD);
        ++in;
        --inLeft;
        conv.Reset();
    }
    out.truncate(used);
    return out;
}

// The encoder for code page 936, one per thread.
Converter& Encoder936() {
    thread_local Converter conv;
    if (!conv.Open("CP936", "UTF-16LE"))
        conv.Open("GBK", "UTF-16LE");
    return conv;
}

Converter& Decoder936() {
    thread_local Converter conv;
    if (!conv.Open("UTF-16LE", "CP936"))
        conv.Open("UTF-16LE", "GBK");
    return conv;
}

QString Latin1Fallback(QByteArrayView bytes) {
    return QString::fromLatin1(bytes.data(), bytes.size());
}

} // namespace

QByteArray ToCodePage(const QString& text, bool* ok) {
    bool allCoded = true;
    QByteArray out;
    Converter& conv = Encoder936();
    if (conv.Handle() == reinterpret_cast<iconv_t>(-1)) {
        // No converter at all: keep ASCII, refuse the rest.
        for (QChar c : text) {
            const bool ascii = c.unicode() < 0x80;
            allCoded = allCoded && ascii;
            out.append(ascii ? static_cast<char>(c.unicode()) : '?');
        }
    } else if (!text.isEmpty()) {
        // A code page 936 character takes at most two bytes per UTF-16 unit.
        out.resize(text.size() * 2);
        conv.Reset();
        char* in = reinterpret_cast<char*>(const_cast<QChar*>(text.constData()));
        size_t inLeft = static_cast<size_t>(text.size()) * sizeof(QChar);
        char* dst = out.data();
        size_t dstLeft = static_cast<size_t>(out.size());
        while (inLeft > 0) {
            if (iconv(conv.Handle(), &in, &inLeft, &dst, &dstLeft) != static_cast<size_t>(-1))
                break;
            if (errno == E2BIG || dstLeft == 0)
                break;
            // A character without a code, or an unpaired surrogate: one "?" per UTF-16 unit.
            allCoded = false;
            *dst++ = '?';
            --dstLeft;
            in += sizeof(QChar);
            inLeft = inLeft >= sizeof(QChar) ? inLeft - sizeof(QChar) : 0;
            conv.Reset();
        }
        out.truncate(out.size() - static_cast<qsizetype>(dstLeft));
    }
    if (ok != nullptr)
        *ok = allCoded;
    return out;
}

QString FromCodePage(QByteArrayView bytes) {
    Converter& conv = Decoder936();
    if (conv.Handle() == reinterpret_cast<iconv_t>(-1))
        return Latin1Fallback(bytes);
    return Decode(conv, bytes);
}

namespace {

constexpr int FirstLead = 0x81, LastLead = 0xFE, FirstTrail = 0x40, LastTrail = 0xFE;
constexpr int Trails = LastTrail - FirstTrail + 1;

// The character of every pair of a lead and a trail byte as FromCodePage decodes the pair alone,
// or 0 where that is not one character. Built once, on first use, from the whole table: a text
// view decodes every pair it shows on every paint.
const std::vector<char16_t>& PairChars() {
    static const std::vector<char16_t> chars = [] {
        std::vector<char16_t> table(size_t(LastLead - FirstLead + 1) * Trails, 0);
        // Every pair followed by a line break, decoded in one go: a pair that is not a character
        // decodes to more than one before its break, and breaks are never lost.
        QByteArray all;
        all.reserve(qsizetype(table.size() * 3));
        for (int lead = FirstLead; lead <= LastLead; ++lead)
            for (int trail = FirstTrail; trail <= LastTrail; ++trail)
                all.append(char(lead)).append(char(trail)).append('\n');
        const QString text = FromCodePage(all);
        size_t k = 0;
        for (qsizetype at = 0; at < text.size() && k < table.size(); ++k) {
            const qsizetype end = text.indexOf(QLatin1Char('\n'), at);
            const qsizetype stop = end < 0 ? text.size() : end;
            if (stop - at == 1 && text[at] != QChar::ReplacementCharacter &&
                !text[at].isSurrogate())
                table[k] = text[at].unicode();
            at = stop + 1;
        }
        return table;
    }();
    return chars;
}

} // namespace

std::string CodePagePairUtf8(uint8_t lead, uint8_t trail) {
    if (lead < FirstLead || lead > LastLead || trail < FirstTrail || trail > LastTrail)
        return {};
    const char16_t c = PairChars()[size_t(lead - FirstLead) * Trails + size_t(trail - FirstTrail)];
    if (c == 0)
        return {};
    if (c < 0x80)
        return std::string(1, char(c));
    if (c < 0x800)
        return {char(0xC0 | (c >> 6)), char(0x80 | (c & 0x3F))};
    return {char(0xE0 | (c >> 12)), char(0x80 | ((c >> 6) & 0x3F)), char(0x80 | (c & 0x3F))};
}

bool IsCodePagePairChar(char32_t c) {
    // One bit for each character of the Basic Multilingual Plane: the table has none beyond it.
    static const std::vector<bool> pairs = [] {
        std::vector<bool> bits(0x10000, false);
        for (const char16_t pair : PairChars())
            if (pair >= 0x80)
                bits[pair] = true;
        return bits;
    }();
    return c < 0x10000 && pairs[c];
}

bool IsCodePageChar(QChar c) {
    return IsCodePageText(QString(c));
}

bool IsCodePageText(const QString& text) {
    bool ok = false;
    ToCodePage(text, &ok);
    return ok;
}

QString FromWindowsCodePage(QByteArrayView bytes, int codePage) {
    if (codePage == 936)
        return FromCodePage(bytes);
    thread_local Converter conv;
    const std::string name = "CP" + std::to_string(codePage);
    if (!conv.Open("UTF-16LE", name.c_str()) && !conv.Open("UTF-16LE", "CP1252"))
        return Latin1Fallback(bytes);
    return Decode(conv, bytes);
}
