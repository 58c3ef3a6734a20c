// The receive pane's text view in the window, with the far end on a
// pseudo-terminal: bytes arrive as text lines, stamped with their arrival when
// asked; a switch keeps the same bytes at the top; Save writes the lines as
// shown to a plain-text file; the choice is kept with the settings.

#include "Dialogs.h"
#include "ReceivePane.h"
#include "Openwindow.h"
#include "Pty.h"
#include "SettingsKeys.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

class TextView : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Frm = OpenWindow();
        ASSERT_TRUE(Frm);
        Pane = Frm->ReceEdit;
        dialogs::RecordMessages(true);
    }
    void TearDown() override {
        Frm.reset();
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
    }
    // Toggles the pane's menu item that begins with caption; its state after.
    bool Toggle(const QString& caption) {
        std::unique_ptr<QMenu> menu(Pane->CreateContextMenu());
        for (QAction* a : menu->actions())
            if (a->text().startsWith(caption)) {
                a->trigger();
                return a->isChecked();
            }
        ADD_FAILURE() << caption.toStdString();
        return false;
    }
    void Send(const std::string& bytes) {
        Far.Write(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }
    QString Line(int64_t k) const { return Pane->LineString(k); }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TReceivePane* Pane = nullptr;
    QTemporaryDir Dir;
};

TEST_F(TextView, BytesFromTheFarEndShowAsTextLinesStampedWhenAsked) {
    EXPECT_FALSE(Pane->TextView()); // the hex dump stays the default
    ASSERT_TRUE(Toggle("文本显示(&X)"));
    EXPECT_TRUE(Pane->TextView());
    Send("AT\r");
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().BytesRead() >= 3; }));
    // The LF of the CR LF in a later read, then a pair, an escape and 0x00, 0xFF.
    Send(std::string("\nOK \xC4\xE3\x1B\x00\xFF\r\nlast", 15));
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == 3 && Line(2) == "last"; }))
        << Line(Pane->LineTotal() - 1).toStdString();
    EXPECT_EQ(Line(0), "AT");
    EXPECT_EQ(Line(1), "OK 你\\x1B\\x00\\xFF");

    const QTime now = QTime::currentTime();
    ASSERT_TRUE(Toggle("文本显示时间戳"));
    const QRegularExpression stamped("^(\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d) AT$");
    const auto match = stamped.match(Line(0));
    ASSERT_TRUE(match.hasMatch()) << Line(0).toStdString();
    const QTime at = QTime::fromString(match.captured(1), "HH:mm:ss.zzz");
    EXPECT_LE(std::abs(at.msecsTo(now)), 5000) << match.captured(1).toStdString();
    EXPECT_TRUE(Line(2).endsWith(" last"));

    // Both choices are kept with the settings.
    Frm->SaveSettings();
    QSettings s(settings::Organisation, settings::Application);
    EXPECT_EQ(s.value(settings::ReceTextView).toInt(), 1);
    EXPECT_EQ(s.value(settings::ReceTextStamps).toInt(), 1);
    Frm.reset();
    Frm = std::make_unique<TFrmMain>();
    EXPECT_TRUE(Frm->ReceEdit->TextView());
    EXPECT_TRUE(Frm->ReceEdit->TextStamps());
}

TEST_F(TextView, ASwitchKeepsTheSameBytesAtTheTop) {
    std::string text;
    for (int i = 0; i < 3000; ++i)
        text += "line " + std::to_string(10000 + i) + "\n"; // 11 bytes a line
    Send(text);
    const int64_t hexLines = int64_t(text.size() + 15) / 16;
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == hexLines; }, 10000));
    ASSERT_TRUE(WaitUntil([&] { return Pane->verticalScrollBar()->maximum() >= 1100; }));
    // Hex line 1100 begins at byte 17600, inside text line 1600 (17600..17610).
    Pane->verticalScrollBar()->setValue(1100);
    ASSERT_EQ(Line(1100).left(13), "  000044C0:  ");
    Toggle("文本显示(&X)");
    EXPECT_EQ(Pane->TopLine(), 1600);
    EXPECT_EQ(Line(Pane->TopLine()), "line 11600");
    // And back: text line 1700 begins at byte 18700, in hex line 1168.
    Pane->verticalScrollBar()->setValue(1700);
    Toggle("文本显示(&X)");
    EXPECT_FALSE(Pane->TextView());
    EXPECT_EQ(Pane->TopLine(), 1168);
    EXPECT_FALSE(Pane->ShowsEnd());
}

TEST_F(TextView, SaveInTheTextViewWritesThePlainTextLog) {
    Toggle("文本显示(&X)");
    Send("one\r\ntwo \xC4\xE3\rthree");
    ASSERT_TRUE(WaitUntil([&] { return Pane->LineTotal() == 3 && Line(2) == "three"; }));
    const QString name = Dir.filePath("log"); // without an extension: .txt is added
    dialogs::SetNextFileNames({name});
    Frm->ToolSaveClick();
    ASSERT_TRUE(WaitUntil([&] { return Frm->HistoryJob == nullptr; }, 10000));
    QFile f(name + ".txt");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "one\ntwo 你\nthree\n");
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());

    // With stamps, as shown; the hex view saves its history file as before.
    Toggle("文本显示时间戳");
    dialogs::SetNextFileNames({Dir.filePath("stamped.txt")});
    Frm->ToolSaveClick();
    ASSERT_TRUE(WaitUntil([&] { return Frm->HistoryJob == nullptr; }, 10000));
    QFile g(Dir.filePath("stamped.txt"));
    ASSERT_TRUE(g.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(g.readAll()).split('\n');
    ASSERT_EQ(lines.size(), 4);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(lines[k], Line(k));
    Toggle("文本显示(&X)");
    dialogs::SetNextFileNames({Dir.filePath("hist")});
    Frm->ToolSaveClick();
    ASSERT_TRUE(WaitUntil([&] { return Frm->HistoryJob == nullptr; }, 10000));
    EXPECT_TRUE(QFile::exists(Dir.filePath("hist.kst")));
}

} // namespace
