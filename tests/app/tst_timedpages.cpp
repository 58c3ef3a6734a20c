// The two timed pages end to end: the real widgets, frames read at the far end
// of a pseudo-terminal, an echoing far end for the error statistics, and the
// protocol page's frames, fields and hints.

#include "Abdbctrls.h"
#include "AutoSendPage.h"
#include "Dialogs.h"
#include "ProtocolPage.h"
#include "Pty.h"
#include "Qtprint.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes Hex(const char* text) {
    Bytes out;
    HexBytes h;
    HexTextToBytes(h, text);
    out.assign(h.Data, h.Data + h.Count);
    return out;
}

class TimedPages : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Frm = std::make_unique<TFrmMain>();
        Frm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frm.get()));
        ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().IsOpen(); }));
        Auto = Part<TAutoSendPage>(Frm, "TabSendAuto");
        Vm = Part<TProtocolPage>(Frm, "TabProtocol");
        dialogs::RecordMessages(true);
    }
    void TearDown() override {
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
        Frm.reset();
    }
    void SetText(QLineEdit* e, const QString& text) {
        e->clear();
        e->insert(text);
    }
    // Everything that arrives within the time, expecting no more than want;
    // the window's timers go on meanwhile.
    Bytes FarEnd(size_t want, int timeoutMs = 1500) {
        Bytes got;
        auto take = [&] {
            Bytes b = Far.Read(want + 1 - got.size(), 1);
            got.insert(got.end(), b.begin(), b.end());
        };
        WaitUntil(
            [&] {
                take();
                return got.size() >= want;
            },
            timeoutMs);
        WaitUntil(
            [&] {
                take();
                return got.size() > want;
            },
            60);
        return got;
    }
    bool AutoIdle() const { return Part<QPushButton>(Auto, "btnStart")->isEnabled() && !Part<QTimer>(Auto, "TimerAuto")->isActive(); }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TAutoSendPage* Auto = nullptr;
    TProtocolPage* Vm = nullptr;
};

TEST_F(TimedPages, AutoSendRepeatsTheHexFrameFromHalfASecondOnAndStopsAtTheNextTick) {
    Part<QRadioButton>(Auto, "RadioHex")->setChecked(true);
    SetText(Part<QLineEdit>(Auto, "EdtHex"), "1 2 3");
    SetText(Part<QLineEdit>(Auto, "edtTime"), "0"); // 100 ms without RTS control
    const auto start = Clock::now();
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_EQ(Part<QLineEdit>(Auto, "EdtHex")->text(), "01 02 03 ");
    for (QWidget* w : {(QWidget*)Part<QPushButton>(Auto, "btnStart"), (QWidget*)Part<QGroupBox>(Auto, "GrpMode"), (QWidget*)Part<TAbDBLED>(Auto, "ChkErr"),
                       (QWidget*)Part<QLineEdit>(Auto, "EdtHex"), (QWidget*)Part<QLineEdit>(Auto, "EdtString")})
        EXPECT_FALSE(w->isEnabled());
    EXPECT_TRUE(Part<QLineEdit>(Auto, "edtTime")->isEnabled());
    EXPECT_TRUE(Part<QPushButton>(Auto, "btnStop")->isEnabled());

    EXPECT_EQ(FarEnd(3, 2000), Hex("01 02 03"));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(450));
    EXPECT_EQ(Part<QTimer>(Auto, "TimerAuto")->interval(), 100);
    EXPECT_EQ(FarEnd(6, 2000), Hex("01 02 03 01 02 03"));
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return AutoIdle(); }));
    const uint32_t frames = Frm->SendCounter();
    EXPECT_GE(frames, 3u);
    EXPECT_EQ(Part<QGroupBox>(Auto, "GrpMode")->title(), QString("发送数据[次数:%1]").arg(frames));
    EXPECT_EQ(Part<QLabel>(Auto, "lblSendByte")->text(), QString("发送数据长度: %1 bytes").arg(3 * frames));
    // Statistics were off: the rate labels are untouched.
    EXPECT_EQ(Part<QLabel>(Auto, "lblBytePer")->text(), "字节误码率:");
    EXPECT_EQ(Part<QLabel>(Auto, "lblRev")->text(), "");
    Bytes rest = FarEnd(3 * (frames - 3) + 3, 300);
    EXPECT_EQ(rest.size(), 3 * (frames - 3));
}

