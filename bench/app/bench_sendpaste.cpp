// Prints how long the window's thread spends when a line of 1 MiB characters without a break is
// pasted into the send pane (the paste and the paint that follows), what one repaint of the
// caret's spot costs, what a key typed in the middle of the line costs with its repaint, and how
// much of the window's thread the pane then takes while the user does nothing for 3 s (the
// caret's blink).
//   build/bench/app/bench_sendpaste [MiB]   (default 1)

#include "SendEdit.h"

#include <QApplication>
#include <QStyleHints>
#include <sys/resource.h>
#include <QClipboard>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTest>
#include <QTextDocument>

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
    edit.activateWindow();
    if (!QTest::qWaitForWindowActive(&edit))
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

    struct TPaints : QObject {
        int Count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            Count += event->type() == QEvent::Paint;
            return false;
        }
    } paints;
    edit.viewport()->installEventFilter(&paints);
    const auto cpuMs = [] {
        rusage use{};
        getrusage(RUSAGE_THREAD, &use);
        return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e3 +
               double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) / 1e3;
    };
    QTest::qWait(1000); // what the paste left to do
    paints.Count = 0;
    const double cpuBefore = cpuMs();
    QTest::qWait(3000);
    const double idleCpu = cpuMs() - cpuBefore;
    const int idlePaints = paints.Count;

    const bool exact = edit.Line(0) == line;

    // Keys typed in the middle of the line, each drawn before the next.
    QTextCursor middle = edit.textCursor();
    middle.setPosition(edit.document()->characterCount() / 2);
    edit.setTextCursor(middle);
    edit.repaint();
    constexpr int Keys = 20;
    timer.restart();
    for (int i = 0; i < Keys; ++i) {
        QTest::keyClick(&edit, Qt::Key_X);
        edit.viewport()->repaint();
    }
    const double keyMs = double(timer.nsecsElapsed()) / 1e6 / Keys;

    std::printf("paste of a %d MiB line: %.1f ms on the window's thread; a repaint of the caret: "
                "%.2f ms; a key typed in the line, with its repaint: %.2f ms; then 3 s idle: "
                "%.1f ms of the window's thread, %d repaints; text %s\n",
                mib, pasteMs, blinkMs, keyMs, idleCpu, idlePaints, exact ? "exact" : "CHANGED");
    return exact ? 0 : 1;
}
