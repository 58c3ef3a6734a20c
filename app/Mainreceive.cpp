// The receive pane of TFrmMain: OnCommData, pause, clear and history files.

#include "Appfonts.h"
#include "Autosendpage.h"
#include "Dialogs.h"
#include "Hexpane.h"
#include "Historyjob.h"
#include "Rtf.h"
#include "Unitmain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QTimer>
#include <QToolButton>

namespace {

const char* const HistoryFilter = "Kestrel files(*.kst)";

RtfStyle HistoryStyle() {
    RtfStyle style;
    style.FontName = "宋体";
    style.TextColor = Qt::white;
    style.BackColor = Qt::black;
    style.FontSize = 9; // 12 pixels at 96 dots per inch
    return style;
}

// A name typed without an extension gets the default one.
QString WithExtension(QString name, const char* ext) {
    if (!name.isEmpty() && QFileInfo(name).suffix().isEmpty())
        name += QString(".") + ext;
    return name;
}

// Feeds an opened file into a fresh store; a reader that starts over empties it.
class TStoreSink : public TRtfLineSink {
public:
    explicit TStoreSink(TReceStore& store) : m_store(store) {}
    void Line(std::string_view utf8) override { m_store.AddLoadedLine(utf8); }
    void Restart() override { m_store.Clear(); }

private:
    TReceStore& m_store;
};

} // namespace

// Worker thread. A paused pane drops the block; otherwise it is queued for
// the window's thread, which shows it at the next displayed frame.
void TFrmMain::OnCommData(const uint8_t* bytes, uint32_t count) {
    if (Paused.load())
        return;
    TabSendAuto->CaptureStatBytes(bytes, count);
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
    TReceStore& store = ReceEdit->Store();
    bool any = false, took = false;
    for (;;) {
        if (BacklogNext == Backlog.BlockCount()) {
            if (took) // once a pass: the queue wakes us again for what comes later
                break;
            Backlog = ReceQueue.TakeAll();
            BacklogNext = 0;
            took = true;
            if (Backlog.BlockCount() == 0)
                break;
        }
        store.Receive(Backlog.Block(BacklogNext), Backlog.BlockSize(BacklogNext));
        ++BacklogNext;
        any = true;
        if (!drain && spent.elapsed() >= SliceMs && BacklogNext < Backlog.BlockCount()) {
            QTimer::singleShot(0, this, &TFrmMain::FlushReceived);
            break;
        }
    }
    if (!any)
        return;
    ReceEdit->Refresh();
    ReceEdit->ScrollToEnd();
    ShowDropNotice();
    emit ReceivedFlushed();
}

void TFrmMain::ShowDropNotice() {
    const TReceStore& store = ReceEdit->Store();
    if (store.DroppedLines() == 0 || DropNoticeEpoch == store.Epoch())
        return;
    DropNoticeEpoch = store.Epoch();
    lblHead->setText(lblHead->text() + "     已丢弃最早的行: 超出内存上限");
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
    QString name = dialogs::SaveFileName(this, "保存...", HistoryFilter);
    if (name.isEmpty())
        return;
    name = WithExtension(name, "kst");
    // The file holds the pane as it is at the click; what arrives while the
    // file is written goes on into the pane.
    ApplyReceived(true);
    std::shared_ptr<const TReceStore> shot = ReceEdit->Store().Snapshot();
    StartHistoryJob(
        "保存...",
        [shot = std::move(shot), name](const TFileProgress& progress) mutable {
            const TFileResult r = SaveRtfStream(
                name, HistoryStyle(), shot->LineCount(),
                [&shot, hint = size_t(0)](int64_t k, std::string& scratch) mutable {
                    return shot->LineView(k, scratch, hint);
                },
                progress);
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
    QString name = dialogs::OpenFileName(this, "打开...", HistoryFilter);
    if (name.isEmpty())
        return;
    name = WithExtension(name, "kst");
    // What arrived before the click belongs to the pane being replaced.
    ApplyReceived(true);
    auto fresh = std::make_shared<TReceStore>();
    fresh->SetMemoryLimit(ReceEdit->Store().MemoryLimit());
    OpeningFile = true;
    StartHistoryJob(
        "打开...",
        [fresh, name](const TFileProgress& progress) {
            TStoreSink sink(*fresh);
            const TFileResult r = LoadRtfStream(name, sink, progress);
            if (r == TFileResult::Ok)
                fresh->EndLoad();
            else
                fresh->Clear(); // its memory goes on this thread, not the window's
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