TEST_F(TimedPages, AutoSendPutsThePreambleInFrontAndAnEmptyStringBecomesTheDefault) {
    SetText(Part<QLineEdit>(Frm, "EdtHead"), "55 AA FF");
    QTest::mouseClick(Part<TAbLED>(Frm, "chkHead"), Qt::LeftButton);
    ASSERT_TRUE(Part<TAbLED>(Frm, "chkHead")->Checked());
    SetText(Part<QLineEdit>(Auto, "EdtString"), "");
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_EQ(Part<QLineEdit>(Auto, "EdtString")->text(), "Orvane SoftWare ");
    ASSERT_TRUE(WaitUntil([&] { return Frm->SendCounter() == 1; }));
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    Bytes want = Hex("55 AA FF");
    for (char c : std::string("Orvane SoftWare "))
        want.push_back(uint8_t(c));
    EXPECT_EQ(FarEnd(want.size()), want);
    ASSERT_TRUE(WaitUntil([&] { return AutoIdle(); }));
    // Statistics off and preamble on: no warning.
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
}

TEST_F(TimedPages, AutoSendStoppedBeforeItsFirstTickSendsNothing) {
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    EXPECT_FALSE(Part<QPushButton>(Auto, "btnStart")->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return AutoIdle(); }));
    EXPECT_EQ(FarEnd(0, 200), Bytes{});
    EXPECT_EQ(Frm->SendCounter(), 0u);
}

// The far end echoes every frame with two bits of its sixth byte flipped.
TEST_F(TimedPages, AnEchoWithTwoFlippedBitsGivesTheRatesAfterTheSecondTick) {
    Part<QRadioButton>(Auto, "RadioHex")->setChecked(true);
    SetText(Part<QLineEdit>(Auto, "edtTime"), "1001");
    QTest::mouseClick(Part<TAbDBLED>(Auto, "ChkErr"), Qt::LeftButton);
    ASSERT_TRUE(Part<TAbDBLED>(Auto, "ChkErr")->Checked());
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_EQ(Part<QLineEdit>(Auto, "EdtHex")->text(), "55 AA FF 30 31 32 33 34 35 36 37 38 39 41 42 43 ");
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (Frm->SendCounter() == 2) // the second frame stays unanswered
                return true;
            Bytes got = Far.Read(16, 5);
            if (got.size() > 5)
                got[5] ^= 0x81;
            if (!got.empty())
                Far.Write(got);
            return false;
        },
        5000));
    EXPECT_EQ(Part<QLabel>(Auto, "lblBytePer")->text(), "字节误码率:6.2500%");
    EXPECT_EQ(Part<QLabel>(Auto, "lblBitPer")->text(), "比特误码率:1.5625%");
    EXPECT_EQ(Part<QLabel>(Auto, "lblRev")->text(), "接收数据长度: 16 bytes");
    EXPECT_EQ(Part<QLabel>(Auto, "lblSendByte")->text(), "发送数据长度: 32 bytes");
    EXPECT_EQ(Part<QGroupBox>(Auto, "GrpMode")->title(), "发送数据[次数:2]");
    // The tick that ends the run judges the last frame: nothing came back.
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return AutoIdle(); }, 3000));
    EXPECT_EQ(Part<QLabel>(Auto, "lblBytePer")->text(), "字节误码率:53.1250%"); // (1 + 16) / 32
    EXPECT_TRUE(Part<TAbDBLED>(Auto, "ChkErr")->isEnabled());
}

TEST_F(TimedPages, AutoSendWarnsOfAPreambleThatFramesOtherLengths) {
    QTest::mouseClick(Part<TAbLED>(Frm, "chkHead"), Qt::LeftButton); // receive count 6
    QTest::mouseClick(Part<TAbDBLED>(Auto, "ChkErr"), Qt::LeftButton);
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_EQ(
        dialogs::TakeMessages(),
        QStringList{"您使用了前导码，但接收字节与发送的字节不一致，会导致统计误码率不正确。"});
    EXPECT_TRUE(Part<QTimer>(Auto, "TimerAuto")->isActive()); // it starts all the same
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return AutoIdle(); }));

    // A receive count equal to the frame's 16 bytes: no warning.
    QTest::mouseClick(Part<TAbLED>(Frm, "chkHead"), Qt::LeftButton);
    SetText(Part<QLineEdit>(Frm, "EdtRevNum"), "16");
    QTest::mouseClick(Part<TAbLED>(Frm, "chkHead"), Qt::LeftButton);
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
}

