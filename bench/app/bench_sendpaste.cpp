// Prints how long the window's thread spends when a line of 1 MiB characters without a break is
// pasted into the send pane (the paste and the paint that follows), and then what one blink of
// the caret costs (a repaint of the caret's spot).
//   build/bench/app/bench_sendpaste [MiB]   (default 1)

#include "SendEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int mib = argc > 1 ? std::max(1, std::atoi(argv[1])) : 1;
    TSendEdit edit;
    edit.resize(600, 200);
    edit.show();
    if (!QTest::qWaitForWindowExposed(&edit))
        return 1;
    edit.setFocus();
    QCoreApplication::processEvents();
    QString line(mib << 20, u'A');
    for (qsizetype i = 0; i < line.size(); i += 7)
        line[i] = QChar(char16_t(u'0' + i % 10));
    QApplication::clipboard()->setText(line);

    QElapsedTimer timer;
    timer.start();
    QTest::keyClick(&edit, Qt::Key_V, Qt::ControlModifier);
    edit.repaint();
    const double pasteMs = double(timer.nsecsElapsed()) / 1e6;

    const QRect caret = edit.cursorRect();
    timer.restart();
    constexpr int Blinks = 20;
    for (int i = 0; i < Blinks; ++i)
        edit.viewport()->repaint(caret);
    const double blinkMs = double(timer.nsecsElapsed()) / 1e6 / Blinks;

    const bool exact = edit.Line(0) == line;
    std::printf("paste of a %d MiB line: %.1f ms on the window's thread; one caret blink: %.2f ms; text %s\n",
                mib, pasteMs, blinkMs, exact ? "exact" : "CHANGED");
    return exact ? 0 : 1;
}
