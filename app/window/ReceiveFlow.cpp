// The receive pane of TFrmMain: OnCommData, pause, clear, history files and the live log.

#include "AppFonts.h"
#include "CodePage.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "HistoryJob.h"
#include "LinePipe.h"
#include "PlotWindow.h"
#include "Rtf.h"
#include "ScriptWindow.h"
#include "TextLines.h"
#include "Unitmain.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cerrno>

namespace {

const char* const HistoryFilter = "Kestrel files(*.kst)";
const char* const TextFilter = QT_TRANSLATE_NOOP("TFrmMain", "文本文件(*.txt)");

RtfStyle HistoryStyle() {
    RtfStyle style;
    style.FontName = "宋体";
    style.TextColor = Qt::white;
    style.BackColor = Qt::black;
    style.FontSize = 9; // 12 pixels at 96 dots per inch
    return style;
}

// Feeds an opened file into a fresh store; a reader that starts over empties it.
class TStoreSink : public TRtfLineSink {
public:
    explicit TStoreSink(TReceiveStore& store) : Target(store) {}
    void Line(std::string_view utf8) override { Target.AddLoadedLine(utf8); }
    void Restart() override { Target.Clear(); }

private:
    TReceiveStore& Target;
};

} // namespace

// Worker thread. A paused pane drops the block; otherwise it is queued for
// the window's thread, which shows it at the next displayed frame.
void TFrmMain::OnCommData(const uint8_t* bytes, uint32_t count) {
    LiveLog.Push(bytes, count); // every received byte, paused or not
    Plot->Push(bytes, count);   // the plot has its own pause
    Scripts->Received(bytes, count); // the script and the automatic replies, paused or not
    if (Paused.load())
        return;
    StatCapture.Append(bytes, count);
    ReceQueue.Push(bytes, count);
}

void TFrmMain::FlushReceived() {
    ApplyReceived(false);
}

// Feeds received blocks into the pane. Each pass works for at most SliceMs and
// then lets the window's other events (the user's keys) run before it goes on,
// so a flood never makes typing wait; drain takes everything queued so far
// in one go.
void TFrmMain::ApplyReceived(bool drain) {
    // While a file is being opened, blocks wait in the queue: they belong
    // below the opened lines, which are not in the pane yet.
    if (OpeningFile)
        return;
    QElapsedTimer spent;
    spent.start();
    TReceiveStore& store = ReceEdit->Store();
    const bool wasAtEnd = ReceEdit->ShowsEnd();
    // What comes while this pass works waits for the next one: the queue wakes us again.
    const uint64_t until = ReceQueue.Pushed();
    bool any = false;
    TReceivedBlock block;
    while (ReceQueue.Taken() != until && ReceQueue.Peek(block)) {
        store.Receive(block.Bytes, block.Size, block.Ms);
        ReceQueue.Pop();
        any = true;
        if (!drain && spent.elapsed() >= SliceMs && ReceQueue.Taken() != until) {
            FlushLater->start();
            break;
        }
    }
    if (!any)
        return;
    FollowReceived(drain, wasAtEnd);
    ShowDropNotice();
    emit ReceivedFlushed();
}

void TFrmMain::FollowReceived(bool drain, bool wasAtEnd) {
    if (!FollowDue)
        FollowAtEnd = wasAtEnd; // later passes find the pane behind its store
    FollowDue = true;
    const bool more = ReceQueue.Pending();
    const qint64 since = SinceFollow.isValid() ? SinceFollow.elapsed() : TReceiveQueue::FrameMs;
    if (drain || !more || since >= TReceiveQueue::FrameMs)
        FollowNow();
    else if (!FollowLater->isActive())
        FollowLater->start(int(TReceiveQueue::FrameMs - since));
}

void TFrmMain::FollowNow() {
    FollowLater->stop();
    if (!FollowDue)
        return;
    FollowDue = false;
    SinceFollow.start();
    ReceEdit->FollowNewData(FollowAtEnd);
}

void TFrmMain::ShowDropNotice() {
    const TReceiveStore& store = ReceEdit->Store();
    if (store.DroppedLines() == 0 || DropNoticeEpoch == store.Epoch())
        return;
    DropNoticeEpoch = store.Epoch();
    lblHead->setText(lblHead->text() + "     " + tr("已丢弃最早的行: 超出内存上限"));
}

void TFrmMain::ShowReceHeader() {
    QString header = QString::fromStdString(HexDumpHeader());
    if (ReceEdit->TextView())
        // The stamp's column is as wide as "HH:MM:SS.mmm ".
        header = ReceEdit->TextStamps() ? "  " + tr("时间         文本 (文本显示)") : "  " + tr("文本 (文本显示)");
    lblEnd->setText(header);
    lblHead->setText(Paused ? header + "     PAUSE" : header);
}