TEST_F(TimedPages, InputThatCannotMakeARunStartsNone) {
    SetText(Part<QLineEdit>(Auto, "edtTime"), "1.5");
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_EQ(dialogs::TakeMessages(), QStringList{"'1.5' is not a valid integer value"});
    EXPECT_TRUE(AutoIdle());
    SetText(Part<QLineEdit>(Auto, "edtTime"), "100");

    SetText(Part<QLineEdit>(Frm, "EdtRevNum"), "six");
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_EQ(dialogs::TakeMessages(), QStringList{"'six' is not a valid integer value"});
    EXPECT_TRUE(AutoIdle());
    SetText(Part<QLineEdit>(Frm, "EdtRevNum"), "6");

    // Longer than a frame holds: refused whole, not cut.
    Part<QLineEdit>(Auto, "EdtString")->setMaxLength(5000);
    SetText(Part<QLineEdit>(Auto, "EdtString"), QString(1025, 'x'));
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_TRUE(AutoIdle());
    EXPECT_TRUE(Part<QLineEdit>(Auto, "EdtString")->toolTip().contains("1024"));
    Part<QRadioButton>(Auto, "RadioHex")->setChecked(true);
    Part<QLineEdit>(Auto, "EdtHex")->setMaxLength(5000);
    SetText(Part<QLineEdit>(Auto, "EdtHex"), QString("AB ").repeated(1025));
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_TRUE(AutoIdle());
    EXPECT_TRUE(Part<QLineEdit>(Auto, "EdtHex")->toolTip().contains("1024"));
    EXPECT_EQ(FarEnd(0, 700), Bytes{});
    // In string mode a sequence longer than a parse holds is not written back cut.
    Part<QRadioButton>(Auto, "RadioString")->setChecked(true);
    SetText(Part<QLineEdit>(Auto, "EdtString"), "x");
    const QString longHex = QString("CD").repeated(2100);
    SetText(Part<QLineEdit>(Auto, "EdtHex"), longHex);
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    EXPECT_EQ(Part<QLineEdit>(Auto, "EdtHex")->text(), longHex);
    ASSERT_TRUE(WaitUntil([&] { return AutoIdle(); }));
    Part<QRadioButton>(Auto, "RadioHex")->setChecked(true);

    // 1024 bytes go out whole.
    SetText(Part<QLineEdit>(Auto, "EdtHex"), QString("AB ").repeated(1024));
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Frm->SendCounter() == 1; }));
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    EXPECT_EQ(FarEnd(1024).size(), 1024u);
    EXPECT_TRUE(Part<QLineEdit>(Auto, "EdtHex")->toolTip().isEmpty());
}

TEST_F(TimedPages, AnIntervalMistypedDuringARunKeepsTheRunAtItsLastInterval) {
    SetText(Part<QLineEdit>(Auto, "edtTime"), "0");
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Frm->SendCounter() == 1; }));
    SetText(Part<QLineEdit>(Auto, "edtTime"), "1x");
    ASSERT_TRUE(WaitUntil([&] { return Frm->SendCounter() >= 3; }));
    EXPECT_TRUE(Part<QTimer>(Auto, "TimerAuto")->isActive());
    EXPECT_EQ(Part<QTimer>(Auto, "TimerAuto")->interval(), 100);
    EXPECT_TRUE(Part<QLineEdit>(Auto, "edtTime")->toolTip().startsWith("'1x' is not a valid integer value"));
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
    SetText(Part<QLineEdit>(Auto, "edtTime"), "1001");
    ASSERT_TRUE(WaitUntil([&] { return Part<QTimer>(Auto, "TimerAuto")->interval() == 1001; }));
    EXPECT_TRUE(Part<QLineEdit>(Auto, "edtTime")->toolTip().isEmpty());
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    Auto->TimerAutoTimer(); // the stop tick, without waiting a second for it
    EXPECT_TRUE(AutoIdle());
}

