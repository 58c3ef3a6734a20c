#include "SettingsFile.h"

#include "IniFormat.h"
#include "SettingsKeys.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cerrno>
#include <utility>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace settings {
namespace {

QString& Folder() {
    static QString folder;
    return folder;
}

QString Tr(const char* text) {
    return QCoreApplication::translate("settings", text);
}

QString SystemReason(int err) {
    return QString::fromLocal8Bit(std::strerror(err));
}

QString NotRegularText(const QString& path) {
    return Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 不是普通文件")).arg(QDir::toNativeSeparators(path));
}

} // namespace

QString FilePath() {
    const QString folder = Folder().isEmpty()
                               ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                               : Folder();
    return folder + '/' + Organisation + '/' + Application + ".conf";
}

QString SetFolder(const QString& folder) {
    return std::exchange(Folder(), folder);
}

TFileRead ReadFile(const QString& path) {
    TFileRead read;
    const QByteArray name = QFile::encodeName(path);
    struct stat st {};
    if (::stat(name.constData(), &st) != 0) {
        const int err = errno;
        if (err != ENOENT) {
            read.Problem = Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 无法读取: %2")).arg(path, SystemReason(err));
        } else if (::lstat(name.constData(), &st) == 0) {
            // A symlink that leads nowhere: nothing to read, and nothing is written through it.
            read.NotRegular = true;
            read.Problem = NotRegularText(path);
        }
        return read;
    }
    if (!S_ISREG(st.st_mode)) {
        read.NotRegular = true;
        read.Problem = NotRegularText(path);
        return read;
    }
    // Checked again on what was opened: the name may have been swapped in between.
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        read.Problem = Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 无法读取: %2")).arg(path, SystemReason(err));
        return read;
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        read.NotRegular = true;
        read.Problem = NotRegularText(path);
        return read;
    }
    // One byte past the limit tells a file over it without reading the rest.
    QByteArray data(safeini::MaxFileBytes + 1, Qt::Uninitialized);
    qsizetype have = 0;
    while (have < data.size()) {
        const ssize_t n = ::read(fd, data.data() + have, size_t(data.size() - have));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            read.Problem = Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 无法读取: %2")).arg(path, SystemReason(err));
            ::close(fd);
            return read;
        }
        if (n == 0)
            break;
        have += n;
    }
    ::close(fd);
    data.truncate(have);
    safeini::ParseIni(data, read.Map);
    return read;
}

QString WriteFile(const QSettings::SettingsMap& map, const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    QString target = path;
    struct stat st {};
    if (::lstat(name.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode))
                return NotRegularText(path);
            target = QFileInfo(path).canonicalFilePath();
            if (target.isEmpty())
                return NotRegularText(path);
        } else if (!S_ISREG(st.st_mode)) {
            return NotRegularText(path);
        }
    } else if (const int err = errno; err != ENOENT) {
        return Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 无法写入: %2")).arg(path, SystemReason(err));
    } else if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return Tr(QT_TRANSLATE_NOOP("settings", "设置文件夹 %1 无法创建")).arg(QFileInfo(path).absolutePath());
    }
    const QByteArray text = safeini::FormatSettings(map);
    if (text.isEmpty() && !map.isEmpty())
        return Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 无法写入: 设置过大")).arg(path);
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 无法写入: %2")).arg(path, file.errorString());
    if (file.write(text) != text.size() || !file.commit())
        return Tr(QT_TRANSLATE_NOOP("settings", "设置文件 %1 无法写入: %2")).arg(path, file.errorString());
    return {};
}

} // namespace settings
