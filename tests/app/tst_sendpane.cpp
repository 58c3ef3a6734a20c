// The send pane end to end: keys typed into the real widgets, bytes read at the
// far end of a pseudo-terminal (or looped back by the emulated plug), the
// toggles of the status panel, the popup menu and send-command files.

#include "../comm/Failbackend.h"
#include "Abled.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "Pty.h"
#include "Qtprint.h"
#include "SendEdit.h"
#include "IniFormat.h"
#include "SettingsKeys.h"
#include "SendPage.h"
#include "SettingsPage.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

class SendPane : public ::testing::Test {
protected:
    void Open(const std::string& target) {
        StoreSettings(target);
        Frm = std::make_unique<TFrmMain>();
        Frm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frm.get()));
        ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().IsOpen(); }));
        Edit = Part<TSendEdit>(Frm, "SendEdit");
        Edit->setFocus();
        dialogs::RecordMessages(true);
    }
    void SetUp() override { Open(Far.Path); }
    void TearDown() override {
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
        Frm.reset();
    }

    void Type(const QString& keys) { QTest::keyClicks(Edit, keys); }
    void Enter() { QTest::keyClick(Edit, Qt::Key_Return); }
    // Everything that arrives within the time, expecting no more than want.
    Bytes FarEnd(size_t want, int timeoutMs = 1000) {
        Bytes got = Far.Read(want, timeoutMs);
        Bytes extra = Far.Read(1, 60);
        got.insert(got.end(), extra.begin(), extra.end());
        return got;
    }
    QStringList Blocks() const {
        QStringList out;
        for (QTextBlock b = Edit->document()->firstBlock(); b.isValid(); b = b.next())
            out << b.text();
        return out;
    }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TSendEdit* Edit = nullptr;
};

TEST_F(SendPane, CharacterModeWritesEachKeyAndEchoesAHexDump) {
    Type("ABCDEFGHIJKLMNOPQ");
    Bytes expected;
    for (char c = 'A'; c <= 'Q'; ++c)
        expected.push_back(uint8_t(c));
    EXPECT_EQ(FarEnd(17), expected);
    ASSERT_EQ(Blocks().size(), 2);
    EXPECT_EQ(Edit->Line(0), " 00000000:  41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   "
                             "ABCDEFGHIJKLMNOP");
    EXPECT_TRUE(Edit->Line(1).startsWith(" 00000010:  51 "));
    EXPECT_TRUE(Edit->Line(1).endsWith("  Q               "));

    // Enter and Backspace are bytes too; the typed characters never show.
    Enter();
    QTest::keyClick(Edit, Qt::Key_Backspace);
    EXPECT_EQ(FarEnd(2), (Bytes{0x0D, 0x08}));
    EXPECT_TRUE(Edit->Line(1).startsWith(" 00000010:  51 0D 08 "));
    EXPECT_TRUE(Edit->Line(1).endsWith("  Q..             "));
    QTest::keyClick(Edit, Qt::Key_Tab);
    EXPECT_EQ(FarEnd(1), Bytes{0x09});
    EXPECT_TRUE(Edit->hasFocus());
    // Keys without a character act on the pane and send nothing.
    QTest::keyClick(Edit, Qt::Key_Up);
    QTest::keyClick(Edit, Qt::Key_Delete);
    EXPECT_EQ(FarEnd(0, 100), Bytes{});
}

TEST_F(SendPane, CharacterModeSendsChineseAsItsTwoBytesAndRefusesTheUnencodable) {
    QTest::sendKeyEvent(QTest::Click, Edit, Qt::Key_unknown, QString::fromUtf8("中"),
                        Qt::NoModifier);
    EXPECT_EQ(FarEnd(2), (Bytes{0xD6, 0xD0}));
    EXPECT_TRUE(Edit->Line(0).startsWith(" 00000000:  D6 D0 "));
    const QString before = Edit->toPlainText();
    QTest::sendKeyEvent(QTest::Click, Edit, Qt::Key_unknown, QString::fromUtf8("ก"),
                        Qt::NoModifier);
    EXPECT_EQ(FarEnd(0, 150), Bytes{}); // not a "?" in its place
    EXPECT_EQ(Edit->toPlainText(), before);
    EXPECT_TRUE(QToolTip::isVisible());

    // What an input method commits is typed text too.
    QInputMethodEvent commit;
    commit.setCommitString(QString::fromUtf8("中文"));
    QApplication::sendEvent(Edit, &commit);
    EXPECT_EQ(FarEnd(4), (Bytes{0xD6, 0xD0, 0xCE, 0xC4}));
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(3);
    QInputMethodEvent hex;
    hex.setCommitString(QString::fromUtf8("中a"));
    QApplication::sendEvent(Edit, &hex);
    EXPECT_EQ(Edit->toPlainText(), "A");
}

