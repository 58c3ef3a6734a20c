#pragma once
// The window's stored settings as plain values (keys and defaults in
// Settings.h): read from and written to a QSettings without any widget, so
// that the reading can be tested and fuzzed on its own. TFrmMain applies what
// was read to its controls and fills the values it saves from them.

#include "PortMap.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

class QSettings;

struct TStoredSettings {
    // Read in this order. The first value that fails to read ends the reads:
    // it and every value after it stay empty, and the window then applies the
    // failure defaults. Numbers are whole numbers that 32 bits hold, signed
    // or not, so a stored value above 2^31 stays positive.
    std::optional<int64_t> ComPort;
    std::optional<int64_t> BaudRate;
    std::optional<int64_t> Parity;
    std::optional<int64_t> ControlRTS;
    std::optional<int64_t> AllowHead;
    std::optional<int64_t> RTSEnabled;
    std::optional<int64_t> DTREnabled;
    std::optional<int64_t> SendMode;
    std::optional<int64_t> ReceNum;
    // An absent preamble reads as empty text; a value that is not text fails.
    std::optional<QString> HeadBuff;
    // Read apart from the values above: present when the PortMap group holds
    // any key at all, and then a port without its key maps to nothing.
    std::optional<TPortMap> PortMap;
    // Read apart as well: present when stored as a number 0..3.
    std::optional<int64_t> LineEnding;
    // Present when stored within their ranges: a rate of 1..99999999 typed
    // beyond the list, data bits 5..8, stop bits 0..2, flow control 0..2.
    std::optional<int64_t> CustomBaudRate;
    std::optional<int64_t> ByteSize;
    std::optional<int64_t> StopBits;
    std::optional<int64_t> FlowControl;
    std::optional<int64_t> ScrollLock; // 0 or 1
    std::optional<int64_t> Language;   // 0 Chinese, 1 English
    std::optional<int64_t> ReceTextView;   // 0 or 1
    std::optional<int64_t> ReceTextStamps; // 0 or 1
    std::optional<int64_t> PaneFontSize;   // pixels, 8..40
    // The window's size and place as QWidget::saveGeometry gives them.
    std::optional<QByteArray> WindowGeometry;
    // Read apart too: present when stored as a whole number.
    std::optional<int64_t> ReceMemoryMiB;

    // Every value read: no failure default applies.
    bool Complete() const { return HeadBuff.has_value(); }
    bool operator==(const TStoredSettings&) const = default;
};

// A stored number as text: trimmed, decimal, within INT32_MIN..UINT32_MAX.
std::optional<int64_t> StoredWholeNumber(const QString& text);

// Reads from the QSettings' top level (no group open).
TStoredSettings ReadStoredSettings(const QSettings& s);
// Writes the values present and leaves the keys of the others as they are.
void WriteStoredSettings(QSettings& s, const TStoredSettings& stored);
