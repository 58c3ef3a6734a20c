// A long line in the send pane over a pseudo-terminal whose far end reads
// slowly, stops reading or is pulled out: the progress beneath the pane, the
// stop button and Esc, and the note of bytes that did not go out.

#include "Dialogs.h"
#include "Pty.h"
#include "SendEdit.h"
#include "SendPage.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QAction>
#include <QLabel>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <fstream>
#include <memory>

namespace {

using Bytes = std::vector<uint8_t>;

class SendProgress : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(Far.Path);
        Frm = std::make_unique<TFrmMain>();
        Frm->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Frm.get()));
        ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().IsOpen(); }));
        Page = Frm->TabSend;
        Edit = Page->SendEdit;
        Edit->setFocus();
        Page->SetSendMode(1);
    }
    void TearDown() override { Frm.reset(); }

    // Enter after a line of n letters, in Line mode.
    Bytes SendLongLine(int n) {
        QString line;
        Bytes bytes;
        for (int i = 0; i < n; ++i) {
            const char c = char('a' + i % 26);
            line += QChar(c);
            bytes.push_back(uint8_t(c));
        }
        Edit->setPlainText(line);
        Edit->CaretToEnd();
        QTest::keyClick(Edit, Qt::Key_Return);
        return bytes;
    }
    bool ShowsProgress() const {
        return Page->SendBar->isVisible() && Page->BtnStopSend->isVisible();
    }
    // The count in the note of dropped bytes; -1 while there is none.
    long long NotSent() const {
        if (!Page->SendBar->isVisible() || Page->BtnStopSend->isVisible())
            return -1;
        auto m = QRegularExpression("(\\d+) 字节未发出").match(Page->lblSendLeft->text());
        return m.hasMatch() ? m.captured(1).toLongLong() : -1;
    }
    // Reads the far end while the window runs, until want bytes came.
    Bytes DrainFarEnd(size_t want) {
        Bytes got;
        WaitUntil(
            [&] {
                Bytes part = Far.Read(65536, 5);
                got.insert(got.end(), part.begin(), part.end());
                return got.size() >= want;
            },
            30000);
        return got;
    }

    TPty Far;
    std::unique_ptr<TFrmMain> Frm;
    TSendPage* Page = nullptr;
    TSendEdit* Edit = nullptr;
};

TEST_F(SendProgress, ASlowReaderGetsTheWholeLineWhileTheBarCountsDown) {
    const Bytes line = SendLongLine(200000);
    Bytes got;
    bool shown = false;
    QString firstText;
    // 2 KiB at a time, with the window running in between.
    ASSERT_TRUE(WaitUntil(
        [&] {
            if (ShowsProgress() && !shown) {
                shown = true;
                firstText = Page->lblSendLeft->text();
            }
            Bytes part = Far.Read(2048, 5);
            got.insert(got.end(), part.begin(), part.end());
            QTest::qSleep(5);
            return got.size() >= line.size();
        },
        30000));
    EXPECT_TRUE(got == line);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(firstText.contains(QRegularExpression("还有 \\d+ 字节")))
        << firstText.toStdString();
    EXPECT_TRUE(WaitUntil([&] { return !Page->SendBar->isVisible(); }));
    EXPECT_EQ(Edit->Line(0).size(), 200000); // echoed as sent
}

TEST_F(SendProgress, StopDropsTheRestAndTheNoteSaysHowManyBytesDidNotGoOut) {
    const Bytes line = SendLongLine(300000);
    ASSERT_TRUE(WaitUntil([&] { return ShowsProgress(); }));
    QTest::mouseClick(Page->BtnStopSend, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return NotSent() >= 0; }));
    const long long notSent = NotSent();
    EXPECT_GT(notSent, 0);
    const Bytes got = DrainFarEnd(size_t(300000 - notSent));
    EXPECT_EQ(static_cast<long long>(got.size()), 300000 - notSent);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), line.begin()));
    EXPECT_EQ(Frm->Worker().BytesToGo(), 0u);

    // With nothing under way, Esc is a byte like any other in Character mode.
    Page->SetSendMode(0);
    QTest::keyClick(Edit, Qt::Key_Escape);
    EXPECT_EQ(Far.Read(1), Bytes{0x1B});
}

