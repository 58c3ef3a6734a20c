// The window end to end: start-up, the status panel's read-outs, the receive
// pane fed through a pseudo-terminal and the loopback plug, history files.

#include "Abled.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "Pty.h"
#include "Rtf.h"
#include "SendPage.h"
#include "IniFormat.h"
#include "SettingsKeys.h"
#include "SettingsPage.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

QColor Background(QWidget* w) {
    return w->palette().color(QPalette::Window);
}

std::string PaneLine(TFrmMain& w, int64_t k) {
    return Part<TReceivePane>(w, "ReceEdit")->Store().Line(k);
}

class Window : public ::testing::Test {
protected:
    void Open(const std::string& com1) {
        StoreSettings(com1);
        W = std::make_unique<TFrmMain>();
        W->show();
    }
    bool WaitOpen() {
        return WaitUntil([&] { return Background(Part<QLabel>(W, "lblComPort")) == TFrmMain::LineOff; });
    }
    // A save or open runs on a thread of its own: until it has ended.
    bool WaitHistory() {
        return WaitUntil([&] { return W->RunningJob() == nullptr; }, 20000);
    }
    void TearDown() override {
        W.reset();
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
    }
    std::unique_ptr<TFrmMain> W;
};

TEST_F(Window, StartsWithItsHeaderPortTextAndAGreenPortOnTheLoopbackPlug) {
    Open(LoopbackTarget);
    const std::string header =
        "   Offset    00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F        ASCII";
    EXPECT_EQ(Part<QLabel>(W, "lblHead")->text().toStdString(), header);
    EXPECT_EQ(Part<QLabel>(W, "lblEnd")->text().toStdString(), header);
    EXPECT_EQ(W->width(), 630);
    EXPECT_EQ(Part<TReceivePane>(W, "ReceEdit")->Store().LineCount(), 0);
    ASSERT_TRUE(WaitOpen());
    EXPECT_EQ(Part<QLabel>(W, "lblComSta")->text(),
              "通讯端口: COM1\n\n通讯速率: 9600\n\n数据校验: None\n\n数 据 位: 8\n\n停 止 位: 1");
    EXPECT_EQ(Part<QLabel>(W, "lblComPort")->text(), "端口状态");
}

// Tests and tools find the window's parts by name: a name given twice would
// let findChild answer the wrong part.
TEST_F(Window, EachNamedPartHasANameOfItsOwn) {
    Open(LoopbackTarget);
    QStringList names;
    for (const QObject* part : W->findChildren<QObject*>()) {
        const QString name = part->objectName();
        if (!name.isEmpty() && !name.startsWith("qt_"))
            names << name;
    }
    EXPECT_GE(names.size(), 100);
    QStringList twice;
    for (const QString& name : names)
        if (names.count(name) > 1 && !twice.contains(name))
            twice << name;
    EXPECT_TRUE(twice.isEmpty()) << twice.join(' ').toStdString();
}

TEST_F(Window, APortThatCannotOpenIsRedWithItsReasonShownOnce) {
    Open("/nonexistent/kestrel-port");
    ASSERT_TRUE(WaitUntil([&] { return Part<QLabel>(W, "lblComPort")->text().contains("COM1"); }));
    EXPECT_EQ(Background(Part<QLabel>(W, "lblComPort")), TFrmMain::PortShut);
    // Readable in the strip; the system's words and what to do in the tip.
    EXPECT_EQ(Part<QLabel>(W, "lblComPort")->text(), "COM1: 设备不存在");
    EXPECT_TRUE(Part<QLabel>(W, "lblComPort")->toolTip().contains("/nonexistent/kestrel-port"));
    EXPECT_TRUE(Part<QLabel>(W, "lblComPort")->toolTip().contains("No such file"));
    EXPECT_TRUE(Part<QLabel>(W, "lblComPort")->toolTip().contains("端口映射"));
    for (QLabel* l : {Part<QLabel>(W, "lblCTS"), Part<QLabel>(W, "lblDSR"), Part<QLabel>(W, "lblRLSD"), Part<QLabel>(W, "lblRI")})
        EXPECT_EQ(Background(l), TFrmMain::LineOff);

    TOpenError denied{ceOpen, EACCES, 1, "/dev/ttyUSB0"};
    TPortErrorText t = PortErrorText(denied);
    EXPECT_TRUE(t.Short.contains("dialout"));
    EXPECT_TRUE(t.Long.contains("dialout"));
    EXPECT_TRUE(t.Long.contains("/dev/ttyUSB0"));
}