TEST_F(SendPane, LineAndModemModesSendTheCaretLine) {
    Part<QAction>(Frm, "mnuLine")->trigger();
    Type("ATZ");
    Enter();
    EXPECT_EQ(FarEnd(3), (Bytes{'A', 'T', 'Z'})); // no line ending at all
    EXPECT_EQ(Blocks(), (QStringList{"ATZ", ""}));

    // An earlier line goes out again and is copied to the end.
    Type("ATI");
    Enter();
    EXPECT_EQ(FarEnd(3), (Bytes{'A', 'T', 'I'}));
    QTest::keyClick(Edit, Qt::Key_Home, Qt::ControlModifier);
    QTest::keyClick(Edit, Qt::Key_Right);
    Enter(); // the whole line, not the part before the caret
    EXPECT_EQ(FarEnd(3), (Bytes{'A', 'T', 'Z'}));
    EXPECT_EQ(Blocks(), (QStringList{"ATZ", "ATI", "ATZ", ""}));
    EXPECT_EQ(Edit->CaretRow(), 3);

    Part<QAction>(Frm, "mnuModem")->trigger();
    EXPECT_EQ(Blocks(), (QStringList{QString::fromUtf8("你需要将RTS与DTR设置为ON."), ""}));
    Type("ATZ");
    Enter();
    EXPECT_EQ(FarEnd(4), (Bytes{'A', 'T', 'Z', 0x0D}));
    Type("ATI");
    Enter();
    EXPECT_EQ(FarEnd(4), (Bytes{'A', 'T', 'I', 0x0D}));
    QTest::keyClick(Edit, Qt::Key_Up);
    QTest::keyClick(Edit, Qt::Key_Up);
    Enter(); // the copy carries its carriage return: no blank line after it
    EXPECT_EQ(FarEnd(4), (Bytes{'A', 'T', 'Z', 0x0D}));
    EXPECT_EQ(Blocks().mid(1), (QStringList{"ATZ", "ATI", "ATZ", ""}));
    EXPECT_EQ(Edit->CaretRow(), 4);
    // Enter on the line just above the empty last one sends it without a copy.
    QTest::keyClick(Edit, Qt::Key_Up);
    Enter();
    EXPECT_EQ(FarEnd(4), (Bytes{'A', 'T', 'Z', 0x0D}));
    EXPECT_EQ(Blocks().mid(1), (QStringList{"ATZ", "ATI", "ATZ", ""}));
    EXPECT_EQ(Edit->CaretRow(), 4);
}

// The pane holds a long line in several blocks: the line goes out as it was pasted, and the pane
// treats it as one line.
TEST_F(SendPane, APastedMebibyteLineGoesOutByteExactAsOneLine) {
    Part<QAction>(Frm, "mnuLine")->trigger();
    QString line;
    line.reserve(1 << 20);
    for (int i = 0; i < (1 << 20); ++i)
        line += QChar(u'!' + i % 94);
    QApplication::clipboard()->setText(line);
    QTest::keyClick(Edit, Qt::Key_V, Qt::ControlModifier);
    ASSERT_GT(Edit->document()->blockCount(), 1);
    EXPECT_EQ(Edit->LineCount(), 1);
    EXPECT_EQ(Edit->CaretRow(), 0);
    EXPECT_EQ(Edit->Line(0), line);
    Enter();
    const QByteArray bytes = line.toLatin1();
    EXPECT_EQ(FarEnd(size_t(bytes.size()), 20000), Bytes(bytes.begin(), bytes.end()));
    EXPECT_EQ(Edit->Lines(), QStringList{line});
    EXPECT_TRUE(Edit->EndsWithLineBreak());
    EXPECT_EQ(Edit->CaretRow(), 1);
}

