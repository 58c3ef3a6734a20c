#include "ProtocolFrame.h"

#include "Crc16.h"

#include <cstdio>

static_assert(VMHeaderLen + VMRouteMax + VMDataMax + 2 <= VMFrameMax);

namespace {

void PutCrc(std::vector<uint8_t>& frame, size_t from) {
    const uint16_t crc = Crc16(frame.data() + from, static_cast<uint32_t>(frame.size() - from));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
}

} // namespace

std::vector<uint8_t> BuildProtocolFrame(const TProtocolFields& f) {
    const size_t routeLen = f.Route.size();
    const size_t dataLen = f.Data.size();
    if (routeLen > VMRouteMax || dataLen > VMDataMax)
        return {};
    std::vector<uint8_t> frame;
    frame.reserve(VMHeaderLen + routeLen + dataLen + 2);
    frame.push_back(f.Dest);
    frame.push_back(routeLen > 0 ? f.Route[0] : f.Dest); // the first hop
    frame.push_back(f.Source);
    frame.push_back(f.Cmd);
    frame.insert(frame.end(), 5, 0);
    frame.push_back(routeLen > 0 ? 1 : 0);
    frame.push_back(static_cast<uint8_t>(routeLen));
    frame.push_back(static_cast<uint8_t>(dataLen));
    frame.insert(frame.end(), f.Reserve, f.Reserve + 4);
    PutCrc(frame, 0);
    if (routeLen + dataLen == 0)
        return frame;
    frame.insert(frame.end(), f.Route.begin(), f.Route.end());
    frame.insert(frame.end(), f.Data.begin(), f.Data.end());
    PutCrc(frame, VMHeaderLen);
    return frame;
}

std::string VMByteText(uint8_t b) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

std::string LengthHintHex(uint32_t count) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%02X", count);
    return hex;
}

std::string LengthHint(uint32_t count) {
    const std::string pattern = LengthHintPattern;
    const size_t one = pattern.find("%1"), two = pattern.find("%2");
    return pattern.substr(0, one) + std::to_string(count) + pattern.substr(one + 2, two - one - 2) +
           LengthHintHex(count) + pattern.substr(two + 2);
}
