// The status panel's output toggles of TFrmMain: RTS, DTR, RTS control while
// sending, and the preamble with the receive count; and what Modem mode does
// to them.

#include "Abled.h"
#include "Checksums.h"
#include "Dialogs.h"
#include "Unitmain.h"

#include <QLineEdit>
#include <QToolTip>

namespace {

// The caption of a toggle: red while its last change failed (its tip says
// why), grey while Modem mode holds it.
void PaintToggleCaption(TAbLED* toggle) {
    toggle->SetFontColor(!toggle->toolTip().isEmpty() ? clRed
                         : toggle->isEnabled()        ? clWindowText
                                                      : clBtnShadow);
}

void ShowToggleFault(TAbLED* toggle, const QString& why) {
    toggle->setToolTip(why);
    PaintToggleCaption(toggle);
    QToolTip::showText(toggle->mapToGlobal(toggle->rect().bottomLeft()), why, toggle);
}

void ClearToggleFault(TAbLED* toggle) {
    if (toggle->toolTip().isEmpty())
        return;
    toggle->setToolTip(QString());
    PaintToggleCaption(toggle);
}

QString FaultText(const char* line, const std::exception& e) {
    return TFrmMain::tr("%1 未能改变: %2").arg(line, QString::fromLocal8Bit(e.what()));
}

} // namespace

bool TFrmMain::PreambleOn() const {
    return chkHead->Checked();
}

bool TFrmMain::ControlRtsOn() const {
    return ChkControlRTS->Checked();
}

QString TFrmMain::ReceiveCountText() const {
    return EdtRevNum->text();
}

// Modem mode wants RTS and DTR on and sends with neither RTS control nor a
// preamble; leaving it gives the four toggles back as they were.
void TFrmMain::HoldTogglesForModem(bool hold) {
    if (!hold) {
        chkHead->setEnabled(true);
        ChkControlRTS->setEnabled(true);
        PaintToggleCaption(chkHead);
        PaintToggleCaption(ChkControlRTS);
        ApplyRts(SavedRts);
        ApplyDtr(SavedDtr);
        Comm->ControlRTS = SavedControlRts;
        ChkControlRTS->SetChecked(SavedControlRts);
        if (SavedHead && !chkHead->Checked())
            chkHeadClick();
        return;
    }
    SavedRts = chkRTS->Checked();
    SavedDtr = chkDTR->Checked();
    SavedControlRts = ChkControlRTS->Checked();
    SavedHead = chkHead->Checked();
    ChkControlRTS->setEnabled(false);
    chkHead->setEnabled(false);
    PaintToggleCaption(chkHead);
    PaintToggleCaption(ChkControlRTS);
    ApplyRts(true);
    ApplyDtr(true);
    ChkControlRTS->SetChecked(false);
    Comm->ControlRTS = false;
    if (chkHead->Checked())
        chkHeadClick();
}

// ---- the status panel's toggles ----

// The toggles never change themselves: the new state goes to the worker
// first and the toggle then shows what the worker reports back, so a change
// that failed leaves the toggle as it was.
void TFrmMain::ApplyRts(bool on) {
    try {
        Comm->SetRts(on);
        ClearToggleFault(chkRTS);
    } catch (const std::exception& e) {
        ShowToggleFault(chkRTS, FaultText("RTS", e));
    }
    chkRTS->SetChecked(Comm->GetRts());
}

void TFrmMain::ApplyDtr(bool on) {
    try {
        Comm->SetDtr(on);
        ClearToggleFault(chkDTR);
    } catch (const std::exception& e) {
        ShowToggleFault(chkDTR, FaultText("DTR", e));
    }
    chkDTR->SetChecked(Comm->GetDtr());
}

void TFrmMain::chkRTSClick() {
    ApplyRts(!chkRTS->Checked());
}

void TFrmMain::chkDTRClick() {
    ApplyDtr(!chkDTR->Checked());
}

void TFrmMain::ChkControlRTSClick() {
    const bool on = !ChkControlRTS->Checked();
    Comm->ControlRTS = on;
    ChkControlRTS->SetChecked(on);
}

void TFrmMain::chkHeadClick() {
    if (chkHead->Checked()) {
        EdtHead->setEnabled(true);
        EdtRevNum->setEnabled(true);
        Comm->SetPreambleMode(false);
        chkHead->SetChecked(false);
        return;
    }
    const QByteArray text = HexLineText(EdtHead->text());
    bool overflow = false;
    HexTextToBytes(HexBuffer, text.constData(), static_cast<uint32_t>(text.size()), &overflow);
    if (HexBuffer.Count == 0)
        return;
    EdtHead->setText(QString::fromStdString(BytesToHexText(HexBuffer)));
    bool ok = false;
    qlonglong receNum = EdtRevNum->text().trimmed().toLongLong(&ok);
    if (!ok || receNum < INT32_MIN || receNum > qlonglong(UINT32_MAX)) {
        dialogs::Message(this, QString("'%1' is not a valid integer value").arg(EdtRevNum->text()));
        return;
    }
    if (receNum < 1) {
        receNum = 1;
        EdtRevNum->setText("1");
    }
    if (overflow || HexBuffer.Count > TWThreadComm::MaxPreamble) {
        ShowToggleFault(chkHead, tr("前导码最多%1个字节").arg(TWThreadComm::MaxPreamble));
        return;
    }
    if (uint32_t(receNum) > TWThreadComm::FrameBufSize ||
        !Comm->SetPreamble(HexBuffer.Data, HexBuffer.Count, static_cast<uint32_t>(receNum))) {
        ShowToggleFault(chkHead, tr("接收字符数最多%1").arg(TWThreadComm::FrameBufSize));
        return;
    }
    ClearToggleFault(chkHead);
    Comm->SetPreambleMode(true);
    EdtHead->setEnabled(false);
    EdtRevNum->setEnabled(false);
    chkHead->SetChecked(true);
}
