// The port as the user holds it: letting go of it and taking it back, a rate
// typed beyond the list, and data bits, stop bits and flow control from the
// settings page, each seen on the device (a pseudo-terminal, read back with
// termios2) and kept with the settings.

#include "../comm/Termios2.h"
#include "Openwindow.h"
#include "Pty.h"
#include "SettingsPage.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <unistd.h>

namespace {

class PortLine : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Make();
    }
    void Make() {
        Frm = OpenWindow();
        ASSERT_TRUE(Frm);
        Page = Part<TSettingsPage>(Frm, "TabComm");
    }
    // Whether another program could take the device now.
    bool OthersCanTakeIt() const {
        const int fd = ::open(Far.Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        ::close(fd);
        return free;
    }
    TTtyState Device() const {
        TTtyState s;
        ReadTtyState(Far.Master, s);
        return s;
    }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TSettingsPage* Page = nullptr;
};

TEST_F(PortLine, DisconnectReleasesTheDeviceAndConnectTakesItBack) {
    EXPECT_FALSE(OthersCanTakeIt());
    EXPECT_EQ(Part<QToolButton>(Page, "btnConnect")->text(), "断开");
    QTest::mouseClick(Part<QToolButton>(Page, "btnConnect"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Part<QLabel>(Frm, "lblComPort")->text() == "COM1: 已断开"; }));
    EXPECT_EQ(Part<QToolButton>(Page, "btnConnect")->text(), "连接");
    EXPECT_TRUE(OthersCanTakeIt());
    // Apply keeps it released; the tip says how to take it back.
    const uint64_t waits = Frm->Worker().WaitCount();
    QTest::mouseClick(Part<QPushButton>(Page, "btnUpdate"), Qt::LeftButton);
    // Two waits later the worker has had its pass for the request.
    ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().WaitCount() >= waits + 2; }, 10000));
    EXPECT_FALSE(Frm->Worker().IsOpen());
    EXPECT_TRUE(Part<QLabel>(Frm, "lblComPort")->toolTip().contains("连接"));

    QTest::mouseClick(Part<QToolButton>(Page, "btnConnect"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().IsOpen(); }));
    // The strip keeps its caption; its tip names the device once the open is shown.
    ASSERT_TRUE(WaitUntil([&] {
        return Part<QLabel>(Frm, "lblComPort")->toolTip().contains(QString::fromStdString(Far.Path));
    }));
    EXPECT_EQ(Part<QLabel>(Frm, "lblComPort")->text(), "端口状态");
    EXPECT_FALSE(OthersCanTakeIt());
}

TEST_F(PortLine, ATypedRateAndTheLineDialogReachTheDeviceAndAreKept) {
    QLineEdit* rate = Part<QComboBox>(Page, "CboBps")->lineEdit();
    ASSERT_NE(rate, nullptr);
    rate->selectAll();
    QTest::keyClicks(rate, "250000x"); // the letter is not taken
    EXPECT_EQ(Part<QComboBox>(Page, "CboBps")->currentText(), "250000");
    QTest::mouseClick(Part<QPushButton>(Page, "btnUpdate"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Device().OutSpeed == 250000u; }));

    // 7 data bits, 2 stop bits, RTS/CTS, chosen in the dialog.
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->findChild<QComboBox*>("bits")->setCurrentIndex(2);
        dialog->findChild<QComboBox*>("stops")->setCurrentIndex(2);
        dialog->findChild<QComboBox*>("flow")->setCurrentIndex(1);
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                          Qt::LeftButton);
    });
    QTest::mouseClick(Part<QToolButton>(Page, "btnLine"), Qt::LeftButton);
    EXPECT_TRUE(Device().TwoStopBits);
    EXPECT_TRUE(Device().HardwareFlow);
    EXPECT_TRUE(Part<QLabel>(Frm, "lblComSta")->text().endsWith("数 据 位: 7\n\n停 止 位: 2\n\n流控: RTS/CTS"))
        << Part<QLabel>(Frm, "lblComSta")->text().toStdString();

    Frm->SaveSettings();
    Frm.reset();
    Make();
    EXPECT_EQ(Part<QComboBox>(Page, "CboBps")->currentText(), "250000");
    const TLineSettings line = Frm->Worker().GetLineSettings();
    EXPECT_EQ(line.BaudRate, 250000u);
    EXPECT_EQ(line.ByteSize, 7);
    EXPECT_EQ(line.StopBits, 2);
    EXPECT_EQ(line.Flow, 1);
    EXPECT_TRUE(Device().TwoStopBits);

    // A rate of the list again: the typed one is forgotten.
    Part<QComboBox>(Page, "CboBps")->setCurrentIndex(12);
    QTest::mouseClick(Part<QPushButton>(Page, "btnUpdate"), Qt::LeftButton);
    Frm->SaveSettings();
    Frm.reset();
    Make();
    EXPECT_EQ(Part<QComboBox>(Page, "CboBps")->currentText(), "115200");
}

} // namespace
