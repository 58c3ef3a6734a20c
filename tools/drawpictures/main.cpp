// drawpictures OUTPUT_FOLDER
// Draws every picture of the program and writes it, with kestrel.qrc and imagelist.txt,
// into OUTPUT_FOLDER (the project's resources/ folder).
#include "paint.h"
#include "pictures.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    // Nothing is shown: the offscreen platform lets the tool run without a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);

    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: drawpictures OUTPUT_FOLDER\n");
        return 2;
    }
    QString error;
    if (!pictures::writeAll(args[1], &error)) {
        std::fprintf(stderr, "drawpictures: %s\n", qPrintable(error));
        return 1;
    }
    for (const QString& o : pictures::overflows())
        std::fprintf(stderr, "drawpictures: text too big: %s\n", qPrintable(o));
    std::printf("wrote %zu pictures to %s\n", pictures::allPictures().size(), qPrintable(args[1]));
    return pictures::overflows().isEmpty() ? 0 : 1;
}
