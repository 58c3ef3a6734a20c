// Kestrel where the file system is not what it expects: settings, logs, sends and history files
// that are FIFOs, devices behind symlinks or folders. The window's thread must keep answering
// (a probe posts calls to it and, when none is answered in time, ends the block itself so that
// the test fails instead of hanging), nothing received is lost, and no device is written.

#include "Dialogs.h"
#include "FileFeeder.h"
#include "Handover.h"
#include "HistoryJob.h"
#include "IniFormat.h"
#include "LiveLog.h"
#include "Openwindow.h"
#include "ReceivePane.h"
#include "Rtf.h"
#include "SendEdit.h"
#include "SettingsFile.h"
#include "SettingsKeys.h"
#include "StoredSettings.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QClipboard>
#include <QDir>
#include <QSignalSpy>
#include <QStyleHints>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <malloc.h>
#include <memory>
#include <mutex>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace {

// Posts a call to the window's thread every few milliseconds; when one waits unanswered for
// StallMs, the thread is stalled: rescue runs (on the probe's thread) to end the block.
class StallProbe {
public:
    // Long enough for a loaded machine or a sanitizer build; a blocked open or read never ends.
    static constexpr int StallMs = 10000;
    explicit StallProbe(std::function<void()> rescue = {})
        : Calls(new TPostedCalls(qApp)), Rescue(std::move(rescue)) {
        Thread = std::thread([this] { Run(); });
    }
    ~StallProbe() {
        {
            std::lock_guard lock(Lock);
            Done = true;
        }
        Wake.notify_all();
        Thread.join();
        delete Calls; // a call still queued goes with it
    }
    bool Stalled() const { return WasStalled.load(); }

private:
    void Run() {
        std::unique_lock lock(Lock);
        while (!Done) {
            const uint64_t before = Answered;
            lock.unlock();
            Calls->Post([this] {
                std::lock_guard l(Lock);
                ++Answered;
                Wake.notify_all();
            });
            lock.lock();
            const bool answered = Wake.wait_for(lock, std::chrono::milliseconds(StallMs),
                                                [&] { return Done || Answered != before; });
            if (!answered) {
                WasStalled = true;
                lock.unlock();
                if (Rescue)
                    Rescue();
                lock.lock();
                Wake.wait(lock, [&] { return Done || Answered != before; });
            }
            // The next call goes once this one was answered and the thread could run others.
            Wake.wait_for(lock, std::chrono::milliseconds(20), [&] { return Done; });
        }
    }

    TPostedCalls* Calls;
    std::function<void()> Rescue;
    std::thread Thread;
    std::mutex Lock;
    std::condition_variable Wake;
    uint64_t Answered = 0;
    bool Done = false;
    std::atomic<bool> WasStalled{false};
};

