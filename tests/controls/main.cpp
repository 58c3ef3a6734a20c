#include "Handover.h"
#include "_abproc.h"

#include <QApplication>
#include <gtest/gtest.h>

bool FlashTimerRanBeforeMain = false;

// Widget tests need one application object for the whole run.
int main(int argc, char** argv) {
    FlashTimerRanBeforeMain = AbFlashTimerRunning();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    InstallHandoverFilter(&app);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
