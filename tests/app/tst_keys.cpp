// The window's keys, tab rules and settings, through QTest input on the real
// window: the function keys and their conditions, Alt+1..Alt+4, what leaving
// a tab by mouse stops, settings loaded and saved, and the input faults that
// lost or corrupted what the user typed.

#include "Abled.h"
#include "AutoSendPage.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "ProtocolPage.h"
#include "Pty.h"
#include "Qtprint.h"
#include "SendEdit.h"
#include "SendPage.h"
#include "IniFormat.h"
#include "SettingsKeys.h"
#include "SettingsPage.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

QSettings Stored() {
    return settings::Open();
}

class Keys : public ::testing::Test {
protected:
    void Start() {
        Frm = std::make_unique<TFrmMain>();
        Frm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frm.get()));
        Edit = Frm->TabSend->SendEdit;
        Edit->setFocus();
        dialogs::RecordMessages(true);
    }
    void StartOnPty() {
        StoreSettings(Far.Path);
        Start();
        ASSERT_TRUE(WaitUntil([&] { return !Frm->PortLabelRed(); }));
    }
    void TearDown() override {
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
        Frm.reset();
    }
    void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : Edit,
                        Qt::Key(key), mods);
    }
    void ClickTab(int index) {
        QTabBar* bar = Frm->PageSel->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }
    QComboBox* Port() { return Frm->TabComm->CboPort; }
    QComboBox* Rate() { return Frm->TabComm->CboBps; }
    QComboBox* Parity() { return Frm->TabComm->CboParity; }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TSendEdit* Edit = nullptr;
};

TEST_F(Keys, F2CyclesThePortAndF3ToF6ActOnlyWhileThePortIsOpen) {
    StartOnPty();
    // COM2 to COM6 lead nowhere: the label turns red.
    Key(Qt::Key_F2);
    EXPECT_EQ(Port()->currentText(), "COM2");
    ASSERT_TRUE(WaitUntil([&] { return Frm->PortLabelRed(); }));
    const int rate = Rate()->currentIndex(), parity = Parity()->currentIndex();
    for (int key : {Qt::Key_F3, Qt::Key_F4, Qt::Key_F5, Qt::Key_F6})
        Key(key);
    EXPECT_EQ(Rate()->currentIndex(), rate);
    EXPECT_EQ(Parity()->currentIndex(), parity);
    EXPECT_FALSE(Frm->chkRTS->Checked());
    EXPECT_FALSE(Frm->chkDTR->Checked());
    for (int i = 0; i < 4; ++i)
        Key(Qt::Key_F2);
    EXPECT_EQ(Port()->currentText(), "COM6");
    Key(Qt::Key_F2); // after COM6 back to COM1, which reopens
    EXPECT_EQ(Port()->currentText(), "COM1");
    ASSERT_TRUE(WaitUntil([&] { return !Frm->PortLabelRed(); }));

    Key(Qt::Key_F5);
    Key(Qt::Key_F6);
    EXPECT_TRUE(Frm->chkRTS->Checked());
    EXPECT_TRUE(Frm->chkDTR->Checked());
    EXPECT_TRUE(Frm->Worker().GetRts());
}

TEST_F(Keys, F3CyclesTheFirstEightRatesAndF4TheParities) {
    StartOnPty();
    // Each key applies the settings, which reopens the port: the next key
    // waits for it, as F3 and F4 do nothing while the port is shut.
    auto press = [&](int key) {
        ASSERT_TRUE(WaitUntil([&] { return !Frm->PortLabelRed(); }));
        Key(key);
    };
    Rate()->setCurrentIndex(6); // 9600
    press(Qt::Key_F3);
    EXPECT_EQ(Rate()->currentText(), "14400");
    EXPECT_TRUE(Frm->lblComSta->text().contains("14400"));
    press(Qt::Key_F3);
    EXPECT_EQ(Rate()->currentText(), "110");
    Rate()->setCurrentIndex(12);
    press(Qt::Key_F3);
    EXPECT_EQ(Rate()->currentText(), "110");

    Parity()->setCurrentIndex(3);
    press(Qt::Key_F4);
    EXPECT_EQ(Parity()->currentText(), "Space");
    press(Qt::Key_F4);
    EXPECT_EQ(Parity()->currentText(), "None");
}

