#include "Checksums.h"

#include "HexText.h"

#include <QCoreApplication>

#include <algorithm>
#include <memory>

namespace {

QString Hex(uint32_t value, int digits) {
    return QString::number(value, 16).toUpper().rightJustified(digits, '0');
}

// pattern: the item's name with %1 for the hex digits and %2 for the decimal value.
QString Caption(const char* pattern, uint32_t value, int digits) {
    return QCoreApplication::translate("Checksum", pattern)
        .arg(Hex(value, digits), QString::number(value));
}

} // namespace

TCheckSums CheckSums(const uint8_t* bytes, uint32_t count) {
    TCheckSums s;
    for (uint32_t i = 0; i < count; ++i) {
        s.Sum = (s.Sum + bytes[i]) % 256;
        s.Xor = static_cast<uint8_t>(s.Xor ^ bytes[i]);
    }
    s.Crc = Crc16(bytes, count);
    return s;
}

QString NumCaption(uint32_t count) {
    return Caption(QT_TRANSLATE_NOOP("Checksum", "已选字符数(&N)Hex: 0X%1 Dec: %2"), count, 2);
}
QString AddCaption(int32_t sum) {
    return Caption(QT_TRANSLATE_NOOP("Checksum", "累加校验(&A)    Hex: 0X%1 Dec: %2"),
                   static_cast<uint32_t>(sum), 2);
}
QString XorCaption(uint8_t value) {
    return Caption(QT_TRANSLATE_NOOP("Checksum", "异或校验(&X)    Hex: 0X%1 Dec: %2"), value, 2);
}
QString CrcCaption(uint16_t crc) {
    return Caption(QT_TRANSLATE_NOOP("Checksum", "CRC16校验(&R) Hex: 0X%1 Dec: %2"), crc, 4);
}

QByteArray HexLineText(const QString& line) {
    QByteArray text(line.size(), ' ');
    for (qsizetype i = 0; i < line.size(); ++i) {
        char16_t c = line.at(i).unicode();
        if (c < 0x80)
            text[i] = static_cast<char>(c);
    }
    return text;
}

bool InsertCheckValue(QString& line, int column, uint32_t value, int digits) {
    const qsizetype at = std::clamp<qsizetype>(column, 0, line.size());
    QString joined = line.left(at) + ' ' + Hex(value, digits) + ' ' + line.mid(at);
    auto buffer = std::make_unique<HexBytes>();
    bool overflow = false;
    QByteArray text = HexLineText(joined);
    HexTextToBytes(*buffer, text.constData(), static_cast<uint32_t>(text.size()), &overflow);
    if (overflow)
        return false;
    line = QString::fromStdString(BytesToHexText(*buffer));
    return true;
}
