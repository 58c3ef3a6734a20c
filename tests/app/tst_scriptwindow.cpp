// The script window inside the program: opened by its key, a script that never ends stopped from
// its Stop button, a failing line marked in the editor, the reply rules with a bad one shown
// red, answering a device and kept with the settings, and a script's line settings shown.

#include "Openwindow.h"
#include "Pty.h"
#include "ScriptEditor.h"
#include "ScriptWindow.h"

#include <QComboBox>
#include <QLabel>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <algorithm>

TEST(ScriptWindow, OpensByItsKeyStopsAnEndlessLoopAndMarksAFailingLine) {
    TPty pty;
    StoreSettings(pty.Path);
    auto frm = OpenWindow();
    ASSERT_TRUE(frm);
    QTest::keyClick(frm.get(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier);
    TScriptWindow* w = frm->ScriptWindow();
    ASSERT_TRUE(w);
    ASSERT_TRUE(WaitUntil([&] { return w->isVisible(); }));
    auto* editor = w->findChild<TScriptEditor*>("ScriptEditor");
    auto* run = w->findChild<QToolButton*>("BtnRunScript");
    auto* stop = w->findChild<QToolButton*>("BtnStopScript");
    ASSERT_TRUE(editor && run && stop);
    QSignalSpy finished(w, &TScriptWindow::ScriptFinished);

    editor->setPlainText("log('start');\nwhile (true) {}\n");
    run->click();
    ASSERT_TRUE(WaitUntil([&] { return w->Running(); }));
    EXPECT_FALSE(run->isEnabled());
    stop->click();
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(finished[0][0].toInt(), 1);
    EXPECT_TRUE(run->isEnabled());

    editor->setPlainText("send('AT\\r');\n\nexpect('OK', 20);\n");
    run->click();
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 2; }));
    EXPECT_EQ(finished[1][0].toInt(), 1);
    EXPECT_EQ(editor->ErrorLine(), 3);
    EXPECT_EQ(pty.Read(3), (std::vector<uint8_t>{'A', 'T', '\r'}));
}

TEST(ScriptWindow, ReplyRulesAnswerShowABadOneRedAndAreKept) {
    TPty pty;
    StoreSettings(pty.Path);
    {
        auto frm = OpenWindow();
        ASSERT_TRUE(frm);
        TScriptWindow* w = frm->ScriptWindow();
        TReplyRule good;
        good.Kind = TPatternKind::Hex;
        good.Pattern = "AA ?? 55";
        good.Reply = "ok";
        TReplyRule bad = good;
        bad.Kind = TPatternKind::Regex;
        bad.Pattern = "[unclosed";
        w->SetRules({good, bad});
        auto* table = w->findChild<QTableWidget*>("ReplyRuleTable");
        ASSERT_TRUE(table);
        EXPECT_TRUE(table->item(0, 2)->toolTip().isEmpty());
        EXPECT_FALSE(table->item(1, 2)->toolTip().isEmpty());
        EXPECT_NE(table->item(1, 2)->background(), table->item(0, 2)->background());
        // A frame in two writes, and the start of one that never completes: one answer.
        pty.Write({0xAA, 0x00});
        pty.Write({0x55, 0xAA});
        EXPECT_EQ(pty.Read(2), (std::vector<uint8_t>{'o', 'k'}));
        ASSERT_TRUE(WaitUntil([&] { return w->Fired(0) == 1; }));
        EXPECT_EQ(w->Fired(1), 0u);
        // Hidden, nothing of it ticks (the program's idle wake-ups); shown, the counts come.
        const auto ticking = [w] {
            const QList<QTimer*> timers = w->findChildren<QTimer*>();
            return std::any_of(timers.begin(), timers.end(), [](QTimer* t) { return t->isActive(); });
        };
        EXPECT_FALSE(ticking());
        w->show();
        EXPECT_TRUE(WaitUntil([&] { return table->item(0, 6)->text() == "1"; }));
        w->hide();
        EXPECT_FALSE(ticking());
    }
    auto again = OpenWindow(false);
    ASSERT_TRUE(again);
    const std::vector<TReplyRule> kept = again->ScriptWindow()->Rules();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].Pattern, "AA ?? 55");
    EXPECT_EQ(kept[1].Kind, TPatternKind::Regex);
}

// A script's setBaud and setParity show on the settings page and in the status panel, a rate
// outside the list as typed.
TEST(ScriptWindow, SetBaudAndSetParityShowOnTheSettingsPageAndInThePanel) {
    TPty pty;
    StoreSettings(pty.Path);
    auto frm = OpenWindow();
    ASSERT_TRUE(frm);
    TScriptWindow* w = frm->ScriptWindow();
    auto* editor = w->findChild<TScriptEditor*>("ScriptEditor");
    auto* rate = frm->findChild<QComboBox*>("CboBps");
    auto* parity = frm->findChild<QComboBox*>("CboParity");
    auto* panel = frm->findChild<QLabel*>("lblComSta");
    ASSERT_TRUE(editor && rate && parity && panel);
    ASSERT_NE(rate->currentText(), "250000");
    ASSERT_NE(parity->currentIndex(), 2);
    QSignalSpy finished(w, &TScriptWindow::ScriptFinished);

    editor->setPlainText("setBaud(250000);\nsetParity('even');\n");
    w->Run();
    // Posted in order: the settings have arrived before the end.
    ASSERT_TRUE(WaitUntil([&] { return finished.count() == 1; }));
    EXPECT_EQ(finished[0][0].toInt(), 0);
    EXPECT_EQ(rate->currentText(), "250000");
    EXPECT_EQ(parity->currentIndex(), 2);
    EXPECT_TRUE(panel->text().contains("250000")) << panel->text().toStdString();
    EXPECT_TRUE(panel->text().contains("Even")) << panel->text().toStdString();
    EXPECT_EQ(frm->Worker().GetLineSettings().BaudRate, 250000u);
}
