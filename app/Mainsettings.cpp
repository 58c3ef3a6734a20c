// TFrmMain's settings: loading at creation, saving at every close request,
// and the port map of the settings page.

#include "Dialogs.h"
#include "Settings.h"
#include "Unitmain.h"

#include "Abled.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QToolButton>

namespace {

QSettings Store() {
    return QSettings(settings::Organisation, settings::Application);
}

// A DWORD-like read: present and a whole number.
bool ReadInt(const QSettings& s, const char* key, int& value) {
    QVariant v = s.value(key);
    if (!v.isValid())
        return false;
    bool ok = false;
    qlonglong n = v.toString().trimmed().toLongLong(&ok);
    if (!ok || n < 0 || n > 0xFFFFFFFFLL)
        return false;
    value = static_cast<int>(n);
    return true;
}

// An index outside a list leaves it without a selection; the apply action
// then leaves that setting as it is.
void SetIndex(QComboBox* box, int index) {
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}

} // namespace

void TFrmMain::LoadSettings() {
    QSettings s = Store();
    bool ok = !s.allKeys().isEmpty();
    int n = 0;
    if (ok) {
        // Each value is applied before the next is read; the first failure
        // skips the rest and falls back to the defaults below.
        ok = false;
        do {
            if (!ReadInt(s, settings::ComPort, n))
                break;
            SetIndex(CboPort, n);
            if (!ReadInt(s, settings::BaudRate, n))
                break;
            SetIndex(CboBps, n);
            if (!ReadInt(s, settings::Parity, n))
                break;
            SetIndex(CboParity, n);
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
            SendMode = n;
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
        CboPort->setCurrentIndex(settings::DefaultComPort);
        CboBps->setCurrentIndex(settings::DefaultBaudRate);
        CboParity->setCurrentIndex(settings::DefaultParity);
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
    SetPortMap(map);

    btnUpdateClick();
    ChkControlRTSClick();
    chkHeadClick();
    SetSendMode(SendMode);
}

void TFrmMain::SaveSettings() {
    QSettings s = Store();
    s.setValue(settings::ComPort, CboPort->currentIndex());
    s.setValue(settings::BaudRate, CboBps->currentIndex());
    s.setValue(settings::Parity, CboParity->currentIndex());
    s.setValue(settings::ControlRTS, ChkControlRTS->Checked() ? 1 : 0);
    s.setValue(settings::AllowHead, chkHead->Checked() ? 1 : 0);
    s.setValue(settings::RTSEnabled, chkRTS->Checked() ? 1 : 0);
    s.setValue(settings::DTREnabled, chkDTR->Checked() ? 1 : 0);
    s.setValue(settings::SendMode, SendMode);
    TPortMap map = PortMap();
    s.beginGroup(settings::PortMapGroup);
    for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
        s.setValue(QString("COM%1").arg(i + 1), QString::fromStdString(map.Targets[i]));
    s.endGroup();
    bool ok = false;
    int receNum = EdtRevNum->text().trimmed().toInt(&ok);
    if (!ok)
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

TPortMap TFrmMain::PortMap() const {
    return Comm->GetPortMap();
}

void TFrmMain::SetPortMap(const TPortMap& map) {
    Comm->SetPortMap(map);
    PopulatePortTips();
}

// Each COM item tells which device it opens.
void TFrmMain::PopulatePortTips() {
    TPortMap map = Comm->GetPortMap();
    for (uint32_t i = 0; i < TPortMap::PortCount && int(i) < CboPort->count(); ++i) {
        const std::string& t = map.Targets[i];
        QString tip = t.empty()             ? QStringLiteral("未映射")
                      : t == LoopbackTarget ? QStringLiteral("环回插头 (loopback)")
                                            : QString::fromStdString(t);
        CboPort->setItemData(static_cast<int>(i), tip, Qt::ToolTipRole);
    }
}

void TFrmMain::btnPortMapClick() {
    QDialog dialog(this);
    dialog.setWindowTitle("端口映射 (COM → 设备)");
    auto* form = new QFormLayout(&dialog);
    form->addRow(new QLabel("每个端口打开的设备: 路径, 或 loopback (环回插头).\n"
                            "Each port's device: a path, or loopback."));
    TPortMap map = PortMap();
    TPortMap detected = TPortMap::Defaults();
    QComboBox* boxes[TPortMap::PortCount];
    for (uint32_t i = 0; i < TPortMap::PortCount; ++i) {
        auto* box = new QComboBox(&dialog);
        box->setEditable(true);
        box->setMinimumWidth(320);
        QStringList choices{QString(), LoopbackTarget};
        for (const auto& t : detected.Targets)
            if (!t.empty() && !choices.contains(QString::fromStdString(t)))
                choices << QString::fromStdString(t);
        box->addItems(choices);
        box->setCurrentText(QString::fromStdString(map.Targets[i]));
        boxes[i] = box;
        form->addRow(QString("COM%1").arg(i + 1), box);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel |
                                             QDialogButtonBox::RestoreDefaults,
                                         &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked,
                     &dialog, [&] {
                         for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
                             boxes[i]->setCurrentText(QString::fromStdString(detected.Targets[i]));
                     });
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
        map.Targets[i] = boxes[i]->currentText().trimmed().toStdString();
    SetPortMap(map);
    btnUpdateClick(); // the current port reopens on its (new) device
}
