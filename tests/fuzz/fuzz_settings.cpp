// The settings reader on any INI file: whatever it reads, the writer the window saves with writes
// in a form that reads back to the same values, and a second round changes nothing more. The file
// goes through Kestrel's own INI format (Safeini.h), as the program reads it, and through that
// format's parser and writer directly.
#include "IniFormat.h"
#include "SettingsFile.h"
#include "StoredSettings.h"

#include "Fuzzcheck.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>

namespace {

// Every file gets a name of its own: QSettings keeps what it parsed of a file by name and
// trusts it while the file's size and time stamp look unchanged, which two inputs written
// within the same millisecond can do. The files live in memory where the machine has a tmpfs:
// QSettings flushes the lock file of every file it writes to the disk.
QString NewPath() {
    static QTemporaryDir dir(QDir("/dev/shm").exists() ? "/dev/shm/kestrel-fuzz-XXXXXX"
                                                       : QDir::tempPath() + "/kestrel-fuzz-XXXXXX");
    static uint64_t serial = 0;
    Check(dir.isValid());
    return dir.filePath(QString("%1.ini").arg(++serial));
}

TStoredSettings ReadFile(const QString& path) {
    const QSettings s(path, settings::Format());
    return ReadStoredSettings(s);
}

void WriteBytes(const QString& path, QByteArrayView bytes) {
    QFile f(path);
    Check(f.open(QIODevice::WriteOnly));
    Check(f.write(bytes.data(), bytes.size()) == bytes.size());
}

// Writes the values to a file of their own and reads them from a copy of it, so that they come
// back from the text that was written rather than from what QSettings remembers of them.
TStoredSettings RoundTrip(const TStoredSettings& values) {
    const QString written = NewPath();
    {
        QSettings s(written, settings::Format());
        // The same text, written in place rather than through a file renamed over it.
        s.setAtomicSyncRequired(false);
        WriteStoredSettings(s, values);
        s.sync();
        Check(s.status() == QSettings::NoError);
    }
    // Nothing to write makes no file.
    QByteArray text;
    QFile f(written);
    if (f.open(QIODevice::ReadOnly))
        text = f.readAll();
    f.close();
    QFile::remove(written);

    const QString copy = NewPath();
    WriteBytes(copy, text);
    TStoredSettings back = ReadFile(copy);
    QFile::remove(copy);
    return back;
}

// Text that no UTF-8 holds (a lone surrogate, read through an escape such as \xdc00 or %UDC00):
// the writer puts a replacement in its place.
bool HasLoneSurrogate(const QString& s) {
    return !s.isValidUtf16();
}
bool HasLoneSurrogate(const QVariant& v) {
    if (v.typeId() == QMetaType::QString)
        return HasLoneSurrogate(v.toString());
    const QVariantList items = v.toList();
    return v.typeId() != QMetaType::QByteArray &&
           std::any_of(items.begin(), items.end(), [](const QVariant& i) {
               return i.typeId() == QMetaType::QString && HasLoneSurrogate(i.toString());
           });
}

// The parser and writer alone: what is read is written so that it reads back the same, and the
// writing settles after one round.
void CheckFormat(QByteArrayView bytes) {
    QSettings::SettingsMap first;
    if (!safeini::ParseIni(bytes, first)) {
        Check(first.isEmpty());
        return;
    }
    bool exact = true;
    for (auto it = first.cbegin(); it != first.cend(); ++it)
        exact = exact && !HasLoneSurrogate(it.key()) && !HasLoneSurrogate(it.value());
    const QByteArray text = safeini::FormatIni(first);
    QSettings::SettingsMap second;
    Check(safeini::ParseIni(text, second));
    Check(!exact || second == first);
    Check(safeini::FormatIni(second) == text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckFormat(QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const QString input = NewPath();
    WriteBytes(input,
               QByteArrayView(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const TStoredSettings first = ReadFile(input);
    // The window reads the file on its own (it may be a FIFO or a device) to the same values,
    // and saves it in a form that always reads back, foreign keys bounded.
    const settings::TFileRead direct = settings::ReadFile(input);
    QFile::remove(input);
    Check(direct.Problem.isEmpty());
    Check(ReadStoredSettings(direct.Map) == first);
    {
        QSettings::SettingsMap saved = direct.Map;
        WriteStoredSettings(saved, first);
        const QByteArray text = safeini::FormatSettings(saved);
        Check(text.size() <= safeini::MaxFileBytes);
        QSettings::SettingsMap back;
        Check(safeini::ParseIni(text, back));
    }

    // The values read form a prefix of the reading order.
    const bool present[] = {first.ComPort.has_value(),    first.BaudRate.has_value(),
                            first.Parity.has_value(),     first.ControlRTS.has_value(),
                            first.AllowHead.has_value(),  first.RTSEnabled.has_value(),
                            first.DTREnabled.has_value(), first.SendMode.has_value(),
                            first.ReceNum.has_value(),    first.HeadBuff.has_value()};
    for (size_t i = 1; i < std::size(present); ++i)
        Check(present[i - 1] || !present[i]);
    for (const auto& n :
         {first.ComPort, first.BaudRate, first.Parity, first.ControlRTS, first.AllowHead,
          first.RTSEnabled, first.DTREnabled, first.SendMode, first.ReceNum}) {
        if (n)
            Check(*n >= INT32_MIN && *n <= int64_t(UINT32_MAX));
    }

    const TStoredSettings second = RoundTrip(first);
    TStoredSettings expected = first;
    // A preamble that failed to read is not written, and an absent one reads as empty. One that
    // holds a lone surrogate (read through an escape such as \xdc00) has no form in the UTF-8 of
    // a settings file: QSettings writes something else in its place, which is not compared.
    if (first.ReceNum && !first.HeadBuff)
        expected.HeadBuff = QString();
    else if (first.HeadBuff && !first.HeadBuff->isValidUtf16())
        expected.HeadBuff = second.HeadBuff;
    Check(second == expected);
    Check(RoundTrip(second) == second);
    return 0;
}