TEST_F(SendPane, LineEndingsGoAfterLineModeLinesOnlyAndAreKeptWithTheSettings) {
    Part<QAction>(Frm, "mnuLine")->trigger();
    const Bytes endings[] = {{}, {0x0D}, {0x0A}, {0x0D, 0x0A}};
    for (int e : {1, 2, 3, 0}) {
        Part<QAction>(Frm, QString("mnuEndings%1").arg(e))->trigger();
        Type("AT");
        Enter();
        Bytes want{'A', 'T'};
        want.insert(want.end(), endings[e].begin(), endings[e].end());
        EXPECT_EQ(FarEnd(want.size()), want) << e;
        // The pane's corner says what Enter adds, and nothing when it adds nothing.
        EXPECT_EQ(Part<QToolButton>(Frm, "BtnSendMode")->text(),
                  e ? QString("字符串 + ") + LineEndingName(e) : QString("字符串"))
            << e;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Part<QAction>(Frm, QString("mnuEndings%1").arg(i))->isChecked(), i == e);
    }
    Part<QAction>(Frm, QString("mnuEndings%1").arg(3))->trigger();
    EXPECT_EQ(Part<QToolButton>(Frm, "BtnSendMode")->text(), "字符串 + CR LF");
    // Modem mode keeps its own carriage return; Hex mode its bytes.
    Part<QAction>(Frm, "mnuModem")->trigger();
    EXPECT_EQ(Part<QToolButton>(Frm, "BtnSendMode")->text(), "Modem");
    Type("ATZ");
    Enter();
    EXPECT_EQ(FarEnd(4), (Bytes{'A', 'T', 'Z', 0x0D}));
    Part<QAction>(Frm, "mnuHex")->trigger();
    Type("41 42");
    Enter();
    EXPECT_EQ(FarEnd(2), (Bytes{0x41, 0x42}));

    // Kept with the settings; a stored value out of range means none.
    Frm->SaveSettings();
    Frm.reset();
    Frm = std::make_unique<TFrmMain>();
    EXPECT_EQ(Part<TSendPage>(Frm, "TabSend")->LineEnding(), 3);
    Frm.reset();
    settings::Open().setValue(settings::LineEnding, 7);
    Frm = std::make_unique<TFrmMain>();
    EXPECT_EQ(Part<TSendPage>(Frm, "TabSend")->LineEnding(), 0);
}

TEST_F(SendPane, LineModeSendsChineseInCodePage936AndRefusesWhatItCannotHold) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    QTest::sendKeyEvent(QTest::Click, Edit, Qt::Key_unknown, QString::fromUtf8("中"),
                        Qt::NoModifier);
    Type("A");
    Enter();
    EXPECT_EQ(FarEnd(3), (Bytes{0xD6, 0xD0, 'A'}));
    // Pasted text is not filtered; such a line stays unsent and in place.
    Edit->insertPlainText(QString::fromUtf8("xก"));
    Enter();
    EXPECT_EQ(FarEnd(0, 150), Bytes{});
    EXPECT_EQ(Blocks().last(), QString::fromUtf8("xก"));
}

TEST_F(SendPane, HexModeTakesDigitsOnlyAndEchoesWhatItSent) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(3);
    Type("55 aa,g");
    EXPECT_EQ(Edit->Line(0), "55 AA");
    Enter();
    EXPECT_EQ(FarEnd(2), (Bytes{0x55, 0xAA}));
    EXPECT_EQ(Blocks(), (QStringList{"> 55 AA ", ""}));

    // Nothing to send: no write, no new line.
    Enter();
    Type("  ");
    Enter();
    EXPECT_EQ(FarEnd(0, 150), Bytes{});
    EXPECT_EQ(Blocks(), (QStringList{"> 55 AA ", "  "}));

    // An echo line sends its bytes again and stays; the echo goes to the end.
    Type("00 FF");
    QTest::keyClick(Edit, Qt::Key_Home, Qt::ControlModifier);
    Enter();
    EXPECT_EQ(FarEnd(2), (Bytes{0x55, 0xAA}));
    EXPECT_EQ(Blocks(), (QStringList{"> 55 AA ", "  00 FF", "> 55 AA ", ""}));
}

TEST_F(SendPane, HexModeLinesAboveTheBufferAreRefusedWhole) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(3);
    QString line;
    for (int i = 0; i < 2048; ++i)
        line += "A5";
    Edit->insertPlainText(line);
    Enter();
    Bytes all = FarEnd(2048, 3000);
    EXPECT_EQ(all, Bytes(2048, 0xA5)); // every byte, none cut
    Edit->insertPlainText(line + "01");
    Enter();
    EXPECT_EQ(FarEnd(0, 200), Bytes{});
    EXPECT_EQ(Blocks().last(), line + "01");
    EXPECT_TRUE(QToolTip::isVisible());
}

