// History files of any size through the window: saving and opening on a thread of their own while
// bytes keep arriving, cancelling, closing the window mid-save, and a pane that drops its oldest
// lines past its memory limit.

#include "Dialogs.h"
#include "ReceivePane.h"
#include "HistoryJob.h"
#include "Pty.h"
#include "Rtf.h"
#include "Unitmain.h"
#include "Windowtest.h"

#include <QFile>
#include <QProgressDialog>
#include <QPushButton>
#include <QLabel>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolButton>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

class TCollect : public TRtfLineSink {
public:
    void Line(std::string_view utf8) override { Lines.emplace_back(utf8); }
    void Restart() override { Lines.clear(); }
    std::vector<std::string> Lines;
};

std::vector<std::string> FileLines(const QString& name) {
    TCollect sink;
    EXPECT_EQ(LoadRtfStream(name, sink, {}), TFileResult::Ok);
    return sink.Lines;
}

std::vector<std::string> Lines(const TReceiveStore& store) {
    std::vector<std::string> out;
    for (int64_t k = 0; k < store.LineCount(); ++k)
        out.push_back(store.Line(k));
    return out;
}

QByteArray FileBytes(const QString& name) {
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

class History : public ::testing::Test {
protected:
    void SetUp() override {
        StoreSettings(LoopbackTarget);
        W = std::make_unique<TFrmMain>();
        W->show();
        dialogs::RecordMessages(true);
    }
    void TearDown() override {
        W.reset();
        dialogs::RecordMessages(false);
        dialogs::TakeMessages();
    }
    // count bytes through the window's receive path, as the worker delivers them.
    void Arrive(size_t count, uint8_t seed) {
        std::vector<uint8_t> block(4096);
        for (size_t done = 0; done < count; done += block.size()) {
            const size_t n = std::min(block.size(), count - done);
            for (size_t i = 0; i < n; ++i)
                block[i] = uint8_t(seed + (done + i) * 7 + ((done + i) >> 9));
            W->OnCommData(block.data(), uint32_t(n));
        }
        Received += count;
    }
    // Until the pane has taken every byte that arrived.
    bool Drain() {
        const TReceiveStore& store = Part<TReceivePane>(W, "ReceEdit")->Store();
        return WaitUntil(
            [&] { return store.LineCount() + store.LinesShifted() == int64_t(Received + 15) / 16; },
            30000);
    }
    bool Idle() {
        return WaitUntil([&] { return W->RunningJob() == nullptr; }, 60000);
    }
    bool ButtonsOn() const {
        return Part<QToolButton>(W, "ToolSave")->isEnabled() && Part<QToolButton>(W, "ToolOpen")->isEnabled() && Part<QToolButton>(W, "ToolClear")->isEnabled();
    }
    void SaveAs(const QString& name) {
        dialogs::SetNextFileNames({name});
        W->ToolSaveClick();
    }
    void OpenFile(const QString& name) {
        dialogs::SetNextFileNames({name});
        W->ToolOpenClick();
    }
    size_t Received = 0; // since the window started
    QTemporaryDir Dir;
    std::unique_ptr<TFrmMain> W;
};

TEST_F(History, SaveWhileBytesArriveHoldsExactlyTheLinesAtTheClick) {
    Arrive(2 << 20, 1);
    Arrive(5, 2); // still queued at the click, and a partial last line
    const QString name = Dir.filePath("a.kst");
    SaveAs(name);
    ASSERT_NE(W->RunningJob(), nullptr);
    EXPECT_FALSE(ButtonsOn());
    // No event has run since the click: the pane holds what the file must.
    const std::vector<std::string> atClick = Lines(Part<TReceivePane>(W, "ReceEdit")->Store());
    ASSERT_EQ(atClick.size(), size_t((2 << 20) / 16 + 1));
    // The pane goes on receiving; the line that was partial at the click fills up.
    for (int i = 0; i < 20 && W->RunningJob() != nullptr; ++i) {
        Arrive(64 << 10, uint8_t(i));
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(ButtonsOn());
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
    EXPECT_GT(Part<TReceivePane>(W, "ReceEdit")->Store().LineCount(), int64_t(atClick.size()));
    EXPECT_EQ(FileLines(name), atClick);
}

TEST_F(History, ACancelledSaveLeavesTheOldFileAsItWas) {
    const QString name = Dir.filePath("old.kst");
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("{\\rtf1 old\\par}");
    }
    Arrive(8 << 20, 4);
    ASSERT_TRUE(Drain());
    SaveAs(name);
    ASSERT_NE(W->RunningJob(), nullptr);
    W->RunningJob()->Cancel();
    ASSERT_TRUE(Idle());
    EXPECT_EQ(FileBytes(name), QByteArray("{\\rtf1 old\\par}"));
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
    EXPECT_TRUE(ButtonsOn());
}

TEST_F(History, AnOpenedSessionHasItsLinesBackAsCompactAsReceived) {
    Arrive(4 << 20, 5);
    Arrive(9, 6);
    ASSERT_TRUE(Drain());
    const std::vector<std::string> before = Lines(Part<TReceivePane>(W, "ReceEdit")->Store());
    const size_t receivedMemory = Part<TReceivePane>(W, "ReceEdit")->Store().MemoryUsed();
    const QString name = Dir.filePath("session.kst");
    SaveAs(name);
    ASSERT_TRUE(Idle());

    W->ToolClearClick();
    OpenFile(name);
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
    EXPECT_EQ(Lines(Part<TReceivePane>(W, "ReceEdit")->Store()), before);
    EXPECT_LT(double(Part<TReceivePane>(W, "ReceEdit")->Store().MemoryUsed()), 1.05 * double(receivedMemory));
    for (int64_t k : {int64_t(0), int64_t(before.size()) - 1})
        EXPECT_TRUE(Part<TReceivePane>(W, "ReceEdit")->Store().IsDumpLine(k));
}

TEST_F(History, OpenReplacesAFullPaneAndKeepsBytesThatArriveMeanwhile) {
    const QString name = Dir.filePath("text.kst");
    {
        std::vector<std::string> lines;
        for (int i = 0; i < 200000; ++i)
            lines.push_back("line " + std::to_string(i));
        ASSERT_EQ(SaveRtfStream(
                      name, RtfStyle(), int64_t(lines.size()),
                      [&](int64_t k, std::string&) { return std::string_view(lines[size_t(k)]); },
                      {}),
                  TFileResult::Ok);
    }
    Arrive(3 << 20, 7);
    ASSERT_TRUE(Drain());
    const uint64_t epoch = Part<TReceivePane>(W, "ReceEdit")->Store().Epoch();
    Part<TReceivePane>(W, "ReceEdit")->SelectAll();
    OpenFile(name);
    ASSERT_NE(W->RunningJob(), nullptr);
    const std::vector<uint8_t> meanwhile = {0x00, 0xFF, 'o', 'k'};
    W->OnCommData(meanwhile.data(), uint32_t(meanwhile.size()));
    ASSERT_TRUE(Idle());
    ASSERT_TRUE(WaitUntil([&] { return Part<TReceivePane>(W, "ReceEdit")->Store().LineCount() == 200001; }));
    const TReceiveStore& store = Part<TReceivePane>(W, "ReceEdit")->Store();
    EXPECT_NE(store.Epoch(), epoch);
    EXPECT_FALSE(Part<TReceivePane>(W, "ReceEdit")->HasSelection());
    EXPECT_EQ(store.Line(0), "line 0");
    EXPECT_EQ(store.Line(199999), "line 199999");
    EXPECT_EQ(store.Line(200000), "  00000000:  00 FF 6F 6B" + std::string(12 * 3 + 3, ' ') +
                                      "..ok" + std::string(12, ' '));
    EXPECT_LT(store.MemoryUsed(), size_t(4) << 20);
}

TEST_F(History, AFailedOrCancelledOpenLeavesThePaneAsItWas) {
    Arrive(100, 8);
    ASSERT_TRUE(Drain());
    const std::vector<std::string> before = Lines(Part<TReceivePane>(W, "ReceEdit")->Store());
    OpenFile(Dir.filePath("missing.kst"));
    ASSERT_TRUE(Idle());
    EXPECT_EQ(dialogs::TakeMessages(), QStringList{"Open File Error!"});
    EXPECT_EQ(Lines(Part<TReceivePane>(W, "ReceEdit")->Store()), before);

    const QString name = Dir.filePath("big.kst");
    {
        QFile f(name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray line(100, 'x');
        for (int i = 0; i < 100000; ++i)
            f.write(line + "\n");
    }
    OpenFile(name);
    ASSERT_NE(W->RunningJob(), nullptr);
    W->RunningJob()->Cancel();
    ASSERT_TRUE(Idle());
    EXPECT_TRUE(dialogs::TakeMessages().isEmpty());
    EXPECT_EQ(Lines(Part<TReceivePane>(W, "ReceEdit")->Store()), before);
    EXPECT_TRUE(ButtonsOn());
}

TEST_F(History, ClosingTheWindowDuringASaveEndsItCleanly) {
    const QString name = Dir.filePath("closing.kst");
    Arrive(8 << 20, 9);
    ASSERT_TRUE(Drain());
    const int64_t lines = Part<TReceivePane>(W, "ReceEdit")->Store().LineCount();
    SaveAs(name);
    ASSERT_NE(W->RunningJob(), nullptr);
    W.reset();
    // Either no file, or a whole one.
    if (QFile::exists(name)) {
        EXPECT_EQ(int64_t(FileLines(name).size()), lines);
    }
}

TEST_F(History, PastTheMemoryLimitTheOldestLinesGoWithAMarkAndANotice) {
    TReceiveStore& store = Part<TReceivePane>(W, "ReceEdit")->Store();
    constexpr size_t Block = TReceiveStore::DumpBlockLines * HexDumpBytesPerLine;
    store.SetMemoryLimit(2 * Block + Block / 2);
    Part<TReceivePane>(W, "ReceEdit")->resize(600, 300);
    Arrive(Block, 10);
    ASSERT_TRUE(Drain());
    // The user looks at line 100 and has selected part of it.
    Part<TReceivePane>(W, "ReceEdit")->verticalScrollBar()->setValue(100);
    Part<TReceivePane>(W, "ReceEdit")->Select({100, 3}, {101, 5});
    const std::string looked = store.Line(100);
    EXPECT_FALSE(Part<QLabel>(W, "lblHead")->text().contains("已丢弃"));

    Arrive(2 * Block, 11);
    ASSERT_TRUE(Drain());
    ASSERT_GT(store.DroppedLines(), 0);
    EXPECT_EQ(store.Line(0), TReceiveStore::DroppedMark(store.DroppedLines()));
    EXPECT_TRUE(Part<QLabel>(W, "lblHead")->text().contains("已丢弃"));
    // The view and the selection stay on the lines they were on, unless those went.
    Part<TReceivePane>(W, "ReceEdit")->Refresh();
    const int64_t shift = store.LinesShifted();
    if (shift <= 100) {
        EXPECT_EQ(Part<TReceivePane>(W, "ReceEdit")->SelectionStart(), (TReceivePane::TPos{100 - shift, 3}));
        EXPECT_EQ(store.Line(100 - shift), looked);
    } else {
        EXPECT_EQ(Part<TReceivePane>(W, "ReceEdit")->SelectionStart().Line, 0);
    }

}

TEST(HexPaneDrop, ScrollPositionAndSelectionFollowTheLinesThatStay) {
    TReceivePane pane;
    pane.resize(600, 300);
    pane.show();
    TReceiveStore& store = pane.Store();
    constexpr size_t Block = TReceiveStore::DumpBlockLines * HexDumpBytesPerLine;
    store.SetMemoryLimit(2 * Block + Block / 2);
    std::vector<uint8_t> bytes(Block + Block / 2);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i / 16);
    store.Receive(bytes.data(), bytes.size());
    pane.Refresh();
    const int64_t line = int64_t(TReceiveStore::DumpBlockLines) + 500;
    pane.verticalScrollBar()->setValue(int(line));
    pane.Select({line, 2}, {line + 3, 4});
    const std::string text = store.Line(line);

    store.Receive(bytes.data(), bytes.size()); // past the limit: the first block goes
    pane.Refresh();
    ASSERT_EQ(store.DroppedLines(), int64_t(TReceiveStore::DumpBlockLines));
    const int64_t now = line - store.LinesShifted();
    EXPECT_EQ(store.Line(now), text);
    EXPECT_EQ(pane.TopLine(), now);
    EXPECT_EQ(pane.SelectionStart(), (TReceivePane::TPos{now, 2}));
    EXPECT_EQ(pane.SelectionEnd(), (TReceivePane::TPos{now + 3, 4}));
    EXPECT_TRUE(pane.HasSelection());
}

TEST(HistoryJob, ALongJobShowsItsProgressAndItsCancelButtonStopsIt) {
    QWidget window;
    window.show();
    std::atomic<int> calls{0};
    THistoryJob job(&window, "保存...", [&](const TFileProgress& progress) {
        for (int64_t done = 0;; ++done) {
            ++calls;
            if (!progress(done % 100, 100))
                return TFileResult::Cancelled;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    std::optional<TFileResult> result;
    QObject::connect(&job, &THistoryJob::Finished, [&](TFileResult r) { result = r; });
    EXPECT_EQ(job.Dialog(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return job.Dialog() != nullptr && job.Dialog()->isVisible(); }));
    EXPECT_EQ(job.Dialog()->windowTitle(), "保存...");
    QPushButton* cancel = job.Dialog()->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, TFileResult::Cancelled);
    EXPECT_FALSE(job.Running());
    EXPECT_FALSE(job.Dialog()->isVisible());
}

TEST(HistoryJob, AShortJobShowsNoDialogAndADestroyedOneIsCancelled) {
    QWidget window;
    std::optional<TFileResult> result;
    {
        THistoryJob job(&window, "打开...", [](const TFileProgress&) { return TFileResult::Ok; });
        QObject::connect(&job, &THistoryJob::Finished, [&](TFileResult r) { result = r; });
        ASSERT_TRUE(WaitUntil([&] { return result.has_value(); }));
        EXPECT_EQ(*result, TFileResult::Ok);
        EXPECT_EQ(job.Dialog(), nullptr);
    }
    // The job does not wait for its thread: the thread sees the cancel by itself.
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    {
        THistoryJob job(&window, "打开...", [cancelled](const TFileProgress& progress) {
            while (progress(0, 1))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            *cancelled = true;
            return TFileResult::Cancelled;
        });
    }
    EXPECT_TRUE(WaitUntil([&] { return cancelled->load(); }));
}

} // namespace
