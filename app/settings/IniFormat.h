#pragma once
// Kestrel's settings file: the INI text that QSettings::IniFormat writes, read and written by our
// own code. Qt's INI reader turns @Variant(...) and @DateTime(...) values into a QDataStream read,
// and a few bytes there can claim a list of billions of elements; ours never decodes them.
//
// Read as Qt reads it: [General] holds the top-level keys, [Group] a group's; keys carry %XX and
// %UXXXX escapes and '\' for '/'; values are trimmed, may be quoted, carry C escapes (\n, \xhhhh,
// octal, \", \\ ...), unquoted commas make a string list, ';' starts a comment, "@@" stands for a
// literal leading '@', and @ByteArray(...), @Invalid() and @String(...) keep their meaning. A value
// of any other @Type(...) form (@Variant, @DateTime, @Rect ...) is dropped: its key reads as
// absent and the key's default applies. Kestrel stores only numbers, text and byte arrays.
//
// Written as Qt's INI writer writes those types, so that Qt's reader (an older Kestrel) reads the
// file back to the same values.

#include <QSettings>

class QIODevice;

namespace safeini {

// The most a settings file may hold, in bytes. A larger one is not ours to trust: nothing of it is
// read, the defaults apply, and the next save writes the settings in use in its place.
inline constexpr qsizetype MaxFileBytes = 1 << 20;

// Parses INI text into keys ("Group/Key") and values. False when the text is over MaxFileBytes
// or its keys, each with its group's name, add up to more characters than that (no settings file
// of Kestrel's comes near): the map is then left empty.
bool ParseIni(QByteArrayView text, QSettings::SettingsMap& map);
// The INI text of the map: [General] first, then the groups, each in key order.
QByteArray FormatIni(const QSettings::SettingsMap& map);
// The INI text of a settings file as Kestrel writes it: its own keys in full; keys it does not
// know only while each is small and all of them together stay small, so that a foreign value
// never grows the file past what ParseIni reads back. Empty when even Kestrel's own keys come
// to more than MaxFileBytes (nothing is written then).
inline constexpr qsizetype MaxForeignEntryBytes = 4 << 10;
inline constexpr qsizetype MaxForeignBytes = 64 << 10;
QByteArray FormatSettings(const QSettings::SettingsMap& map);

// The two functions QSettings::registerFormat takes.
bool ReadIni(QIODevice& device, QSettings::SettingsMap& map);
bool WriteIni(QIODevice& device, const QSettings::SettingsMap& map);

} // namespace safeini

namespace settings {

// The format above, registered once; its files end in ".conf" like those of the native format on
// Linux, so ~/.config/Orvane Software/Kestrel.conf stays where Kestrel always kept it.
QSettings::Format Format();
// Kestrel's settings of the user (organisation and application of SettingsKeys.h) in that format,
// in the file FilePath() names. It reads the file as it opens: where the file may be anything
// (a FIFO, a device), read with ReadFile of SettingsFile.h instead.
QSettings Open();

} // namespace settings