TEST_F(SendPane, PreambleGoesBeforeLinesButNotBeforeCharacters) {
    Part<QLineEdit>(Frm, "EdtHead")->clear();
    QTest::keyClicks(Part<QLineEdit>(Frm, "EdtHead"), "55aa,ffg");
    EXPECT_EQ(Part<QLineEdit>(Frm, "EdtHead")->text(), "55AAFF");
    Part<QLineEdit>(Frm, "EdtRevNum")->setText("0");
    QTest::mouseClick(Part<TAbLED>(Frm, "chkHead"), Qt::LeftButton);
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_EQ(Part<QLineEdit>(Frm, "EdtHead")->text(), "55 AA FF ");
    EXPECT_EQ(Part<QLineEdit>(Frm, "EdtRevNum")->text(), "1");
    EXPECT_FALSE(Part<QLineEdit>(Frm, "EdtHead")->isEnabled());
    EXPECT_FALSE(Part<QLineEdit>(Frm, "EdtRevNum")->isEnabled());

    Type("A");
    EXPECT_EQ(FarEnd(1), Bytes{0x41});
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    Type("AB");
    Enter();
    EXPECT_EQ(FarEnd(5), (Bytes{0x55, 0xAA, 0xFF, 0x41, 0x42}));
    Enter(); // an empty line: the preamble alone
    EXPECT_EQ(FarEnd(3), (Bytes{0x55, 0xAA, 0xFF}));

    Frm->chkHeadClick();
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_TRUE(Part<QLineEdit>(Frm, "EdtHead")->isEnabled());
    Type("AB");
    Enter();
    EXPECT_EQ(FarEnd(2), (Bytes{0x41, 0x42}));
}

TEST_F(SendPane, PreambleRefusesBadReceiveCountsAndEmptyHeads) {
    Part<QLineEdit>(Frm, "EdtHead")->setText("55AAFF");
    Part<QLineEdit>(Frm, "EdtRevNum")->setText("12x");
    Frm->chkHeadClick();
    EXPECT_EQ(dialogs::TakeMessages(), QStringList{"'12x' is not a valid integer value"});
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_EQ(Part<QLineEdit>(Frm, "EdtHead")->text(), "55 AA FF ");
    EXPECT_TRUE(Part<QLineEdit>(Frm, "EdtRevNum")->isEnabled());

    Part<QLineEdit>(Frm, "EdtRevNum")->setText("2049");
    Frm->chkHeadClick();
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkHead")->toolTip().contains("2048"));
    Part<QLineEdit>(Frm, "EdtRevNum")->setText("2048");
    Frm->chkHeadClick();
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkHead")->toolTip().isEmpty());
    Frm->chkHeadClick();

    Part<QLineEdit>(Frm, "EdtHead")->setText("xyz");
    Frm->chkHeadClick();
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_EQ(Part<QLineEdit>(Frm, "EdtHead")->text(), "xyz");
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
}

TEST_F(SendPane, ModemModeForcesTheFourTogglesAndRestoresThem) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    Frm->ChkControlRTSClick();
    Frm->chkHeadClick();
    ASSERT_FALSE(Part<TAbLED>(Frm, "chkRTS")->Checked());
    ASSERT_FALSE(Part<TAbLED>(Frm, "chkDTR")->Checked());
    ASSERT_TRUE(Part<TAbLED>(Frm, "ChkControlRTS")->Checked());
    ASSERT_TRUE(Part<TAbLED>(Frm, "chkHead")->Checked());

    Part<TSendPage>(Frm, "TabSend")->SetSendMode(2);
    EXPECT_TRUE(Part<QAction>(Frm, "mnuModem")->isChecked());
    EXPECT_FALSE(Part<QAction>(Frm, "mnuLine")->isChecked());
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkRTS")->Checked());
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkDTR")->Checked());
    EXPECT_TRUE(Frm->Worker().GetRts());
    EXPECT_TRUE(Frm->Worker().GetDtr());
    EXPECT_FALSE(Part<TAbLED>(Frm, "ChkControlRTS")->Checked());
    EXPECT_FALSE(Frm->Worker().ControlRTS.load());
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_FALSE(Part<TAbLED>(Frm, "ChkControlRTS")->isEnabled());
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkHead")->isEnabled());
    EXPECT_EQ(Part<TAbLED>(Frm, "chkHead")->FontColor(), clBtnShadow); // held, and seen to be
    Type("AT");
    Enter(); // no preamble, no RTS switching
    EXPECT_EQ(FarEnd(3), (Bytes{'A', 'T', 0x0D}));

    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    EXPECT_TRUE(Blocks() == QStringList{""});
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkRTS")->Checked());
    EXPECT_FALSE(Part<TAbLED>(Frm, "chkDTR")->Checked());
    EXPECT_FALSE(Frm->Worker().GetRts());
    EXPECT_FALSE(Frm->Worker().GetDtr());
    EXPECT_TRUE(Part<TAbLED>(Frm, "ChkControlRTS")->Checked());
    EXPECT_TRUE(Frm->Worker().ControlRTS.load());
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkHead")->Checked());
    EXPECT_TRUE(Part<TAbLED>(Frm, "ChkControlRTS")->isEnabled());
    EXPECT_TRUE(Part<TAbLED>(Frm, "chkHead")->isEnabled());
    EXPECT_EQ(Part<TAbLED>(Frm, "chkHead")->FontColor(), clWindowText);
}

