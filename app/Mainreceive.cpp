// The receive pane of TFrmMain: OnCommData, pause, clear and history files.

#include "Appfonts.h"
#include "Autosendpage.h"
#include "Dialogs.h"
#include "Hexpane.h"
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
    emit ReceivedFlushed();
}

void TFrmMain::ToolClearClick() {
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

void TFrmMain::ToolSaveClick() {
    QString name = dialogs::SaveFileName(this, "保存...", HistoryFilter);
    if (name.isEmpty())
        return;
    name = WithExtension(name, "kst");
    ApplyReceived(true);
    const TReceStore& store = ReceEdit->Store();
    QStringList lines;
    lines.reserve(static_cast<qsizetype>(store.LineCount()));
    for (int64_t k = 0; k < store.LineCount(); ++k)
        lines.append(QString::fromUtf8(store.Line(k)));
    if (!SaveRtfFile(name, lines, HistoryStyle()))
        dialogs::Message(this, "Save to File Error!");
}

void TFrmMain::ToolOpenClick() {
    QString name = dialogs::OpenFileName(this, "打开...", HistoryFilter);
    if (name.isEmpty())
        return;
    name = WithExtension(name, "kst");
    QStringList lines;
    if (!LoadRtfFile(name, lines)) {
        dialogs::Message(this, "Open File Error!");
        return;
    }
    ApplyReceived(true);
    std::vector<std::string> text;
    text.reserve(static_cast<size_t>(lines.size()));
    for (const QString& line : lines)
        text.push_back(line.toStdString());
    ReceEdit->Load(text);
}
