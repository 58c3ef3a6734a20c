// The checksum read-outs: CRC-16/ARC, the three sums, the menu captions and the
// rewriting of a line with a value inserted.

#include "Checksums.h"
#include "HexText.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct TSelection {
    const char* Text;
    uint32_t Count;
    int Sum;
    int Xor;
    int Crc;
};

TEST(Checksum, Crc16CheckValueAndEmptyInput) {
    const char digits[] = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(digits), 9), 0xBB3D);
    EXPECT_EQ(Crc16(nullptr, 0), 0);
    const uint8_t single[] = {0x01}, high[] = {0x80}, full[] = {0xFF};
    // One byte from 0 reads the table entry itself.
    EXPECT_EQ(Crc16(single, 1), 0xC0C1);
    EXPECT_EQ(Crc16(high, 1), 0xA001);
    EXPECT_EQ(Crc16(full, 1), 0x4040);
}

TEST(Checksum, SelectionsParseAndSumAsTheMenuShows) {
    const TSelection cases[] = {
        {"41 42 43", 3, 0xC6, 0x40, 0x4521},
        {"55 AA FF 30 31 32 33 34 35 36 37 38 39 41 42 43", 16, 0xD1, 0x41, 0x66A9},
        {"01 02 03", 3, 0x06, 0x00, 0xA110},
        {"1 2 3", 3, 0x06, 0x00, 0xA110}, // lone digits are bytes of their own
        {"1a", 1, 0x01, 0x01, 0xC0C1},    // lower case separates
        {"xyz", 0, 0, 0, 0},
        {"00 FF", 2, 0xFF, 0xFF, 0x4040},
    };
    for (const TSelection& c : cases) {
        SCOPED_TRACE(c.Text);
        auto buffer = std::make_unique<HexBytes>();
        const QByteArray text = HexLineText(QString::fromUtf8(c.Text));
        HexTextToBytes(*buffer, text.constData(), uint32_t(text.size()));
        ASSERT_EQ(buffer->Count, c.Count);
        const TCheckSums s = CheckSums(buffer->Data, buffer->Count);
        EXPECT_EQ(s.Sum, c.Sum);
        EXPECT_EQ(s.Xor, c.Xor);
        EXPECT_EQ(s.Crc, c.Crc);
    }
}

TEST(Checksum, CaptionsKeepTheirBlanksAndWidths) {
    EXPECT_EQ(AddCaption(0xC6), QString::fromUtf8("累加校验(&A)    Hex: 0XC6 Dec: 198"));
    EXPECT_EQ(XorCaption(0x00), QString::fromUtf8("异或校验(&X)    Hex: 0X00 Dec: 0"));
    EXPECT_EQ(CrcCaption(0xA110), QString::fromUtf8("CRC16校验(&R) Hex: 0XA110 Dec: 41232"));
    EXPECT_EQ(CrcCaption(0x0012), QString::fromUtf8("CRC16校验(&R) Hex: 0X0012 Dec: 18"));
    EXPECT_EQ(NumCaption(3), QString::fromUtf8("已选字符数(&N)Hex: 0X03 Dec: 3"));
    EXPECT_EQ(NumCaption(300), QString::fromUtf8("已选字符数(&N)Hex: 0X12C Dec: 300"));
}

TEST(Checksum, InsertedValueLandsAfterTheSelectionInACleanLine) {
    struct {
        const char* Line;
        int Column;
        uint32_t Value;
        int Digits;
        const char* Result;
    } cases[] = {
        {"01 02 03", 8, 0xA110, 4, "01 02 03 A1 10 "}, // high byte first
        {"01 02 03", 8, 0x06, 2, "01 02 03 06 "},
        {"01 02 03 04", 5, 0x03, 2, "01 02 03 03 04 "}, // inside the line
        {"> 55 AA ", 7, 0xFF, 2, "55 AA FF "},          // the echo mark drops out
        {"0102", 2, 0x7, 2, "01 07 02 "},
        {"", 0, 0xBB3D, 4, "BB 3D "},
        {"01 中 02", 99, 0, 2, "01 02 00 "}, // a column past the end means the end
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Line);
        QString line = QString::fromUtf8(c.Line);
        ASSERT_TRUE(InsertCheckValue(line, c.Column, c.Value, c.Digits));
        EXPECT_EQ(line, QString::fromUtf8(c.Result));
    }
}

TEST(Checksum, LineThatWouldOutgrowTheBufferIsLeftAlone) {
    QString full;
    for (uint32_t i = 0; i < HexBytesCapacity; ++i)
        full += "00 ";
    QString line = full;
    EXPECT_FALSE(InsertCheckValue(line, 3, 0x12, 2));
    EXPECT_EQ(line, full);
    line = full.left(full.size() - 3); // one byte of room
    EXPECT_TRUE(InsertCheckValue(line, 0, 0x12, 2));
    EXPECT_TRUE(line.startsWith("12 00 "));
}

TEST(Checksum, ChineseTextNeverPassesForDigits) {
    // 癆 is 0xB0 0x41 in code page 936: byte by byte its second half reads "A".
    EXPECT_EQ(HexLineText(QString::fromUtf8("癆1丁")), QByteArray(" 1 "));
}

} // namespace
