// The program's pictures: one table of what is drawn, where it goes and how big it is.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <vector>

namespace pictures {

struct Picture {
    QString file; // path under resources/, and its alias in kestrel.qrc
    int width;
    int height;
    bool transparent; // an icon drawn on a transparent background
    QImage (*draw)();
    bool inQrc = true; // false: installed beside the program (the desktop's icons), not built in
};

// Every picture, in the order kestrel.qrc lists them.
const std::vector<Picture>& allPictures();

// The page control's image list in index order (the send-mode tab image is mode + 2).
QStringList imageList();

QString qrcText();
QString imageListText(); // "index file" per line

// Draws every picture into dir (creating sub-folders) and writes kestrel.qrc and
// imagelist.txt beside them. Stops at the first failure, with a message in *error.
bool writeAll(const QString& dir, QString* error);

QImage drawTitle();
QImage drawPanel();
QImage drawIcon64();
QImage drawIcon32();
// The program's icon at the sizes a desktop's icon theme asks for.
QImage drawIcon16();
QImage drawIcon22();
QImage drawIcon24();
QImage drawIcon48();
QImage drawIcon128();
QImage drawIcon256();

QImage drawToolClear();
QImage drawToolOpen();
QImage drawToolSave();
QImage drawToolPause();
QImage drawToolPort();
QImage drawToolModem();
QImage drawToolUrl();
QImage drawToolHelp();
QImage drawToolExit();

QImage drawTabTimed();
QImage drawTabSettings();
QImage drawTabChar();
QImage drawTabLine();
QImage drawTabModem();
QImage drawTabHex();
QImage drawTabProtocol();

QImage drawGlyphUpdate();
QImage drawGlyphStart();
QImage drawGlyphStop();

QImage drawChartPort();
QImage drawChartModem();

} // namespace pictures
