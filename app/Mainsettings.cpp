// TFrmMain's settings: loading at creation, saving at every close request.

#include "Dialogs.h"
#include "Sendpage.h"
#include "Settings.h"
#include "Settingspage.h"
#include "Unitmain.h"

#include "Abled.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSettings>

namespace {

QSettings Store() {
    return QSettings(settings::Organisation, settings::Application);
}

// A DWORD-like read: present and a whole number that 32 bits hold, signed
// or not (a value above 2^31 stays positive).
bool ReadInt(const QSettings& s, const char* key, int64_t& value) {
    QVariant v = s.value(key);
    if (!v.isValid())
        return false;
    bool ok = false;
    qlonglong n = v.toString().trimmed().toLongLong(&ok);
    if (!ok || n < INT32_MIN || n > int64_t(UINT32_MAX))
        return false;
    value = n;
    return true;
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
    QSettings s = Store();
    bool ok = !s.allKeys().isEmpty();
    int64_t n = 0;
    if (ok) {
        // Each value is applied before the next is read; the first failure
        // skips the rest and falls back to the defaults below.
        ok = false;
        do {
            if (!ReadInt(s, settings::ComPort, n))
                break;
            SetIndex(TabComm->CboPort, n, settings::DefaultComPort);
            if (!ReadInt(s, settings::BaudRate, n))
                break;
            SetIndex(TabComm->CboBps, n, settings::DefaultBaudRate);
            if (!ReadInt(s, settings::Parity, n))
                break;
            SetIndex(TabComm->CboParity, n, settings::DefaultParity);
            if (!ReadInt(s, settings::ControlRTS, n))
                break;
            ChkControlRTS->SetChecked(n == 0);
            if (!ReadInt(s, settings::AllowHead, n))
                break;
            chkHead->SetChecked(n == 0);
            if (!ReadInt(s, settings::RTSEnabled, n))
                break;
            try {
                Comm->SetRts(n != 0);
            } catch (...) {
            }
            chkRTS->SetChecked(Comm->GetRts());
            if (!ReadInt(s, settings::DTREnabled, n))
                break;
            try {
                Comm->SetDtr(n != 0);
            } catch (...) {
            }
            chkDTR->SetChecked(Comm->GetDtr());
            if (!ReadInt(s, settings::SendMode, n))
                break;
            TabSend->SendMode = int(n);
            if (!ReadInt(s, settings::ReceNum, n))
                break;
            EdtRevNum->setText(QString::number(n));
            QVariant head = s.value(settings::HeadBuff);
            if (head.isValid() && head.typeId() != QMetaType::QString)
                break;
            EdtHead->setText(head.toString());
            ok = true;
        } while (false);
    }
    if (!ok) {
        TabComm->CboPort->setCurrentIndex(settings::DefaultComPort);
        TabComm->CboBps->setCurrentIndex(settings::DefaultBaudRate);
        TabComm->CboParity->setCurrentIndex(settings::DefaultParity);
        ChkControlRTS->SetChecked(true);
        chkHead->SetChecked(true);
        EdtRevNum->setText(settings::DefaultReceNum);
        EdtHead->setText(settings::DefaultHeadBuff);
    }

    TPortMap map = TPortMap::Defaults();
    s.beginGroup(settings::PortMapGroup);
    if (!s.childKeys().isEmpty()) {
        for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
            map.Targets[i] = s.value(QString("COM%1").arg(i + 1)).toString().toStdString();
    }
    s.endGroup();
    TabComm->SetPortMap(map);

    TabComm->btnUpdateClick();
    ChkControlRTSClick();
    chkHeadClick();
    TabSend->SetSendMode(TabSend->SendMode);
}

void TFrmMain::SaveSettings() {
    QSettings s = Store();
    s.setValue(settings::ComPort, IndexToSave(TabComm->CboPort, settings::DefaultComPort));
    s.setValue(settings::BaudRate, IndexToSave(TabComm->CboBps, settings::DefaultBaudRate));
    s.setValue(settings::Parity, IndexToSave(TabComm->CboParity, settings::DefaultParity));
    s.setValue(settings::ControlRTS, ChkControlRTS->Checked() ? 1 : 0);
    s.setValue(settings::AllowHead, chkHead->Checked() ? 1 : 0);
    s.setValue(settings::RTSEnabled, chkRTS->Checked() ? 1 : 0);
    s.setValue(settings::DTREnabled, chkDTR->Checked() ? 1 : 0);
    s.setValue(settings::SendMode, TabSend->SendMode);
    TPortMap map = TabComm->PortMap();
    s.beginGroup(settings::PortMapGroup);
    for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
        s.setValue(QString("COM%1").arg(i + 1), QString::fromStdString(map.Targets[i]));
    s.endGroup();
    bool ok = false;
    const qlonglong receNum = EdtRevNum->text().trimmed().toLongLong(&ok);
    if (!ok || receNum < INT32_MIN || receNum > qlonglong(UINT32_MAX))
        throw std::invalid_argument(
            QString("'%1' is not a valid integer value").arg(EdtRevNum->text()).toStdString());
    s.setValue(settings::ReceNum, receNum);
    s.setValue(settings::HeadBuff, EdtHead->text());
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
