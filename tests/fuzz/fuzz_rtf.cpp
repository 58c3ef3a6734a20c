// The RTF reader, with its plain-text fallback, on any bytes; whatever it reads, the writer
// writes in a form that reads back to the same lines.
#include "Rtf.h"

#include "Fuzzcheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    bool isRtf = false;
    RtfStyle style;
    const QStringList lines = ReadRtf(bytes, &isRtf, &style);
    Check(!isRtf || bytes.startsWith("{\\rtf"));

    bool again = false;
    const QStringList back = ReadRtf(WriteRtf(lines, style), &again);
    Check(again);
    Check(back == lines);
    return 0;
}