void TFrmMain::ToolClearClick() {
    if (HistoryJob != nullptr)
        return; // the buttons are off; a key may still ask
    // What arrived before the click belongs to the pane being cleared.
    ApplyReceived(true);
    ReceEdit->Clear();
}

void TFrmMain::ToolPauseClick() {
    if (ToolPause->isChecked()) {
        lblHead->setText(lblEnd->text() + "     PAUSE");
        QPalette p = lblHead->palette();
        p.setColor(QPalette::Window, palette().color(QPalette::Button)); // the menu colour
        lblHead->setPalette(p);
        Paused = true;
    } else {
        lblHead->setText(lblEnd->text());
        QPalette p = lblHead->palette();
        p.setColor(QPalette::Window, Qt::black);
        lblHead->setPalette(p);
        Paused = false;
    }
}

void TFrmMain::StartHistoryJob(const QString& title, std::function<TFileResult(const TFileProgress&)> work,
                               std::function<void(TFileResult)> done) {
    for (QToolButton* b : {ToolSave, ToolOpen, ToolClear})
        b->setEnabled(false);
    HistoryJob = new THistoryJob(this, title, std::move(work));
    connect(HistoryJob, &THistoryJob::Finished, this, [this, done = std::move(done)](TFileResult r) {
        HistoryJob->deleteLater();
        HistoryJob = nullptr;
        for (QToolButton* b : {ToolSave, ToolOpen, ToolClear})
            b->setEnabled(true);
        done(r);
    });
}

void TFrmMain::ToolSaveClick() {
    if (HistoryJob != nullptr)
        return;
    // The text view saves a plain-text log of its lines, the hex view a history file.
    const bool text = ReceEdit->TextView();
    QString name = dialogs::SaveFileName(this, tr("保存..."), text ? tr(TextFilter) : HistoryFilter);
    if (name.isEmpty())
        return;
    name = dialogs::WithExtension(name, text ? "txt" : "kst");
    if (IsOtherThanRegularFile(name)) {
        dialogs::Message(this, tr("%1 不是普通文件, 不能保存到它。").arg(name));
        return;
    }
    // The file holds the pane as it is at the click; what arrives while the
    // file is written goes on into the pane.
    ApplyReceived(true);
    std::shared_ptr<const TReceiveStore> shot = ReceEdit->Store().Snapshot();
    const bool stamps = ReceEdit->TextStamps();
    StartHistoryJob(
        tr("保存..."),
        [shot = std::move(shot), name, text, stamps](const TFileProgress& progress) mutable {
            TFileResult r;
            if (text) {
                TTextLines lines(*shot, CodePagePairUtf8);
                lines.Stamps = stamps;
                r = SaveTextStream(
                    name, lines.LineCount(),
                    [&lines](int64_t k, std::string& scratch) { return lines.LineView(k, scratch); },
                    progress);
            } else {
                r = SaveRtfStream(
                    name, HistoryStyle(), shot->LineCount(),
                    [&shot, hint = size_t(0)](int64_t k, std::string& scratch) mutable {
                        return shot->LineView(k, scratch, hint);
                    },
                    progress);
            }
            shot.reset(); // blocks dropped from the pane meanwhile go now, on this thread
            return r;
        },
        [this](TFileResult r) {
            if (r == TFileResult::Failed)
                dialogs::Message(this, "Save to File Error!");
        });
}

void TFrmMain::ToolOpenClick() {
    if (HistoryJob != nullptr)
        return;
    QString name = dialogs::OpenFileName(this, tr("打开..."), HistoryFilter);
    if (name.isEmpty())
        return;
    name = dialogs::WithExtension(name, "kst");
    if (IsOtherThanRegularFile(name)) {
        dialogs::Message(this, tr("%1 不是普通文件, 不能打开。").arg(name));
        return;
    }
    OpenHistory(name, [](const QString& file, TRtfLineSink& sink, const TFileProgress& progress) {
        return LoadRtfStream(file, sink, progress);
    });
}

void TFrmMain::OpenHistory(const QString& name, THistoryRead read) {
    // What arrived before the click belongs to the pane being replaced.
    ApplyReceived(true);
    auto fresh = std::make_shared<TReceiveStore>();
    fresh->SetMemoryLimit(ReceEdit->Store().MemoryLimit());
    OpeningFile = true;
    StartHistoryJob(
        tr("打开..."),
        [fresh, name, read = std::move(read)](const TFileProgress& progress) {
            // The file is read and parsed on this thread while the pipe's
            // thread builds the store from its lines.
            TStoreSink sink(*fresh);
            TLinePipe pipe(sink);
            const TFileResult r = read(name, pipe, progress);
            if (r == TFileResult::Ok) {
                pipe.Finish();
                fresh->EndLoad();
            } else {
                pipe.Abandon();
                fresh->Clear(); // its memory goes on this thread, not the window's
            }
            return r;
        },
        [this, fresh](TFileResult r) {
            OpeningFile = false;
            if (r == TFileResult::Ok) {
                ReceEdit->Adopt(std::move(*fresh));
                ShowDropNotice();
            } else if (r == TFileResult::Failed) {
                dialogs::Message(this, "Open File Error!");
            }
            ApplyReceived(false); // what came meanwhile, below the opened lines
        });
}

