// The settings page: the port group, the apply button, the port map and the
// keys' help text.

#include "SettingsPage.h"

#include "CommandLine.h"
#include "Dialogs.h"
#include "Language.h"
#include "NetTarget.h"
#include "ObjectNames.h"
#include "PageHost.h"
#include "SettingsKeys.h"
#include "StoredSettings.h"
#include "Threadcomm.h"

#include <QComboBox>
#include <QHash>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// A read-only text box that shows whole lines: the height left below the last whole line is
// kept out of the view and painted like it, so no line is cut in half at the foot.
class TWholeLinesEdit : public QPlainTextEdit {
public:
    explicit TWholeLinesEdit(QWidget* parent) : QPlainTextEdit(parent) {
        setReadOnly(true);
        setAutoFillBackground(true);
        setBackgroundRole(QPalette::Base);
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QPlainTextEdit::resizeEvent(event);
        const int line = std::max(1, int(std::ceil(QFontMetricsF(font()).height())));
        const int top = int(document()->documentMargin());
        const int left = std::max(0, contentsRect().height() - top) % line;
        if (left != m_left) {
            m_left = left;
            setViewportMargins(0, 0, 0, left);
        }
    }

private:
    int m_left = 0;
};

const char* const HelpLines[] = {
    QT_TRANSLATE_NOOP("TSettingsPage", "快捷键定义"),
    "",
    QT_TRANSLATE_NOOP("TSettingsPage", "F1  保留    "),
    QT_TRANSLATE_NOOP("TSettingsPage", "F2  设置串行通讯端口"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F3  设置通讯波特率"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F4  设置通讯校验位"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F5  设置RTS    "),
    QT_TRANSLATE_NOOP("TSettingsPage", "F6  设置DTR"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F7  设置发送控制RTS"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F8  设置控制前导码"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F9  清除发送接收窗口数据"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F10 暂停接收"),
    QT_TRANSLATE_NOOP("TSettingsPage", "F12 切换发送模式"),
    QT_TRANSLATE_NOOP("TSettingsPage", "Alt+1 发送窗口"),
    QT_TRANSLATE_NOOP("TSettingsPage", "Alt+2 自动发送窗口"),
    QT_TRANSLATE_NOOP("TSettingsPage", "Alt+3 参数设置"),
    QT_TRANSLATE_NOOP("TSettingsPage", "Alt+4 无线通讯协议V0.8"),
};

// F3 steps over the first eight rates only, "110" to "14400".
constexpr int LastKeyRate = 7;

// The next item of a list up to index last, then back to the first; a list without
// a selection starts at its first item.
void NextItem(QComboBox* box, int last) {
    const int i = box->currentIndex();
    box->setCurrentIndex(i >= 0 && i < last ? i + 1 : 0);
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

TSettingsPage::TSettingsPage(TPageHost& host, QWidget* parent) : QWidget(parent), Host(host) {
    // The port group on the left, the apply buttons in the middle and the
    // help text on the right, whatever height the tab strip leaves.
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(2, 0, 2, 2);
    row->setSpacing(0);

    auto* grp = new QGroupBox(this);
    GrpCom = grp;
    grp->setFixedWidth(165);
    auto* grid = new QGridLayout(grp);
    grid->setContentsMargins(6, 2, 6, 2);
    grid->setVerticalSpacing(1);
    QComboBox** boxes[] = {&CboPort, &CboBps, &CboParity};
    for (int i = 0; i < 3; ++i) {
        Captions[i] = new QLabel(grp);
        grid->addWidget(Captions[i], i, 0);
        auto* box = new QComboBox(grp);
        box->setFixedHeight(20);
        grid->addWidget(box, i, 1);
        *boxes[i] = box;
    }
    CboPort->addItems({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6"});
    CboBps->addItems({"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200",
                      "38400", "56000", "57600", "115200"});
    CboParity->addItems({"None", "ODD", "Even", "Mark", "Space"});
    // Any rate the device takes can be typed; the list stays as it is.
    CboBps->setEditable(true);
    CboBps->setInsertPolicy(QComboBox::NoInsert);
    CboBps->setValidator(new QIntValidator(1, 99999999, CboBps));
    row->addWidget(grp);

    auto* middle = new QWidget(this); // from 167 on the page: margin and port group
    btnUpdate = new QPushButton(QIcon(":/glyph/update.png"), QString(), middle);
    // At (178, 30) on the page, below the port map button.
    btnUpdate->setGeometry(178 - 167, 30, 85, 33);
    connect(btnUpdate, &QPushButton::clicked, this, &TSettingsPage::btnUpdateClick);
    btnPortMap = new QToolButton(middle);
    btnPortMap->setGeometry(178 - 167, 4, 85, 22);
    connect(btnPortMap, &QToolButton::clicked, this, &TSettingsPage::btnPortMapClick);
    // Below the apply button: letting go of the port, and the line's framing.
    btnConnect = new QToolButton(middle);
    btnConnect->setGeometry(178 - 167, 66, 85, 19);
    connect(btnConnect, &QToolButton::clicked, this, &TSettingsPage::btnConnectClick);
    btnLine = new QToolButton(middle);
    btnLine->setGeometry(178 - 167, 87, 85, 19);
    connect(btnLine, &QToolButton::clicked, this, &TSettingsPage::btnLineClick);
    row->addWidget(middle, 1);

    // The right column: the interface's language over the keys' help text.
    auto* right = new QVBoxLayout;
    right->setContentsMargins(0, 0, 0, 0);
    right->setSpacing(1);
    auto* languageRow = new QHBoxLayout;
    languageRow->setContentsMargins(2, 1, 0, 0);
    lblLanguage = new QLabel(this);
    languageRow->addWidget(lblLanguage);
    CboLanguage = new QComboBox(this);
    CboLanguage->setFixedHeight(20);
    // Each language by its own name, in every interface language.
    CboLanguage->addItems({QStringLiteral("中文"), QStringLiteral("English")});
    CboLanguage->setCurrentIndex(int(CurrentLanguage()));
    connect(CboLanguage, &QComboBox::activated, this, &TSettingsPage::CboLanguageSelect);
    languageRow->addWidget(CboLanguage, 1);
    right->addLayout(languageRow);

    Memo1 = new TWholeLinesEdit(this);
    Memo1->setFixedWidth(221);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    right->addWidget(Memo1, 1);
    row->addLayout(right);
    NameObjects({{GrpCom, "GrpCom"},
                 {CboPort, "CboPort"},
                 {CboBps, "CboBps"},
                 {CboParity, "CboParity"},
                 {btnUpdate, "btnUpdate"},
                 {btnPortMap, "btnPortMap"},
                 {btnConnect, "btnConnect"},
                 {btnLine, "btnLine"},
                 {Memo1, "Memo1"},
                 {CboLanguage, "CboLanguage"},
                 {lblLanguage, "lblLanguage"},
                 {Captions[0], "lblPort"},
                 {Captions[1], "lblBps"},
                 {Captions[2], "lblParity"}});
    RetranslateUi();
}

void TSettingsPage::RetranslateUi() {
    static_cast<QGroupBox*>(GrpCom)->setTitle(tr("端口设置"));
    const QString captions[] = {tr("通讯端口:"), tr("通讯速率:"), tr("校验方式:")};
    for (int i = 0; i < 3; ++i)
        Captions[i]->setText(captions[i]);
    CboBps->setToolTip(tr("可以输入列表以外的速率"));
    btnUpdate->setText(tr("更新(&U)"));
    btnPortMap->setText(tr("端口映射..."));
    btnPortMap->setToolTip(tr("COM1..COM6 各自打开的设备"));
    ShowConnected(ShownReleased);
    btnLine->setText(tr("线路"));
    btnLine->setToolTip(tr("数据位, 停止位, 流控制"));
    lblLanguage->setText(tr("界面语言:"));
    Memo1->clear();
    for (const char* line : HelpLines)
        Memo1->appendPlainText(*line ? tr(line) : QString());
    Memo1->moveCursor(QTextCursor::Start);
}

void TSettingsPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange) {
        RetranslateUi();
        PopulatePortTips(); // the worker is there by now: the window makes it after its pages
    }
    QWidget::changeEvent(event);
}

void TSettingsPage::CboLanguageSelect(int index) {
    // Every window and page words itself again as the language changes; the
    // choice is stored with the other settings.
    if (index >= 0 && index != int(CurrentLanguage()))
        SetLanguage(TLanguage(index));
}

void TSettingsPage::btnUpdateClick() {
    // A list left without a selection (a stored index out of its range) keeps
    // the setting the worker has.
    TWThreadComm& comm = Host.Worker();
    try {
        if (CboParity->currentIndex() >= 0)
            comm.SetParity(static_cast<uint8_t>(CboParity->currentIndex()));
        bool ok = false;
        uint32_t rate = CboBps->currentText().toUInt(&ok);
        if (ok)
            comm.SetBaudRate(rate);
        if (CboPort->currentIndex() >= 0)
            comm.RequestPort(static_cast<uint32_t>(CboPort->currentIndex() + 1));
        emit PortSettingsChanged();
    } catch (...) {
    }
}

TPortMap TSettingsPage::PortMap() const {
    return Host.Worker().GetPortMap();
}

void TSettingsPage::SetPortMap(const TPortMap& map) {
    Host.Worker().SetPortMap(map);
    PopulatePortTips();
}

// Each COM item tells which device it opens.
void TSettingsPage::PopulatePortTips() {
    TPortMap map = PortMap();
    for (uint32_t i = 0; i < TPortMap::PortCount && int(i) < CboPort->count(); ++i) {
        const std::string& t = map.Targets[i];
        QString tip = t.empty()             ? tr("未映射")
                      : t == LoopbackTarget ? tr("环回插头")
                                            : QString::fromStdString(t);
        CboPort->setItemData(static_cast<int>(i), tip, Qt::ToolTipRole);
    }
}

QString PortTargetProblem(const QString& target) {
    const std::string t = target.toStdString();
    if (!IsNetTarget(t))
        return {};
    TNetTarget net;
    std::string why;
    if (ParseNetTarget(t, net, &why))
        return {};
    return TSettingsPage::tr("网络端口地址格式错误, 应为 rfc2217://主机:端口 或 tcp://主机:端口.\n"
                             "(%1: %2)")
        .arg(target, QString::fromStdString(why));
}

void TSettingsPage::btnPortMapClick() {
    QDialog dialog(this);
    dialog.setWindowTitle(tr("端口映射 (COM → 设备)"));
    auto* form = new QFormLayout(&dialog);
    form->addRow(new QLabel(tr("每个端口打开的设备: 路径, loopback (环回插头), 或网络上的端口:\n"
                               "rfc2217://主机:端口 (ser2net, 可设置速率与 RTS/DTR), tcp://主机:端口 (只传数据).")));
    TPortMap map = PortMap();
    TPortMap detected = TPortMap::Defaults();
    // The bytes of each path shown: one that is not UTF-8 shows with replacement characters
    // and, left as it was, is kept as the bytes it is.
    QHash<QString, std::string> shownBytes;
    for (const TPortMap* m : {&detected, &map})
        for (const std::string& t : m->Targets)
            shownBytes.insert(QString::fromStdString(t), t);
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
    // A malformed network target is named before the dialog closes.
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        for (uint32_t i = 0; i < TPortMap::PortCount; ++i) {
            const QString problem = PortTargetProblem(boxes[i]->currentText().trimmed());
            if (!problem.isEmpty()) {
                dialogs::Message(&dialog, QString("COM%1: ").arg(i + 1) + problem);
                boxes[i]->setFocus();
                return;
            }
        }
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked,
                     &dialog, [&] {
                         for (uint32_t i = 0; i < TPortMap::PortCount; ++i)
                             boxes[i]->setCurrentText(QString::fromStdString(detected.Targets[i]));
                     });
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    for (uint32_t i = 0; i < TPortMap::PortCount; ++i) {
        const QString text = boxes[i]->currentText().trimmed();
        const auto shown = shownBytes.constFind(text);
        map.Targets[i] = shown != shownBytes.cend() ? *shown : text.toStdString();
    }
    SetPortMap(map);
    btnUpdateClick(); // the current port reopens on its (new) device
}

void TSettingsPage::ShowConnected(bool released) {
    ShownReleased = released;
    btnConnect->setText(released ? tr("连接") : tr("断开"));
    btnConnect->setToolTip(released ? tr("重新打开端口")
                                    : tr("关闭端口, 让其他程序使用该设备"));
}

void TSettingsPage::btnConnectClick() {
    TWThreadComm& comm = Host.Worker();
    if (comm.Released())
        comm.Reconnect();
    else
        comm.Release();
    ShowConnected(comm.Released());
    emit PortSettingsChanged();
}

bool TSettingsPage::ApplyLine(int byteSize, int stopBits, int flow) {
    TWThreadComm& comm = Host.Worker();
    const TLineSettings before = comm.GetLineSettings();
    try {
        comm.SetByteSize(uint8_t(byteSize));
        comm.SetStopBits(uint8_t(stopBits));
        comm.SetFlowControl(uint8_t(flow));
    } catch (...) {
        // Back to what the device had: a half-applied framing helps nobody.
        try {
            comm.SetByteSize(before.ByteSize);
            comm.SetStopBits(before.StopBits);
            comm.SetFlowControl(before.Flow);
        } catch (...) {
        }
        emit PortSettingsChanged();
        return false;
    }
    emit PortSettingsChanged();
    return true;
}

void TSettingsPage::btnLineClick() {
    QDialog dialog(this);
    dialog.setWindowTitle(tr("线路设置"));
    auto* form = new QFormLayout(&dialog);
    auto* bits = new QComboBox(&dialog);
    bits->addItems({"5", "6", "7", "8"});
    auto* stops = new QComboBox(&dialog);
    stops->addItems({"1", "1.5", "2"});
    auto* flow = new QComboBox(&dialog);
    flow->addItems({tr("无"), "RTS/CTS", "XON/XOFF"});
    const TLineSettings now = Host.Worker().GetLineSettings();
    bits->setCurrentIndex(now.ByteSize - 5);
    stops->setCurrentIndex(now.StopBits);
    flow->setCurrentIndex(now.Flow);
    bits->setObjectName("bits");
    stops->setObjectName("stops");
    flow->setObjectName("flow");
    form->addRow(tr("数据位:"), bits);
    form->addRow(tr("停止位:"), stops);
    form->addRow(tr("流控制:"), flow);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return;
    if (!ApplyLine(bits->currentIndex() + 5, stops->currentIndex(), flow->currentIndex()))
        dialogs::Message(this, tr("设备不接受这些线路设置"));
}

void TSettingsPage::NextPort() {
    NextItem(CboPort, CboPort->count() - 1);
    btnUpdateClick();
}

void TSettingsPage::NextRate() {
    NextItem(CboBps, LastKeyRate);
    btnUpdateClick();
}

void TSettingsPage::NextParity() {
    NextItem(CboParity, CboParity->count() - 1);
    btnUpdateClick();
}

void TSettingsPage::ShowBaudRate(uint32_t rate) {
    const QString text = QString::number(rate);
    const int index = CboBps->findText(text);
    if (index >= 0)
        CboBps->setCurrentIndex(index);
    else
        CboBps->setEditText(text);
    emit PortSettingsChanged();
}

void TSettingsPage::ShowParity(int parity) {
    if (parity >= 0 && parity < CboParity->count())
        CboParity->setCurrentIndex(parity);
    emit PortSettingsChanged();
}

void TSettingsPage::SetPortGroupEnabled(bool on) {
    GrpCom->setEnabled(on);
}

// What was read before a failure is applied, in the order of reading, and the
// defaults then go over part of it.
void TSettingsPage::LoadSettings(const TStoredSettings& stored) {
    if (stored.ComPort)
        SetIndex(CboPort, *stored.ComPort, settings::DefaultComPort);
    if (stored.BaudRate)
        SetIndex(CboBps, *stored.BaudRate, settings::DefaultBaudRate);
    if (stored.Parity)
        SetIndex(CboParity, *stored.Parity, settings::DefaultParity);
    if (!stored.Complete()) {
        CboPort->setCurrentIndex(settings::DefaultComPort);
        CboBps->setCurrentIndex(settings::DefaultBaudRate);
        CboParity->setCurrentIndex(settings::DefaultParity);
    }
    SetPortMap(stored.PortMap ? *stored.PortMap : TPortMap::Defaults());
    if (stored.Language)
        CboLanguage->setCurrentIndex(int(*stored.Language));
    if (stored.CustomBaudRate)
        CboBps->setEditText(QString::number(*stored.CustomBaudRate));
    ApplyLine(stored.ByteSize ? int(*stored.ByteSize) : 8, stored.StopBits ? int(*stored.StopBits) : 0,
              stored.FlowControl ? int(*stored.FlowControl) : 0);
    btnUpdateClick();
}

void TSettingsPage::ApplyCommandLine(const TCmdLine& line) {
    if (line.Language) {
        RunOnly.Language = CboLanguage->currentIndex();
        RunOnly.RunLanguage = *line.Language;
        CboLanguage->setCurrentIndex(*line.Language);
    }
    if (!line.Port && !line.BaudRate && !line.Parity)
        return;
    if (line.Port) {
        RunOnly.Map = PortMap();
        RunOnly.ComPort = CboPort->currentIndex();
        TPortMap run = *RunOnly.Map;
        run.Targets[0] = line.Port->toStdString();
        RunOnly.RunMap = run;
        SetPortMap(run);
        CboPort->setCurrentIndex(0);
    }
    if (line.BaudRate) {
        RunOnly.RateText = CboBps->currentText();
        const QString rate = QString::number(*line.BaudRate);
        const int index = CboBps->findText(rate);
        if (index >= 0)
            CboBps->setCurrentIndex(index);
        else
            CboBps->setEditText(rate);
        RunOnly.RunRateText = rate;
    }
    if (line.Parity) {
        RunOnly.Parity = CboParity->currentIndex();
        CboParity->setCurrentIndex(*line.Parity);
        RunOnly.RunParity = *line.Parity;
    }
    btnUpdateClick();
}

void TSettingsPage::SaveSettings(TStoredSettings& stored) const {
    stored.ComPort = IndexToSave(CboPort, settings::DefaultComPort);
    stored.BaudRate = IndexToSave(CboBps, settings::DefaultBaudRate);
    stored.Parity = IndexToSave(CboParity, settings::DefaultParity);
    stored.PortMap = PortMap();
    stored.Language = CboLanguage->currentIndex();
    bool ok = false;
    const int rate = CboBps->currentText().toInt(&ok);
    if (ok && CboBps->findText(CboBps->currentText()) < 0)
        stored.CustomBaudRate = rate;
    const TLineSettings line = Host.Worker().GetLineSettings();
    stored.ByteSize = line.ByteSize;
    stored.StopBits = line.StopBits;
    stored.FlowControl = line.Flow;
    // The command line's choices are this run's; what the user changed is kept.
    if (RunOnly.Map && stored.PortMap == RunOnly.RunMap) {
        stored.PortMap = RunOnly.Map;
        if (CboPort->currentIndex() == 0)
            stored.ComPort = *RunOnly.ComPort >= 0 ? *RunOnly.ComPort : settings::DefaultComPort;
    }
    if (RunOnly.RateText && CboBps->currentText() == RunOnly.RunRateText) {
        const int index = CboBps->findText(*RunOnly.RateText);
        stored.BaudRate = index >= 0 ? index : settings::DefaultBaudRate;
        bool runOk = false;
        const int runRate = RunOnly.RateText->toInt(&runOk);
        stored.CustomBaudRate.reset();
        if (runOk && index < 0)
            stored.CustomBaudRate = runRate;
    }
    if (RunOnly.Language && *stored.Language == RunOnly.RunLanguage)
        stored.Language = *RunOnly.Language;
    if (RunOnly.Parity && CboParity->currentIndex() == RunOnly.RunParity)
        stored.Parity = *RunOnly.Parity >= 0 ? *RunOnly.Parity : settings::DefaultParity;
}
