// The streaming RTF reader fed in pieces of sizes the fuzzer chooses, against the whole-document
// reader on the same bytes, and plain text against Qt's own UTF-8 decoder or code page 936.
//   input: one byte n (0..7), n piece sizes (each byte + 1, used in turn), then the document
#include "CodePage.h"
#include "Rtf.h"

#include "Fuzzcheck.h"

#include <QStringDecoder>

namespace {

class TListSink : public TRtfLineSink {
public:
    void Line(std::string_view utf8) override {
        // The reader promises valid UTF-8 whatever the input.
        QStringDecoder check(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                       QStringDecoder::Flag::ConvertInitialBom);
        lines.append(check(QByteArrayView(utf8.data(), static_cast<qsizetype>(utf8.size()))));
        Check(!check.hasError());
    }
    void Restart() override {
        lines.clear();
        ++restarts;
    }
    QStringList lines;
    int restarts = 0;
};

// Plain text as the old whole-text reading had it: decode everything, then split the lines.
QStringList PlainLines(const QString& text) {
    QString normal = text;
    normal.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(u'\r', u'\n');
    QStringList lines = normal.split(u'\n');
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t count = data[0] % 8;
    if (size < 1 + count)
        return 0;
    const uint8_t* sizes = data + 1;
    const char* doc = reinterpret_cast<const char*>(data + 1 + count);
    const size_t docSize = size - 1 - count;
    const QByteArrayView whole(doc, static_cast<qsizetype>(docSize));

    bool isRtf = false;
    RtfStyle style;
    const QStringList expected = ReadRtf(whole, &isRtf, &style);

    TRtfStreamReader reader;
    TListSink sink;
    int passes = 0;
    for (bool done = false; !done;) {
        Check(++passes <= 3);
        done = true;
        size_t at = 0;
        for (size_t i = 0; at < docSize; ++i) {
            const size_t piece = count == 0 ? docSize : std::min<size_t>(sizes[i % count] + 1u, docSize - at);
            if (!reader.Feed(doc + at, piece, sink)) {
                done = false;
                break;
            }
            at += piece;
        }
        if (done)
            done = reader.Finish(sink);
    }
    Check(sink.lines == expected);
    Check(reader.IsRtf() == isRtf);
    const RtfStyle streamed = reader.Style();
    Check(streamed.FontName == style.FontName && streamed.TextColor == style.TextColor &&
          streamed.BackColor == style.BackColor && streamed.FontSize == style.FontSize);
    Check(sink.restarts == passes - 1);

    if (!isRtf) {
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(whole);
        Check(expected == PlainLines(utf8.hasError() ? FromCodePage(whole) : text));
    }
    return 0;
}
