// The interface's language: the English window shows no Chinese text anywhere
// a user looks, whether it started in English or switched while open; the
// Chinese one is the design's own; the choice is kept (from the settings page)
// or made for one run (--lang).

#include "Checksums.h"
#include "CommandLine.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "Language.h"
#include "Openwindow.h"
#include "ProtocolPage.h"
#include "Qtprint.h"
#include "IniFormat.h"
#include "SendPage.h"
#include "SettingsPage.h"
#include "StoredSettings.h"

#include "Abled.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>

#include <cerrno>
#include <gtest/gtest.h>

namespace {

// CJK ideographs, CJK punctuation and the fullwidth forms.
bool HasChinese(const QString& text) {
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x4E00 && u <= 0x9FFF) || (u >= 0x3000 && u <= 0x303F) ||
            (u >= 0xFF00 && u <= 0xFFEF))
            return true;
    }
    return false;
}

// Every text a user can see on a widget or an action, each with where it is.
class TTextWalk {
public:
    void Add(const QString& where, const QString& text) {
        if (HasChinese(text))
            Chinese << where + ": " + text;
    }
    void Widget(QWidget* w) {
        const QString name = QString(w->metaObject()->className()) + " " + w->objectName();
        Add(name + " title", w->windowTitle());
        Add(name + " tip", w->toolTip());
        if (auto* l = qobject_cast<QLabel*>(w))
            Add(name, l->text());
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            Add(name, b->text());
        if (auto* g = qobject_cast<QGroupBox*>(w))
            Add(name, g->title());
        if (auto* e = qobject_cast<QLineEdit*>(w))
            Add(name, e->text() + e->placeholderText());
        if (auto* e = qobject_cast<QPlainTextEdit*>(w))
            Add(name, e->toPlainText());
        if (auto* led = qobject_cast<TAbLED*>(w))
            Add(name, led->Caption());
        if (auto* tabs = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < tabs->count(); ++i)
                Add(name + " tab", tabs->tabText(i) + tabs->tabToolTip(i));
        if (auto* box = qobject_cast<QComboBox*>(w))
            for (int i = 0; i < box->count(); ++i) {
                // A language is named in its own words in every interface.
                if (box->itemText(i) != QStringLiteral("中文"))
                    Add(name + " item", box->itemText(i));
                Add(name + " item tip", box->itemData(i, Qt::ToolTipRole).toString());
            }
        if (auto* menu = qobject_cast<QMenu*>(w))
            Add(name, menu->title());
    }
    void Action(QAction* a) {
        Add("action " + a->text(), a->text());
        Add("action tip", a->toolTip());
    }
    // The object and everything under it (a submenu is its menu's child).
    void Tree(QObject* root) {
        if (auto* w = qobject_cast<QWidget*>(root))
            Widget(w);
        for (QWidget* w : root->findChildren<QWidget*>())
            Widget(w);
        for (QAction* a : root->findChildren<QAction*>())
            Action(a);
    }

    QStringList Chinese;
};

class Language : public ::testing::Test {
protected:
    void TearDown() override {
        SetLanguage(TLanguage::Chinese); // the other tests read the Chinese texts
    }
};

// Every text of the window and of its states that a user can see; the Chinese ones among them.
QStringList ChineseTexts(TFrmMain* frm) {
    TTextWalk walk;
    walk.Tree(frm);
    // The pages' popup menus as they are made when asked for.
    std::unique_ptr<QMenu> paneMenu(frm->ReceEdit->CreateContextMenu());
    walk.Tree(paneMenu.get());
    frm->TabSend->UpdateCheckItems();
    walk.Tree(frm->TabSend->PopStrMenu);
    for (const QString& caption : {NumCaption(5), AddCaption(0xFF), XorCaption(0), CrcCaption(0xFFFF),
                                   QCoreApplication::translate("Checksum", TooLongCaption)})
        walk.Add("check item", caption);

    // Texts that carry data, in their states.
    frm->TabSend->SetLineEnding(3);
    frm->TabSend->ShowSendProgress(4096);
    walk.Add("send progress", frm->TabSend->lblSendLeft->text());
    frm->TabSend->ShowSendDropped(17);
    walk.Add("send dropped", frm->TabSend->lblSendLeft->text());
    frm->TabSend->SetSendMode(2); // Modem mode writes its hint into the pane
    walk.Tree(frm);
    frm->TabSend->SetSendMode(0);
    frm->TabComm->btnConnectClick(); // released: the strip and the button say so
    walk.Tree(frm);
    frm->TabComm->btnConnectClick();
    for (int err : {ENOENT, EACCES, EBUSY, EIO}) {
        const TPortErrorText t = PortErrorText(TOpenError{1, uint32_t(err), 2, "/dev/ttyUSB9"});
        walk.Add("port error", t.Short + t.Long);
    }
    for (int err : {ECONNREFUSED, EHOSTUNREACH, ETIMEDOUT, EINPROGRESS, ECONNRESET, EADDRNOTAVAIL,
                    ENODEV, EPROTO}) {
        const TPortErrorText t = PortErrorText(TOpenError{1, uint32_t(err), 3, "rfc2217://lab:2000"});
        walk.Add("network error", t.Short + t.Long);
    }
    walk.Add("unmapped", PortErrorText(TOpenError{1, ENOENT, 4, ""}).Long);
    walk.Add("help box", frm->HelpText());
    walk.Chinese.removeDuplicates();
    return walk.Chinese;
}

