// The window that grows: its smallest size is the fixed layout, extra room
// goes to the receive pane and the pages, the status panel stays on the right
// at its width, the edges resize it, the title strip maximises it, and its
// size and place are kept with the settings.

#include "ReceivePane.h"
#include "Openwindow.h"
#include "Pty.h"
#include "IniFormat.h"
#include "SettingsKeys.h"
#include "Unitmain.h"
#include "SendEdit.h"
#include "SendPage.h"
#include "StoredSettings.h"
#include "Windowtest.h"

#include <QFrame>
#include <QLabel>
#include <QSettings>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

class Resize : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Make();
    }
    void Make() {
        Frm = OpenWindow(false);
        ASSERT_TRUE(Frm);
    }
    // Every control of the status panel lies inside the window.
    bool PanelReachable() const {
        const QRect inside = Frm->rect();
        for (QWidget* w : Frm->Panel1->findChildren<QWidget*>()) {
            if (!w->isVisibleTo(Frm.get()))
                continue;
            const QRect r(w->mapTo(Frm.get(), QPoint(0, 0)), w->size());
            if (!inside.contains(r))
                return false;
        }
        return true;
    }
    QWidget* Grip(Qt::CursorShape shape, QPoint near) const {
        for (QWidget* w : Frm->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (w->testAttribute(Qt::WA_SetCursor) && w->cursor().shape() == shape &&
                w->geometry().contains(near))
                return w;
        }
        return nullptr;
    }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
};

TEST_F(Resize, TheSmallestSizeIsTheFixedLayoutAndExtraRoomGoesToThePaneAndPages) {
    EXPECT_EQ(Frm->size(), QSize(630, 442));
    EXPECT_EQ(Frm->ReceEdit->geometry(), QRect(0, 12, 504, 237));
    EXPECT_EQ(Frm->PageSel->geometry(), QRect(0, 261, 504, 140));
    EXPECT_EQ(Frm->Panel1->geometry(), QRect(504, 41, 126, 401));

    Frm->resize(1000, 700);
    EXPECT_EQ(Frm->ReceEdit->geometry(), QRect(0, 12, 874, 495));
    EXPECT_EQ(Frm->PageSel->geometry(), QRect(0, 519, 874, 140));
    EXPECT_EQ(Frm->Panel1->geometry(), QRect(874, 41, 126, 659));
    EXPECT_EQ(Frm->ImgMove->width(), 1000);
    EXPECT_TRUE(PanelReachable());

    Frm->resize(300, 200); // below the smallest: held at it
    EXPECT_EQ(Frm->size(), QSize(630, 442));
    EXPECT_EQ(Frm->ReceEdit->geometry(), QRect(0, 12, 504, 237));
    EXPECT_TRUE(PanelReachable());
}

TEST_F(Resize, EdgesResizeAndTheTitleStripMaximisesAndRestores) {
    // Without a window manager the grip follows the mouse itself.
    QWidget* right = Grip(Qt::SizeHorCursor, QPoint(628, 200));
    ASSERT_NE(right, nullptr);
    QTest::mousePress(right, Qt::LeftButton, {}, QPoint(1, 10));
    QTest::mouseMove(right, QPoint(101, 10));
    QTest::mouseRelease(right, Qt::LeftButton, {}, QPoint(101, 10));
    EXPECT_EQ(Frm->width(), 730);
    QWidget* corner = Grip(Qt::SizeFDiagCursor, QPoint(728, 440));
    ASSERT_NE(corner, nullptr);
    QTest::mousePress(corner, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(corner, QPoint(-500, -500)); // not below the smallest size
    QTest::mouseRelease(corner, Qt::LeftButton, {}, QPoint(-500, -500));
    EXPECT_EQ(Frm->size(), QSize(630, 442));

    QTest::mouseDClick(Frm.get(), Qt::LeftButton, {}, QPoint(400, 20));
    EXPECT_TRUE(WaitUntil([&] { return Frm->isMaximized(); }));
    QTest::mouseDClick(Frm.get(), Qt::LeftButton, {}, QPoint(400, 20));
    EXPECT_TRUE(WaitUntil([&] { return !Frm->isMaximized(); }));
    // A double click below the strip is not one on it.
    QTest::mouseDClick(Frm->Panel1, Qt::LeftButton, {}, QPoint(60, 380));
    EXPECT_FALSE(Frm->isMaximized());
    // Nor later: a double click on the strip after it maximises the window.
    QTest::mouseDClick(Frm.get(), Qt::LeftButton, {}, QPoint(400, 20));
    EXPECT_TRUE(WaitUntil([&] { return Frm->isMaximized(); }));
}

TEST_F(Resize, SizeAndPlaceAreKeptAndABadStoredValueIsIgnored) {
    Frm->setGeometry(40, 50, 800, 600);
    Frm->SaveSettings();
    Frm.reset();
    Make();
    EXPECT_EQ(Frm->size(), QSize(800, 600));
    EXPECT_EQ(Frm->ReceEdit->width(), 800 - 126);
    Frm.reset();

    settings::Open()
        .setValue(settings::WindowGeometry, QByteArray("\x01\xd9\xd0\xcb garbage"));
    Make();
    EXPECT_EQ(Frm->size(), QSize(630, 442));
}

} // namespace

// Ctrl+plus, Ctrl+minus and Ctrl+0 size the font of both panes, the dump's headers with them;
// the keys type nothing, and the size is kept with the settings.
TEST_F(Resize, TheZoomKeysSizeBothPanesFontAndTheSizeIsKept) {
    QWidget* send = Frm->TabSend->SendEdit;
    send->setFocus();
    EXPECT_EQ(Frm->ReceEdit->font().pixelSize(), 12);
    QTest::keyClick(send, Qt::Key_Plus, Qt::ControlModifier);
    QTest::keyClick(send, Qt::Key_Equal, Qt::ControlModifier); // the plus key without Shift
    EXPECT_EQ(Frm->ReceEdit->font().pixelSize(), 14);
    EXPECT_EQ(send->font().pixelSize(), 14);
    EXPECT_EQ(Frm->ReceEdit->y(), 14); // below a header as high as the font
    EXPECT_EQ(Frm->TabSend->SendEdit->toPlainText(), QString());
    Frm->SaveSettings();
    EXPECT_EQ(ReadStoredSettings(settings::Open()).PaneFontSize, 14);

    QTest::keyClick(send, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(Frm->ReceEdit->font().pixelSize(), 12);
    EXPECT_EQ(Frm->ReceEdit->geometry(), QRect(0, 12, 504, 237));
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(send, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_EQ(send->font().pixelSize(), 8); // the smallest
    EXPECT_EQ(Frm->ReceEdit->y(), 12);

    Frm.reset();
    Frm = OpenWindow(false); // started again: the stored size
    ASSERT_TRUE(Frm);
    EXPECT_EQ(Frm->ReceEdit->font().pixelSize(), 14);
}
