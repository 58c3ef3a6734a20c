#pragma once
// The 16-bytes-per-line hex-dump format shared by the receive pane and the
// send pane's Character-mode echo.

#include <cstdint>
#include <string>
#include <string_view>

// Width of THexDumpLine::Text: 48 hex columns, 2 spaces, 16 printable columns.
inline constexpr int HexDumpTextLen = 66;
// First column of the printable form inside Text.
inline constexpr int HexDumpCharCol = 50;
inline constexpr int HexDumpBytesPerLine = 16;
// Leading texts of a rendered line.
inline constexpr std::string_view ReceLeading = "  ";
inline constexpr std::string_view SendLeading = " ";
// 8 offset digits, ":" and 2 spaces, between the leading text and Text.
inline constexpr int HexDumpOffsetLen = 11;
// A rendered receive-pane line: 2 + 11 + 66 characters.
inline constexpr int ReceLineLen = 2 + HexDumpOffsetLen + HexDumpTextLen;

// The character shown for b in the printable column.
inline char HexDumpPrintable(uint8_t b) {
    return b >= 0x20 && b <= 0x7E ? char(b) : '.';
}

// The line being filled. Bytes keeps the raw values beside their text so the
// receive store can hold a line as 16 bytes instead of 66 characters.
struct THexDumpLine {
    int32_t Count = 0;
    char Text[HexDumpTextLen + 1];
    uint8_t Bytes[HexDumpBytesPerLine] = {};

    THexDumpLine() { Reset(); }
    // Count 0, all 66 characters spaces.
    void Reset();
    // Writes b at position Count and advances. A line that already holds 16
    // bytes (or a Count that is out of range) is reset first; returns true
    // when that happened, i.e. when b begins a new line of the pane.
    // Inline: the receive store calls it for every byte.
    bool Add(uint8_t b) {
        constexpr char digits[] = "0123456789ABCDEF";
        bool newLine = false;
        if (Count > 15 || Count < 0) {
            Reset();
            newLine = true;
        }
        Text[3 * Count] = digits[b >> 4];
        Text[3 * Count + 1] = digits[b & 0xF];
        Text[HexDumpCharCol + Count] = HexDumpPrintable(b);
        Bytes[Count] = b;
        ++Count;
        return newLine;
    }
};

// Renders the k-th dump line of its pane: leading, 16·k as 8 upper-case
// hex digits, ":", two spaces, then the 66 characters of line.Text. Past
// 4 GiB in one pane 16·k no longer fits 8 digits; the offset then shows its
// low 32 bits, as the column is 8 digits wide.
std::string HexDumpRender(const THexDumpLine& line, uint64_t k, std::string_view leading);

// Same, straight from raw bytes (count 0..16) into out, which must hold
// leading.size() + 77 characters (ReceLineLen for ReceLeading). Returns the number of characters
// written.
int HexDumpRenderBytes(char* out, const uint8_t* bytes, int count, uint64_t k,
                       std::string_view leading);

// The 73-character column header shown above and below the receive pane.
std::string HexDumpHeader();
