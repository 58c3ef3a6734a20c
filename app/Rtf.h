#pragma once

// Our own small Rich Text Format writer and reader for history files (*.kst) and send-command
// files (*.cmd): a document is a list of lines in one font and one pair of colours. The reader
// also takes what other rich-text editors write, and plain text. Pure functions, safe on any
// thread.

#include <QByteArray>
#include <QByteArrayView>
#include <QColor>
#include <QString>
#include <QStringList>

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
// and colours in force where the text begins.
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