bool MakeFifo(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// A node of the null device, made in the test's folder (root only).
bool MakeNullDevice(const QString& path) {
    return ::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
}

bool IsCharDevice(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool IsFifo(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISFIFO(st.st_mode);
}

bool AnyMessageHas(const QStringList& messages, const QString& part) {
    for (const QString& m : messages)
        if (m.contains(part))
            return true;
    return false;
}

// The window on a settings folder of the test's own, with messages recorded.
class SpecialSettings : public ::testing::Test {
protected:
    void SetUp() override {
        Before = settings::SetFolder(Dir.path());
        ASSERT_TRUE(QDir().mkpath(Dir.filePath(settings::Organisation)));
        dialogs::RecordMessages(true);
        dialogs::TakeMessages();
    }
    void TearDown() override {
        Frm.reset();
        settings::SetFolder(Before);
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
    }
    QString Conf() const { return settings::FilePath(); }
    // Opens and closes the window; the messages it gave.
    QStringList RunWindow() {
        Frm = OpenWindow(false);
        EXPECT_TRUE(Frm);
        if (!Frm)
            return {};
        Frm->ToolExitClick();
        EXPECT_TRUE(WaitUntil([&] { return !Frm->isVisible(); }));
        QCoreApplication::processEvents();
        return dialogs::TakeMessages();
    }

    QTemporaryDir Dir;
    QString Before;
    std::unique_ptr<TFrmMain> Frm;
};

TEST_F(SpecialSettings, ASymlinkToADeviceIsNeitherReadNorReplaced) {
    const QString node = Dir.filePath("null");
    if (!MakeNullDevice(node))
        GTEST_SKIP() << "mknod needs root";
    ASSERT_TRUE(QFile::link(node, Conf()));
    StallProbe probe;
    const QStringList messages = RunWindow();
    EXPECT_FALSE(probe.Stalled());
    EXPECT_TRUE(IsCharDevice(node));
    EXPECT_TRUE(QFileInfo(Conf()).isSymLink());
    EXPECT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(AnyMessageHas(messages, "不是普通文件"));
}

TEST_F(SpecialSettings, AFifoIsNotOpenedAndStaysAFifo) {
    ASSERT_TRUE(MakeFifo(Conf()));
    // Blocked in opening it: a writer lets the open end.
    int writer = -1;
    StallProbe probe([&] {
        writer = ::open(QFile::encodeName(Conf()).constData(), O_WRONLY | O_NONBLOCK);
    });
    const QStringList messages = RunWindow();
    EXPECT_FALSE(probe.Stalled());
    if (writer >= 0)
        ::close(writer);
    EXPECT_TRUE(IsFifo(Conf()));
    EXPECT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(AnyMessageHas(messages, "不是普通文件"));
}

TEST_F(SpecialSettings, SettingsThatCannotBeSavedAreSaidOnceAndTheWindowCloses) {
    // A folder where the file should be: said at the start, and not again at the exit.
    ASSERT_TRUE(QDir().mkpath(Conf()));
    QStringList messages = RunWindow();
    ASSERT_TRUE(Frm);
    EXPECT_FALSE(Frm->isVisible());
    EXPECT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(AnyMessageHas(messages, "设置不会保存"));
    Frm.reset();

    // A folder that cannot be written (root ignores permissions: a read-only bind mount).
    ASSERT_TRUE(QDir(Conf()).removeRecursively());
    {
        QFile f(Conf());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nBaudRate=12\n");
    }
    const QByteArray folder = QFile::encodeName(QFileInfo(Conf()).absolutePath());
    if (::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "bind mounts need root";
    const bool readOnly = ::mount(nullptr, folder.constData(), nullptr,
                                  MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    if (readOnly) {
        StallProbe probe;
        messages = RunWindow();
        EXPECT_FALSE(probe.Stalled());
    }
    ::umount2(folder.constData(), MNT_DETACH);
    ASSERT_TRUE(readOnly);
    ASSERT_TRUE(Frm);
    EXPECT_FALSE(Frm->isVisible());
    EXPECT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
    EXPECT_TRUE(AnyMessageHas(messages, "设置未保存"));
    QFile f(Conf());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "[General]\nBaudRate=12\n");
}

TEST_F(SpecialSettings, AForeignValueNeverGrowsTheFilePastWhatIsRead) {
    {
        QFile f(Conf());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("[General]\nComPort=0\nBaudRate=12\nParity=0\nControlRTS=0\nAllowHead=0\n"
                "RTSEnabled=0\nDTREnabled=0\nSendMode=0\nReceNum=64\nHeadBuff=55 AA FF\n"
                "Foreign=" + QByteArray(600 << 10, '\x01') + "\nSmall=kept\n");
    }
    const QStringList messages = RunWindow();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    EXPECT_LE(QFileInfo(Conf()).size(), safeini::MaxFileBytes);
    const settings::TFileRead back = settings::ReadFile();
    EXPECT_TRUE(back.Problem.isEmpty());
    EXPECT_EQ(back.Map.value(settings::BaudRate).toString(), "12");
    EXPECT_EQ(back.Map.value(settings::ReceNum).toString(), "64");
    EXPECT_EQ(back.Map.value("Small").toString(), "kept");
    EXPECT_FALSE(back.Map.contains("Foreign"));
}

TEST(SpecialLog, AFifoWithoutAReaderIsRefusedAtOnce) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log");
    ASSERT_TRUE(MakeFifo(path));
    int reader = -1;
    StallProbe probe([&] { reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK); });
    TLiveLog log;
    EXPECT_FALSE(log.Start(QFile::encodeName(path).toStdString(), TLiveLog::TMode::Raw));
    EXPECT_EQ(log.ErrorNumber(), ENXIO);
    QCoreApplication::processEvents();
    EXPECT_FALSE(probe.Stalled());
    if (reader >= 0)
        ::close(reader);
}

TEST(SpecialLog, AReaderThatStopsReadingHoldsUpNeitherPushNorStop) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log");
    ASSERT_TRUE(MakeFifo(path));
    const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    // Blocked: the reader reads everything, which lets a writer go on.
    StallProbe probe([&] {
        char sink[65536];
        while (::read(reader, sink, sizeof sink) != 0) {
        }
    });
    TLiveLog log;
    ASSERT_TRUE(log.Start(QFile::encodeName(path).toStdString(), TLiveLog::TMode::Raw));
    const std::vector<uint8_t> block(64 << 10, 0x5A);
    const uint64_t blocks = (2 * TLiveLog::MaxQueuedBytes) / block.size();
    for (uint64_t i = 0; i < blocks; ++i) {
        log.Push(block.data(), block.size());
        if (i % 64 == 0)
            QCoreApplication::processEvents();
    }
    EXPECT_GT(log.DroppedBytes(), 0u);
    log.Stop();
    QCoreApplication::processEvents();
    EXPECT_FALSE(probe.Stalled());
    // Every byte is either in the FIFO or counted as dropped.
    EXPECT_EQ(log.FileBytes() + log.DroppedBytes(), blocks * block.size());
    ::close(reader);
}

