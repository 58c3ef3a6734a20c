// TFrmMain's settings: loading at creation, saving at every close request.

#include "CommandLine.h"
#include "Dialogs.h"
#include "ReceivePane.h"
#include "MemoryReturn.h"
#include "PlotWindow.h"
#include "SendPage.h"
#include "IniFormat.h"
#include "SettingsKeys.h"
#include "SettingsPage.h"
#include "StoredSettings.h"
#include "Unitmain.h"

#include "Abled.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSettings>

namespace {

QSettings Store() {
    return settings::Open();
}

// An index outside its list selects the list's default item: a list left
// without a selection would be saved as -1 and refused at the next start.
void SetIndex(QComboBox* box, int64_t index, int fallback) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? int(index) : fallback);
}

// The index to store: never -1.
int IndexToSave(const QComboBox* box, int fallback) {
    return box->currentIndex() >= 0 ? box->currentIndex() : fallback;
}

} // namespace

void TFrmMain::LoadSettings() {
    const TStoredSettings stored = ReadStoredSettings(Store());
    // What was read before a failure is applied, in the order of reading, and the defaults
    // then go over part of it.
    if (stored.ComPort)
        SetIndex(TabComm->CboPort, *stored.ComPort, settings::DefaultComPort);
    if (stored.BaudRate)
        SetIndex(TabComm->CboBps, *stored.BaudRate, settings::DefaultBaudRate);
    if (stored.Parity)
        SetIndex(TabComm->CboParity, *stored.Parity, settings::DefaultParity);
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
    if (stored.SendMode)
        TabSend->SendMode = int(*stored.SendMode);
    if (stored.ReceNum)
        EdtRevNum->setText(QString::number(*stored.ReceNum));
    if (stored.HeadBuff)
        EdtHead->setText(*stored.HeadBuff);
    if (!stored.Complete()) {
        TabComm->CboPort->setCurrentIndex(settings::DefaultComPort);
        TabComm->CboBps->setCurrentIndex(settings::DefaultBaudRate);
        TabComm->CboParity->setCurrentIndex(settings::DefaultParity);
        ChkControlRTS->SetChecked(true);
        chkHead->SetChecked(true);
        EdtRevNum->setText(settings::DefaultReceNum);
        EdtHead->setText(settings::DefaultHeadBuff);
    }
    TabComm->SetPortMap(stored.PortMap ? *stored.PortMap : TPortMap::Defaults());
    TabSend->SetLineEnding(stored.LineEnding ? int(*stored.LineEnding) : 0);
    ReceEdit->ScrollLock = stored.ScrollLock && *stored.ScrollLock == 1;
    if (stored.Language)
        TabComm->CboLanguage->setCurrentIndex(int(*stored.Language));
    ReceEdit->SetTextStamps(stored.ReceTextStamps && *stored.ReceTextStamps == 1);
    ReceEdit->SetTextView(stored.ReceTextView && *stored.ReceTextView == 1);
    // A stored size below the smallest, or a place off every screen, is not taken.
    if (stored.WindowGeometry) {
        const QRect before = geometry();
        if (!restoreGeometry(*stored.WindowGeometry) || width() < ClientWidth ||
            height() < ClientHeight)
            setGeometry(before);
    }

    if (stored.CustomBaudRate)
        TabComm->CboBps->setEditText(QString::number(*stored.CustomBaudRate));
    TabComm->ApplyLine(stored.ByteSize ? int(*stored.ByteSize) : 8,
                       stored.StopBits ? int(*stored.StopBits) : 0,
                       stored.FlowControl ? int(*stored.FlowControl) : 0);
    ReceMemoryMiB = stored.ReceMemoryMiB;
    const size_t limit = ReceMemoryMiB && *ReceMemoryMiB > 0 ? size_t(*ReceMemoryMiB) << 20
                                                               : PhysicalMemory() / 4;
    ReceEdit->Store().SetMemoryLimit(limit);
    Plot->SetMemoryLimit(limit);
    Plot->LoadSettings(Store());

    TabComm->btnUpdateClick();
    ChkControlRTSClick();
    chkHeadClick();
    TabSend->SetSendMode(TabSend->SendMode);
}