TEST_F(Keys, F7AndF8ActEvenWhileModemModeHoldsTheirToggles) {
    StartOnPty();
    Key(Qt::Key_F7);
    EXPECT_TRUE(Frm->ChkControlRTS->Checked());
    EXPECT_TRUE(Frm->Worker().ControlRTS);
    Key(Qt::Key_F7);
    EXPECT_FALSE(Frm->ChkControlRTS->Checked());

    Frm->TabSend->SetSendMode(2);
    ASSERT_FALSE(Frm->chkHead->isEnabled());
    Key(Qt::Key_F8);
    EXPECT_TRUE(Frm->chkHead->Checked());
    Key(Qt::Key_F7);
    EXPECT_TRUE(Frm->ChkControlRTS->Checked());
}

TEST_F(Keys, F9ClearsTheReceivePaneOnlyAndF10PausesIt) {
    StartOnPty();
    Far.Write({0x41, 0x42});
    ASSERT_TRUE(WaitUntil([&] { return Frm->ReceEdit->Store().LineCount() == 1; }));
    QTest::keyClicks(Edit, "AB");
    Key(Qt::Key_F9);
    EXPECT_EQ(Frm->ReceEdit->Store().LineCount(), 0);
    EXPECT_EQ(Edit->LineCount(), 1);

    Key(Qt::Key_F10);
    EXPECT_TRUE(Frm->ToolPause->isChecked());
    EXPECT_TRUE(Frm->lblHead->text().endsWith("PAUSE"));
    Far.Write({0x43});
    ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().BytesRead() >= 3; })); // handed over
    Frm->FlushReceived();
    EXPECT_EQ(Frm->ReceEdit->Store().LineCount(), 0);
    Key(Qt::Key_F10);
    EXPECT_FALSE(Frm->ToolPause->isChecked());
}