TEST_F(Window, BytesFromAPseudoTerminalAppearInThePaneAndApplyReopens) {
    TPty pty;
    Open(pty.Path);
    ASSERT_TRUE(WaitOpen());
    pty.Write({0x48, 0x65, 0x6C, 0x6C, 0x6F, 0x0D, 0x0A});
    ASSERT_TRUE(WaitUntil([&] {
        return Part<TReceivePane>(W, "ReceEdit")->Store().LineCount() == 1 &&
               PaneLine(*W, 0).find("0A") != std::string::npos;
    }));
    EXPECT_EQ(PaneLine(*W, 0), "  00000000:  48 65 6C 6C 6F 0D 0A " + std::string(27, ' ') +
                                   "  Hello.." + std::string(9, ' '));
    std::vector<uint8_t> more(16);
    for (size_t i = 0; i < more.size(); ++i)
        more[i] = static_cast<uint8_t>(i == 0 ? 0x00 : 0xF0 + i);
    pty.Write(more);
    ASSERT_TRUE(WaitUntil([&] { return Part<TReceivePane>(W, "ReceEdit")->Store().LineCount() == 2; }));
    EXPECT_EQ(PaneLine(*W, 1).substr(0, 16), "  00000010:  F9 ");

    // Apply: a new rate reaches the text and the port reopens on it.
    Part<QComboBox>(W, "CboBps")->setCurrentText("115200");
    QTest::mouseClick(Part<QPushButton>(W, "btnUpdate"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return Part<QLabel>(W, "lblComSta")->text().contains("115200"); }));
    pty.Write({0x7E});
    ASSERT_TRUE(WaitUntil([&] { return PaneLine(*W, 1).find("7E") != std::string::npos; }));
}

TEST_F(Window, ModemLampsFollowTheLoopbackPlugsLines) {
    Open(LoopbackTarget);
    ASSERT_TRUE(WaitOpen());
    QTest::mouseClick(Part<TAbLED>(W, "chkRTS"), Qt::LeftButton);
    EXPECT_TRUE(Part<TAbLED>(W, "chkRTS")->Checked());
    ASSERT_TRUE(WaitUntil([&] { return Background(Part<QLabel>(W, "lblCTS")) == TFrmMain::LineOn; }));
    EXPECT_EQ(Background(Part<QLabel>(W, "lblDSR")), TFrmMain::LineOff);
    W->chkDTRClick();
    ASSERT_TRUE(WaitUntil([&] { return Background(Part<QLabel>(W, "lblDSR")) == TFrmMain::LineOn; }));
    EXPECT_EQ(Background(Part<QLabel>(W, "lblRLSD")), TFrmMain::LineOn);
    EXPECT_EQ(Background(Part<QLabel>(W, "lblRI")), TFrmMain::LineOff);
    W->chkRTSClick();
    ASSERT_TRUE(WaitUntil([&] { return Background(Part<QLabel>(W, "lblCTS")) == TFrmMain::LineOff; }));
}

TEST_F(Window, APaneFarBehindAFloodTakesOneSliceATurnOfTheEventLoop) {
    // However much waits, the loop turns between two slices of feeding the pane: the keys,
    // paints and timers that wait never wait for two, even while the worker keeps waking it.
    TPty pty;
    Open(pty.Path);
    ASSERT_TRUE(WaitOpen());
    constexpr size_t Total = size_t(16) << 20;
    std::vector<uint8_t> bytes(Total);
    for (size_t i = 0; i < Total; ++i)
        bytes[i] = uint8_t(i * 2654435761u >> 13);
    std::thread far([&] { pty.Write(bytes); });
    // Half the flood waits in the queue before the loop turns again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (W->Worker().BytesRead() < Total / 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    int passes = 0, most = 0, turns = 0;
    QObject::connect(W.get(), &TFrmMain::ReceivedFlushed, W.get(), [&] { ++passes; });
    QTimer turn; // fires once each turn of the loop
    turn.setInterval(0);
    QObject::connect(&turn, &QTimer::timeout, [&] {
        most = std::max(most, passes);
        passes = 0;
        ++turns;
    });
    turn.start();
    const TReceiveStore& store = Part<TReceivePane>(W, "ReceEdit")->Store();
    const bool all = WaitUntil([&] { return store.LineCount() == int64_t(Total / 16); }, 60000);
    far.join();
    ASSERT_TRUE(all) << store.LineCount();
    EXPECT_GT(turns, 2);
    EXPECT_LE(most, 1);
}

