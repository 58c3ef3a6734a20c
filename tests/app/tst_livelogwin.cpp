// The live log from the receive pane's menu: a flood from the far end is in
// the file whole (raw) or as the text view's lines, paused or not; the pane
// says what is being recorded; stopping closes the file.

#include "Dialogs.h"
#include "ReceivePane.h"
#include "Openwindow.h"
#include "Pty.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

namespace {

class LiveLogWindow : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Frm = OpenWindow();
        ASSERT_TRUE(Frm);
        dialogs::RecordMessages(true);
    }
    void TearDown() override {
        Frm.reset();
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
    }
    // Chooses the pane's menu item that begins with caption.
    bool Choose(const QString& caption) {
        std::unique_ptr<QMenu> menu(Part<TReceivePane>(Frm, "ReceEdit")->CreateContextMenu());
        for (QAction* a : menu->actions())
            if (a->text().startsWith(caption)) {
                a->trigger();
                return true;
            }
        return false;
    }
    QByteArray FileText(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    QTemporaryDir Dir;
};

TEST_F(LiveLogWindow, AFloodIsRecordedWholeEvenWhileThePaneIsPaused) {
    const QString path = Dir.filePath("raw.bin");
    dialogs::SetNextFileNames({path});
    ASSERT_TRUE(Choose("记录到文件 (原样字节)"));
    ASSERT_TRUE(WaitUntil([&] { return Part<QLabel>(Frm, "lblLog")->isVisible(); }));
    EXPECT_TRUE(Part<QLabel>(Frm, "lblLog")->text().contains("raw.bin"));
    // On the title strip, clear of its wave and of the version beside the name.
    const QRect badge = Part<QLabel>(Frm, "lblLog")->geometry();
    EXPECT_TRUE(QRect(0, 0, Frm->width(), TFrmMain::StripHeight).contains(badge));
    EXPECT_TRUE((badge.left() >= TFrmMain::StripGapLeft && badge.right() < TFrmMain::StripGapRight) || badge.left() >= 630) << badge.left();
    const QLabel* version = Part<QLabel>(Frm, "Label1");
    EXPECT_FALSE(version->isVisible() && version->geometry().intersects(badge));
    std::vector<uint8_t> sent(1 << 20);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = uint8_t(i * 7 + (i >> 10));
    QTest::mouseClick(Part<QToolButton>(Frm, "ToolPause"), Qt::LeftButton); // the pane pauses, the log does not
    Far.Write(sent);
    ASSERT_TRUE(WaitUntil([&] { return FileText(path).size() == int(sent.size()); }, 10000));
    EXPECT_TRUE(WaitUntil([&] { return Part<QLabel>(Frm, "lblLog")->text().contains("1.05 MB"); }));
    ASSERT_TRUE(Choose("停止记录"));
    EXPECT_FALSE(Part<QLabel>(Frm, "lblLog")->isVisible());
    EXPECT_TRUE(version->isVisible());
    EXPECT_EQ(FileText(path), QByteArray(reinterpret_cast<const char*>(sent.data()), int(sent.size())));
    const uint64_t read = Frm->Worker().BytesRead();
    Far.Write({'x'});
    ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().BytesRead() > read; })); // handed over
    EXPECT_EQ(FileText(path).size(), int(sent.size())); // stopped
}

TEST_F(LiveLogWindow, TextRecordsTheLinesAsTheTextViewShowsThem) {
    const QString path = Dir.filePath("log.txt");
    dialogs::SetNextFileNames({path});
    ASSERT_TRUE(Choose("记录到文件 (文本)"));
    Far.Write({'A', 'T', '\r'});
    Far.Write({'\n', 'O', 'K', 0x1B, 0xC4, 0xE3, '\r', '\n'});
    ASSERT_TRUE(WaitUntil([&] { return FileText(path) == "AT\nOK\\x1B你\n"; }))
        << FileText(path).toStdString();
    Frm.reset(); // closing stops the log
    EXPECT_EQ(FileText(path), "AT\nOK\\x1B你\n");
}

TEST_F(LiveLogWindow, AFileThatCannotBeWrittenIsSaidAndNothingRuns) {
    dialogs::SetNextFileNames({"/nonexistent/dir/log.bin"});
    ASSERT_TRUE(Choose("记录到文件 (原样字节)"));
    const QStringList shown = dialogs::TakeMessages();
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown.first().contains("不能记录到文件"));
    EXPECT_FALSE(Part<QLabel>(Frm, "lblLog")->isVisible());
}

} // namespace