// ---- the protocol page ----

TEST_F(TimedPages, ProtocolFramesAreTheWorkedExamplesByteForByte) {
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnSend"), Qt::LeftButton);
    EXPECT_EQ(FarEnd(18), Hex("10 10 00 00 00 00 00 00 00 00 00 00 00 00 00 00 C0 1D"));

    QTest::keyClicks(Part<QPlainTextEdit>(Vm, "VMRouter"), "2030");
    QTest::keyClicks(Part<QPlainTextEdit>(Vm, "VMData"), "1 2 3");
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnSend"), Qt::LeftButton);
    EXPECT_EQ(FarEnd(25), Hex("10 20 00 00 00 00 00 00 00 01 02 03 00 00 00 00 F6 78 "
                              "20 30 01 02 03 66 9E"));
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMRouter")->toPlainText(), "20 30 ");
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMData")->toPlainText(), "01 02 03 ");

    Part<QPlainTextEdit>(Vm, "VMRouter")->clear();
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnSend"), Qt::LeftButton);
    EXPECT_EQ(FarEnd(23), Hex("10 10 00 00 00 00 00 00 00 00 00 03 00 00 00 00 C0 59 "
                              "01 02 03 A1 10"));
}

TEST_F(TimedPages, ProtocolFieldsAreWrittenBackNormalisedAndFilterTheirKeys) {
    for (QLineEdit* e : {Part<QLineEdit>(Vm, "EdtSour"), Part<QLineEdit>(Vm, "EdtDes"), Part<QLineEdit>(Vm, "EdtCmd"), Part<QLineEdit>(Vm, "EdtBY")})
        e->clear();
    QTest::keyClicks(Part<QLineEdit>(Vm, "EdtSour"), "g5");
    QTest::keyClicks(Part<QLineEdit>(Vm, "EdtCmd"), "a");
    QTest::keyClicks(Part<QLineEdit>(Vm, "EdtBY"), "1 2 3 4 5,Z");
    EXPECT_EQ(Part<QLineEdit>(Vm, "EdtCmd")->text(), "A");
    EXPECT_EQ(Part<QLineEdit>(Vm, "EdtBY")->text(), "1 2 3 4 5");
    QTest::keyClicks(Part<QPlainTextEdit>(Vm, "VMRouter"), "ab\rx.Q");
    QTest::keyClicks(Part<QPlainTextEdit>(Vm, "VMData"), "f f");
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMRouter")->toPlainText(), "AB");
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMData")->toPlainText(), "F F");
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnSend"), Qt::LeftButton);
    EXPECT_EQ(Part<QLineEdit>(Vm, "EdtSour")->text(), "05");
    EXPECT_EQ(Part<QLineEdit>(Vm, "EdtDes")->text(), "00");
    EXPECT_EQ(Part<QLineEdit>(Vm, "EdtCmd")->text(), "0A");
    EXPECT_EQ(Part<QLineEdit>(Vm, "EdtBY")->text(), "01 02 03 04 05 ");
    const Bytes frame = FarEnd(23);
    ASSERT_EQ(frame.size(), 23u);
    EXPECT_EQ(frame[0], 0x00);
    EXPECT_EQ(frame[1], 0xAB); // the first hop
    EXPECT_EQ(frame[2], 0x05);
    EXPECT_EQ(frame[3], 0x0A);
    EXPECT_EQ(Bytes(frame.begin() + 9, frame.begin() + 16), Hex("01 01 02 01 02 03 04"));
}

TEST_F(TimedPages, ALeftPressInAPacketShowsItsLength) {
    QTest::keyClicks(Part<QPlainTextEdit>(Vm, "VMData"), "1 2 3 4 5");
    QTest::mouseClick(Part<QPlainTextEdit>(Vm, "VMData")->viewport(), Qt::RightButton);
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMData")->toolTip(), "");
    QTest::mouseClick(Part<QPlainTextEdit>(Vm, "VMData")->viewport(), Qt::LeftButton);
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMData")->toolTip(), "长度: 5 [0X05]");
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMData")->toPlainText(), "01 02 03 04 05 ");
    QTest::mouseClick(Part<QPlainTextEdit>(Vm, "VMRouter")->viewport(), Qt::LeftButton);
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMRouter")->toolTip(), "长度: 0 [0X00]");
}

