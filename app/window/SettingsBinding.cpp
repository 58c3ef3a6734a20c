// TFrmMain's settings: loading at creation, saving at every close request.

#include "CommandLine.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "MemoryReturn.h"
#include "PlotWindow.h"
#include "SendPage.h"
#include "IniFormat.h"
#include "SettingsFile.h"
#include "SettingsKeys.h"
#include "SettingsPage.h"
#include "StoredSettings.h"
#include "Unitmain.h"

#include "Abled.h"

#include <QLineEdit>
#include <QSettings>
#include <QTimer>

// Each page loads its own part; the order is the order in which the worker
// gets them: the lines, the port map and line, the open, then RTS control,
// the preamble and the send mode.
void TFrmMain::LoadSettings() {
    const settings::TFileRead file = settings::ReadFile();
    const TStoredSettings stored = ReadStoredSettings(file.Map);
    if (!file.Problem.isEmpty()) {
        // Said once the window is up: the defaults apply, and what is not regular is not saved.
        const QString text = file.NotRegular ? tr("%1: 使用默认设置, 设置不会保存。").arg(file.Problem)
                                             : tr("%1: 使用默认设置。").arg(file.Problem);
        SettingsProblem = file.Problem;
        QTimer::singleShot(0, this, [this, text] { dialogs::Message(this, text); });
    }
    // What was read before a failure is applied, in the order of reading, and the defaults
    // then go over part of it.
    if (stored.ControlRTS)
        ChkControlRTS->SetChecked(*stored.ControlRTS == 0);
    if (stored.AllowHead)
        chkHead->SetChecked(*stored.AllowHead == 0);
    if (stored.RTSEnabled) {
        try {
            Comm->SetRts(*stored.RTSEnabled != 0);
        } catch (...) {
        }
        chkRTS->SetChecked(Comm->GetRts());
    }
    if (stored.DTREnabled) {
        try {
            Comm->SetDtr(*stored.DTREnabled != 0);
        } catch (...) {
        }
        chkDTR->SetChecked(Comm->GetDtr());
    }
    if (stored.ReceNum)
        EdtRevNum->setText(QString::number(*stored.ReceNum));
    if (stored.HeadBuff)
        EdtHead->setText(*stored.HeadBuff);
    if (!stored.Complete()) {
        ChkControlRTS->SetChecked(true);
        chkHead->SetChecked(true);
        EdtRevNum->setText(settings::DefaultReceNum);
        EdtHead->setText(settings::DefaultHeadBuff);
    }
    ReceEdit->ScrollLock = stored.ScrollLock && *stored.ScrollLock == 1;
    ReceEdit->SetTextStamps(stored.ReceTextStamps && *stored.ReceTextStamps == 1);
    ReceEdit->SetTextView(stored.ReceTextView && *stored.ReceTextView == 1);
    SetPaneFontSize(stored.PaneFontSize ? int(*stored.PaneFontSize) : settings::DefaultPaneFontSize);
    // A stored size below the smallest, or a place off every screen, is not taken.
    if (stored.WindowGeometry) {
        const QRect before = geometry();
        if (!restoreGeometry(*stored.WindowGeometry) || width() < ClientWidth ||
            height() < ClientHeight)
            setGeometry(before);
    }
    ReceMemoryMiB = stored.ReceMemoryMiB;
    const size_t limit = ReceMemoryMiB && *ReceMemoryMiB > 0 ? size_t(*ReceMemoryMiB) << 20
                                                               : PhysicalMemory() / 4;
    ReceEdit->Store().SetMemoryLimit(limit);
    Plot->SetMemoryLimit(limit);
    Plot->LoadSettings(file.Map);

    TabComm->LoadSettings(stored);
    ChkControlRTSClick();
    chkHeadClick();
    TabSend->LoadSettings(stored);
}

void TFrmMain::ApplyCommandLine(const TCmdLine& line) {
    TabComm->ApplyCommandLine(line);
    if (line.LogFile)
        StartLiveLog(*line.LogFile, line.LogKind);
}

void TFrmMain::SaveSettings() {
    TStoredSettings stored;
    TabComm->SaveSettings(stored);
    TabSend->SaveSettings(stored);
    stored.ControlRTS = ChkControlRTS->Checked() ? 1 : 0;
    stored.AllowHead = chkHead->Checked() ? 1 : 0;
    stored.RTSEnabled = chkRTS->Checked() ? 1 : 0;
    stored.DTREnabled = chkDTR->Checked() ? 1 : 0;
    stored.WindowGeometry = saveGeometry();
    stored.ScrollLock = ReceEdit->ScrollLock ? 1 : 0;
    stored.ReceTextView = ReceEdit->TextView() ? 1 : 0;
    stored.ReceTextStamps = ReceEdit->TextStamps() ? 1 : 0;
    stored.PaneFontSize = PaneFontSize;
    stored.ReceMemoryMiB = ReceMemoryMiB; // as read: the default follows the machine
    // A receive count that cannot be stored keeps the window open; the values before it are
    // saved all the same, the count and the preamble are not.
    stored.ReceNum = StoredWholeNumber(EdtRevNum->text());
    if (stored.ReceNum)
        stored.HeadBuff = EdtHead->text();
    // Keys of the file that are not Kestrel's stay, as far as they are small.
    settings::TFileRead file = settings::ReadFile();
    WriteStoredSettings(file.Map, stored);
    Plot->SaveSettings(file.Map);
    const QString problem = settings::WriteFile(file.Map);
    // Said once: a close goes on all the same.
    if (!problem.isEmpty() && problem != SettingsProblem) {
        SettingsProblem = problem;
        dialogs::Message(this, tr("设置未保存: %1").arg(problem));
    }
    if (!stored.ReceNum)
        throw std::invalid_argument(
            QString("'%1' is not a valid integer value").arg(EdtRevNum->text()).toStdString());
}

bool TFrmMain::FormCloseQuery() {
    try {
        SaveSettings();
    } catch (const std::exception& e) {
        dialogs::Message(this, QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}
