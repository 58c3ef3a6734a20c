#include "pictures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace pictures {

const std::vector<Picture>& allPictures() {
    static const std::vector<Picture> table = {
        {"title.png", 630, 41, false, drawTitle},
        {"panel.png", 126, 300, false, drawPanel},
        {"kestrel.png", 64, 64, true, drawIcon64},
        {"kestrel32.png", 32, 32, true, drawIcon32},
        {"chart_port.png", 332, 351, false, drawChartPort},
        {"chart_modem.png", 419, 395, false, drawChartModem},
        {"tool/clear.png", 32, 32, true, drawToolClear},
        {"tool/open.png", 32, 32, true, drawToolOpen},
        {"tool/save.png", 32, 32, true, drawToolSave},
        {"tool/pause.png", 32, 32, true, drawToolPause},
        {"tool/port.png", 32, 32, true, drawToolPort},
        {"tool/modem.png", 32, 32, true, drawToolModem},
        {"tool/url.png", 32, 32, true, drawToolUrl},
        {"tool/help.png", 32, 32, true, drawToolHelp},
        {"tool/exit.png", 32, 32, true, drawToolExit},
        {"tab/timed.png", 16, 16, true, drawTabTimed},
        {"tab/settings.png", 16, 16, true, drawTabSettings},
        {"tab/char.png", 16, 16, true, drawTabChar},
        {"tab/line.png", 16, 16, true, drawTabLine},
        {"tab/modem.png", 16, 16, true, drawTabModem},
        {"tab/hex.png", 16, 16, true, drawTabHex},
        {"tab/protocol.png", 16, 16, true, drawTabProtocol},
        {"glyph/update.png", 16, 16, true, drawGlyphUpdate},
        {"glyph/start.png", 16, 16, true, drawGlyphStart},
        {"glyph/stop.png", 16, 16, true, drawGlyphStop},
        {"icons/hicolor/16x16/apps/kestrel.png", 16, 16, true, drawIcon16, false},
        {"icons/hicolor/22x22/apps/kestrel.png", 22, 22, true, drawIcon22, false},
        {"icons/hicolor/24x24/apps/kestrel.png", 24, 24, true, drawIcon24, false},
        {"icons/hicolor/32x32/apps/kestrel.png", 32, 32, true, drawIcon32, false},
        {"icons/hicolor/48x48/apps/kestrel.png", 48, 48, true, drawIcon48, false},
        {"icons/hicolor/64x64/apps/kestrel.png", 64, 64, true, drawIcon64, false},
        {"icons/hicolor/128x128/apps/kestrel.png", 128, 128, true, drawIcon128, false},
        {"icons/hicolor/256x256/apps/kestrel.png", 256, 256, true, drawIcon256, false},
    };
    return table;
}

QStringList imageList() {
    // Index 0 and 1 are the timed-send and settings tabs; 2 to 5 follow the send modes
    // (Character, Line, Modem, Hex), 6 is the protocol tab.
    return {"tab/timed.png", "tab/settings.png", "tab/char.png",    "tab/line.png",
            "tab/modem.png", "tab/hex.png",      "tab/protocol.png"};
}

QString qrcText() {
    QString s = QStringLiteral("<!DOCTYPE RCC>\n<RCC version=\"1.0\">\n<qresource prefix=\"/\">\n");
    for (const Picture& pic : allPictures())
        if (pic.inQrc)
            s += QStringLiteral("    <file alias=\"%1\">%1</file>\n").arg(pic.file);
    s += QStringLiteral("</qresource>\n</RCC>\n");
    return s;
}

QString imageListText() {
    QString s;
    const QStringList list = imageList();
    for (int i = 0; i < list.size(); ++i)
        s += QStringLiteral("%1 %2\n").arg(i).arg(list[i]);
    return s;
}

namespace {

bool writeText(const QString& path, const QString& text, QString* error) {
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text.toUtf8()) < 0 || !f.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

} // namespace

bool writeAll(const QString& dir, QString* error) {
    const QDir root(dir);
    for (const Picture& pic : allPictures()) {
        const QString path = root.filePath(pic.file);
        if (!QDir().mkpath(QFileInfo(path).path())) {
            *error = QStringLiteral("cannot create the folder of %1").arg(path);
            return false;
        }
        const QImage img = pic.draw();
        if (img.width() != pic.width || img.height() != pic.height) {
            *error = QStringLiteral("%1 came out %2x%3 instead of %4x%5")
                         .arg(pic.file)
                         .arg(img.width())
                         .arg(img.height())
                         .arg(pic.width)
                         .arg(pic.height);
            return false;
        }
        // Opaque pictures are stored without alpha: smaller files, same look.
        const QImage out = pic.transparent ? img.convertToFormat(QImage::Format_ARGB32)
                                           : img.convertToFormat(QImage::Format_RGB32);
        QSaveFile f(path);
        if (!f.open(QIODevice::WriteOnly) || !out.save(&f, "PNG") || !f.commit()) {
            *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
            return false;
        }
    }
    return writeText(root.filePath("kestrel.qrc"), qrcText(), error) &&
           writeText(root.filePath("imagelist.txt"), imageListText(), error);
}

} // namespace pictures
