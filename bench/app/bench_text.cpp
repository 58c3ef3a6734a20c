// Figures for the text layer: hex parsing, code page 936 both ways, and saving and reading a
// large receive pane as RTF. Prints time per run, throughput and the peak resident size.
#include "CodePage.h"
#include "HexText.h"
#include "Rtf.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

template <typename F> double SecondsPerRun(int runs, F&& f) {
    const auto start = Clock::now();
    for (int i = 0; i < runs; ++i)
        f();
    return std::chrono::duration<double>(Clock::now() - start).count() / runs;
}

void Report(const char* what, double seconds, double bytes) {
    std::printf("%-34s %10.3f ms %10.1f MB/s\n", what, seconds * 1e3, bytes / seconds / 1e6);
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// A receive pane of the given number of hex-dump lines (79 characters each).
QStringList Pane(int lines) {
    QStringList pane;
    pane.reserve(lines);
    for (int k = 0; k < lines; ++k)
        pane.append(QStringLiteral("  %1:  00 FF 10 41 42 43 0D 0A 7E 7F 80 90 A0 B0 C0 FF    "
                                   "..ABC..~........")
                        .arg(k * 16, 8, 16, QChar(u'0'))
                        .toUpper());
    return pane;
}

} // namespace

int main() {
    // Hex text: a full 2048-byte line, 6144 characters.
    HexBytes bytes;
    bytes.Count = HexBytesCapacity;
    for (uint32_t i = 0; i < HexBytesCapacity; ++i)
        bytes.Data[i] = static_cast<uint8_t>(i * 7);
    const std::string hex = BytesToHexText(bytes);
    HexBytes parsed;
    Report("HexTextToBytes (2048 bytes)",
           SecondsPerRun(20000, [&] { HexTextToBytes(parsed, hex); }), hex.size());
    Report("BytesToHexText (2048 bytes)",
           SecondsPerRun(20000, [&] { (void)BytesToHexText(bytes); }), hex.size());

    // Code page 936: mixed Chinese and ASCII text.
    QString mixed;
    for (int i = 0; i < 20000; ++i)
        mixed += QStringLiteral("通讯端口 COM1 测试版 ");
    const QByteArray gbk = ToCodePage(mixed);
    Report("ToCodePage", SecondsPerRun(20, [&] { (void)ToCodePage(mixed); }), gbk.size());
    Report("FromCodePage", SecondsPerRun(20, [&] { (void)FromCodePage(gbk); }), gbk.size());

    // RTF: a pane of 100000 lines.
    const QStringList pane = Pane(100000);
    RtfStyle style;
    style.FontName = QStringLiteral("宋体");
    style.TextColor = Qt::white;
    style.BackColor = Qt::black;
    style.FontSize = 9;
    const QByteArray rtf = WriteRtf(pane, style);
    Report("WriteRtf (100000 lines)", SecondsPerRun(5, [&] { (void)WriteRtf(pane, style); }),
           rtf.size());
    Report("ReadRtf (100000 lines)", SecondsPerRun(5, [&] { (void)ReadRtf(rtf); }), rtf.size());
    QString chinese;
    for (int i = 0; i < 100; ++i)
        chinese += QStringLiteral("测试");
    const QByteArray rtfChinese = WriteRtf(QStringList(10000, chinese), style);
    Report("ReadRtf (10000 Chinese lines)", SecondsPerRun(5, [&] { (void)ReadRtf(rtfChinese); }),
           rtfChinese.size());
    std::printf("RTF document: %lld bytes for %lld lines; peak resident size %ld KiB\n",
                static_cast<long long>(rtf.size()), static_cast<long long>(pane.size()), PeakKiB());
    return 0;
}
