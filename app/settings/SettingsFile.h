#pragma once
// Kestrel's settings file read and written by hand, for the window and the start-up: the file is
// whatever the user's folder holds, and QSettings would open a FIFO for reading (and wait for a
// writer for ever) or rename its new file over a device a symlink points to. Here anything that
// is not a regular file is neither opened nor written: the defaults apply, and the reason says why.

#include <QSettings>
#include <QString>

namespace settings {

// The folder that holds "Orvane Software/Kestrel.conf": the user's configuration folder, where
// QSettings keeps it too, unless SetFolder named another (tests keep theirs apart).
QString FilePath();
// Returns the folder named before (empty: the user's).
QString SetFolder(const QString& folder);

struct TFileRead {
    QSettings::SettingsMap Map;
    // Empty when the file was read or is absent; otherwise why nothing of it was read.
    QString Problem;
    // The file is there but is not a regular file (nor a symlink to one): it is never written.
    bool NotRegular = false;
};

// Reads the file without waiting on it: it is opened only when it is a regular file (a symlink
// to one is followed), without blocking, and checked again once open.
TFileRead ReadFile(const QString& path = FilePath());

// Writes the map (safeini::FormatSettings) through a new file renamed over the old one, only
// when the file is absent or regular (a symlink to a regular file writes that file). Empty when
// written; otherwise why nothing was written.
QString WriteFile(const QSettings::SettingsMap& map, const QString& path = FilePath());

} // namespace settings