TEST_F(Window, PauseDropsBytesAndClearRestartsTheOffsets) {
    Open(LoopbackTarget);
    ASSERT_TRUE(WaitOpen());
    const uint8_t a[] = {0x41, 0x42};
    W->Worker().Send(a, 2);
    ASSERT_TRUE(WaitUntil([&] { return Part<TReceivePane>(W, "ReceEdit")->Store().LineCount() == 1; }));

    QTest::mouseClick(Part<QToolButton>(W, "ToolPause"), Qt::LeftButton);
    EXPECT_TRUE(Part<QLabel>(W, "lblHead")->text().endsWith("     PAUSE"));
    const uint8_t lost[] = {0x00, 0xFF};
    W->Worker().Send(lost, 2);
    // Read and handed to the paused window.
    ASSERT_TRUE(WaitUntil([&] { return W->Worker().BytesRead() >= 4; }));
    QTest::mouseClick(Part<QToolButton>(W, "ToolPause"), Qt::LeftButton);
    EXPECT_EQ(Part<QLabel>(W, "lblHead")->text(), Part<QLabel>(W, "lblEnd")->text());
    const uint8_t c[] = {0x43};
    W->Worker().Send(c, 1);
    ASSERT_TRUE(WaitUntil([&] { return PaneLine(*W, 0).find("43") != std::string::npos; }));
    EXPECT_EQ(PaneLine(*W, 0).substr(13, 9), "41 42 43 "); // the paused bytes never show

    QTest::mouseClick(Part<QToolButton>(W, "ToolClear"), Qt::LeftButton);
    EXPECT_EQ(Part<TReceivePane>(W, "ReceEdit")->Store().LineCount(), 0);
    W->Worker().Send(a, 1);
    ASSERT_TRUE(WaitUntil([&] { return Part<TReceivePane>(W, "ReceEdit")->Store().LineCount() == 1; }));
    EXPECT_EQ(PaneLine(*W, 0).substr(0, 16), "  00000000:  41 ");
}

TEST_F(Window, HistoryFilesSaveOpenAndTheNextBytesStartBelowTheOpenedLines) {
    QTemporaryDir dir;
    Open(LoopbackTarget);
    ASSERT_TRUE(WaitOpen());
    dialogs::RecordMessages(true);
    std::vector<uint8_t> bytes(20);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 13);
    W->Worker().Send(bytes.data(), 20);
    ASSERT_TRUE(WaitUntil([&] { return Part<TReceivePane>(W, "ReceEdit")->Store().LineCount() == 2; }));
    const std::string line0 = PaneLine(*W, 0), line1 = PaneLine(*W, 1);

    const QString name = dir.filePath("session"); // saved as session.kst
    dialogs::SetNextFileNames({name});
    W->ToolSaveClick();
    ASSERT_TRUE(WaitHistory());
    ASSERT_TRUE(QFile::exists(name + ".kst"));
    QFile f(name + ".kst");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("{\\rtf1"));

    // Opened over a half-filled line: neither that line nor the file's last
    // line takes the bytes that follow.
    dialogs::SetNextFileNames({name + ".kst"});
    W->ToolOpenClick();
    ASSERT_TRUE(WaitHistory());
    ASSERT_EQ(Part<TReceivePane>(W, "ReceEdit")->Store().LineCount(), 2);
    EXPECT_EQ(PaneLine(*W, 0), line0);
    EXPECT_EQ(PaneLine(*W, 1), line1);

    const std::vector<uint8_t> next = {0x00, 0xFF, 'H',  'e',  'l', 'l', 'o', 0x0D, 0x0A,
                                       0x20, 0x7E, 0x7F, 0x80, 'A', 'B', 'C', 'D',  0xFF};
    W->Worker().Send(next.data(), static_cast<uint32_t>(next.size()));
    ASSERT_TRUE(WaitUntil([&] {
        return Part<TReceivePane>(W, "ReceEdit")->Store().LineCount() == 4 && Part<TReceivePane>(W, "ReceEdit")->Store().ReceLine().Count == 2;
    })) << Part<TReceivePane>(W, "ReceEdit")->Store().AllText();
    const std::vector<std::string> expected = {
        line0,
        line1,
        "  00000000:  00 FF 48 65 6C 6C 6F 0D 0A 20 7E 7F 80 41 42 43   ..Hello.. ~..ABC",
        "  00000010:  44 FF " + std::string(42 + 2, ' ') + "D." + std::string(14, ' '),
    };
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(PaneLine(*W, int64_t(k)), expected[k]) << k;

    // A second save holds the opened lines and the new ones alike.
    const QString second = dir.filePath("second.kst");
    dialogs::SetNextFileNames({second});
    W->ToolSaveClick();
    ASSERT_TRUE(WaitHistory());
    QStringList saved;
    ASSERT_TRUE(LoadRtfFile(second, saved));
    ASSERT_EQ(saved.size(), qsizetype(expected.size()));
    for (size_t k = 0; k < expected.size(); ++k)
        EXPECT_EQ(saved[qsizetype(k)].toStdString(), expected[k]) << k;

    // A file that is not there leaves the pane alone.
    dialogs::SetNextFileNames({dir.filePath("missing.kst")});
    W->ToolOpenClick();
    ASSERT_TRUE(WaitHistory());
    EXPECT_EQ(dialogs::TakeMessages(), QStringList{"Open File Error!"});
    EXPECT_EQ(Part<TReceivePane>(W, "ReceEdit")->Store().LineCount(), 4);

    // A cancelled dialog does nothing; an unwritable name says so.
    dialogs::SetNextFileNames({QString()});
    W->ToolSaveClick();
    ASSERT_TRUE(WaitHistory());
    dialogs::SetNextFileNames({dir.filePath("no/such/dir/x.kst")});
    W->ToolSaveClick();
    ASSERT_TRUE(WaitHistory());
    EXPECT_EQ(dialogs::TakeMessages(), QStringList{"Save to File Error!"});
}

