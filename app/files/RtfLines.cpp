// The lines of TRtfStreamReader: text runs decoded from their code page, lines handed to the
// sink as UTF-8 and cut when overlong, plain text in UTF-8 or code page 936, and the passes over
// the data when it has to be read again another way.

#include "RtfReaderState.h"

#include "CodePage.h"

#include <QStringDecoder>

#include <algorithm>
#include <cstring>

using namespace rtfread;

namespace {

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
        if (pendingCp != checkedCp) {
            checkedCp = pendingCp;
            checkedCpAscii = IsAsciiPage(pendingCp);
        }
        if (checkedCpAscii && AllAscii(pending.data(), n)) {
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
        // QString::fromUtf8 would drop a U+FEFF that begins a line.
        QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
        lines.append(decode(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size()))));
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