TEST_F(Language, TheEnglishWindowShowsNoChineseText) {
    ASSERT_TRUE(SetLanguage(TLanguage::English)); // the translation is built into the program
    StoreSettings("loopback");
    std::unique_ptr<TFrmMain> frm = OpenWindow();
    ASSERT_TRUE(frm);
    EXPECT_EQ(ChineseTexts(frm.get()).join('\n'), QString());

    // The English texts are really there, not the Chinese ones left out.
    EXPECT_EQ(frm->PageSel->tabText(0), "Send");
    EXPECT_TRUE(frm->lblComSta->text().startsWith("Port:"));
    EXPECT_EQ(frm->TabComm->CboLanguage->currentText(), "English");
}

TEST_F(Language, TheChineseWindowIsTheDesignsOwn) {
    StoreSettings("loopback");
    std::unique_ptr<TFrmMain> frm = OpenWindow();
    ASSERT_TRUE(frm);
    const QStringList tabs{"发送窗口", "定时发送窗口", "参数设置", "无线通讯协议V0.8"};
    for (int i = 0; i < tabs.size(); ++i)
        EXPECT_EQ(frm->PageSel->tabText(i), tabs[i]);
    EXPECT_EQ(frm->lblComPort->text(), "端口状态");
    EXPECT_EQ(frm->ChkControlRTS->Caption(), "发送时控制RTS");
    EXPECT_EQ(frm->TabComm->btnUpdate->text(), "更新(&U)");
    EXPECT_EQ(frm->TabComm->CboLanguage->currentText(), "中文");
    // The window words the port's line as the worker does.
    EXPECT_EQ(frm->lblComSta->text(), QString::fromStdString(frm->Worker().GetSettingsText()));
    EXPECT_EQ(NumCaption(5), "已选字符数(&N)Hex: 0X05 Dec: 5");
    EXPECT_EQ(PortErrorText(TOpenError{1, EBUSY, 2, "/dev/ttyUSB9"}).Short, "COM2: 设备被占用");
}

// One language at a time: no English put in parentheses after a Chinese text; names in
// parentheses (keys, groups, programs) stay.
TEST_F(Language, TheChineseTextsCarryNoEnglishInParentheses) {
    StoreSettings("loopback");
    std::unique_ptr<TFrmMain> frm = OpenWindow();
    ASSERT_TRUE(frm);
    const QRegularExpression english(R"([(（][A-Za-z'.,;: -]*[A-Za-z]{2,} [A-Za-z]{2,}[^)）]*[)）])");
    QStringList mixed;
    for (const QString& text : ChineseTexts(frm.get()))
        if (english.match(text).hasMatch())
            mixed << text;
    EXPECT_TRUE(mixed.isEmpty()) << mixed.join('\n').toStdString();
}

// Qt's own buttons and dialogs speak the chosen language too.
TEST_F(Language, QtsOwnButtonsFollowTheLanguage) {
    QDialogButtonBox box(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    ASSERT_TRUE(SetLanguage(TLanguage::Chinese));
    QCoreApplication::sendPostedEvents(); // the box hears of the change through its queue
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text(), "取消");
    ASSERT_TRUE(SetLanguage(TLanguage::English));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(box.button(QDialogButtonBox::Cancel)->text().remove('&'), "Cancel");
}

