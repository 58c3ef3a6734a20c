#include "IniFormat.h"

#include "HexText.h"
#include "SettingsFile.h"
#include "SettingsKeys.h"

#include <QIODevice>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

namespace safeini {
namespace {

bool IsLineSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

int OctValue(char c) {
    return c >= '0' && c <= '7' ? c - '0' : -1;
}

// UTF-8 with a byte order mark kept as the character it is: QString::fromUtf8 would drop one at
// the start of each piece of a value, and the value would not read back as it was written.
QString FromUtf8(QByteArrayView bytes) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
    return decode(bytes);
}

// One logical line of the file: [Start, Start + Len) in the text, with the first '=' outside
// quotes at Equals (-1 when none). Quotes may hold line breaks, a backslash hides the character
// after it, and ';' outside quotes starts a comment that runs to the end of the line.
struct TLine {
    qsizetype Start = 0;
    qsizetype Len = 0;
    qsizetype Equals = -1;
};

// The next line from pos on, moving pos past it; false when only space and comments remain.
// Every call that returns true moves pos forward, so the reading ends.
bool NextLine(QByteArrayView data, qsizetype& pos, TLine& line) {
    const qsizetype n = data.size();
    qsizetype start = pos;
    while (start < n && IsLineSpace(data[start]))
        ++start;
    qsizetype equals = -1;
    bool inQuotes = false;
    qsizetype i = start;
    while (i < n) {
        const char ch = data[i++];
        if (ch == '=') {
            if (!inQuotes && equals < 0)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!inQuotes) {
                --i;
                break;
            }
        } else if (ch == '\\') {
            if (i < n) {
                const char next = data[i++];
                // A CR LF or LF CR pair after the backslash counts as one line break.
                if (i < n &&
                    ((next == '\n' && data[i] == '\r') || (next == '\r' && data[i] == '\n')))
                    ++i;
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i == start + 1) {
                while (i < n && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < n && IsLineSpace(data[i]))
                    ++i;
                start = i;
            } else if (!inQuotes) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line = {start, i - start, equals};
    return line.Len > 0;
}

// A key or section name: %XX and %UXXXX are characters, '\' is '/'. A '%' that does not start a
// whole escape stands for itself.
QString UnescapeKey(QByteArrayView raw) {
    const QString text = FromUtf8(raw);
    QString out;
    out.reserve(text.size());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n;) {
        const QChar ch = text[i];
        if (ch == u'\\') {
            out += u'/';
            ++i;
            continue;
        }
        if (ch != u'%' || i == n - 1) {
            out += ch;
            ++i;
            continue;
        }
        qsizetype first = i + 1;
        qsizetype digits = 2;
        if (text[first] == u'U') {
            ++first;
            digits = 4;
        }
        char16_t value = 0;
        bool ok = first + digits <= n;
        for (qsizetype d = 0; ok && d < digits; ++d) {
            const char16_t c = text[first + d].unicode();
            const int h = c < 0x80 ? HexDigitValue(char(c)) : -1;
            ok = h >= 0;
            value = char16_t(value * 16 + h);
        }
        if (!ok) {
            out += u'%';
            ++i;
            continue;
        }
        out += QChar(value);
        i = first + digits;
    }
    return out;
}

void ChopSpaces(QString& s, qsizetype limit) {
    while (s.size() > limit && (s.back() == u' ' || s.back() == u'\t'))
        s.chop(1);
}

// A value's text: leading and trailing blanks dropped unless quoted, escapes decoded, and, when
// it holds a comma outside quotes, its items in `items` (returns true then).
bool UnescapeValue(QByteArrayView v, QString& text, QStringList& items) {
    static constexpr char Simple[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                         {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                         {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
    const qsizetype n = v.size();
    qsizetype i = 0;
    bool isList = false;
    bool inQuotes = false;
    bool quoted = false; // the current item held a quote: its blanks are its own
    auto skipBlanks = [&] {
        while (i < n && (v[i] == ' ' || v[i] == '\t'))
            ++i;
    };
    skipBlanks();
    // Blanks before this point came from escapes or quotes and stay.
    qsizetype chopLimit = 0;
    // A number escape runs over every digit that follows it; its value wraps at 16 bits.
    auto numberEscape = [&](int base, char16_t value) {
        for (;;) {
            const int d = i < n ? (base == 16 ? HexDigitValue(v[i]) : OctValue(v[i])) : -1;
            if (d < 0)
                break;
            value = char16_t(value * base + d);
            ++i;
        }
        text += QChar(value);
    };

    while (i < n) {
        const char ch = v[i];
        if (ch == '\\') {
            ++i;
            if (i >= n)
                goto end; // a lone trailing backslash: the blanks before it stay
            const char e = v[i++];
            const auto simple = std::find_if(std::begin(Simple), std::end(Simple),
                                             [e](const char(&s)[2]) { return s[0] == e; });
            if (simple != std::end(Simple)) {
                text += QLatin1Char((*simple)[1]);
            } else if (e == 'x') {
                if (i >= n)
                    goto end;
                if (HexDigitValue(v[i]) >= 0) {
                    numberEscape(16, 0);
                    if (i >= n)
                        goto end;
                }
            } else if (const int o = OctValue(e); o >= 0) {
                numberEscape(8, char16_t(o));
                if (i >= n)
                    goto end;
            } else if (e == '\n' || e == '\r') {
                // A line continued after a backslash: the break is not part of the value.
                if (i < n && (v[i] == '\n' || v[i] == '\r') && v[i] != e)
                    ++i;
            }
            chopLimit = text.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipBlanks();
                chopLimit = text.size();
            }
        } else if (ch == ',' && !inQuotes) {
            if (!quoted)
                ChopSpaces(text, chopLimit);
            isList = true;
            items.append(text);
            text.clear();
            quoted = false;
            ++i;
            skipBlanks();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < n && v[j] != '\\' && v[j] != '"' && v[j] != ',')
                ++j;
            text += FromUtf8(v.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted)
        ChopSpaces(text, chopLimit);
end:
    if (isList)
        items.append(text);
    return isList;
}

// A value's meaning: text, "@@..." for text starting with '@', a byte array, nothing at all.
// Every other form that starts with '@' is a type Kestrel never stores: no value.
std::optional<QVariant> TypedValue(const QString& s) {
    if (!s.startsWith(u'@'))
        return QVariant(s);
    if (s.startsWith(u"@@"))
        return QVariant(s.sliced(1));
    if (s.endsWith(u')')) {
        if (s.startsWith(u"@ByteArray("))
            return QVariant(QStringView(s).sliced(11).chopped(1).toLatin1());
        if (s.startsWith(u"@String("))
            return QVariant(s.sliced(8).chopped(1));
        if (s == u"@Invalid()")
            return QVariant();
    }
    return std::nullopt;
}

std::optional<QVariant> ValueOf(QByteArrayView raw) {
    QString text;
    QStringList items;
    if (!UnescapeValue(raw, text, items))
        return TypedValue(text);
    // A list of plain text, unless an item is of a type: then a list of values.
    const QStringList asRead = items;
    bool typed = false;
    for (QString& item : items) {
        if (item.startsWith(u"@@"))
            item.remove(0, 1);
        else if (item.startsWith(u'@'))
            typed = true;
    }
    if (!typed)
        return QVariant(items);
    // The items as they were, each read on its own; one of a foreign type drops the whole list.
    QVariantList values;
    for (const QString& item : asRead) {
        const auto v = TypedValue(item);
        if (!v)
            return std::nullopt;
        values.append(*v);
    }
    return QVariant(values);
}

bool IsGeneral(QByteArrayView name) {
    return name.size() == 7 && qstrnicmp(name.data(), "general", 7) == 0;
}

// ---- writing

bool KeepsAsIs(char16_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.';
}

void EscapeKey(const QString& key, QByteArray& out) {
    for (qsizetype i = 0; i < key.size(); ++i) {
        const QChar qc = key[i];
        const char16_t c = qc.unicode();
        // A '/' is written as '\', but not last: a backslash there would hide the '=' after it
        // from the line reader (Qt's and ours); "%2F" reads back as the same '/'.
        if (c == '/' && i + 1 < key.size()) {
            out += '\\';
        } else if (KeepsAsIs(c)) {
            out += char(c);
        } else if (c <= 0xFF) {
            out += '%';
            out += QByteArray::number(c, 16).toUpper().rightJustified(2, '0');
        } else {
            out += "%U";
            out += QByteArray::number(c, 16).toUpper().rightJustified(4, '0');
        }
    }
}

// Text as a value: C escapes for control characters, quotes and backslashes, quotes around it
// when it holds ';', ',' or '=' or starts or ends with a blank. A byte array's text carries its
// bytes above 0x7E as \x escapes; other text is UTF-8.
void EscapeText(const QString& text, QByteArray& out) {
    const bool bytes = text.startsWith(u"@ByteArray(");
    const qsizetype start = out.size();
    bool needsQuotes = false;
    // After \0 or \x.., a hex digit would join the escape: it is escaped as well.
    bool escapeHexDigit = false;
    for (qsizetype k = 0; k < text.size(); ++k) {
        const char16_t c = text[k].unicode();
        if (c == ';' || c == ',' || c == '=')
            needsQuotes = true;
        if (escapeHexDigit && c < 0x80 && HexDigitValue(char(c)) >= 0) {
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        escapeHexDigit = false;
        switch (c) {
        case '\0':
            out += "\\0";
            escapeHexDigit = true;
            break;
        case '\a':
            out += "\\a";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\v':
            out += "\\v";
            break;
        case '"':
        case '\\':
            out += '\\';
            out += char(c);
            break;
        default:
            if (c <= 0x1F || (c >= 0x7F && bytes)) {
                out += "\\x" + QByteArray::number(c, 16);
                escapeHexDigit = true;
            } else if (c < 0x80) {
                out += char(c);
            } else {
                // A surrogate pair is one character of UTF-8.
                const bool pair = QChar::isHighSurrogate(c) && k + 1 < text.size() &&
                                  text[k + 1].isLowSurrogate();
                out += QStringView(text).sliced(k, pair ? 2 : 1).toUtf8();
                k += pair ? 1 : 0;
            }
        }
    }
    if (needsQuotes ||
        (out.size() > start && (out.at(start) == ' ' || out.at(out.size() - 1) == ' '))) {
        out.insert(start, '"');
        out += '"';
    }
}

// A value as the text it is stored as; none for a type Kestrel does not store.
std::optional<QString> TextOf(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::UnknownType:
        return QStringLiteral("@Invalid()");
    case QMetaType::QByteArray: {
        const QByteArray a = v.toByteArray();
        return "@ByteArray(" + QString::fromLatin1(a) + ')';
    }
    case QMetaType::QString:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Bool:
    case QMetaType::Double: {
        QString s = v.toString();
        if (s.startsWith(u'@'))
            s.prepend(u'@');
        return s;
    }
    default:
        return std::nullopt;
    }
}

// The value's text after "key="; false for a type Kestrel does not store.
bool FormatValue(const QVariant& v, QByteArray& out) {
    QVariantList list;
    if (v.typeId() == QMetaType::QStringList) {
        for (const QString& s : v.toStringList())
            list.append(s);
    } else if (v.typeId() == QMetaType::QVariantList) {
        list = v.toList();
    } else {
        const auto text = TextOf(v);
        if (text)
            EscapeText(*text, out);
        return text.has_value();
    }
    // An empty list has no text of its own: it reads back as no value, as Qt's does.
    if (list.isEmpty()) {
        out += "@Invalid()";
        return true;
    }
    for (qsizetype i = 0; i < list.size(); ++i) {
        const auto text = TextOf(list[i]);
        if (!text)
            return false;
        if (i > 0)
            out += ", ";
        EscapeText(*text, out);
    }
    return true;
}

} // namespace

bool ParseIni(QByteArrayView data, QSettings::SettingsMap& map) {
    if (data.size() > MaxFileBytes)
        return false;
    if (data.startsWith("\xef\xbb\xbf"))
        data = data.sliced(3);
    QString section; // "" or "Group/"
    // Each key repeats its group's name: a long name over many short lines would otherwise make
    // keys far larger than the file.
    qsizetype keyChars = 0;
    qsizetype pos = 0;
    TLine line;
    while (NextLine(data, pos, line)) {
        const QByteArrayView text = data.sliced(line.Start, line.Len);
        if (text.startsWith('[')) {
            qsizetype close = text.indexOf(']');
            if (close < 0)
                close = text.size();
            const QByteArrayView name = text.first(close).sliced(1).trimmed();
            if (IsGeneral(name)) {
                section.clear();
                continue;
            }
            // "[%General]" holds a group named General, not the top-level keys.
            section = name.startsWith('%') && IsGeneral(name.sliced(1))
                          ? QString::fromLatin1(name.sliced(1))
                          : UnescapeKey(name);
            section += u'/';
            continue;
        }
        if (line.Equals < 0)
            continue; // neither a key nor a section: skipped
        const qsizetype eq = line.Equals - line.Start;
        const QString key = section + UnescapeKey(text.first(eq).trimmed());
        keyChars += key.size();
        if (keyChars > MaxFileBytes) {
            map.clear();
            return false;
        }
        if (auto value = ValueOf(text.sliced(eq + 1)))
            map.insert(key, *value);
        else
            map.remove(key);
    }
    return true;
}

QByteArray FormatIni(const QSettings::SettingsMap& map) {
    // Each group with its keys; the top-level keys ("") come first. A key with a leading '/'
    // stays whole at the top level, so that it reads back as it was.
    std::map<QString, std::vector<std::pair<QString, const QVariant*>>> sections;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        if (slash > 0)
            sections[it.key().first(slash)].push_back({it.key().sliced(slash + 1), &it.value()});
        else
            sections[QString()].push_back({it.key(), &it.value()});
    }
    QByteArray out;
    for (const auto& [name, keys] : sections) {
        QByteArray header;
        EscapeKey(name, header);
        if (name.isEmpty())
            header = "[General]";
        else if (IsGeneral(header))
            header = "[%" + header + "]";
        else
            header = "[" + header + "]";
        QByteArray body;
        for (const auto& [key, value] : keys) {
            QByteArray entry;
            EscapeKey(key, entry);
            entry += '=';
            if (!FormatValue(*value, entry))
                continue; // a type Kestrel does not store
            body += entry + '\n';
        }
        if (body.isEmpty())
            continue;
        if (!out.isEmpty())
            out += '\n';
        out += header + '\n' + body;
    }
    return out;
}

QByteArray FormatSettings(const QSettings::SettingsMap& map) {
    QSettings::SettingsMap own;
    QSettings::SettingsMap foreign;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        (settings::IsKnownKey(it.key()) ? own : foreign).insert(it.key(), it.value());
    qsizetype foreignBytes = 0;
    for (auto it = foreign.cbegin(); it != foreign.cend(); ++it) {
        const qsizetype bytes = FormatIni({{it.key(), it.value()}}).size();
        if (bytes > MaxForeignEntryBytes || foreignBytes + bytes > MaxForeignBytes)
            continue;
        foreignBytes += bytes;
        own.insert(it.key(), it.value());
    }
    QByteArray text = FormatIni(own);
    if (text.size() > MaxFileBytes)
        return {};
    return text;
}

bool ReadIni(QIODevice& device, QSettings::SettingsMap& map) {
    // One byte past the limit tells a file over it without reading the rest.
    const QByteArray data = device.read(MaxFileBytes + 1);
    return ParseIni(data, map);
}

bool WriteIni(QIODevice& device, const QSettings::SettingsMap& map) {
    const QByteArray text = FormatSettings(map);
    return (!text.isEmpty() || map.isEmpty()) && device.write(text) == text.size();
}

} // namespace safeini

namespace settings {

QSettings::Format Format() {
    static const QSettings::Format format =
        QSettings::registerFormat("conf", safeini::ReadIni, safeini::WriteIni, Qt::CaseSensitive);
    return format;
}

QSettings Open() {
    return QSettings(FilePath(), Format());
}

} // namespace settings
