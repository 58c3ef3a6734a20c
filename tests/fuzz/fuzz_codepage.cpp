// Code page 936 both ways on any bytes: decoding never loses a line break, and text that
// decoded without damage encodes back to the same bytes.
#include "CodePage.h"

#include "Fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString text = FromCodePage(bytes);
    Check(text.count(u'\n') == bytes.count('\n'));
    Check(text.size() <= bytes.size());
    bool ok = false;
    const QByteArray back = ToCodePage(text, &ok);
    if (!text.contains(QChar(0xFFFD))) {
        Check(ok);
        Check(back == bytes);
    }

    // The bytes as UTF-16 text: whatever encodes without complaint decodes to the same text.
    const QString utf16 = QString::fromUtf16(reinterpret_cast<const char16_t*>(data),
                                             static_cast<qsizetype>(size / 2));
    const QByteArray encoded = ToCodePage(utf16, &ok);
    if (ok)
        Check(FromCodePage(encoded) == utf16);
    FromWindowsCodePage(bytes, size > 0 ? 1250 + data[0] % 8 : 1252);
    return 0;
}