TEST_F(SendPane, ModesClearThePaneOnlyWhenTheyChange) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    Type("keep");
    Part<QAction>(Frm, "mnuLine")->trigger();
    EXPECT_EQ(Edit->Line(0), "keep");
    EXPECT_TRUE(Part<QAction>(Frm, "mnuLine")->isChecked());
    Part<QAction>(Frm, "mnuHex")->trigger();
    EXPECT_EQ(Edit->toPlainText(), "");
    EXPECT_TRUE(Part<QAction>(Frm, "mnuHex")->isChecked());
    EXPECT_FALSE(Part<QAction>(Frm, "mnuLine")->isChecked());
    EXPECT_EQ(Part<TSendPage>(Frm, "TabSend")->SendMode, 3);
    Part<QAction>(Frm, "mnuChar")->trigger();
    Type("A");
    EXPECT_TRUE(Edit->Line(0).startsWith(" 00000000:  41 "));
    Part<QAction>(Frm, "mnuClear")->trigger();
    Type("B"); // the echo starts over
    EXPECT_EQ(Blocks().size(), 1);
    EXPECT_TRUE(Edit->Line(0).startsWith(" 00000000:  42 "));
}

TEST_F(SendPane, CommandFilesOfferedInHexModeSaveAndLoadTheLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QTest::mousePress(Edit->viewport(), Qt::LeftButton);
    QTest::mouseRelease(Edit->viewport(), Qt::LeftButton);
    EXPECT_FALSE(Part<QAction>(Frm, "mnuLoad")->isVisible());
    EXPECT_FALSE(Part<QAction>(Frm, "mnuSave")->isVisible());

    Part<TSendPage>(Frm, "TabSend")->SetSendMode(3);
    QTest::mousePress(Edit->viewport(), Qt::LeftButton);
    QTest::mouseRelease(Edit->viewport(), Qt::LeftButton);
    EXPECT_TRUE(Part<QAction>(Frm, "mnuLoad")->isVisible());
    EXPECT_TRUE(Part<QAction>(Frm, "mnuSave")->isVisible());

    const QStringList lines{"55 AA 01", "> 01 02 ", "", "0D 0A"};
    Edit->SetLines(lines);
    const QString name = dir.filePath("commands");
    dialogs::SetNextFileNames({name});
    Part<QAction>(Frm, "mnuSave")->trigger();
    EXPECT_TRUE(QFile::exists(name + ".cmd"));
    Part<QAction>(Frm, "mnuClear")->trigger();
    dialogs::SetNextFileNames({name + ".cmd"});
    Part<QAction>(Frm, "mnuLoad")->trigger();
    EXPECT_EQ(Edit->Lines(), lines);
    QTest::keyClick(Edit, Qt::Key_Home, Qt::ControlModifier);
    Enter();
    EXPECT_EQ(FarEnd(3), (Bytes{0x55, 0xAA, 0x01}));

    // Failures keep the pane and say so.
    const QString before = Edit->toPlainText();
    dialogs::SetNextFileNames({dir.filePath("missing.cmd")});
    Part<QAction>(Frm, "mnuLoad")->trigger();
    dialogs::SetNextFileNames({dir.filePath("no/such/folder/x.cmd")});
    Part<QAction>(Frm, "mnuSave")->trigger();
    EXPECT_EQ(dialogs::TakeMessages(),
              (QStringList{QString::fromUtf8("打开文件错误!"), "Save to File Error!"}));
    EXPECT_EQ(Edit->toPlainText(), before);
    // A plain text file loads too; a cancelled dialog changes nothing.
    QFile plain(dir.filePath("plain.cmd"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.write("01 02\r\n03\r\n");
    plain.close();
    dialogs::SetNextFileNames({plain.fileName(), QString()});
    Part<QAction>(Frm, "mnuLoad")->trigger();
    EXPECT_EQ(Edit->Lines(), (QStringList{"01 02", "03"}));
    Part<QAction>(Frm, "mnuLoad")->trigger();
    EXPECT_EQ(Edit->Lines(), (QStringList{"01 02", "03"}));
}

// A right-button press inside the selection prepares the items and opens the menu.
void RightClickOnSelection(TSendEdit* edit) {
    const QPoint at = edit->cursorRect().center() - QPoint(4, 0);
    QTest::mousePress(edit->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, at, edit->viewport()->mapToGlobal(at));
    QApplication::sendEvent(edit->viewport(), &menu);
    QTest::mouseRelease(edit->viewport(), Qt::RightButton, {}, at);
}

void Select(TSendEdit* edit, int row, int from, int to) {
    QTextCursor c(edit->document()->findBlockByNumber(row));
    c.setPosition(c.block().position() + from);
    c.setPosition(c.block().position() + to, QTextCursor::KeepAnchor);
    edit->setTextCursor(c);
}

TEST_F(SendPane, ChecksumItemsShowTheSelectionAndWriteAfterIt) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(3);
    Edit->SetLines({"> 55 AA ", "01 02 03 04", "41 42 43"});
    Select(Edit, 2, 0, 8);
    RightClickOnSelection(Edit);
    EXPECT_TRUE(WaitUntil([&] { return Part<QMenu>(Frm, "PopStrMenu")->isVisible(); }));
    EXPECT_TRUE(Part<QAction>(Frm, "mnuAdd")->isVisible());
    EXPECT_FALSE(Part<QAction>(Frm, "mnuMsg")->isVisible());
    EXPECT_EQ(Part<QAction>(Frm, "mnuAdd")->text(), QString::fromUtf8("累加校验(&A)    Hex: 0XC6 Dec: 198"));
    EXPECT_EQ(Part<QAction>(Frm, "mnuXor")->text(), QString::fromUtf8("异或校验(&X)    Hex: 0X40 Dec: 64"));
    EXPECT_EQ(Part<QAction>(Frm, "mnuCRC")->text(), QString::fromUtf8("CRC16校验(&R) Hex: 0X4521 Dec: 17697"));
    EXPECT_EQ(Part<QAction>(Frm, "mnuNum")->text(), QString::fromUtf8("已选字符数(&N)Hex: 0X03 Dec: 3"));
    Part<QMenu>(Frm, "PopStrMenu")->close();

    // 01 02 03 inside the longer line: the CRC lands after it, high byte first.
    Select(Edit, 1, 0, 8);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    EXPECT_EQ(Part<QAction>(Frm, "mnuCRC")->text(), QString::fromUtf8("CRC16校验(&R) Hex: 0XA110 Dec: 41232"));
    Part<QAction>(Frm, "mnuCRC")->trigger();
    EXPECT_EQ(Edit->Line(1), "01 02 03 A1 10 04 ");
    Select(Edit, 0, 2, 7);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    Part<QAction>(Frm, "mnuXor")->trigger();
    EXPECT_EQ(Edit->Line(0), "55 AA FF ");
    Select(Edit, 0, 0, 5);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    Part<QAction>(Frm, "mnuAdd")->trigger();
    EXPECT_EQ(Edit->Line(0), "55 AA FF FF ");
    EXPECT_EQ(Edit->Line(2), "41 42 43");

    // Shift+F10 prepares the items as a mouse press does, and opens the menu.
    Part<QMenu>(Frm, "PopStrMenu")->close();
    Edit->SetLines({"01 02 03"});
    Select(Edit, 0, 0, 2);
    QTest::keyClick(Edit, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(Part<QAction>(Frm, "mnuNum")->text(), QString::fromUtf8("已选字符数(&N)Hex: 0X01 Dec: 1"));
    EXPECT_TRUE(WaitUntil([&] { return Part<QMenu>(Frm, "PopStrMenu")->isVisible(); }));
    Part<QMenu>(Frm, "PopStrMenu")->close();

    // Lower case separates, lone digits are bytes.
    Edit->SetLines({"1a 1 2 3"});
    Select(Edit, 0, 0, 2);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    EXPECT_EQ(Part<QAction>(Frm, "mnuNum")->text(), QString::fromUtf8("已选字符数(&N)Hex: 0X01 Dec: 1"));
    Select(Edit, 0, 3, 8);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    EXPECT_EQ(Part<QAction>(Frm, "mnuAdd")->text(), QString::fromUtf8("累加校验(&A)    Hex: 0X06 Dec: 6"));
}

TEST_F(SendPane, ChecksumItemsRefuseSeveralLinesAndStayHiddenElsewhere) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(3);
    Edit->SetLines({"01 02", "03"});
    Select(Edit, 0, 0, 5);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    const int32_t sum = Part<TSendPage>(Frm, "TabSend")->SelSum;
    QTextCursor c = Edit->textCursor();
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    Edit->setTextCursor(c);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    EXPECT_TRUE(Part<QAction>(Frm, "mnuMsg")->isVisible());
    EXPECT_EQ(Part<QAction>(Frm, "mnuMsg")->text(), QString::fromUtf8("不能选择多行数据计算(&E)"));
    EXPECT_FALSE(Part<QAction>(Frm, "mnuAdd")->isVisible());
    EXPECT_EQ(Part<TSendPage>(Frm, "TabSend")->SelSum, sum);

    // Nothing selected: only the command files.
    Edit->moveCursor(QTextCursor::End);
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    EXPECT_TRUE(Part<QAction>(Frm, "mnuSave")->isVisible());
    EXPECT_FALSE(Part<QAction>(Frm, "N1")->isVisible());

    // More bytes than the buffer holds: no values from a cut selection.
    QString big;
    for (int i = 0; i < 2049; ++i)
        big += "01";
    Edit->SetLines({big});
    Edit->selectAll();
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    EXPECT_TRUE(Part<QAction>(Frm, "mnuMsg")->isVisible());
    EXPECT_FALSE(Part<QAction>(Frm, "mnuNum")->isVisible());
    EXPECT_EQ(Part<TSendPage>(Frm, "TabSend")->SelSum, sum);

    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    Edit->SetLines({"01 02"});
    Edit->selectAll();
    Part<TSendPage>(Frm, "TabSend")->UpdateCheckItems();
    for (QAction* a : {Part<QAction>(Frm, "N1"), Part<QAction>(Frm, "mnuNum"), Part<QAction>(Frm, "mnuAdd"), Part<QAction>(Frm, "mnuMsg"), Part<QAction>(Frm, "mnuLoad")})
        EXPECT_FALSE(a->isVisible());
}

// ---- RTS and DTR ----

class SendPaneLoopback : public SendPane {
protected:
    void SetUp() override { Open(LoopbackTarget); }
};

TEST_F(SendPaneLoopback, RtsControlledSendRaisesRtsAroundTheLineAndDropsASecond) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    Frm->ChkControlRTSClick();
    ASSERT_FALSE(Part<TAbLED>(Frm, "chkRTS")->Checked());
    QElapsedTimer t;
    t.start();
    Type("AB");
    Enter();
    Type("CD");
    Enter(); // while the first is under way: dropped
    bool raised = false;
    ASSERT_TRUE(WaitUntil([&] {
        raised = raised || Part<TAbLED>(Frm, "chkRTS")->Checked();
        return raised && !Part<TAbLED>(Frm, "chkRTS")->Checked();
    }));
    EXPECT_GE(t.elapsed(), 100); // two waits of 50 ms
    // A byte sent now goes after anything still queued: the second line
    // never came before it.
    ASSERT_TRUE(Frm->Worker().SendByte(0x5A));
    ASSERT_TRUE(WaitUntil([&] {
        Frm->FlushReceived();
        return Part<TReceivePane>(Frm, "ReceEdit")->Store().LineCount() > 0 &&
               Part<TReceivePane>(Frm, "ReceEdit")->Store().Line(0).find("5A") != std::string::npos;
    }));
    EXPECT_EQ(Part<TReceivePane>(Frm, "ReceEdit")->Store().LineCount(), 1);
    EXPECT_NE(Part<TReceivePane>(Frm, "ReceEdit")->Store().Line(0).find("41 42 5A  "), std::string::npos);
    EXPECT_EQ(Part<TReceivePane>(Frm, "ReceEdit")->Store().Line(0).find("43"), std::string::npos);
    EXPECT_FALSE(Frm->Worker().GetRts());
    // The dropped line stays as typed, marked, the pane moved on past it, and says why.
    EXPECT_EQ(Blocks(), (QStringList{"AB", "CD", ""}));
    EXPECT_FALSE(Edit->IsMarkedUnsent(0));
    EXPECT_TRUE(Edit->IsMarkedUnsent(1));
    EXPECT_TRUE(QToolTip::text().contains("RTS"));
}

