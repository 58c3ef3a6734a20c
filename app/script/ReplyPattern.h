#pragma once
// What received bytes a reply rule (or a script's onReceive) waits for, and the search for it in a
// stream of reads. Plain C++ with Qt Core's regular expressions, safe on any thread; one
// TStreamMatcher belongs to one thread.
//
// A pattern is one of:
//   text   bytes as typed, with the escapes \r \n \t \0 \\ and \xHH;
//   hex    byte pairs, upper or lower case, blanks between them optional, "??" for any byte;
//   regex  a regular expression over the bytes, each byte one character (Latin-1).
// A reply is text (the same escapes) or hex (pairs, no "??").

#include <QRegularExpression>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class TPatternKind : uint8_t { Text = 0, Hex = 1, Regex = 2 };

class TReplyPattern {
public:
    // Longest text or hex pattern, and how far back a regular expression looks for a match
    // that is still growing.
    static constexpr size_t MaxLength = 4096;

    // A pattern that does not compile has an Error (in the interface's words, for a red cell)
    // and never matches.
    static TReplyPattern Parse(TPatternKind kind, std::string_view text);
    // Literal bytes (a script's string or byte pattern).
    static TReplyPattern Literal(std::string_view bytes);
    static TReplyPattern FromRegex(const QRegularExpression& re);

    bool Valid() const { return Error.empty(); }
    TPatternKind Kind = TPatternKind::Text;
    std::string Error;
    // Text and hex: the bytes and, per byte, whether it is a "??".
    std::string Bytes;
    std::vector<bool> Any;
    QRegularExpression Regex;
};

// Parses a reply: text with escapes, or hex pairs. Empty optional with *error set when bad.
std::optional<std::string> ParseReply(bool hex, std::string_view text, std::string* error);
// The escapes of text patterns and replies resolved; empty optional with *error set when bad.
std::optional<std::string> UnescapeText(std::string_view text, std::string* error);

// Finds a pattern in bytes that arrive in reads of any size: a match split across reads is
// found once, matches do not overlap, and nothing found is reported twice.
class TStreamMatcher {
public:
    explicit TStreamMatcher(TReplyPattern pattern);
    // end: the stream offset just past the match (bytes fed before it, counted from the first
    // Feed); match: the matched bytes, valid during the call.
    using TFound = std::function<void(uint64_t end, std::string_view match)>;
    void Feed(const uint8_t* bytes, size_t count, const TFound& found);
    void Reset();
    const TReplyPattern& Pattern() const { return P; }

private:
    void FeedRegex(const TFound& found);
    TReplyPattern P;
    std::string Window;   // bytes kept for a match that may still complete
    uint64_t WindowAt = 0; // stream offset of Window's first byte
};
