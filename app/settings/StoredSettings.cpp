#include "StoredSettings.h"

#include "SettingsKeys.h"

#include <QSettings>
#include <QStringDecoder>
#include <QStringList>
#include <cstdint>
#include <utility>

namespace {

// A port's target as the text it was read from: fromStdString would drop a byte order mark at
// its start, and the map would not read back as it was.
QString TargetText(const std::string& target) {
    QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                    QStringDecoder::Flag::ConvertInitialBom);
    return decode(QByteArrayView(target.data(), qsizetype(target.size())));
}

// The numbers in the order they are read, each with its key.
using TNumber = std::optional<int64_t> TStoredSettings::*;
constexpr std::pair<const char*, TNumber> Numbers[] = {
    {settings::ComPort, &TStoredSettings::ComPort},
    {settings::BaudRate, &TStoredSettings::BaudRate},
    {settings::Parity, &TStoredSettings::Parity},
    {settings::ControlRTS, &TStoredSettings::ControlRTS},
    {settings::AllowHead, &TStoredSettings::AllowHead},
    {settings::RTSEnabled, &TStoredSettings::RTSEnabled},
    {settings::DTREnabled, &TStoredSettings::DTREnabled},
    {settings::SendMode, &TStoredSettings::SendMode},
    {settings::ReceNum, &TStoredSettings::ReceNum},
};

// The values read apart from the chain above, each on its own and within its
// range (the memory limit: any whole number, 0 or less meaning the default).
struct TApart {
    const char* Key;
    TNumber Member;
    int64_t Least, Most;
};
constexpr TApart Apart[] = {
    {settings::LineEnding, &TStoredSettings::LineEnding, 0, 3},
    {settings::CustomBaudRate, &TStoredSettings::CustomBaudRate, 1, 99999999},
    {settings::ByteSize, &TStoredSettings::ByteSize, 5, 8},
    {settings::StopBits, &TStoredSettings::StopBits, 0, 2},
    {settings::FlowControl, &TStoredSettings::FlowControl, 0, 2},
    {settings::ScrollLock, &TStoredSettings::ScrollLock, 0, 1},
    {settings::Language, &TStoredSettings::Language, 0, 1},
    {settings::ReceTextView, &TStoredSettings::ReceTextView, 0, 1},
    {settings::ReceTextStamps, &TStoredSettings::ReceTextStamps, 0, 1},
    {settings::PaneFontSize, &TStoredSettings::PaneFontSize, settings::LeastPaneFontSize,
     settings::MostPaneFontSize},
    {settings::ReceMemoryMiB, &TStoredSettings::ReceMemoryMiB, INT64_MIN, INT64_MAX},
};

// A port's key inside the PortMap group: "COM1".."COM6".
QString PortKey(uint32_t i) {
    return QString("COM%1").arg(i + 1);
}

QString InPortMap(const QString& key) {
    return QString(settings::PortMapGroup) + '/' + key;
}

// A DWORD-like read: present and a whole number that 32 bits hold.
std::optional<int64_t> ReadInt(const QSettings& s, const char* key) {
    const QVariant v = s.value(key);
    if (!v.isValid())
        return std::nullopt;
    return StoredWholeNumber(v.toString());
}

bool HasPortMap(const QSettings& s) {
    // The group's own keys, not those of groups inside it.
    const QString prefix = InPortMap(QString());
    for (const QString& key : s.allKeys()) {
        if (key.startsWith(prefix) && !key.mid(prefix.size()).contains('/'))
            return true;
    }
    return false;
}

} // namespace

std::optional<int64_t> StoredWholeNumber(const QString& text) {
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok);
    if (!ok || n < INT32_MIN || n > int64_t(UINT32_MAX))
        return std::nullopt;
    return n;
}

TStoredSettings ReadStoredSettings(const QSettings& s) {
    TStoredSettings out;
    bool failed = false;
    for (const auto& [key, member] : Numbers) {
        out.*member = ReadInt(s, key);
        if (!(out.*member)) {
            failed = true;
            break;
        }
    }
    if (!failed) {
        const QVariant head = s.value(settings::HeadBuff);
        if (!head.isValid() || head.typeId() == QMetaType::QString)
            out.HeadBuff = head.toString();
    }

    for (const TApart& a : Apart)
        if (const auto n = ReadInt(s, a.Key); n && *n >= a.Least && *n <= a.Most)
            out.*(a.Member) = n;

    if (const QVariant g = s.value(settings::WindowGeometry); g.typeId() == QMetaType::QByteArray)
        out.WindowGeometry = g.toByteArray();

    if (HasPortMap(s)) {
        TPortMap map;
        for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
            map.Targets[i] = s.value(InPortMap(PortKey(i))).toString().toStdString();
        out.PortMap = map;
    }
    return out;
}

void WriteStoredSettings(QSettings& s, const TStoredSettings& stored) {
    for (const auto& [key, member] : Numbers) {
        if (stored.*member)
            s.setValue(key, qlonglong(*(stored.*member)));
    }
    if (stored.HeadBuff)
        s.setValue(settings::HeadBuff, *stored.HeadBuff);
    if (stored.WindowGeometry)
        s.setValue(settings::WindowGeometry, *stored.WindowGeometry);
    for (const TApart& a : Apart) {
        if (stored.*(a.Member))
            s.setValue(a.Key, qlonglong(*(stored.*(a.Member))));
        else if (a.Member == &TStoredSettings::CustomBaudRate)
            s.remove(a.Key); // a rate of the list again
    }
    if (stored.PortMap) {
        s.beginGroup(settings::PortMapGroup);
        for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
            s.setValue(PortKey(i), TargetText(stored.PortMap->Targets[i]));
        s.endGroup();
    }
}
