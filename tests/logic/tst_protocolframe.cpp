// The protocol frame, byte for byte, its size limits, and the texts of its fields.

#include "Crc16.h"
#include "ProtocolFrame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Hex(const std::string& text) {
    std::istringstream in(text);
    TBytes bytes;
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(uint8_t(value));
    return bytes;
}

TProtocolFields Fields(uint8_t source, uint8_t dest, uint8_t cmd, TBytes route, TBytes data) {
    TProtocolFields f;
    f.Source = source;
    f.Dest = dest;
    f.Cmd = cmd;
    f.Route = std::move(route);
    f.Data = std::move(data);
    return f;
}

TEST(ProtocolFrame, FramesAreByteExact) {
    TProtocolFields reserved = Fields(0x05, 0x0A, 0x7F, {}, {});
    const uint8_t reserve[4] = {0x11, 0x22, 0x33, 0x44};
    std::copy(reserve, reserve + 4, reserved.Reserve);
    TProtocolFields extremes = Fields(0xFF, 0x00, 0x80, {0xFF}, {0x00});
    extremes.Reserve[1] = 0xFF;

    const struct {
        const char* Name;
        TProtocolFields Fields;
        const char* Frame;
    } cases[] = {
        {"both packets empty", Fields(0x00, 0x10, 0x00, {}, {}),
         "10 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 C0 1D"},
        {"route and data", Fields(0x00, 0x10, 0x00, {0x20, 0x30}, {0x01, 0x02, 0x03}),
         "10 20 00 00 00 00 00 00 00 01 02 03 00 00 00 00 F6 78 20 30 01 02 03 66 9E"},
        {"data only", Fields(0x00, 0x10, 0x00, {}, {0x01, 0x02, 0x03}),
         "10 10 00 00 00 00 00 00 00 00 00 03 00 00 00 00 C0 59 01 02 03 A1 10"},
        {"route only", Fields(0x00, 0x10, 0x00, {0x20, 0x30}, {}),
         "10 20 00 00 00 00 00 00 00 01 02 00 00 00 00 00 F6 3C 20 30 D4 19"},
        {"reserve bytes", reserved, "0A 0A 05 7F 00 00 00 00 00 00 00 00 11 22 33 44 6F 13"},
        {"00 and FF everywhere", extremes,
         "00 FF FF 80 00 00 00 00 00 01 01 01 00 FF 00 00 9F A3 FF 00 F0 41"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(BuildProtocolFrame(c.Fields), Hex(c.Frame));
    }
}

TEST(ProtocolFrame, DefaultFieldsAreAllZero) {
    EXPECT_EQ(BuildProtocolFrame(TProtocolFields{}), TBytes(VMHeaderLen, 0));
}

TEST(ProtocolFrame, TheLongestPacketsFitAndOneByteMoreIsRefused) {
    TProtocolFields f = Fields(0x01, 0x02, 0x03, TBytes(VMRouteMax), TBytes(VMDataMax));
    for (size_t i = 0; i < f.Route.size(); ++i)
        f.Route[i] = uint8_t(0xA0 + i);
    for (size_t i = 0; i < f.Data.size(); ++i)
        f.Data[i] = uint8_t(i);
    const TBytes frame = BuildProtocolFrame(f);
    ASSERT_EQ(frame.size(), 375u);
    EXPECT_EQ(frame[1], 0xA0);
    EXPECT_EQ(frame[10], 100);
    EXPECT_EQ(frame[11], 0xFF);
    EXPECT_EQ(TBytes(frame.begin() + 18, frame.begin() + 118), f.Route);
    EXPECT_EQ(TBytes(frame.begin() + 118, frame.begin() + 373), f.Data);
    const uint16_t crc = Crc16(frame.data() + 18, 355);
    EXPECT_EQ(frame[373], crc >> 8);
    EXPECT_EQ(frame[374], crc & 0xFF);

    TProtocolFields longRoute = f;
    longRoute.Route.push_back(0);
    EXPECT_TRUE(BuildProtocolFrame(longRoute).empty());
    TProtocolFields longData = f;
    longData.Data.push_back(0);
    EXPECT_TRUE(BuildProtocolFrame(longData).empty());
    longData.Route.clear();
    EXPECT_TRUE(BuildProtocolFrame(longData).empty());
}

TEST(ProtocolFrame, ByteAndLengthTexts) {
    const struct {
        std::string Text;
        const char* Expected;
    } cases[] = {
        {VMByteText(0x00), "00"},
        {VMByteText(0x05), "05"},
        {VMByteText(0x0A), "0A"},
        {VMByteText(0xFF), "FF"},
        {LengthHint(0), "长度: 0 [0X00]"},
        {LengthHint(5), "长度: 5 [0X05]"},
        {LengthHint(255), "长度: 255 [0XFF]"},
        {LengthHint(300), "长度: 300 [0X12C]"},
        {LengthHint(0xFFFFFFFF), "长度: 4294967295 [0XFFFFFFFF]"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.Text, c.Expected);
}

} // namespace
