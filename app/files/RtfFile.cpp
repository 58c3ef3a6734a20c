// Saving and opening documents as files, a block at a time, so that a history of any length
// costs a few MiB of memory.

#include "Rtf.h"

#include <QFile>
#include <QSaveFile>

#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Opens a regular file for reading without waiting on it: anything else is closed again at once.
bool OpenRegular(QFile& file, const QString& fileName) {
    const int fd = ::open(QFile::encodeName(fileName).constData(),
                          O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    return file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
}

// What is gathered before one write, and read in one go.
constexpr size_t BlockSize = 1 << 20;

bool Report(const TFileProgress& progress, int64_t done, int64_t total) {
    return !progress || progress(done, total);
}

using TLine = std::function<std::string_view(int64_t k, std::string& scratch)>;

// Writes head, each line through append, then tail, in blocks through a
// temporary file that replaces fileName only when everything is written.
TFileResult SaveStream(const QString& fileName, std::string_view head, int64_t lineCount,
                       const TLine& line,
                       const std::function<void(std::string& block, std::string_view line)>& append,
                       std::string_view tail, const TFileProgress& progress) {
    if (IsOtherThanRegularFile(fileName))
        return TFileResult::Failed;
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return TFileResult::Failed;
    std::string block;
    block.reserve(BlockSize + 4096);
    std::string scratch;
    const auto write = [&] {
        const bool ok = file.write(block.data(), static_cast<qint64>(block.size())) ==
                        static_cast<qint64>(block.size());
        block.clear();
        return ok;
    };
    block += head;
    for (int64_t k = 0; k < lineCount; ++k) {
        append(block, line(k, scratch));
        if (block.size() < BlockSize)
            continue;
        if (!write()) {
            file.cancelWriting();
            return TFileResult::Failed;
        }
        if (!Report(progress, k + 1, lineCount)) {
            file.cancelWriting();
            return TFileResult::Cancelled;
        }
    }
    block += tail;
    if (!write()) {
        file.cancelWriting();
        return TFileResult::Failed;
    }
    // A cancel that came while the last block was written still leaves the old file.
    if (!Report(progress, lineCount, lineCount)) {
        file.cancelWriting();
        return TFileResult::Cancelled;
    }
    if (!file.commit())
        return TFileResult::Failed; // QSaveFile drops its temporary file when not committed
    return TFileResult::Ok;
}

} // namespace

bool IsRegularFile(const QString& fileName) {
    struct stat st {};
    return ::stat(QFile::encodeName(fileName).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsOtherThanRegularFile(const QString& fileName) {
    struct stat st {};
    return ::lstat(QFile::encodeName(fileName).constData(), &st) == 0 && !IsRegularFile(fileName);
}

TFileResult SaveRtfStream(const QString& fileName, const RtfStyle& style, int64_t lineCount,
                          const TLine& line, const TFileProgress& progress) {
    const TRtfWriter writer(style);
    std::string head;
    writer.Head(head);
    return SaveStream(
        fileName, head, lineCount, line,
        [&writer](std::string& block, std::string_view text) { writer.AppendLine(block, text); },
        TRtfWriter::Tail(), progress);
}

TFileResult SaveTextStream(const QString& fileName, int64_t lineCount, const TLine& line,
                           const TFileProgress& progress) {
    return SaveStream(
        fileName, std::string_view(), lineCount, line,
        [](std::string& block, std::string_view text) {
            block += text;
            block += '\n';
        },
        std::string_view(), progress);
}

TFileResult LoadRtfStream(const QString& fileName, TRtfLineSink& sink, const TFileProgress& progress,
                          bool* isRtf, RtfStyle* style) {
    QFile file;
    if (!OpenRegular(file, fileName))
        return TFileResult::Failed;
    const int64_t total = file.size();
    std::vector<char> block(BlockSize);
    TRtfStreamReader reader;
    int64_t done = 0;
    bool pass = true; // false once the reader wants the file again from its start
    for (;;) {
        const qint64 got = file.read(block.data(), static_cast<qint64>(block.size()));
        if (got < 0)
            return TFileResult::Failed;
        if (got > 0) {
            pass = reader.Feed(block.data(), static_cast<size_t>(got), sink);
            done += got;
        } else {
            pass = reader.Finish(sink);
            if (pass)
                break;
        }
        if (!pass) {
            if (!file.seek(0))
                return TFileResult::Failed;
            done = 0;
        }
        if (!Report(progress, done, std::max(total, done)))
            return TFileResult::Cancelled;
    }
    if (isRtf != nullptr)
        *isRtf = reader.IsRtf();
    if (style != nullptr)
        *style = reader.Style();
    Report(progress, done, std::max(total, done));
    return TFileResult::Ok;
}

bool SaveRtfFile(const QString& fileName, const QStringList& lines, const RtfStyle& style) {
    return SaveRtfStream(fileName, style, lines.size(),
                         [&](int64_t k, std::string& scratch) -> std::string_view {
                             scratch = lines[static_cast<qsizetype>(k)].toStdString();
                             return scratch;
                         },
                         nullptr) == TFileResult::Ok;
}

bool LoadRtfFile(const QString& fileName, QStringList& lines, bool* isRtf, RtfStyle* style) {
    QFile file;
    if (!OpenRegular(file, fileName))
        return false;
    if (file.size() > RtfMaxFileSize)
        return false;
    const QByteArray data = file.read(RtfMaxFileSize + 1);
    if (data.size() > RtfMaxFileSize || file.error() != QFileDevice::NoError)
        return false;
    lines = ReadRtf(data, isRtf, style);
    return true;
}
