// Scroll lock: off (as the window always was), new bytes bring the end into
// view; on, a view the user scrolled up holds while bytes arrive, a mark says
// that new data is below, and back at the end (or a click on the mark) the
// pane follows again. Kept with the settings.

#include "ReceivePane.h"
#include "Openwindow.h"
#include "Pty.h"
#include "IniFormat.h"
#include "SettingsKeys.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QAction>
#include <QMenu>
#include <QScrollBar>
#include <QSettings>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class ScrollLock : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Frm = OpenWindow();
        ASSERT_TRUE(Frm);
        Pane = Frm->ReceEdit;
    }
    // n full dump lines from the far end, and the pane has them.
    void Receive(int lines) {
        const int64_t want = Pane->Store().LineCount() + lines;
        Far.Write(std::vector<uint8_t>(size_t(lines) * 16, 0x41));
        ASSERT_TRUE(WaitUntil([&] { return Pane->Store().LineCount() >= want; }));
        QCoreApplication::processEvents(); // what the last lines set off
    }
    void ToggleLock() {
        std::unique_ptr<QMenu> menu(Pane->CreateContextMenu());
        for (QAction* a : menu->actions())
            if (a->text().contains("滚动锁定"))
                a->trigger();
    }
    void ScrollUp() {
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(Pane, Qt::Key_PageUp);
        ASSERT_FALSE(Pane->ShowsEnd());
    }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TReceivePane* Pane = nullptr;
};

TEST_F(ScrollLock, OffNewBytesBringTheEndIntoViewAsAlways) {
    EXPECT_FALSE(Pane->ScrollLock);
    Receive(200);
    ScrollUp();
    Receive(10);
    EXPECT_TRUE(Pane->ShowsEnd());
    EXPECT_FALSE(Pane->NewDataBelow());
}

TEST_F(ScrollLock, OnTheViewHoldsWithAMarkUntilTheUserIsBackAtTheEnd) {
    ToggleLock();
    ASSERT_TRUE(Pane->ScrollLock);
    Receive(200);
    EXPECT_TRUE(Pane->ShowsEnd()); // at the end, it follows
    ScrollUp();
    const int64_t top = Pane->TopLine();
    Receive(50);
    EXPECT_EQ(Pane->TopLine(), top);
    EXPECT_TRUE(Pane->NewDataBelow());
    QTest::keyClick(Pane, Qt::Key_End, Qt::ControlModifier);
    EXPECT_TRUE(WaitUntil([&] { return !Pane->NewDataBelow(); }));
    Receive(10);
    EXPECT_TRUE(Pane->ShowsEnd());

    ScrollUp();
    Receive(10);
    ASSERT_TRUE(Pane->NewDataBelow());
    Pane->verticalScrollBar()->setValue(Pane->verticalScrollBar()->maximum());
    EXPECT_FALSE(Pane->NewDataBelow());

    Frm->SaveSettings();
    EXPECT_EQ(settings::Open()
                  .value(settings::ScrollLock)
                  .toInt(),
              1);
    Frm.reset();
    Frm = std::make_unique<TFrmMain>();
    EXPECT_TRUE(Frm->ReceEdit->ScrollLock);
}

} // namespace
