#include "HexText.h"

#include <cstring>

namespace {

// Value 0-15 of a hex digit, -1 for a separator. Lower case is deliberately a separator.
int HexDigitValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

bool HexTextToBytes(HexBytes& bytes, const char* text, uint32_t len, bool* overflow) {
    bool result = true;
    bool pending = false;
    bool cut = false;
    uint32_t count = 0;
    if (text == nullptr)
        len = 0;
    for (uint32_t i = 0; i < len; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == 0x0D)
            result = false;
        const int v = HexDigitValue(c);
        if (v < 0) {
            if (pending) {
                ++count;
                pending = false;
            }
        } else if (pending) {
            bytes.Data[count] = static_cast<uint8_t>(bytes.Data[count] * 16 + v);
            ++count;
            pending = false;
        } else if (count < HexBytesCapacity) {
            bytes.Data[count] = static_cast<uint8_t>(v);
            pending = true;
        } else {
            // Full: keep scanning only to find carriage returns.
            cut = true;
        }
    }
    if (pending)
        ++count;
    bytes.Count = count;
    if (overflow != nullptr)
        *overflow = cut;
    return result;
}

bool HexTextToBytes(HexBytes& bytes, std::string_view text, bool* overflow) {
    // Texts beyond 4 GiB are cut to what a 32-bit length can say; the parse stops long before.
    const uint32_t len = text.size() > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(text.size());
    return HexTextToBytes(bytes, text.data(), len, overflow);
}

std::string BytesToHexText(const HexBytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    const uint32_t count = bytes.Count < HexBytesCapacity ? bytes.Count : HexBytesCapacity;
    std::string text;
    text.resize(count * 3);
    for (uint32_t i = 0; i < count; ++i) {
        text[i * 3] = digits[bytes.Data[i] >> 4];
        text[i * 3 + 1] = digits[bytes.Data[i] & 0x0F];
        text[i * 3 + 2] = ' ';
    }
    return text;
}

void CopyHexBytes(const HexBytes& bytes, uint8_t* dest) {
    const uint32_t count = bytes.Count < HexBytesCapacity ? bytes.Count : HexBytesCapacity;
    if (count > 0)
        std::memcpy(dest, bytes.Data, count);
}

std::string IntToStr(int64_t value) {
    // Work on the unsigned magnitude so that the most negative value has a magnitude too.
    uint64_t magnitude =
        value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char buffer[24];
    char* p = buffer + sizeof buffer;
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        *--p = '-';
    return std::string(p, buffer + sizeof buffer);
}
