#pragma once

// The one parser and the one formatter of hexadecimal byte text. Text here is byte text: one
// 8-bit character per byte, in code page 936. Pure functions, safe on any thread.

#include <cstdint>
#include <string>
#include <string_view>

constexpr uint32_t HexBytesCapacity = 2048;

struct HexBytes {
    uint32_t Count = 0; // valid bytes in Data, 0 to HexBytesCapacity
    uint8_t Data[HexBytesCapacity] = {};
};

// Parses every byte of the text into bytes: "0"-"9" and upper-case "A"-"F" are digits, any
// other byte separates. Digits pair up from the left within a run; a digit left over at the end
// of a run is a byte of its own. Returns false when the text holds a carriage return anywhere.
// A text that yields more than HexBytesCapacity bytes keeps the first HexBytesCapacity of them
// and sets *overflow (when given) so that a caller can refuse the cut text; otherwise *overflow
// is set to false.
bool HexTextToBytes(HexBytes& bytes, const char* text, uint32_t len, bool* overflow = nullptr);
bool HexTextToBytes(HexBytes& bytes, std::string_view text, bool* overflow = nullptr);

// Two upper-case digits and one space per byte: 0x55 0xAA gives "55 AA ".
std::string BytesToHexText(const HexBytes& bytes);

// Copies Count bytes of Data to dest, which the caller sizes.
void CopyHexBytes(const HexBytes& bytes, uint8_t* dest);

// The value of one hex digit, either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// Plain decimal digits, a leading minus sign when negative, no padding.
std::string IntToStr(int64_t value);