// The corner button shows the mode in every mode and offers the popup menu's choices.
TEST_F(SendPane, TheCornerButtonShowsTheModeAndOffersTheMenusChoices) {
    TSendPage* page = Part<TSendPage>(Frm, "TabSend");
    QToolButton* button = page->findChild<QToolButton*>("BtnSendMode");
    ASSERT_TRUE(button);
    EXPECT_TRUE(button->isVisible());
    EXPECT_EQ(button->text(), "字符");
    ASSERT_TRUE(button->menu());
    EXPECT_EQ(button->popupMode(), QToolButton::InstantPopup);
    const QList<QAction*> offered = button->menu()->actions();
    for (QAction* a : {Part<QAction>(page, "mnuChar"), Part<QAction>(page, "mnuLine"), Part<QAction>(page, "mnuModem"), Part<QAction>(page, "mnuHex"),
                       Part<QMenu>(page, "mnuEnding")->menuAction()})
        EXPECT_TRUE(offered.contains(a)) << a->text().toStdString();
    button->menu()->actions().at(3)->trigger(); // Hex, from the button's menu
    EXPECT_TRUE(Part<QAction>(page, "mnuHex")->isChecked());
    EXPECT_EQ(button->text(), "Hex");
    // It sits in the pane's top right corner, inside the pane.
    const QRect view = Part<TSendEdit>(page, "SendEdit")->viewport()->rect();
    EXPECT_TRUE(view.contains(button->geometry()));
    EXPECT_GT(button->x(), view.width() / 2);
}

