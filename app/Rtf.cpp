#include "Rtf.h"

#include "Codepage.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

#include <algorithm>

namespace {

const char HexDigits[] = "0123456789abcdef";

void AppendHexByte(QByteArray& out, uchar b) {
    out += "\\'";
    out += HexDigits[b >> 4];
    out += HexDigits[b & 0x0F];
}

// Text as RTF: ASCII as it is, other characters as their code page 936 bytes, and characters
// outside code page 936 as \uN with "?" for readers that do not know \u. In a font name ";"
// would end the name, so it is escaped there too.
void AppendEscaped(QByteArray& out, const QString& text, bool fontName = false) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u == '\t') {
            out += "\\tab ";
        } else if (u >= 0x20 && u < 0x7F && !(fontName && u == ';')) {
            out += static_cast<char>(u);
        } else if (u < 0x80) {
            AppendHexByte(out, static_cast<uchar>(u));
        } else {
            bool ok = false;
            const QByteArray bytes = c.isSurrogate() ? QByteArray() : ToCodePage(QString(c), &ok);
            // Only a code that reads back as the same character is used.
            if (ok && FromCodePage(bytes) == c) {
                for (const char b : bytes)
                    AppendHexByte(out, static_cast<uchar>(b));
            } else {
                // \u takes a signed 16-bit number; surrogate halves go one by one.
                out += "\\u";
                out += QByteArray::number(static_cast<int16_t>(u));
                out += '?';
            }
        }
    }
}

void AppendColor(QByteArray& out, const QColor& color) {
    out += "\\red" + QByteArray::number(color.red()) + "\\green" +
           QByteArray::number(color.green()) + "\\blue" + QByteArray::number(color.blue()) + ';';
}

} // namespace

QByteArray WriteRtf(const QStringList& lines, const RtfStyle& style) {
    QByteArray out;
    out += "{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang1033\\deflangfe2052";
    out += "{\\fonttbl{\\f0\\fmodern\\fprq1\\fcharset134 ";
    AppendEscaped(out, style.FontName.isEmpty() ? QStringLiteral("宋体") : style.FontName, true);
    out += ";}}\r\n{\\colortbl ;";
    int next = 1;
    int textIndex = 0;
    int backIndex = 0;
    if (style.TextColor.isValid()) {
        AppendColor(out, style.TextColor);
        textIndex = next++;
    }
    if (style.BackColor.isValid()) {
        AppendColor(out, style.BackColor);
        backIndex = next++;
    }
    out += "}\r\n";
    // The maker's name closes the head, after the tables, as RTF lays it
    // out. LibreOffice reads a document that names none with every blank
    // turned into U+2006 and a blank, and the hex columns fall apart; named,
    // its blanks are read as written.
    out += "{\\*\\generator Kestrel " KESTREL_VERSION ";}";
    out += "\\viewkind4\\uc1\\pard";
    if (textIndex != 0)
        out += "\\cf" + QByteArray::number(textIndex);
    if (backIndex != 0)
        out += "\\highlight" + QByteArray::number(backIndex);
    out += "\\f0";
    if (style.FontSize > 0)
        out += "\\fs" + QByteArray::number(std::min(style.FontSize, 1638) * 2); // RTF's largest
    out += ' ';
    for (const QString& line : lines) {
        AppendEscaped(out, line);
        out += "\\par\r\n";
    }
    out += "}\r\n";
    return out;
}

QStringList ReadPlainText(QByteArrayView data) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(data);
    if (utf8.hasError())
        text = FromCodePage(data);
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.sliced(start, i - start));
        if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            ++i;
        start = i + 1;
    }
    lines.append(text.sliced(start));
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

bool SaveRtfFile(const QString& fileName, const QStringList& lines, const RtfStyle& style) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray document = WriteRtf(lines, style);
    if (file.write(document) != document.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool LoadRtfFile(const QString& fileName, QStringList& lines, bool* isRtf, RtfStyle* style) {
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (file.size() > RtfMaxFileSize)
        return false;
    const QByteArray data = file.read(RtfMaxFileSize + 1);
    if (data.size() > RtfMaxFileSize || file.error() != QFileDevice::NoError)
        return false;
    lines = ReadRtf(data, isRtf, style);
    return true;
}