TEST(SpecialLog, AReaderThatGoesAwayEndsTheLogWithItsReason) {
    QTemporaryDir dir;
    const QString path = dir.filePath("log");
    ASSERT_TRUE(MakeFifo(path));
    const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    TLiveLog log;
    ASSERT_TRUE(log.Start(QFile::encodeName(path).toStdString(), TLiveLog::TMode::Text));
    ::close(reader);
    const uint8_t line[] = "gone\r\n";
    log.Push(line, sizeof line - 1);
    ASSERT_TRUE(WaitUntil([&] { return log.Failed(); }));
    EXPECT_EQ(log.ErrorNumber(), EPIPE); // and the process lives on
    log.Stop();
}

TEST(SpecialLog, ALineThatNeverEndsIsWrittenAsItComesAndNotHeld) {
    QTemporaryDir dir;
    const QString path = dir.filePath("text.log");
    TLiveLog log;
    ASSERT_TRUE(log.Start(QFile::encodeName(path).toStdString(), TLiveLog::TMode::Text));
    const std::vector<uint8_t> block(64 << 10, 'a');
    constexpr int Blocks = 128; // 8 MiB without a break
    const size_t heapBefore = mallinfo2().uordblks;
    for (int i = 0; i < Blocks; ++i)
        log.Push(block.data(), block.size());
    ASSERT_TRUE(WaitUntil([&] { return log.FileBytes() == uint64_t(Blocks) * block.size(); }));
    // The writer keeps no copy of the line (holding it would take 8 MiB and more): the heap is
    // back near where it was, give or take what other threads of the process hold meanwhile (a
    // sanitizer's allocator reports nothing here, and the check passes there trivially).
    EXPECT_LT(mallinfo2().uordblks, heapBefore + (6u << 20));
    log.Stop();
    EXPECT_EQ(QFileInfo(path).size(), qint64(Blocks) * qint64(block.size()) + 1); // and its break
}

TEST_F(SpecialSettings, ALogFileDeletedWhileLoggingIsSaidOnTheBadge) {
    Frm = OpenWindow(false);
    ASSERT_TRUE(Frm);
    const QString path = Dir.filePath("deleted.log");
    ASSERT_TRUE(Frm->StartLiveLog(path, 0));
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_TRUE(WaitUntil([&] { return Part<QLabel>(Frm, "lblLog")->text().contains("文件已被删除"); }));
    Frm->StopLiveLog();
}