// Typed ahead of an RTS-controlled send: the dropped line is not glued to the next one.
TEST_F(SendPane, ALineDroppedUnderRtsControlIsNotSentWithTheNextLine) {
    Part<TSendPage>(Frm, "TabSend")->SetSendMode(1);
    Frm->ChkControlRTSClick();
    ASSERT_TRUE(Frm->Worker().ControlRTS.load());
    bool raised = false;
    Type("cd");
    Enter();
    Type("ef");
    Enter(); // the first is still under way: dropped
    EXPECT_EQ(Far.Read(2, 2000), (Bytes{0x63, 0x64}));
    ASSERT_TRUE(WaitUntil([&] {
        raised = raised || Part<TAbLED>(Frm, "chkRTS")->Checked();
        return raised && !Part<TAbLED>(Frm, "chkRTS")->Checked();
    }));
    Type("Z");
    Enter();
    EXPECT_EQ(FarEnd(1, 2000), (Bytes{0x5A}));
    EXPECT_EQ(Blocks(), (QStringList{"cd", "ef", "Z", ""}));
    EXPECT_TRUE(Edit->IsMarkedUnsent(1));
    EXPECT_FALSE(Edit->IsMarkedUnsent(2));
    Part<TSendPage>(Frm, "TabSend")->mnuClearClick();
    EXPECT_FALSE(Edit->IsMarkedUnsent(0));
}

