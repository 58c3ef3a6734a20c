// Saving and opening a history file of a long session: random received bytes rendered as hex-dump
// lines, written through SaveRtfStream and read back through LoadRtfStream, then the same the
// whole-document way (a QStringList, WriteRtf and one write; LoadRtfFile while the file is under
// its cap). Prints rates, seconds and how much the peak resident size grew.
//   build/bench/app/bench_rtf [MiB of received bytes]   (default 256)

#include "HexDump.h"
#include "Rtf.h"

#include <QSaveFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The peak resident size so far, in KiB (VmHWM; it only grows, so the streaming way runs first).
long PeakKiB() {
    std::ifstream status("/proc/self/status");
    std::string word;
    while (status >> word) {
        if (word == "VmHWM:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
    }
    return 0;
}

class TCountingSink : public TRtfLineSink {
public:
    void Line(std::string_view utf8) override {
        ++lines;
        bytes += static_cast<int64_t>(utf8.size());
    }
    void Restart() override { lines = bytes = 0; }
    int64_t lines = 0;
    int64_t bytes = 0;
};

void Report(const char* what, double seconds, double bytes, long peakBefore) {
    std::printf("%-36s %8.2f s %9.1f MB/s   peak +%ld MiB\n", what, seconds, bytes / seconds / 1e6,
                (PeakKiB() - peakBefore) / 1024);
}

} // namespace

int main(int argc, char** argv) {
    const int64_t mib = argc > 1 ? std::max(1, std::atoi(argv[1])) : 256;
    std::mt19937_64 random(2024);
    std::vector<uint8_t> received(static_cast<size_t>(mib) << 20);
    for (uint8_t& b : received)
        b = static_cast<uint8_t>(random());
    const int64_t lineCount = static_cast<int64_t>(received.size()) / HexDumpBytesPerLine;
    const auto render = [&](int64_t k, std::string& scratch) -> std::string_view {
        scratch.resize(ReceLineLen);
        const int n = HexDumpRenderBytes(scratch.data(), received.data() + k * HexDumpBytesPerLine,
                                         HexDumpBytesPerLine, static_cast<uint64_t>(k), ReceLeading);
        return std::string_view(scratch.data(), static_cast<size_t>(n));
    };
    RtfStyle style;
    style.FontName = QStringLiteral("宋体");
    style.TextColor = Qt::white;
    style.BackColor = Qt::black;
    style.FontSize = 9;
    QTemporaryDir dir;
    const QString name = dir.filePath("history.kst");
    std::printf("%lld MiB received, %lld dump lines\n", static_cast<long long>(mib),
                static_cast<long long>(lineCount));

    // The writer alone, into a block that is emptied as a file write would.
    {
        const TRtfWriter writer(style);
        std::string block, scratch;
        double bytes = 0;
        const long peak = PeakKiB();
        const auto start = Clock::now();
        for (int64_t k = 0; k < lineCount; ++k) {
            writer.AppendLine(block, render(k, scratch));
            if (block.size() >= (1 << 20)) {
                bytes += static_cast<double>(block.size());
                block.clear();
            }
        }
        bytes += static_cast<double>(block.size());
        Report("TRtfWriter (render + escape)", Seconds(start), bytes, peak);
    }

    // Streaming: SaveRtfStream, then LoadRtfStream into a sink that counts.
    long peak = PeakKiB();
    auto start = Clock::now();
    if (SaveRtfStream(name, style, lineCount, render, nullptr) != TFileResult::Ok) {
        std::printf("SaveRtfStream failed\n");
        return 1;
    }
    const double fileBytes = static_cast<double>(QFileInfo(name).size());
    Report("SaveRtfStream", Seconds(start), fileBytes, peak);

    peak = PeakKiB();
    start = Clock::now();
    TCountingSink sink;
    if (LoadRtfStream(name, sink, nullptr) != TFileResult::Ok || sink.lines != lineCount) {
        std::printf("LoadRtfStream failed or lost lines (%lld)\n", static_cast<long long>(sink.lines));
        return 1;
    }
    Report("LoadRtfStream (counting sink)", Seconds(start), fileBytes, peak);
    std::printf("history file: %.0f MB\n", fileBytes / 1e6);

    // The whole-document way.
    peak = PeakKiB();
    start = Clock::now();
    {
        QStringList lines;
        lines.reserve(static_cast<qsizetype>(lineCount));
        std::string scratch;
        for (int64_t k = 0; k < lineCount; ++k) {
            const std::string_view line = render(k, scratch);
            lines.append(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
        }
        const QByteArray rtf = WriteRtf(lines, style);
        QSaveFile file(name);
        if (!file.open(QIODevice::WriteOnly) || file.write(rtf) != rtf.size() || !file.commit()) {
            std::printf("whole-document save failed\n");
            return 1;
        }
    }
    Report("QStringList + WriteRtf + QSaveFile", Seconds(start), fileBytes, peak);

    if (fileBytes <= static_cast<double>(RtfMaxFileSize)) {
        peak = PeakKiB();
        start = Clock::now();
        QStringList lines;
        if (!LoadRtfFile(name, lines) || lines.size() != lineCount) {
            std::printf("LoadRtfFile failed\n");
            return 1;
        }
        Report("LoadRtfFile (ReadRtf)", Seconds(start), fileBytes, peak);
    } else {
        std::printf("LoadRtfFile: file over its %lld MiB cap, not read\n",
                    static_cast<long long>(RtfMaxFileSize >> 20));
    }
    return 0;
}