TEST(SpecialSend, AFifoSendEndsAtOnceOnCancelWhileItsWriterIsSilent) {
    QTemporaryDir dir;
    const QString path = dir.filePath("send");
    ASSERT_TRUE(MakeFifo(path));
    int writer = -1;
    // Blocked in opening it or in reading it: the writer's end, opened and closed, ends both.
    StallProbe probe([&] {
        const int w = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (w >= 0)
            ::close(w);
        if (writer >= 0)
            ::close(std::exchange(writer, -1));
    });
    std::mutex lock;
    std::string sent;
    TFileFeeder feeder(QFile::encodeName(path).toStdString(), [&](const uint8_t* b, uint32_t n) {
        std::lock_guard l(lock);
        sent.append(reinterpret_cast<const char*>(b), n);
        return TFileFeeder::TTaken::Yes;
    });
    ASSERT_TRUE(feeder.Start()); // no writer yet
    writer = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, "\x00\xFF" "abc", 5), 5);
    ASSERT_TRUE(WaitUntil([&] { return feeder.State().Handed == 5; }));
    feeder.Cancel(); // the writer is open and silent
    QCoreApplication::processEvents();
    EXPECT_FALSE(probe.Stalled());
    EXPECT_TRUE(feeder.State().Cancelled);
    EXPECT_EQ(sent, std::string("\x00\xFF" "abc", 5));
    if (writer >= 0)
        ::close(writer);
}

TEST_F(SpecialSettings, AHistoryFileThatIsNotRegularIsRefusedOnOpenAndSave) {
    Frm = OpenWindow(false);
    ASSERT_TRUE(Frm);
    const QString fifo = Dir.filePath("h.kst");
    ASSERT_TRUE(MakeFifo(fifo));
    int writer = -1;
    StallProbe probe([&] { writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK); });
    dialogs::SetNextFileNames({fifo});
    Frm->ToolOpenClick();
    EXPECT_EQ(Frm->RunningJob(), nullptr);
    EXPECT_TRUE(AnyMessageHas(dialogs::TakeMessages(), "不是普通文件"));

    const QString node = Dir.filePath("null");
    const QString link = Dir.filePath("s.kst");
    if (MakeNullDevice(node)) {
        ASSERT_TRUE(QFile::link(node, link));
        dialogs::SetNextFileNames({link});
        Frm->ToolSaveClick();
        EXPECT_EQ(Frm->RunningJob(), nullptr);
        EXPECT_TRUE(AnyMessageHas(dialogs::TakeMessages(), "不是普通文件"));
        EXPECT_TRUE(IsCharDevice(node));
    }
    // The job's own reading refuses it too, whatever the window checked.
    EXPECT_FALSE(IsRegularFile(fifo));
    QCoreApplication::processEvents();
    EXPECT_FALSE(probe.Stalled());
    if (writer >= 0)
        ::close(writer);
}

TEST_F(SpecialSettings, AnOpenBlockedInItsReadEndsAtOnceOnCancelAndOnClose) {
    Frm = OpenWindow(false);
    ASSERT_TRUE(Frm);
    const QString fifo = Dir.filePath("stalled");
    ASSERT_TRUE(MakeFifo(fifo));
    // The writer's end stays open and silent: a read of the FIFO waits as one on a stalled
    // network mount does. Closing it ends every such read.
    std::atomic<int> writer = ::open(QFile::encodeName(fifo).constData(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer.load(), 0);
    const auto release = [&writer] {
        const int w = writer.exchange(-1);
        if (w >= 0)
            ::close(w);
    };
    StallProbe probe(release);
    // Shared with the reads: a read left behind may end after the test.
    auto reading = std::make_shared<std::atomic<int>>(0);
    const auto read = [reading](const QString& name, TRtfLineSink&, const TFileProgress&) {
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDONLY | O_CLOEXEC);
        ++*reading;
        char c = 0;
        if (fd >= 0) {
            [[maybe_unused]] const ssize_t n = ::read(fd, &c, 1);
            ::close(fd);
        }
        return TFileResult::Failed;
    };
    TReceivePane* pane = Part<TReceivePane>(Frm, "ReceEdit");
    Frm->OpenHistory(fifo, read);
    ASSERT_NE(Frm->RunningJob(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return reading->load() == 1; }));
    const std::vector<uint8_t> held = {0x00, 0xFF, 'o', 'k'};
    Frm->OnCommData(held.data(), uint32_t(held.size()));
    QCoreApplication::processEvents();
    EXPECT_EQ(pane->Store().LineCount(), 0); // held back while the file is read

    Frm->RunningJob()->Cancel();
    EXPECT_EQ(Frm->RunningJob(), nullptr);
    EXPECT_TRUE(WaitUntil([&] {
        return pane->Store().LineCount() == 1 && pane->Store().Line(0).find("00 FF 6F 6B") != std::string::npos;
    }));
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());

    // Closing the window while a read waits.
    Frm->OpenHistory(fifo, read);
    ASSERT_TRUE(WaitUntil([&] { return reading->load() == 2; }));
    Frm.reset();
    QCoreApplication::processEvents();
    EXPECT_FALSE(probe.Stalled());
    release();
}