void TFrmMain::ApplyCommandLine(const TCmdLine& line) {
    if (line.Language) {
        RunOnly.Language = TabComm->CboLanguage->currentIndex();
        RunOnly.RunLanguage = *line.Language;
        TabComm->CboLanguage->setCurrentIndex(*line.Language);
    }
    if (!line.Port && !line.BaudRate && !line.Parity)
        return;
    if (line.Port) {
        RunOnly.Map = TabComm->PortMap();
        RunOnly.ComPort = TabComm->CboPort->currentIndex();
        TPortMap run = *RunOnly.Map;
        run.Targets[0] = line.Port->toStdString();
        RunOnly.RunMap = run;
        TabComm->SetPortMap(run);
        TabComm->CboPort->setCurrentIndex(0);
    }
    if (line.BaudRate) {
        RunOnly.RateText = TabComm->CboBps->currentText();
        const QString rate = QString::number(*line.BaudRate);
        const int index = TabComm->CboBps->findText(rate);
        if (index >= 0)
            TabComm->CboBps->setCurrentIndex(index);
        else
            TabComm->CboBps->setEditText(rate);
        RunOnly.RunRateText = rate;
    }
    if (line.Parity) {
        RunOnly.Parity = TabComm->CboParity->currentIndex();
        TabComm->CboParity->setCurrentIndex(*line.Parity);
        RunOnly.RunParity = *line.Parity;
    }
    TabComm->btnUpdateClick();
}

void TFrmMain::SaveSettings() {
    TStoredSettings stored;
    stored.ComPort = IndexToSave(TabComm->CboPort, settings::DefaultComPort);
    stored.BaudRate = IndexToSave(TabComm->CboBps, settings::DefaultBaudRate);
    stored.Parity = IndexToSave(TabComm->CboParity, settings::DefaultParity);
    stored.ControlRTS = ChkControlRTS->Checked() ? 1 : 0;
    stored.AllowHead = chkHead->Checked() ? 1 : 0;
    stored.RTSEnabled = chkRTS->Checked() ? 1 : 0;
    stored.DTREnabled = chkDTR->Checked() ? 1 : 0;
    stored.SendMode = TabSend->SendMode;
    stored.PortMap = TabComm->PortMap();
    stored.LineEnding = TabSend->LineEnding();
    stored.WindowGeometry = saveGeometry();
    stored.ScrollLock = ReceEdit->ScrollLock ? 1 : 0;
    stored.Language = TabComm->CboLanguage->currentIndex();
    stored.ReceTextView = ReceEdit->TextView() ? 1 : 0;
    stored.ReceTextStamps = ReceEdit->TextStamps() ? 1 : 0;
    {
        bool ok = false;
        const int rate = TabComm->CboBps->currentText().toInt(&ok);
        if (ok && TabComm->CboBps->findText(TabComm->CboBps->currentText()) < 0)
            stored.CustomBaudRate = rate;
        const TLineSettings line = Comm->GetLineSettings();
        stored.ByteSize = line.ByteSize;
        stored.StopBits = line.StopBits;
        stored.FlowControl = line.Flow;
    }
    stored.ReceMemoryMiB = ReceMemoryMiB; // as read: the default follows the machine
    // A receive count that cannot be stored keeps the window open; the values before it are
    // saved all the same, the count and the preamble are not.
    stored.ReceNum = StoredWholeNumber(EdtRevNum->text());
    if (stored.ReceNum)
        stored.HeadBuff = EdtHead->text();
    // The command line's choices are this run's; what the user changed is kept.
    if (RunOnly.Map && stored.PortMap == RunOnly.RunMap) {
        stored.PortMap = RunOnly.Map;
        if (TabComm->CboPort->currentIndex() == 0)
            stored.ComPort = *RunOnly.ComPort >= 0 ? *RunOnly.ComPort : settings::DefaultComPort;
    }
    if (RunOnly.RateText && TabComm->CboBps->currentText() == RunOnly.RunRateText) {
        const int index = TabComm->CboBps->findText(*RunOnly.RateText);
        stored.BaudRate = index >= 0 ? index : settings::DefaultBaudRate;
        bool ok = false;
        const int rate = RunOnly.RateText->toInt(&ok);
        stored.CustomBaudRate.reset();
        if (ok && index < 0)
            stored.CustomBaudRate = rate;
    }
    if (RunOnly.Language && *stored.Language == RunOnly.RunLanguage)
        stored.Language = *RunOnly.Language;
    if (RunOnly.Parity && TabComm->CboParity->currentIndex() == RunOnly.RunParity)
        stored.Parity = *RunOnly.Parity >= 0 ? *RunOnly.Parity : settings::DefaultParity;
    QSettings s = Store();
    WriteStoredSettings(s, stored);
    Plot->SaveSettings(s);
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
