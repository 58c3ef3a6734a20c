#pragma once
// The settings Kestrel keeps, in one table: QSettings of organisation
// "Orvane Software", application "Kestrel" (an INI file in the user's
// configuration folder, opened with settings::Open() of IniFormat.h). Integers and booleans are stored as numbers; a
// boolean reads true for any value but 0.

#include <QString>
#include <QStringView>

namespace settings {

inline constexpr const char* Organisation = "Orvane Software";
inline constexpr const char* Application = "Kestrel";

// Key                                    Meaning                                 Default on failure
inline constexpr const char* ComPort = "ComPort";       // index of CboPort           0 (COM1)
inline constexpr const char* BaudRate = "BaudRate";     // index of CboBps            5 (4800)
inline constexpr const char* Parity = "Parity";         // index of CboParity         0 (None)
inline constexpr const char* ControlRTS = "ControlRTS"; // RTS around each line sent  off
inline constexpr const char* AllowHead = "AllowHead";   // preamble in use            off
inline constexpr const char* RTSEnabled = "RTSEnabled"; // RTS line                   not touched
inline constexpr const char* DTREnabled = "DTREnabled"; // DTR line                   not touched
inline constexpr const char* SendMode = "SendMode";     // 0..3                       not touched
inline constexpr const char* ReceNum = "ReceNum";       // receive count              "6"
inline constexpr const char* HeadBuff = "HeadBuff";     // preamble as hex text       "55 AA FF"
// Most memory the receive pane holds, in MiB; past it the oldest lines go. Read apart from the
// values above: absent or not above 0, a quarter of the machine's memory.
inline constexpr const char* ReceMemoryMiB = "ReceMemoryMiB";
// The device of each COM number: a path or "loopback"; detected when absent.
inline constexpr const char* PortMapGroup = "PortMap"; // keys COM1..COM6
// Read apart from the values above: a missing or bad one takes its default
// and touches nothing else.
inline constexpr const char* LineEnding = "LineEnding"; // after a line in Line mode: 0 none,
                                                        // 1 CR, 2 LF, 3 CR LF; default 0
inline constexpr const char* CustomBaudRate = "CustomBaudRate"; // a rate typed beyond the list
inline constexpr const char* ByteSize = "ByteSize";       // data bits 5..8; default 8
inline constexpr const char* StopBits = "StopBits";       // 0 one, 1 one and a half, 2 two; 0
inline constexpr const char* FlowControl = "FlowControl"; // 0 none, 1 RTS/CTS, 2 XON/XOFF; 0
inline constexpr const char* ScrollLock = "ScrollLock";   // 1: scrolling up holds the view; 0
inline constexpr const char* Language = "Language";       // the interface's: 0 Chinese, 1 English; 0
inline constexpr const char* ReceTextView = "ReceTextView";     // 1: the pane shows text; 0
inline constexpr const char* ReceTextStamps = "ReceTextStamps"; // 1: text lines are stamped; 0
inline constexpr const char* PaneFontSize = "PaneFontSize";     // the panes' font, pixels 8..40;
                                                                // 12
// The automatic replies: an array of rules, each with Enabled, Kind (0 text, 1 hex, 2 regular
// expression), Pattern, ReplyHex, Reply and DelayMs; read apart, a bad rule is shown red.
inline constexpr const char* ReplyRules = "ReplyRules";
inline constexpr const char* WindowGeometry = "WindowGeometry"; // size and place; default: the
                                                                // smallest size, centred
// The plot window's, each read apart and kept at its default when it does not read:
inline constexpr const char* PlotSource = "PlotSource";     // 0 text lines, 1 framed records; 0
inline constexpr const char* PlotLayout = "PlotLayout";     // the records' fields as text; ""
inline constexpr const char* PlotSpan = "PlotSpan";         // 0 10 s, 1 1 min, 2 10 min, 3 all; 1
inline constexpr const char* PlotAutoY = "PlotAutoY";       // 1: the y range follows the values; 1
inline constexpr const char* PlotYMin = "PlotYMin";         // the fixed y range; 0
inline constexpr const char* PlotYMax = "PlotYMax";         //                    100
inline constexpr const char* PlotGeometry = "PlotGeometry"; // size and place; 900 x 480

// Every key above, the port map's as "PortMap/COM1".."PortMap/COM6": the keys Kestrel writes in
// full; others found in the file are kept only while small (safeini::FormatSettings).
inline bool IsKnownKey(QStringView key) {
    static constexpr const char* Keys[] = {
        ComPort,    BaudRate,       ReceMemoryMiB, Parity,     ControlRTS,   AllowHead,
        RTSEnabled, DTREnabled,     SendMode,      ReceNum,    HeadBuff,     LineEnding,
        ByteSize,   CustomBaudRate, StopBits,      FlowControl, ScrollLock,  Language,
        ReceTextView, ReceTextStamps, WindowGeometry, PaneFontSize,
        PlotSource, PlotLayout, PlotSpan, PlotAutoY, PlotYMin, PlotYMax, PlotGeometry};
    for (const char* k : Keys)
        if (key == QLatin1String(k))
            return true;
    // The automatic replies' rules, an array as Qt writes one (each text bounded when read).
    if (key.startsWith(QLatin1String(ReplyRules)) && key.size() > qsizetype(qstrlen(ReplyRules)) &&
        key[qstrlen(ReplyRules)] == u'/')
        return true;
    const QLatin1String group("PortMap/COM");
    return key.size() == group.size() + 1 && key.startsWith(group) && key.back() >= u'1' &&
           key.back() <= u'6';
}

inline constexpr int DefaultComPort = 0;
inline constexpr int DefaultBaudRate = 5;
inline constexpr int DefaultParity = 0;
inline constexpr const char* DefaultReceNum = "6";
inline constexpr const char* DefaultHeadBuff = "55 AA FF";
inline constexpr int DefaultPaneFontSize = 12;
inline constexpr int LeastPaneFontSize = 8;
inline constexpr int MostPaneFontSize = 40;

} // namespace settings
