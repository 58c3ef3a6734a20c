#pragma once
// TTextRender: received bytes as lines of text, for the receive pane's text
// view and a live log written as text. Printable ASCII stays as it is, CR,
// LF and CR LF end a line (a CR LF split between two blocks is one break),
// a byte pair of code page 936 becomes its character, and every other byte a
// visible escape: "\x1B". A backslash is written "\\" so that an escape is
// never ambiguous. Each line may begin with the time its first byte arrived.
// Plain C++: the code page is decoded by the function it is given.

#include <climits>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

class TTextRender {
public:
    // UTF-8 of a code page 936 pair, or empty when the pair is not a character.
    using TDecodePair = std::function<std::string(uint8_t lead, uint8_t trail)>;

    explicit TTextRender(TDecodePair decode = {});

    // Feeds a block received at msSinceEpoch (local time of day is shown).
    // Every line it completes is passed to done, without its line break.
    void Feed(const uint8_t* bytes, size_t count, int64_t msSinceEpoch,
              const std::function<void(const std::string&)>& done);
    // The line being filled (its text so far; empty before its first byte).
    const std::string& Partial() const { return Line; }
    bool HasPartial() const { return Started; }
    // Hands over the line's text so far and keeps filling the same line: what follows, up to its
    // break, comes as the rest of it. A writer that passes it on keeps no more than a block's text.
    // Appended to out; the line keeps its room for what follows.
    void TakePartial(std::string& out) {
        out += Line;
        Line.clear();
    }
    // Ends the line being filled, as at the end of a log; nothing when empty.
    void Finish(const std::function<void(const std::string&)>& done);
    // Starts over: no partial line, no pending CR or lead byte.
    void Reset();
    // Asks the decoder for every pair once, now, and keeps the answers: for a renderer that
    // lives long and sees many pairs, as a live log's does.
    void KeepPairs();

    bool Stamps = false; // each line begins with "HH:MM:SS.mmm "
    // A stamp's text for msSinceEpoch in local time.
    static std::string StampText(int64_t msSinceEpoch);

private:
    void Begin(int64_t ms);
    void Put(uint8_t b, int64_t ms, const std::function<void(const std::string&)>& done);
    void Escape(uint8_t b);
    void End(const std::function<void(const std::string&)>& done);

    // The pair's text into out (room for 4 bytes); its length, 0 when not a character, or
    // SIZE_MAX when it is longer than 4 (then in *longer).
    size_t DecodeTo(uint8_t lead, uint8_t trail, char* out, std::string* longer) const;

    TDecodePair Decode;
    // KeepPairs' answers, by lead and trail: the length in the low byte, then up to three
    // bytes of UTF-8; 0xFF for a longer text, which is asked for again.
    std::vector<uint32_t> Pairs;
    std::string Line;
    bool Started = false;
    bool AfterCr = false; // the last byte was a CR that ended a line
    int Lead = -1;        // a code page lead byte waiting for its trail
    // The last stamp made: the lines of a block share their time.
    int64_t StampMs = INT64_MIN;
    std::string Stamp;
};