TEST(SpecialPortMap, APathThatIsNotUtf8IsKeptAsItsBytes) {
    TStoredSettings stored;
    TPortMap map;
    map.Targets[0] = std::string("/dev/serial/by-id/usb-\xFF\xFE") + "-port0";
    map.Targets[1] = "/dev/ttyUSB1";
    stored.PortMap = map;
    QSettings::SettingsMap written;
    WriteStoredSettings(written, stored);
    QSettings::SettingsMap read;
    ASSERT_TRUE(safeini::ParseIni(safeini::FormatSettings(written), read));
    const TStoredSettings back = ReadStoredSettings(read);
    ASSERT_TRUE(back.PortMap);
    EXPECT_EQ(back.PortMap->Targets, map.Targets);
}

TEST(SpecialSendPane, ALongLineFoldsThePaneAndItsTextStaysExact) {
    TSendEdit edit;
    edit.resize(400, 100);
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    edit.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&edit));
    edit.setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return edit.hasFocus(); }));
    const int blink = QGuiApplication::styleHints()->cursorFlashTime();
    ASSERT_GT(blink, 0);
    const QString line = QString(1 << 20, u'A') + u'Z';
    edit.SetLines({"short", line});
    EXPECT_EQ(edit.LineCount(), 2);
    EXPECT_EQ(edit.Line(1), line);
    EXPECT_EQ(edit.Lines(), (QStringList{"short", line}));
    // The line is held in short blocks, each cheap to lay out when the caret is drawn in it; so
    // the caret goes on blinking.
    int longest = 0;
    for (QTextBlock b = edit.document()->begin(); b.isValid(); b = b.next())
        longest = std::max(longest, b.length() - 1);
    EXPECT_LE(longest, TSendEdit::FoldChars);
    EXPECT_GT(edit.document()->blockCount(), 2);
    EXPECT_EQ(QGuiApplication::styleHints()->cursorFlashTime(), blink);
    edit.SetLine(1, "x");
    EXPECT_EQ(edit.Lines(), (QStringList{"short", "x"}));
    EXPECT_EQ(edit.document()->blockCount(), 2);
}

