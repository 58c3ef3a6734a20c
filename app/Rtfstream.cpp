#include "Rtfstream.h"

TFileResult SaveRtfStream(const QString& fileName, const RtfStyle& style, int64_t lineCount,
                          const std::function<std::string_view(int64_t k, std::string& scratch)>& line,
                          const TFileProgress& progress) {
    QStringList lines;
    std::string scratch;
    for (int64_t k = 0; k < lineCount; ++k) {
        const std::string_view text = line(k, scratch);
        lines.append(QString::fromUtf8(text.data(), qsizetype(text.size())));
        if (progress && k % 4096 == 0 && !progress(k, lineCount))
            return TFileResult::Cancelled;
    }
    if (!SaveRtfFile(fileName, lines, style))
        return TFileResult::Failed;
    if (progress)
        progress(lineCount, lineCount);
    return TFileResult::Ok;
}

TFileResult LoadRtfStream(const QString& fileName, TRtfLineSink& sink, const TFileProgress& progress,
                          bool* isRtf, RtfStyle* style) {
    QStringList lines;
    if (!LoadRtfFile(fileName, lines, isRtf, style))
        return TFileResult::Failed;
    const int64_t total = lines.size();
    for (int64_t k = 0; k < total; ++k) {
        if (progress && k % 4096 == 0 && !progress(k, total))
            return TFileResult::Cancelled;
        sink.Line(lines[qsizetype(k)].toStdString());
    }
    if (progress)
        progress(total, total);
    return TFileResult::Ok;
}