class SendPaneDouble : public SendPane {
protected:
    void SetUp() override {
        State = std::make_shared<TFailState>();
        StoreSettings("double");
        Frm = std::make_unique<TFrmMain>();
        Frm->Worker().SetBackendFactory(FailFactory(State));
        Part<TSettingsPage>(Frm, "TabComm")->btnUpdateClick(); // reopen on the double
        ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().IsOpen(); }));
        Edit = Part<TSendEdit>(Frm, "SendEdit");
    }
    std::shared_ptr<TFailState> State;
};

TEST_F(SendPaneDouble, FailedRtsOrDtrChangeKeepsTheToggleAndShowsIt) {
    auto failWith = [&](TFailState::Op op, int error) {
        std::lock_guard lock(State->Lock);
        if (error)
            State->FailWith[op] = error;
        else
            State->FailWith.erase(op);
    };
    failWith(TFailState::SetState, EIO);
    Frm->chkRTSClick();
    Frm->chkDTRClick();
    for (TAbLED* t : {Part<TAbLED>(Frm, "chkRTS"), Part<TAbLED>(Frm, "chkDTR")}) {
        EXPECT_FALSE(t->Checked());
        EXPECT_EQ(t->FontColor(), clRed);
        EXPECT_FALSE(t->toolTip().isEmpty());
    }
    EXPECT_FALSE(Frm->Worker().GetRts());
    failWith(TFailState::SetState, 0);
    Frm->chkRTSClick();
    Frm->chkDTRClick();
    for (TAbLED* t : {Part<TAbLED>(Frm, "chkRTS"), Part<TAbLED>(Frm, "chkDTR")}) {
        EXPECT_TRUE(t->Checked());
        EXPECT_NE(t->FontColor(), clRed);
        EXPECT_TRUE(t->toolTip().isEmpty());
    }
    // Typed bytes reach the device. The worker writes them after the key has
    // been taken, so one the device refuses is reported beneath the pane.
    auto written = [&] {
        std::lock_guard lock(State->Lock);
        return State->Written;
    };
    Type("A");
    EXPECT_TRUE(WaitUntil([&] { return written() == Bytes{0x41}; }));
    failWith(TFailState::Write, EIO);
    Type("B");
    EXPECT_TRUE(WaitUntil([&] {
        return !Part<QWidget>(Frm, "SendBar")->isHidden() &&
               Part<QLabel>(Frm, "lblSendLeft")->text().contains("1 字节未发出");
    }));
    EXPECT_EQ(written(), Bytes{0x41});
}

} // namespace
