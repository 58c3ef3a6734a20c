// The status panel's toggles and the send modes of TFrmMain.

#include "Dialogs.h"
#include "Unitmain.h"

#include "Abled.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>

// A toggle never changes itself: the new state goes to the worker first and
// the toggle then shows what the worker reports back.
void TFrmMain::chkRTSClick() {
    try {
        Comm->SetRts(!chkRTS->Checked());
    } catch (...) {
    }
    chkRTS->SetChecked(Comm->GetRts());
}

void TFrmMain::chkDTRClick() {
    try {
        Comm->SetDtr(!chkDTR->Checked());
    } catch (...) {
    }
    chkDTR->SetChecked(Comm->GetDtr());
}

void TFrmMain::ChkControlRTSClick() {
    bool on = !ChkControlRTS->Checked();
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
    QByteArray text = EdtHead->text().toLatin1();
    HexTextToBytes(HexBuffer, text.constData(), static_cast<uint32_t>(text.size()));
    if (HexBuffer.Count == 0)
        return;
    EdtHead->setText(QString::fromStdString(BytesToHexText(HexBuffer)));
    bool ok = false;
    int receNum = EdtRevNum->text().trimmed().toInt(&ok);
    if (!ok) {
        dialogs::Message(this, QString("'%1' is not a valid integer value").arg(EdtRevNum->text()));
        return;
    }
    if (receNum < 1) {
        receNum = 1;
        EdtRevNum->setText("1");
    }
    if (!Comm->SetPreamble(HexBuffer.Data, HexBuffer.Count, static_cast<uint32_t>(receNum)))
        return; // more than the worker takes: the preamble stays off
    Comm->SetPreambleMode(true);
    EdtHead->setEnabled(false);
    EdtRevNum->setEnabled(false);
    chkHead->SetChecked(true);
}

void TFrmMain::SetSendMode(int mode) {
    if (mode == AppliedSendMode)
        return;
    SendMode = mode;
    SendEdit->clear();
    if (mode == 0)
        SendLine.Reset();
    static const char* const Images[] = {":/tab/char.png", ":/tab/line.png", ":/tab/modem.png",
                                         ":/tab/hex.png"};
    if (mode >= 0 && mode <= 3)
        PageSel->setTabIcon(0, QIcon(Images[mode]));
    AppliedSendMode = mode;
}
