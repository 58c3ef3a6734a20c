#include "ReplyPattern.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

std::string Tr(const char* text) {
    return QCoreApplication::translate("ReplyPattern", text).toStdString();
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

// Hex pairs with optional blanks; wildcards allowed or not.
bool ParseHex(std::string_view text, bool wildcards, std::string& bytes, std::vector<bool>* any,
              std::string* error) {
    size_t i = 0;
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            ++i;
            continue;
        }
        if (i + 1 >= text.size() || IsBlank(text[i + 1])) {
            *error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "十六进制数据须成对书写"));
            return false;
        }
        if (text[i] == '?' && text[i + 1] == '?' && wildcards) {
            bytes.push_back('\0');
            any->push_back(true);
        } else {
            const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
            if (hi < 0 || lo < 0) {
                *error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "十六进制数据中有无效字符"));
                return false;
            }
            bytes.push_back(char(hi * 16 + lo));
            if (any)
                any->push_back(false);
        }
        i += 2;
    }
    if (bytes.empty()) {
        *error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "没有数据"));
        return false;
    }
    return true;
}

} // namespace

std::optional<std::string> UnescapeText(std::string_view text, std::string* error) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out.push_back(text[i]);
            continue;
        }
        if (++i >= text.size()) {
            *error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "转义符\\后缺少字符"));
            return std::nullopt;
        }
        switch (text[i]) {
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '0': out.push_back('\0'); break;
        case '\\': out.push_back('\\'); break;
        case 'x': {
            const int hi = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
            const int lo = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                *error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "\\x后须有两位十六进制数字"));
                return std::nullopt;
            }
            out.push_back(char(hi * 16 + lo));
            i += 2;
            break;
        }
        default:
            *error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "未知的转义符"));
            return std::nullopt;
        }
    }
    return out;
}

std::optional<std::string> ParseReply(bool hex, std::string_view text, std::string* error) {
    if (!hex)
        return UnescapeText(text, error);
    std::string bytes;
    if (!ParseHex(text, false, bytes, nullptr, error))
        return std::nullopt;
    return bytes;
}

TReplyPattern TReplyPattern::Literal(std::string_view bytes) {
    TReplyPattern p;
    p.Bytes.assign(bytes);
    p.Any.assign(bytes.size(), false);
    if (p.Bytes.empty())
        p.Error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "没有数据"));
    else if (p.Bytes.size() > MaxLength)
        p.Error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "匹配的数据太长"));
    return p;
}

TReplyPattern TReplyPattern::FromRegex(const QRegularExpression& re) {
    TReplyPattern p;
    p.Kind = TPatternKind::Regex;
    p.Regex = re;
    if (!re.isValid()) {
        p.Error = QCoreApplication::translate("ReplyPattern", "正则表达式有误：%1，位置 %2")
                      .arg(re.errorString())
                      .arg(re.patternErrorOffset())
                      .toStdString();
    } else if (re.match(QString()).hasMatch()) {
        // It would fire on every read, and on no bytes at all.
        p.Error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "正则表达式能匹配空数据"));
    }
    return p;
}

TReplyPattern TReplyPattern::Parse(TPatternKind kind, std::string_view text) {
    TReplyPattern p;
    p.Kind = kind;
    switch (kind) {
    case TPatternKind::Text: {
        std::string error;
        const std::optional<std::string> bytes = UnescapeText(text, &error);
        if (!bytes) {
            p.Error = error;
            return p;
        }
        return Literal(*bytes);
    }
    case TPatternKind::Hex:
        if (ParseHex(text, true, p.Bytes, &p.Any, &p.Error) && p.Bytes.size() > MaxLength)
            p.Error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "匹配的数据太长"));
        return p;
    case TPatternKind::Regex:
        return FromRegex(QRegularExpression(QString::fromUtf8(text.data(), qsizetype(text.size()))));
    }
    p.Error = Tr(QT_TRANSLATE_NOOP("ReplyPattern", "未知的匹配方式"));
    return p;
}

TStreamMatcher::TStreamMatcher(TReplyPattern pattern) : P(std::move(pattern)) {}

void TStreamMatcher::Reset() {
    Window.clear();
    WindowAt = 0;
}

void TStreamMatcher::Feed(const uint8_t* bytes, size_t count, const TFound& found) {
    if (!P.Valid()) {
        WindowAt += count;
        return;
    }
    Window.append(reinterpret_cast<const char*>(bytes), count);
    if (P.Kind == TPatternKind::Regex) {
        FeedRegex(found);
        return;
    }
    const size_t len = P.Bytes.size();
    size_t keepFrom = 0; // first byte that may still start a match
    size_t i = 0;
    while (i + len <= Window.size()) {
        size_t k = 0;
        while (k < len && (P.Any[k] || Window[i + k] == P.Bytes[k]))
            ++k;
        if (k == len) {
            found(WindowAt + i + len, std::string_view(Window).substr(i, len));
            i += len;
            keepFrom = i;
        } else {
            ++i;
        }
    }
    // A match that starts in the last len - 1 bytes may complete with the next read.
    keepFrom = std::max(keepFrom, Window.size() >= len ? Window.size() - (len - 1) : size_t(0));
    Window.erase(0, keepFrom);
    WindowAt += keepFrom;
}

void TStreamMatcher::FeedRegex(const TFound& found) {
    qsizetype from = 0;
    const QString subject = QString::fromLatin1(Window.data(), qsizetype(Window.size()));
    size_t keepFrom = Window.size(); // nothing that could still grow into a match
    while (from < subject.size()) {
        // A match that reaches the end of what came so far may still grow (or only begin):
        // it is reported once the next read decides it.
        const QRegularExpressionMatch m =
            P.Regex.match(subject, from, QRegularExpression::PartialPreferFirstMatch);
        // A partial match may come without a start (one that hangs on "\\A", say), and no
        // match may begin before the search did: the previous match ends there.
        const qsizetype start = std::clamp<qsizetype>(m.capturedStart(), from, subject.size());
        if (m.hasPartialMatch()) {
            keepFrom = size_t(start);
            break;
        }
        if (!m.hasMatch())
            break;
        const qsizetype end = std::max(m.capturedEnd(), start);
        found(WindowAt + uint64_t(end),
              std::string_view(Window).substr(size_t(start), size_t(end - start)));
        from = end > start ? end : end + 1;
        keepFrom = size_t(std::min<qsizetype>(from, subject.size()));
    }
    // A match still growing past MaxLength bytes is given up from its start.
    if (Window.size() - keepFrom > TReplyPattern::MaxLength)
        keepFrom = Window.size() - TReplyPattern::MaxLength;
    Window.erase(0, keepFrom);
    WindowAt += keepFrom;
}
