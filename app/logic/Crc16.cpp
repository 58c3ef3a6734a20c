#include "Crc16.h"

#include <array>

namespace {

// Entry i: the register after shifting byte i through eight reflected steps.
constexpr std::array<uint16_t, 256> MakeCrcTable() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint16_t r = static_cast<uint16_t>(i);
        for (int k = 0; k < 8; ++k)
            r = (r & 1) ? static_cast<uint16_t>((r >> 1) ^ 0xA001) : static_cast<uint16_t>(r >> 1);
        table[i] = r;
    }
    return table;
}

constexpr std::array<uint16_t, 256> CrcTable = MakeCrcTable();
static_assert(CrcTable[1] == 0xC0C1 && CrcTable[128] == 0xA001 && CrcTable[255] == 0x4040);

} // namespace

uint16_t Crc16(const uint8_t* bytes, uint32_t count) {
    uint16_t r = 0;
    for (uint32_t i = 0; i < count; ++i)
        r = static_cast<uint16_t>(CrcTable[(r ^ bytes[i]) & 0xFF] ^ (r >> 8));
    return r;
}