// Keys and copies where a long line goes on in the next block act on the line as if it were whole.
TEST(SpecialSendPane, EditsAtAFoldPointActOnTheWholeLine) {
    TSendEdit edit;
    edit.resize(400, 100);
    edit.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&edit));
    edit.setFocus();
    QString line;
    for (int i = 0; i < 3 * TSendEdit::FoldChars; ++i)
        line += QChar(u'a' + i % 26);
    edit.SetLines({line});
    const QTextDocument* doc = edit.document();
    ASSERT_GT(doc->blockCount(), 1);
    const int fold = doc->findBlockByNumber(1).position(); // where the second block starts
    const int column = fold - 1;                           // the line's character there
    const auto caretAt = [&](int position, int anchor = -1) {
        QTextCursor c(edit.document());
        c.setPosition(anchor < 0 ? position : anchor);
        c.setPosition(position, QTextCursor::KeepAnchor);
        edit.setTextCursor(c);
    };
    const auto expectOneLine = [&](const QString& text) {
        EXPECT_EQ(edit.LineCount(), 1);
        EXPECT_EQ(edit.Line(0), text);
        EXPECT_EQ(edit.Lines(), QStringList{text});
    };

    // A copy across the fold has no line break in it.
    caretAt(fold + 2, fold - 2);
    EXPECT_EQ(edit.SelectedText(), line.mid(column - 1, 3));
    edit.copy();
    EXPECT_EQ(QApplication::clipboard()->text(), line.mid(column - 1, 3));

    // Backspace takes the character before the fold; undo brings it back.
    caretAt(fold);
    EXPECT_EQ(edit.CaretRow(), 0);
    QTest::keyClick(&edit, Qt::Key_Backspace);
    expectOneLine(QString(line).remove(column - 1, 1));
    edit.undo();
    expectOneLine(line);
    caretAt(fold - 1);
    QTest::keyClick(&edit, Qt::Key_Delete);
    expectOneLine(QString(line).remove(column, 1));
    edit.undo();
    expectOneLine(line);

    // Enter at the fold ends the line there, without an empty line; anywhere else it splits the
    // line at the caret, the rest of its blocks going with the new line.
    caretAt(fold);
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_EQ(edit.Lines(), (QStringList{line.left(column), line.mid(column)}));
    EXPECT_EQ(edit.CaretRow(), 1);
    edit.undo();
    expectOneLine(line);
    edit.redo();
    EXPECT_EQ(edit.Lines(), (QStringList{line.left(column), line.mid(column)}));
    edit.undo();
    caretAt(fold + 5);
    QTest::keyClick(&edit, Qt::Key_Return);
    EXPECT_EQ(edit.Lines(), (QStringList{line.left(column + 5), line.mid(column + 5)}));
    // Backspace then joins the two lines again: one line, blocks no longer than allowed.
    QTest::keyClick(&edit, Qt::Key_Backspace);
    expectOneLine(line);

    // Typing into a full block keeps the blocks short, in one undo step with the key.
    const int blocks = doc->blockCount();
    caretAt(fold - 1);
    QTest::keyClick(&edit, Qt::Key_X, Qt::NoModifier);
    expectOneLine(QString(line).insert(column, u'x'));
    int longest = 0;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next())
        longest = std::max(longest, b.length() - 1);
    EXPECT_LE(longest, TSendEdit::FoldChars);
    edit.undo();
    expectOneLine(line);
    EXPECT_EQ(doc->blockCount(), blocks);

    // The unsent mark shades each block of the line.
    edit.MarkUnsent(0);
    EXPECT_TRUE(edit.IsMarkedUnsent(0));
    EXPECT_EQ(edit.extraSelections().size(), doc->blockCount());
}

TEST(SpecialTextView, ALineWithoutABreakIsSelectedFromTheIndexAndCopiedOnAThreadCutAndSaid) {
    TReceivePane pane;
    pane.resize(700, 300);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    pane.SetTextView(true);
    // A line whose text passes the copy limit: 24 MiB, no break.
    const std::vector<uint8_t> bytes(24 << 20, 'A');
    pane.Store().Receive(bytes.data(), bytes.size());
    pane.Refresh();
    QSignalSpy truncated(&pane, &TReceivePane::CopyTruncated);
    StallProbe probe;
    pane.SelectAll();
    ASSERT_TRUE(pane.HasSelection());
    pane.Copy();
    // Built on a thread of its own; another Copy cancels the first.
    EXPECT_TRUE(pane.Copying());
    pane.Copy();
    EXPECT_TRUE(pane.Copying());
    EXPECT_TRUE(WaitUntil([&] { return !pane.Copying(); }, 60000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(probe.Stalled());
    ASSERT_EQ(truncated.count(), 1); // the window says so
    EXPECT_EQ(truncated.at(0).at(0).toLongLong(), 0); // no whole line
    EXPECT_EQ(truncated.at(0).at(1).toLongLong(), 1);
    const QString text = QApplication::clipboard()->text();
    EXPECT_GT(text.size(), 0);
    EXPECT_EQ(size_t(text.size()), TReceivePane::CopyLimit);
    EXPECT_EQ(text.count(u'A'), text.size());
}

} // namespace
