#pragma once
// The read-outs of a hex selection in the send pane: 8-bit sum, XOR, CRC-16 and
// byte count, their menu captions, and the rewriting of a line with a value
// inserted after the selection. Pure functions, safe on any thread.

#include "Crc16.h"

#include <QString>

#include <cstdint>

struct TCheckSums {
    int32_t Sum = 0; // modulo 256
    uint8_t Xor = 0;
    uint16_t Crc = 0;
};
TCheckSums CheckSums(const uint8_t* bytes, uint32_t count);

// Captions of the send pane's menu items, "&" marks included, in the interface's language.
QString NumCaption(uint32_t count);
QString AddCaption(int32_t sum);
QString XorCaption(uint8_t value);
QString CrcCaption(uint16_t crc);
// These two are marked for translation (context "Checksum"); the menu shows them translated.
inline const char* const MultiLineCaption = QT_TRANSLATE_NOOP("Checksum", "不能选择多行数据计算(&E)");
// Shown in place of the read-outs when a selection spells more bytes than the
// hex buffer holds: the values would be those of a cut selection.
inline const char* const TooLongCaption = QT_TRANSLATE_NOOP("Checksum", "选中的数据超过2048字节(&E)");

// Line with " " + value in upper-case hex (at least digits wide) + " " put
// after its first column characters, then parsed as hex and written back as
// clean byte pairs. Characters outside ASCII separate like any other
// non-digit. False (line untouched) when the result would spell more bytes
// than the hex buffer holds.
bool InsertCheckValue(QString& line, int column, uint32_t value, int digits);

// Byte text for the hex parser: the line in code page 936 would let the
// second byte of a Chinese character pass for a digit, so every character
// outside ASCII becomes a blank first.
QByteArray HexLineText(const QString& line);