TEST_F(Keys, ShiftF10PreparesTheChecksumItemsAndTheSendPaneStillOpensItsMenu) {
    StartOnPty();
    Frm->TabSend->SetSendMode(3);
    QTest::keyClicks(Edit, "41 42 43");
    Edit->selectAll();
    Key(Qt::Key_F10, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_TRUE(Frm->TabSend->mnuAdd->isVisible());
    EXPECT_EQ(Frm->TabSend->SelSum, 0xC6);
    EXPECT_FALSE(Frm->ToolPause->isChecked());
    Frm->TabSend->PopStrMenu->close();
    Key(Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_TRUE(WaitUntil([&] { return Frm->TabSend->PopStrMenu->isVisible(); }));
    Frm->TabSend->PopStrMenu->close();
}

TEST_F(Keys, F12StepsTheSendModes) {
    StartOnPty();
    for (int want : {1, 2, 3, 0}) {
        Key(Qt::Key_F12);
        EXPECT_EQ(Frm->TabSend->SendMode, want);
        EXPECT_EQ(Frm->TabSend->AppliedSendMode, want);
    }
    EXPECT_TRUE(Frm->TabSend->mnuChar->isChecked());
    EXPECT_TRUE(Frm->chkHead->isEnabled()); // Modem mode gave its toggles back
}

TEST_F(Keys, AltDigitsChooseAPageWithoutItsRulesAndAMouseClickRunsThem) {
    StartOnPty();
    ClickTab(1);
    EXPECT_FALSE(Frm->TabComm->GrpCom->isEnabled());
    Key(Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(Frm->PageSel->currentIndex(), 2);
    EXPECT_FALSE(Frm->TabComm->GrpCom->isEnabled());
    ClickTab(0);
    ClickTab(2);
    EXPECT_TRUE(Frm->TabComm->GrpCom->isEnabled());
    Key(Qt::Key_4, Qt::AltModifier);
    EXPECT_EQ(Frm->PageSel->currentIndex(), 3);
    EXPECT_TRUE(Frm->TabComm->GrpCom->isEnabled());
    Key(Qt::Key_2, Qt::AltModifier);
    EXPECT_EQ(Frm->PageSel->currentIndex(), 1);
    Key(Qt::Key_1, Qt::AltModifier | Qt::KeypadModifier); // the keypad's digit: nothing
    EXPECT_EQ(Frm->PageSel->currentIndex(), 1);
    Key(Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(Frm->PageSel->currentIndex(), 0);
    Key(Qt::Key_2);
    EXPECT_EQ(Frm->PageSel->currentIndex(), 0);
}

TEST_F(Keys, LeavingATimedTabByMouseStopsItsRunAndByAltDigitDoesNot) {
    StartOnPty();
    TAutoSendPage* autoPage = Frm->TabSendAuto;
    TProtocolPage* vm = Frm->TabProtocol;
    ClickTab(1);
    QTest::mouseClick(autoPage->btnStart, Qt::LeftButton);
    ClickTab(3);
    QTest::mouseClick(vm->BtnVMStart, Qt::LeftButton);
    EXPECT_FALSE(autoPage->AutoRunning); // left by mouse
    EXPECT_FALSE(vm->BtnSend->isEnabled());
    Key(Qt::Key_1, Qt::AltModifier);
    EXPECT_FALSE(vm->BtnSend->isEnabled()); // goes on behind the send page
    Key(Qt::Key_4, Qt::AltModifier);
    ClickTab(2);
    EXPECT_TRUE(vm->BtnSend->isEnabled());

    Key(Qt::Key_2, Qt::AltModifier);
    ASSERT_TRUE(WaitUntil([&] { return autoPage->btnStart->isEnabled(); }));
    QTest::mouseClick(autoPage->btnStart, Qt::LeftButton);
    Key(Qt::Key_3, Qt::AltModifier);
    EXPECT_TRUE(autoPage->AutoRunning);
    ClickTab(0);
    EXPECT_FALSE(autoPage->AutoRunning);
}

// ---- settings ----

TEST_F(Keys, FirstStartWithoutSettings) {
    Stored().clear();
    Start();
    EXPECT_EQ(Port()->currentText(), "COM1");
    EXPECT_EQ(Rate()->currentText(), "4800");
    EXPECT_EQ(Parity()->currentText(), "None");
    EXPECT_FALSE(Frm->ChkControlRTS->Checked());
    EXPECT_FALSE(Frm->Worker().ControlRTS);
    EXPECT_FALSE(Frm->chkHead->Checked());
    EXPECT_EQ(Frm->EdtRevNum->text(), "6");
    EXPECT_EQ(Frm->EdtHead->text(), "55 AA FF");
    EXPECT_FALSE(Frm->chkRTS->Checked());
    EXPECT_FALSE(Frm->chkDTR->Checked());
    EXPECT_EQ(Frm->TabSend->SendMode, 0);
}

TEST_F(Keys, StoredTogglesComeBackThroughTheirClickHandlers) {
    StoreSettings(Far.Path);
    {
        QSettings s = Stored();
        s.setValue(settings::ControlRTS, 1);
        s.setValue(settings::AllowHead, 1);
        s.setValue(settings::HeadBuff, "55 AA FF");
    }
    Start();
    EXPECT_TRUE(Frm->ChkControlRTS->Checked());
    EXPECT_TRUE(Frm->Worker().ControlRTS);
    EXPECT_TRUE(Frm->chkHead->Checked());
    EXPECT_FALSE(Frm->EdtHead->isEnabled());
    EXPECT_FALSE(Frm->EdtRevNum->isEnabled());
    Frm.reset();

    Stored().setValue(settings::HeadBuff, "");
    Start();
    EXPECT_FALSE(Frm->chkHead->Checked()); // nothing to put in front
}

TEST_F(Keys, ClosingInModemModeSavesTheModeAndItsForcedToggles) {
    StartOnPty();
    Frm->TabSend->SetSendMode(2);
    Frm->close();
    QSettings s = Stored();
    EXPECT_EQ(s.value(settings::SendMode).toInt(), 2);
    EXPECT_EQ(s.value(settings::RTSEnabled).toInt(), 1);
    EXPECT_EQ(s.value(settings::DTREnabled).toInt(), 1);
    EXPECT_EQ(s.value(settings::ControlRTS).toInt(), 0);
    EXPECT_EQ(s.value(settings::AllowHead).toInt(), 0);
}

TEST_F(Keys, AnIndexOutOfItsListFallsBackAndIsNeverSavedAsMinusOne) {
    StoreSettings(Far.Path, 12); // 115200
    {
        QSettings s = Stored();
        s.setValue(settings::ComPort, 99);
        s.setValue(settings::Parity, -1);
        s.setValue(settings::ReceNum, 3000000000u);
    }
    Start();
    EXPECT_EQ(Port()->currentText(), "COM1");
    EXPECT_EQ(Parity()->currentText(), "None");
    EXPECT_EQ(Rate()->currentText(), "115200"); // the reads went on
    EXPECT_EQ(Frm->EdtRevNum->text(), "3000000000");
    Frm->close();
    EXPECT_FALSE(Frm->isVisible());
    QSettings s = Stored();
    EXPECT_EQ(s.value(settings::ComPort).toInt(), 0);
    EXPECT_EQ(s.value(settings::Parity).toInt(), 0);
    EXPECT_EQ(s.value(settings::ReceNum).toLongLong(), 3000000000LL);
    Frm.reset();
    Start();
    EXPECT_EQ(Rate()->currentText(), "115200");
}

// ---- what the user typed is kept ----

TEST_F(Keys, APreambleTypedWithoutBlanksIsShownSentAndSavedWhole) {
    StartOnPty();
    Frm->EdtHead->clear();
    QTest::keyClicks(Frm->EdtHead, "0102030405060708090A");
    EXPECT_EQ(Frm->EdtHead->text(), "010203040506070809"); // 18 characters by typing
    QTest::mouseClick(Frm->chkHead, Qt::LeftButton);
    ASSERT_TRUE(Frm->chkHead->Checked());
    EXPECT_EQ(Frm->EdtHead->text(), "01 02 03 04 05 06 07 08 09 ");
    Frm->TabSend->SetSendMode(1);
    QTest::keyClicks(Edit, "A");
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Far.Read(10), Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 'A'}));
    Frm->close();
    EXPECT_EQ(Stored().value(settings::HeadBuff).toString(), "01 02 03 04 05 06 07 08 09 ");
    Frm.reset();
    Start();
    EXPECT_TRUE(Frm->chkHead->Checked());
    EXPECT_EQ(Frm->EdtHead->text(), "01 02 03 04 05 06 07 08 09 ");
}

TEST_F(Keys, AltCombinationsNeverTypeIntoTheSendPane) {
    StartOnPty();
    Frm->TabSend->SetSendMode(3);
    QTest::keyClicks(Edit, "55");
    Key(Qt::Key_G, Qt::AltModifier);
    Key(Qt::Key_A, Qt::AltModifier);
    QTest::keyClicks(Edit, "66");
    EXPECT_EQ(Edit->Line(0), "5566");
    Frm->TabSend->SetSendMode(1);
    QTest::keyClicks(Edit, "x");
    Key(Qt::Key_1, Qt::AltModifier);
    EXPECT_EQ(Edit->Line(0), "x");
    EXPECT_EQ(Frm->PageSel->currentIndex(), 0);
    QTest::keyClick(Frm->EdtHead, Qt::Key_B, Qt::AltModifier);
    EXPECT_EQ(Frm->EdtHead->text(), "55 AA FF");
}

TEST_F(Keys, ARefusedExitLeavesTheWindowReceiving) {
    StartOnPty();
    Frm->EdtRevNum->setText("6x");
    QTest::mouseClick(Frm->ToolExit, Qt::LeftButton);
    EXPECT_EQ(dialogs::TakeMessages(), QStringList{"'6x' is not a valid integer value"});
    EXPECT_TRUE(Frm->isVisible());
    Far.Write({0x5A});
    EXPECT_TRUE(WaitUntil([&] { return Frm->ReceEdit->Store().LineCount() == 1; }));
    Frm->EdtRevNum->setText("6");
    QTest::mouseClick(Frm->ToolExit, Qt::LeftButton);
    EXPECT_FALSE(Frm->isVisible());
}

TEST_F(Keys, InputThatDidNotGoOutIsNotEchoedAsSent) {
    StoreSettings("/nonexistent/kestrel-port");
    Start();
    QTest::keyClicks(Edit, "A");
    EXPECT_EQ(Edit->LineCount(), 0);
    EXPECT_TRUE(QToolTip::text().contains("未发送"));
    Frm->TabSend->SetSendMode(1);
    QTest::keyClicks(Edit, "ATZ");
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Edit->Lines(), QStringList{"ATZ"}); // no line after it: not sent
    Frm->TabSend->SetSendMode(3);
    QTest::keyClicks(Edit, "55");
    QTest::keyClick(Edit, Qt::Key_Return);
    EXPECT_EQ(Edit->Lines(), QStringList{"55"}); // no "> 55" echo
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
}

TEST_F(Keys, ThePreambleFieldLooksDisabledAndTheApplyButtonSitsWhereItBelongs) {
    StartOnPty();
    QTest::mouseClick(Frm->chkHead, Qt::LeftButton);
    ASSERT_FALSE(Frm->EdtHead->isEnabled());
    auto base = [](QWidget* w) { return w->palette().color(QPalette::Disabled, QPalette::Base); };
    auto text = [](QWidget* w) { return w->palette().color(QPalette::Disabled, QPalette::Text); };
    EXPECT_EQ(base(Frm->EdtHead), base(Frm->EdtRevNum));
    EXPECT_EQ(text(Frm->EdtHead), text(Frm->EdtRevNum));
    EXPECT_EQ(Frm->EdtHead->palette().color(QPalette::Active, QPalette::Text), QColor(128, 0, 0));

    Key(Qt::Key_3, Qt::AltModifier);
    EXPECT_EQ(Frm->TabComm->btnUpdate->mapTo(Frm->TabComm, QPoint(0, 0)), QPoint(178, 30));
    EXPECT_EQ(Frm->TabComm->btnUpdate->size(), QSize(85, 33));
}

} // namespace
