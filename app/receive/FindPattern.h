#pragma once
// TFindPattern: what the find bar looks for in the received bytes, compiled
// once, and the matcher that finds it in the receive store's run of bytes
// across its blocks (and the line being filled) without copying them.
//
// Three kinds, all over bytes (text in code page 936, as the text view
// decodes it; the caller encodes what the user typed):
//  - Text: the bytes as typed; "\\" stands for a backslash and "\xHH" for the
//    byte HH, as the text view shows them. Optionally case-insensitive over
//    ASCII letters. A match never begins on the second byte of a code page pair.
//  - Hex: pairs of hex digits as in Hex mode, "??" for any byte ("55 AA ?? 01").
//  - Regex: a PCRE2 regular expression over the bytes, compiled with its JIT.
//    A match holds at least one byte (an empty match is not one) and at most
//    MaxRegexMatch bytes.
// Matches do not overlap: after a match the next one is looked for where it ends.
//
// Threads: a compiled pattern is immutable; Scan may run on several threads
// at once (each call uses match data of its own).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TReceiveStore;

enum class EFindKind { Text, Hex, Regex };

enum class EFindError {
    None,
    Empty,       // nothing to look for
    OddHex,      // a run of hex digits of odd length
    NotHex,      // a character that is neither a hex digit, "??" nor a space
    TooLong,     // more than MaxPatternBytes bytes
    AllWildcard, // hex of "??" only: matches everything, finds nothing
    Regex,       // the regular expression does not compile; see Message
};

class TFindPattern {
public:
    static constexpr size_t MaxPatternBytes = 4096;
    static constexpr size_t MaxRegexMatch = size_t(64) << 10;
    // Bytes before a scanned range a regular expression may look back on.
    static constexpr size_t RegexLookBehind = 256;
    // A regular expression scans a long range this many positions at a time.
    static constexpr size_t PieceBytes = size_t(256) << 10;

    struct TCompiled {
        std::shared_ptr<const TFindPattern> Pattern; // null on error
        EFindError Error = EFindError::None;
        std::string Message; // the regular expression library's reason; offset in Offset
        size_t Offset = 0;
    };
    // text: bytes of code page 936 (Text, Regex) or ASCII (Hex).
    static TCompiled Compile(EFindKind kind, std::string_view text, bool caseless);

    ~TFindPattern();
    TFindPattern(const TFindPattern&) = delete;
    TFindPattern& operator=(const TFindPattern&) = delete;

    EFindKind Kind() const { return m_kind; }
    // Bytes a match of a fixed pattern holds (0 for a regular expression).
    size_t Length() const { return m_value.size(); }
    // How far past a scanned range a match may read.
    size_t Reach() const;

    // A match: its first byte's position in the receive run and its length.
    struct TMatch {
        uint64_t Pos = 0;
        uint32_t Len = 0;
    };
    // Calls found for each match that begins in [from, to) and at or after
    // skip, in order; found returns false to stop. Reads the run's bytes as
    // far as a match reaches past to (the store's end at most). Returns the
    // end of the last match found (0 when none). Positions the store no longer
    // holds are passed over.
    uint64_t Scan(const TReceiveStore& store, uint64_t from, uint64_t to, uint64_t skip,
                  const std::function<bool(const TMatch&)>& found) const;

    // The same over one flat buffer (positions from 0): for tests and benchmarks.
    uint64_t ScanFlat(const uint8_t* bytes, size_t count,
                      const std::function<bool(const TMatch&)>& found) const;

private:
    TFindPattern() = default;
    struct TSpan;
    // The fixed matcher over contiguous bytes: starts in [0, limit) of bytes[0, count).
    // base: the position of bytes[0].
    template <class F>
    size_t FixedIn(const uint8_t* bytes, size_t count, size_t limit, size_t start, F&& hit) const;
    bool AtCharStart(const TReceiveStore* store, const uint8_t* flat, uint64_t pos) const;
    uint64_t ScanFixed(const TReceiveStore& store, uint64_t from, uint64_t to, uint64_t skip,
                       const std::function<bool(const TMatch&)>& found) const;
    uint64_t ScanRegex(const uint8_t* bytes, size_t count, size_t from, size_t to, uint64_t base,
                       uint64_t skip, const std::function<bool(const TMatch&)>& found) const;

    EFindKind m_kind = EFindKind::Text;
    bool m_checkPairs = false;     // a match must not begin on a pair's second byte
    bool m_exact = false;          // every mask is 0xFF: a plain compare verifies
    std::vector<uint8_t> m_value;  // byte i matches when (b & m_mask[i]) == m_value[i]
    std::vector<uint8_t> m_mask;
    size_t m_first = 0, m_last = 0; // the first and last byte that is not a wildcard
    void* m_code = nullptr;         // pcre2_code_8
};

// Bytes of the receive run from pos on, across blocks: up to count bytes
// copied to out; returns how many (fewer at the end of what is held).
size_t GatherRunBytes(const TReceiveStore& store, uint64_t pos, size_t count, uint8_t* out);
