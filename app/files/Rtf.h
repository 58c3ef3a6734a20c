#pragma once

// Our own small Rich Text Format writer and reader for history files (*.kst) and send-command
// files (*.cmd): a document is a list of lines in one font and one pair of colours. The reader
// also takes what other rich-text editors write, and plain text.
//
// There is one writer (TRtfWriter) and one reader (TRtfStreamReader), both working on pieces so
// that a history of any length is saved and opened in bounded memory; the whole-document
// functions below are built on them for the send pane's small command files.
//
// Threads: the functions are safe on any thread; an object of a class here is used by one thread
// at a time.

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct RtfStyle {
    QString FontName; // empty: the reader found no font
    QColor TextColor; // invalid: automatic colour
    QColor BackColor; // invalid: no character background
    int FontSize = 0; // in points; 0: not stated
};

// A document holding each line as one paragraph, in code page 936 with \'hh escapes and \uN for
// characters outside it.
QByteArray WriteRtf(const QStringList& lines, const RtfStyle& style);

// The lines of a document. Data that does not begin with "{\rtf", or that nests groups deeper
// than RtfMaxDepth, is read as plain text instead (ReadPlainText); *isRtf says which it was. A
// final line break does not make an empty last line. When style is given it receives the font
// and colours in force where the text begins. Lines are cut as TRtfStreamReader cuts them.
QStringList ReadRtf(QByteArrayView data, bool* isRtf = nullptr, RtfStyle* style = nullptr);

// Lines of plain text: UTF-8 when the bytes are valid UTF-8, else code page 936; lines end in
// CR LF, LF or CR; one empty line after a final line break is dropped.
QStringList ReadPlainText(QByteArrayView data);

// File helpers for the panes. Saving replaces the file only once the whole document is
// written, so a failed save leaves the old file as it was. Loading refuses files larger than
// RtfMaxFileSize. Both return false on any failure; a failed load leaves lines untouched.
bool SaveRtfFile(const QString& fileName, const QStringList& lines, const RtfStyle& style);
bool LoadRtfFile(const QString& fileName, QStringList& lines, bool* isRtf = nullptr,
                 RtfStyle* style = nullptr);

constexpr int RtfMaxDepth = 1000;
constexpr qint64 RtfMaxFileSize = 256LL * 1024 * 1024;
// The longest line a reader hands on, in UTF-8 bytes. A longer line (a damaged file, or a single
// 2 GB paragraph) is given as several lines: each is the longest run of whole characters that
// fits, the last one holds what remains.
constexpr size_t RtfMaxLineBytes = 64u * 1024 * 1024;

// Receives the lines of a document as UTF-8, one call per line (the view is valid only during the
// call). The text is always valid UTF-8: a character the document leaves unpaired or undecodable
// arrives as U+FFFD.
class TRtfLineSink {
public:
    virtual ~TRtfLineSink() = default;
    virtual void Line(std::string_view utf8) = 0;
    // Everything given so far is void: the reader starts over (it found the data is to be read
    // another way, e.g. not valid UTF-8 after all, or RTF nested deeper than RtfMaxDepth).
    virtual void Restart() = 0;
};

// The document WriteRtf makes, in pieces: Head, then AppendLine per line, then Tail. The bytes
// are exactly those of WriteRtf for the same lines and style.
class TRtfWriter {
public:
    explicit TRtfWriter(const RtfStyle& style);
    void Head(std::string& out) const;
    // Pure ASCII goes straight through; invalid UTF-8 is written as U+FFFD.
    void AppendLine(std::string& out, std::string_view utf8Line) const;
    static std::string_view Tail();

private:
    std::string head_;
};

// Push parser: the same lines, style and isRtf as ReadRtf over the concatenation of every piece
// fed, however the data is split into pieces.
//
// Feed and Finish return false when the reader has called sink.Restart(): it has found that the
// data is to be read another way (deep nesting, or plain text that is not UTF-8 after all) and
// needs every byte again. The caller then feeds the data once more from its first byte, and
// Finishes; the rest of the piece at hand is not read. This happens at most twice.
class TRtfStreamReader {
public:
    // plainText: read the data as plain text whatever it begins with (ReadPlainText).
    explicit TRtfStreamReader(bool plainText = false);
    ~TRtfStreamReader();
    TRtfStreamReader(TRtfStreamReader&&) noexcept;
    TRtfStreamReader& operator=(TRtfStreamReader&&) noexcept;

    bool Feed(const char* data, size_t size, TRtfLineSink& sink);
    bool Finish(TRtfLineSink& sink);
    bool IsRtf() const;
    RtfStyle Style() const; // font and colours in force where the text begins

    struct Impl;

private:
    std::unique_ptr<Impl> d_;
};

enum class TFileResult { Ok, Failed, Cancelled };
// The name is a regular file, or a symlink to one. A FIFO or a device is neither opened nor
// written by the functions below (they fail): reading one could wait for ever, and a save would
// rename its file over the device.
bool IsRegularFile(const QString& fileName);
// The name is there but is not a regular file (nor a symlink to one).
bool IsOtherThanRegularFile(const QString& fileName);
// Progress: called now and then (every MiB or so, and at the end) with done/total; returning false
// cancels.
using TFileProgress = std::function<bool(int64_t done, int64_t total)>;

// Streams a history file: line(k, scratch) gives line k (0..lineCount-1) as UTF-8 (it may return
// a view into scratch). Written through QSaveFile in blocks of about 1 MiB: a failed or cancelled
// save leaves the old file as it was. Bounded memory whatever lineCount is. Progress counts
// lines. Safe on any thread.
TFileResult SaveRtfStream(const QString& fileName, const RtfStyle& style, int64_t lineCount,
                          const std::function<std::string_view(int64_t k, std::string& scratch)>& line,
                          const TFileProgress& progress);
// The same lines as plain UTF-8 text, each ended by "\n" (the text view's log), written the
// same way.
TFileResult SaveTextStream(const QString& fileName, int64_t lineCount,
                           const std::function<std::string_view(int64_t k, std::string& scratch)>& line,
                           const TFileProgress& progress);
// Streams a file into sink: RTF, or plain text (UTF-8 when the whole file is valid UTF-8, else
// code page 936), in a few MiB of working memory and with no size cap. Progress counts file
// bytes; when the reader starts over (sink.Restart()) the file is read again and done starts
// again from 0. Safe on any thread.
TFileResult LoadRtfStream(const QString& fileName, TRtfLineSink& sink, const TFileProgress& progress,
                          bool* isRtf = nullptr, RtfStyle* style = nullptr);