TEST_F(TimedPages, PacketsLongerThanTheFrameStatesAreRefusedWhole) {
    const QString route = QString("11 ").repeated(101);
    Part<QPlainTextEdit>(Vm, "VMRouter")->setPlainText(route);
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnSend"), Qt::LeftButton);
    EXPECT_EQ(FarEnd(0, 200), Bytes{});
    EXPECT_EQ(Part<QPlainTextEdit>(Vm, "VMRouter")->toPlainText(), route);
    EXPECT_TRUE(Part<QPlainTextEdit>(Vm, "VMRouter")->toolTip().contains("100"));

    Part<QPlainTextEdit>(Vm, "VMRouter")->setPlainText(QString("11 ").repeated(100));
    Part<QPlainTextEdit>(Vm, "VMData")->setPlainText(QString("22 ").repeated(256));
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnSend"), Qt::LeftButton);
    EXPECT_EQ(FarEnd(0, 200), Bytes{});
    EXPECT_TRUE(Part<QPlainTextEdit>(Vm, "VMData")->toolTip().contains("255"));
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnVMStart"), Qt::LeftButton);
    EXPECT_TRUE(Part<QPushButton>(Vm, "BtnVMStart")->isEnabled()); // no run either

    Part<QPlainTextEdit>(Vm, "VMData")->setPlainText(QString("22 ").repeated(255));
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnSend"), Qt::LeftButton);
    const Bytes frame = FarEnd(375);
    ASSERT_EQ(frame.size(), 375u);
    EXPECT_EQ(frame[10], 100);
    EXPECT_EQ(frame[11], 255);
    EXPECT_TRUE(Part<QPlainTextEdit>(Vm, "VMData")->toolTip().isEmpty());
}

TEST_F(TimedPages, TimedFramesTakeTwoSecondsAtLeastAndShareTheCountWithAutoSend) {
    SetText(Part<QLineEdit>(Vm, "EdtVMTime"), "-5");
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnVMStart"), Qt::LeftButton);
    EXPECT_FALSE(Part<QPushButton>(Vm, "BtnSend")->isEnabled());
    EXPECT_FALSE(Part<QPushButton>(Vm, "BtnVMStart")->isEnabled());
    ASSERT_TRUE(WaitUntil([&] { return Frm->SendCounter() == 1; }));
    EXPECT_EQ(FarEnd(18).size(), 18u);
    EXPECT_EQ(Part<QTimer>(Vm, "TimerVM")->interval(), 2000); // not weeks
    EXPECT_EQ(Part<QGroupBox>(Vm, "GrpVM")->title(), "定时发送[次数:1]");

    // Auto-send behind it: each tick of either counts, once.
    SetText(Part<QLineEdit>(Auto, "edtTime"), "0");
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStart"), Qt::LeftButton);
    EXPECT_EQ(Frm->SendCounter(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return Frm->SendCounter() >= 4; }));
    Vm->TimerVMTimer();
    const uint32_t count = Frm->SendCounter();
    EXPECT_EQ(Part<QGroupBox>(Vm, "GrpVM")->title(), QString("定时发送[次数:%1]").arg(count));
    QTest::mouseClick(Part<QPushButton>(Vm, "BtnVMStop"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Frm->SendCounter() == count + 1; }));
    EXPECT_EQ(Part<QGroupBox>(Auto, "GrpMode")->title(), QString("发送数据[次数:%1]").arg(count + 1));
    QTest::mouseClick(Part<QPushButton>(Auto, "btnStop"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return AutoIdle(); }));

    EXPECT_TRUE(Part<QPushButton>(Vm, "BtnSend")->isEnabled());
    EXPECT_FALSE(Part<QPushButton>(Vm, "BtnVMStart")->isEnabled());
    Vm->TimerVMTimer(); // the tick that ends the run sends nothing
    EXPECT_TRUE(Part<QPushButton>(Vm, "BtnVMStart")->isEnabled());
    EXPECT_FALSE(Part<QTimer>(Vm, "TimerVM")->isActive());
    EXPECT_EQ(Part<QGroupBox>(Vm, "GrpVM")->title(), QString("定时发送[次数:%1]").arg(count));
}

} // namespace