// ---- the live log ----

bool TFrmMain::StartLiveLog(const QString& path, int kind) {
    StopLiveLog();
    const bool ok = LiveLog.Start(QFile::encodeName(path).toStdString(),
                                  kind == 0 ? TLiveLog::TMode::Raw : TLiveLog::TMode::Text,
                                  kind == 2, CodePagePairUtf8);
    if (!ok) {
        const QString why = LiveLog.ErrorNumber() == ENXIO
                                ? tr("管道没有读取方")
                                : QString::fromStdString(LiveLog.Error());
        dialogs::Message(this, tr("不能记录到文件 %1: %2").arg(path, why));
        return false;
    }
    if (!LogTimer) {
        LogTimer = new QTimer(this);
        LogTimer->setInterval(500);
        connect(LogTimer, &QTimer::timeout, this, &TFrmMain::ShowLogState);
    }
    LogTimer->start();
    ShowLogState();
    return true;
}

void TFrmMain::StopLiveLog() {
    if (!LiveLog.Running())
        return;
    LiveLog.Stop();
    if (LogTimer)
        LogTimer->stop();
    lblLog->hide();
    Label1->show();
}

void TFrmMain::ShowLogState() {
    if (!LiveLog.Running())
        return;
    const QString name = QFileInfo(QString::fromStdString(LiveLog.Path())).fileName();
    if (LiveLog.Failed()) {
        const QString why = QString::fromStdString(LiveLog.Error());
        StopLiveLog();
        dialogs::Message(this, tr("记录到文件 %1 失败: %2").arg(name, why));
        return;
    }
    const double mb = double(LiveLog.FileBytes()) / 1e6;
    QString rest = tr("%1 MB").arg(QString::number(mb, 'f', mb < 10 ? 2 : 1));
    if (const uint64_t dropped = LiveLog.DroppedBytes())
        rest += tr("  丢弃 %1 字节").arg(dropped);
    if (LiveLog.Unlinked())
        rest += tr("  文件已被删除");
    const QString head = tr("● 记录: ");
    const QFontMetrics metrics(lblLog->font());
    const auto widthOf = [&](const QString& t) { return metrics.horizontalAdvance(t) + 4; };
    // The badge lies on the title strip where its picture leaves room: past the picture's end
    // on one line when the window is wider than it, else in two lines in the version label's
    // place, between the name and the wave, the file's name shortened to fit.
    const int pastPicture = width() - StripPicture.width() - 12;
    const bool past = widthOf(head + name + "  " + rest) <= pastPicture;
    const int room = past ? pastPicture : StripGapRight - StripGapLeft;
    const QString shown = past ? name
                               : metrics.elidedText(name, Qt::ElideMiddle,
                                                    std::max(0, room - widthOf(head)));
    lblLog->setText(past ? head + name + "  " + rest
                         : head + shown + "\n" + metrics.elidedText(rest, Qt::ElideRight, room - 4));
    lblLog->setToolTip(QString::fromStdString(LiveLog.Path()));
    lblLog->adjustSize();
    lblLog->resize(std::min(lblLog->width(), room), lblLog->height());
    lblLog->move(past ? width() - lblLog->width() - 6 : StripGapLeft,
                 std::max(0, (StripHeight - lblLog->height()) / 2));
    Label1->setVisible(past);
    lblLog->show();
    lblLog->raise();
}

void TFrmMain::AddLogItems(QMenu* menu) {
    if (LiveLog.Running()) {
        QAction* stop = menu->addAction(tr("停止记录(&L)"));
        connect(stop, &QAction::triggered, this, &TFrmMain::StopLiveLog);
        return;
    }
    static const char* const Captions[] = {QT_TR_NOOP("记录到文件 (原样字节)(&L)..."),
                                           QT_TR_NOOP("记录到文件 (文本)(&T)..."),
                                           QT_TR_NOOP("记录到文件 (文本, 带时间戳)(&M)...")};
    for (int kind = 0; kind < 3; ++kind) {
        QAction* start = menu->addAction(tr(Captions[kind]));
        connect(start, &QAction::triggered, this, [this, kind] {
            const QString name = dialogs::SaveFileName(this, tr("记录到文件..."), tr("所有文件(*)"));
            if (!name.isEmpty())
                StartLiveLog(name, kind);
        });
    }
}