TEST_F(SendProgress, EscStopsALongSendAndAnUnplugIsNotedToo) {
    SendLongLine(300000);
    ASSERT_TRUE(WaitUntil([&] { return ShowsProgress(); }));
    QTest::keyClick(Edit, Qt::Key_Escape);
    ASSERT_TRUE(WaitUntil([&] { return NotSent() > 0; }));
    DrainFarEnd(size_t(300000 - NotSent()));

    SendLongLine(300000);
    ASSERT_TRUE(WaitUntil([&] { return ShowsProgress(); }));
    Far.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return NotSent() > 0; }));
    EXPECT_EQ(Frm->Worker().BytesToGo(), 0u);
}

class SendFile : public SendProgress {
protected:
    // A file of n pseudo-random bytes, offered by the next file dialog.
    Bytes OfferFile(size_t n) {
        Bytes bytes(n);
        uint32_t seed = uint32_t(n);
        for (uint8_t& b : bytes) {
            seed = seed * 1103515245u + 12345u;
            b = uint8_t(seed >> 16);
        }
        const QString name = Dir.filePath("data.bin");
        std::ofstream(name.toStdString(), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(n));
        dialogs::SetNextFileNames({name});
        return bytes;
    }
    QTemporaryDir Dir;
};

// Bigger than the send queue, so that it is handed over a piece at a time.
TEST_F(SendFile, AFileGoesOutWholeAsItIsAndTheNoteSaysSo) {
    Frm->Worker().SetPreambleMode(true); // a file never gets the preamble
    const Bytes file = OfferFile(10u << 20);
    Page->mnuSendFile->trigger();
    ASSERT_TRUE(WaitUntil([&] { return ShowsProgress(); }));
    EXPECT_TRUE(Page->lblSendLeft->text().contains("data.bin"));
    const Bytes got = DrainFarEnd(file.size());
    EXPECT_EQ(got.size(), file.size());
    EXPECT_TRUE(got == file);
    ASSERT_TRUE(WaitUntil([&] { return Page->lblSendLeft->text().contains("已发送"); }));
    EXPECT_FALSE(Page->BtnStopSend->isVisible());
}

TEST_F(SendFile, StoppingAFileSaysHowManyOfItsBytesDidNotGoOut) {
    const Bytes file = OfferFile(20u << 20);
    Page->mnuSendFile->trigger();
    ASSERT_TRUE(WaitUntil([&] { return ShowsProgress(); }));
    // The far end does not read: the queue fills.
    ASSERT_TRUE(WaitUntil([&] { return Frm->Worker().BytesToGo() >= (1u << 20); }, 10000));
    QTest::keyClick(Edit, Qt::Key_Escape);
    // Every byte of the file is either at the far end or counted in the note,
    // the worker's own count of what it dropped included.
    Bytes got;
    long long notSent = -1;
    EXPECT_TRUE(WaitUntil(
        [&] {
            Bytes part = Far.Read(65536, 5);
            got.insert(got.end(), part.begin(), part.end());
            notSent = NotSent();
            return notSent > 0 && Frm->Worker().BytesToGo() == 0 &&
                   static_cast<long long>(got.size()) + notSent ==
                       static_cast<long long>(file.size());
        },
        30000))
        << got.size() << " + " << notSent << " of " << file.size();
    EXPECT_TRUE(std::equal(got.begin(), got.end(), file.begin()));
    EXPECT_FALSE(Page->SendingFile());
}

TEST_F(SendFile, UnderRtsControlOrForAMissingFileNothingIsSent) {
    Frm->ChkControlRTSClick(); // on
    ASSERT_TRUE(Frm->ControlRtsOn());
    OfferFile(1000);
    Page->mnuSendFile->trigger();
    EXPECT_FALSE(Page->SendingFile());
    dialogs::SetNextFileNames({});
    Frm->ChkControlRTSClick(); // off

    dialogs::SetNextFileNames({Dir.filePath("missing.bin")});
    Page->mnuSendFile->trigger();
    EXPECT_FALSE(Page->SendingFile());
    EXPECT_TRUE(Page->lblSendLeft->text().contains("不能发送文件")) << Page->lblSendLeft->text().toStdString();
    // Nothing went: a byte sent now is the first the far end reads.
    ASSERT_TRUE(Frm->Worker().SendByte(0x7E));
    EXPECT_EQ(Far.Read(1), Bytes{0x7E});
}

} // namespace
