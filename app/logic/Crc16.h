#pragma once
// The one CRC-16 of the program, shared by the checksum read-outs and the frames it builds. Plain
// C++, a pure function, safe on any thread.

#include <cstdint>

// CRC-16/ARC: polynomial 0x8005 taken least significant bit first (0xA001),
// register starting at 0, no final XOR. "123456789" gives 0xBB3D.
uint16_t Crc16(const uint8_t* bytes, uint32_t count);