// The title names the program once, with its version, and the port with its device.
TEST_F(Language, TheTitleNamesTheProgramAndThePortWithItsDevice) {
    EXPECT_EQ(WindowTitle(TOpenError{0, 0, 1, "/dev/ttyUSB0"}), "Kestrel 0.6 — COM1 (/dev/ttyUSB0)");
    EXPECT_EQ(WindowTitle(TOpenError{0, 0, 3, "rfc2217://lab:2000"}), "Kestrel 0.6 — COM3 (lab:2000)");
    EXPECT_EQ(WindowTitle(TOpenError{0, 0, 2, ""}), "Kestrel 0.6 — COM2");
    StoreSettings("loopback");
    std::unique_ptr<TFrmMain> frm = OpenWindow();
    ASSERT_TRUE(frm);
    ASSERT_TRUE(WaitUntil([&] { return frm->windowTitle() == "Kestrel 0.6 — COM1 (环回插头)"; }));
    frm->TabComm->CboLanguageSelect(1);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(frm->windowTitle(), "Kestrel 0.6 — COM1 (loopback plug)");
}

TEST_F(Language, TheOpenWindowSwitchesBothWays) {
    StoreSettings("loopback");
    std::unique_ptr<TFrmMain> frm = OpenWindow();
    ASSERT_TRUE(frm);
    // A timed run under way: its count in the caption is worded again with the same figure.
    frm->TabProtocol->BtnVMStartClick();
    ASSERT_TRUE(WaitUntil([&] { return frm->TabProtocol->GrpVM->title() == "定时发送[次数:1]"; }));
    frm->TabProtocol->BtnVMStopClick();
    frm->TabComm->CboLanguageSelect(1);
    EXPECT_EQ(CurrentLanguage(), TLanguage::English);
    QCoreApplication::sendPostedEvents(); // the window hears of the change through its queue
    EXPECT_EQ(frm->TabProtocol->GrpVM->title(), "Timed send [×1]");
    EXPECT_EQ(ChineseTexts(frm.get()).join('\n'), QString());
    frm->TabComm->CboLanguageSelect(0);
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(frm->PageSel->tabText(2), "参数设置");
    EXPECT_EQ(frm->TabSend->mnuChar->text(), "发送字符(&C)");
    EXPECT_EQ(frm->TabComm->Memo1->toPlainText().section('\n', 0, 0), "快捷键定义");
    EXPECT_EQ(frm->lblComSta->text(), QString::fromStdString(frm->Worker().GetSettingsText()));
    EXPECT_EQ(frm->TabProtocol->GrpVM->title(), "定时发送[次数:1]");
}

TEST_F(Language, TheChoiceIsKeptAcrossARestartAndTheCommandLinesIsForOneRun) {
    StoreSettings("loopback");
    {
        std::unique_ptr<TFrmMain> frm = OpenWindow(false);
        ASSERT_TRUE(frm);
        QComboBox* box = frm->TabComm->CboLanguage;
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Down); // a choice of the user: English
        EXPECT_EQ(box->currentIndex(), 1);
        EXPECT_EQ(CurrentLanguage(), TLanguage::English);
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(frm->lblComPort->text(), "Port status");
        frm->SaveSettings();
    }
    const auto stored = [] {
        return ReadStoredSettings(settings::Open());
    };
    EXPECT_EQ(stored().Language, 1);
    EXPECT_EQ(RunLanguage(TCmdLine{}, stored().Language), TLanguage::English);

    // Started again with --lang zh: Chinese for the run, English still stored.
    const TCmdLine zh = ParseCommandLine({"kestrel", "--lang", "zh"});
    ASSERT_FALSE(zh.Exit);
    EXPECT_EQ(RunLanguage(zh, stored().Language), TLanguage::Chinese);
    {
        std::unique_ptr<TFrmMain> frm = OpenWindow(false);
        ASSERT_TRUE(frm);
        EXPECT_EQ(frm->TabComm->CboLanguage->currentIndex(), 1);
        frm->ApplyCommandLine(zh);
        EXPECT_EQ(frm->TabComm->CboLanguage->currentIndex(), 0);
        frm->SaveSettings();
    }
    EXPECT_EQ(stored().Language, 1);
}

TEST(LanguageOption, TakesZhAndEnAndRefusesTheRest) {
    EXPECT_EQ(ParseCommandLine({"kestrel", "--lang", "en"}).Language, 1);
    EXPECT_EQ(ParseCommandLine({"kestrel", "--lang", "ZH"}).Language, 0);
    EXPECT_FALSE(ParseCommandLine({"kestrel"}).Language);
    EXPECT_EQ(RunLanguage(TCmdLine{}, std::nullopt), TLanguage::Chinese);
    for (const char* bad : {"fr", "", "english"}) {
        const TCmdLine r = ParseCommandLine({"kestrel", "--lang", bad});
        EXPECT_TRUE(r.Exit && r.ExitCode == 2) << bad;
        EXPECT_TRUE(r.Error.contains("--lang is zh or en")) << bad;
    }
}

} // namespace
