#pragma once
// The frame of the routed radio protocol the protocol page sends, and the small texts of its
// fields. Plain C++, pure functions, safe on any thread.
//
// A frame is an 18-byte header, then, when there is a route or data, a body:
//   [0] destination  [1] first route byte, or the destination without a route
//   [2] source  [3] command  [4..8] zero  [9] 1 with a route, else 0
//   [10] route length  [11] data length  [12..15] reserve  [16..17] CRC-16 of bytes 0..15
//   body: the route, the data, then the CRC-16 of route and data.
// Each CRC is Crc16 and travels high byte first.

#include "TranslateMark.h"

#include <cstdint>
#include <string>
#include <vector>

constexpr uint32_t VMHeaderLen = 18;
constexpr uint32_t VMRouteMax = 100; // room of the route packet
constexpr uint32_t VMDataMax = 255;  // the data length travels in one byte
constexpr uint32_t VMFrameMax = 1024;

struct TProtocolFields {
    uint8_t Source = 0, Dest = 0, Cmd = 0;
    uint8_t Reserve[4] = {}; // reserve bytes the user left out stay zero
    std::vector<uint8_t> Route, Data;
};

// The frame one send writes: VMHeaderLen bytes without route and data, route + data + 20 with
// them. Empty when the route is longer than VMRouteMax or the data longer than VMDataMax; the
// caller refuses to send then.
std::vector<uint8_t> BuildProtocolFrame(const TProtocolFields& f);

// Two upper-case hex digits: 0x0A gives "0A".
std::string VMByteText(uint8_t b);
// The byte count beside a packet field: 5 gives "长度: 5 [0X05]", 300 "长度: 300 [0X12C]";
// the pattern (context "ProtocolFrame") with the count and its hex digits, for the window to translate.
inline constexpr const char* LengthHintPattern = QT_TRANSLATE_NOOP("ProtocolFrame", "长度: %1 [0X%2]");
std::string LengthHint(uint32_t count);
std::string LengthHintHex(uint32_t count); // "05", "12C"