TEST_F(Window, OpensAWindowsStyleHistoryFileAndPlainText) {
    QTemporaryDir dir;
    Open(LoopbackTarget);
    // As a Windows rich-text control writes it: code page 936, \'hh bytes, \uN.
    QByteArray rtf =
        "{\\rtf1\\ansi\\ansicpg936\\deff0\\deflang1033\\deflangfe2052{\\fonttbl{\\f0\\fmodern"
        "\\fprq6\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}\r\n{\\colortbl "
        ";\\red255\\green255\\blue255;}\r\n"
        "{\\*\\generator Riched20 5.50.99.2014;}\\viewkind4\\uc1\\pard\\cf1\\lang2052\\f0\\fs18 "
        "  00000000:  41 \\par\r\n\\'cd\\'a8\\'d1\\'b6\\u31471?\\par\r\n}\r\n";
    QFile f(dir.filePath("win.kst"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(rtf);
    f.close();
    dialogs::SetNextFileNames({f.fileName()});
    W->ToolOpenClick();
    ASSERT_TRUE(WaitHistory());
    ASSERT_EQ(Part<TReceivePane>(W, "ReceEdit")->Store().LineCount(), 2);
    EXPECT_EQ(PaneLine(*W, 0), "  00000000:  41 ");
    EXPECT_EQ(QString::fromStdString(PaneLine(*W, 1)), "通讯端");

    QFile plain(dir.filePath("plain.kst"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("first line\r\nsecond line\r\n");
    plain.close();
    dialogs::SetNextFileNames({plain.fileName()});
    W->ToolOpenClick();
    ASSERT_TRUE(WaitHistory());
    ASSERT_EQ(Part<TReceivePane>(W, "ReceEdit")->Store().LineCount(), 2);
    EXPECT_EQ(PaneLine(*W, 1), "second line");
}

TEST_F(Window, PressingOnTheTitleStripDragsTheWindowAndHelpChartsToggle) {
    Open(LoopbackTarget);
    const QPoint before = W->pos();
    QTest::mousePress(W.get(), Qt::LeftButton, {}, QPoint(100, 20));
    QTest::mouseMove(W.get(), QPoint(140, 50));
    QTest::mouseRelease(W.get(), Qt::LeftButton, {}, QPoint(140, 50));
    EXPECT_EQ(W->pos(), before + QPoint(40, 30));

    QTest::mouseClick(Part<QToolButton>(W, "ToolPort"), Qt::LeftButton);
    EXPECT_TRUE(Part<QFrame>(W, "PanlHelp")->isVisible());
    EXPECT_TRUE(Part<QLabel>(W, "ImgPort")->isVisible());
    EXPECT_FALSE(Part<QLabel>(W, "ImgModem")->isVisible());
    EXPECT_FALSE(Part<QLabel>(W, "ImgPort")->pixmap().isNull());
    QTest::mouseClick(Part<QToolButton>(W, "ToolModem"), Qt::LeftButton);
    EXPECT_TRUE(Part<QLabel>(W, "ImgModem")->isVisible());
    QTest::mouseClick(Part<QLabel>(W, "ImgModem"), Qt::LeftButton);
    EXPECT_FALSE(Part<QFrame>(W, "PanlHelp")->isVisible());
}

TEST_F(Window, ExitStopsTheWorkerAndSavesTheSettings) {
    Open(LoopbackTarget);
    ASSERT_TRUE(WaitOpen());
    Part<QComboBox>(W, "CboParity")->setCurrentIndex(2);
    W->ToolExitClick();
    EXPECT_FALSE(W->isVisible());
    QSettings s = settings::Open();
    EXPECT_EQ(s.value(settings::Parity).toInt(), 2);
    EXPECT_EQ(s.value(QString(settings::PortMapGroup) + "/COM1").toString(), LoopbackTarget);
}

} // namespace
