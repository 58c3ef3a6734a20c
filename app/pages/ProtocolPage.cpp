// The wireless protocol page: frames built from the fields, sent once or at an
// interval.

#include "ProtocolPage.h"

#include "AppFonts.h"
#include "Checksums.h"
#include "Dialogs.h"
#include "ErrorStats.h"
#include "FieldMark.h"
#include "PageHost.h"
#include "SendEdit.h"
#include "SendPage.h"
#include "Threadcomm.h"
#include "ProtocolFrame.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

namespace {

const char* const TimedCaption = QT_TRANSLATE_NOOP("TProtocolPage", "定时发送");

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QLineEdit* MakeField(QWidget* parent, const char* text, int maxLength, QRect geometry) {
    auto* e = new QLineEdit(QString::fromUtf8(text), parent);
    e->setMaxLength(maxLength);
    e->setGeometry(geometry);
    e->setFont(PaneFont());
    e->setTextMargins(0, 0, 0, 0);
    return e;
}

QPlainTextEdit* MakePacket(QWidget* parent, QColor text, QColor back, QRect geometry) {
    auto* e = new QPlainTextEdit(parent);
    e->setGeometry(geometry);
    e->setFrameShape(QFrame::NoFrame);
    e->setFont(PaneFont());
    e->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    e->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    e->setTabChangesFocus(true);
    QPalette p = e->palette();
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Base, back);
    e->setPalette(p);
    return e;
}

// The parsed bytes of a field's text; more than the hex buffer holds sets
// overflow.
HexBytes& ParseField(HexBytes& hex, const QString& text, bool* overflow = nullptr) {
    const QByteArray bytes = HexLineText(text);
    HexTextToBytes(hex, bytes.constData(), static_cast<uint32_t>(bytes.size()), overflow);
    return hex;
}

} // namespace

TProtocolPage::TProtocolPage(TPageHost& host, QWidget* parent) : QWidget(parent), Host(host) {
    // The caption's blanks put each heading over its column.
    GroupBox1 = new QGroupBox(this);
    // Captions are a CJK font's line high (17 pixels at 12): the titles and labels have that
    // room, clear of the frames.
    GroupBox1->setGeometry(2, 2, 356, 106);
    // One row each for source, destination, command and reserve, in the
    // column under the first heading.
    // One letter or character each: the labels have the room of one.
    Label7 = new QLabel(GroupBox1);
    EdtSour = MakeField(GroupBox1, "00", 2, QRect(17, 23, 22, 18));
    Label8 = new QLabel(GroupBox1);
    EdtDes = MakeField(GroupBox1, "10", 2, QRect(17, 43, 22, 18));
    Label9 = new QLabel(GroupBox1);
    EdtCmd = MakeField(GroupBox1, "00", 2, QRect(17, 63, 22, 18));
    Label11 = new QLabel(GroupBox1);
    EdtBY = MakeField(GroupBox1, "", 20, QRect(17, 83, 42, 18));
    int row = 0;
    for (QLabel* l : {Label7, Label8, Label9, Label11})
        l->setGeometry(3, 23 + 20 * row++, 13, 18);
    VMRouter = MakePacket(GroupBox1, QColor(0, 255, 0), QColor(64, 0, 64), QRect(62, 23, 90, 80));
    VMData = MakePacket(GroupBox1, Qt::yellow, Qt::black, QRect(154, 23, 196, 80));

    BtnSend = new QPushButton(this);
    BtnSend->setGeometry(362, 4, 136, 24);
    GrpVM = new QGroupBox(this);
    GrpVM->setGeometry(362, 32, 136, 76);
    Label12 = new QLabel(GrpVM);
    Label12->setGeometry(5, 24, 84, 18);
    EdtVMTime = new QLineEdit("2000", GrpVM);
    EdtVMTime->setGeometry(90, 23, 42, 19);
    BtnVMStart = new QPushButton(GrpVM);
    BtnVMStart->setGeometry(5, 48, 61, 22);
    BtnVMStop = new QPushButton(GrpVM);
    BtnVMStop->setGeometry(70, 48, 61, 22);

    // All six fields take what the preamble field takes; the packets do not
    // break lines on Enter.
    for (QLineEdit* e : {EdtSour, EdtDes, EdtCmd, EdtBY})
        InstallKeyFilter(e, [](QString& text) { return EdtHeadKeyPress(text); });
    for (QPlainTextEdit* e : {VMRouter, VMData}) {
        InstallKeyFilter(e, [](QString& text) { return EdtHeadKeyPress(text) && text != "\r"; });
        e->viewport()->installEventFilter(this);
    }

    TimerVM = new QTimer(this);
    TimerVM->setSingleShot(true);
    TimerVM->setTimerType(Qt::PreciseTimer);
    connect(TimerVM, &QTimer::timeout, this, &TProtocolPage::TimerVMTimer);
    connect(BtnSend, &QPushButton::clicked, this, &TProtocolPage::BtnSendClick);
    connect(BtnVMStart, &QPushButton::clicked, this, &TProtocolPage::BtnVMStartClick);
    connect(BtnVMStop, &QPushButton::clicked, this, &TProtocolPage::BtnVMStopClick);
    RetranslateUi();
}

void TProtocolPage::RetranslateUi() {
    // The caption's blanks put each heading over its column.
    GroupBox1->setTitle(tr("帧格式    路由包         数据包   "));
    // One letter or character each: the labels have the room of one.
    const std::pair<QLabel*, QString> labels[] = {
        {Label7, tr("源")}, {Label8, tr("目")}, {Label9, tr("命")}, {Label11, tr("备")}};
    for (const auto& [label, text] : labels)
        label->setText(text);
    const std::pair<QLineEdit*, QString> hints[] = {{EdtSour, tr("源地址")},
                                                    {EdtDes, tr("目标地址")},
                                                    {EdtCmd, tr("命令字")},
                                                    {EdtBY, tr("4Byte备用")}};
    for (const auto& [field, hint] : hints)
        SetFieldTip(field, hint); // a marked field keeps the reason on show
    BtnSend->setText(tr("发送报文"));
    ShowCountCaption();
    Label12->setText(tr("间隔时间(毫秒)"));
    BtnVMStart->setText(tr("开始"));
    BtnVMStop->setText(tr("停止"));
}

void TProtocolPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        RetranslateUi();
    QWidget::changeEvent(event);
}

void TProtocolPage::ShowCountCaption() {
    GrpVM->setTitle(ShownCount == 0 ? tr(TimedCaption)
                                    : QCoreApplication::translate("ErrorStats", CountPattern)
                                          .arg(tr(TimedCaption), QString::number(ShownCount)));
}

bool TProtocolPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == VMRouter->viewport())
            VMRouterMouseDown();
        else if (watched == VMData->viewport())
            VMDataMouseDown();
    }
    return QWidget::eventFilter(watched, event);
}

bool TProtocolPage::ReadPacket(QPlainTextEdit* field, uint32_t limit, std::vector<uint8_t>& bytes) {
    bool overflow = false;
    HexBytes& hex = ParseField(Host.HexBuf(), field->toPlainText(), &overflow);
    if (overflow || hex.Count > limit) {
        MarkField(field, overflow ? tr("最多%1个字节, 未发送").arg(limit)
                                  : tr("最多%1个字节 (现有%2个), 未发送")
                                        .arg(QString::number(limit), QString::number(hex.Count)));
        return false;
    }
    bytes.assign(hex.Data, hex.Data + hex.Count);
    return true;
}

std::vector<uint8_t> TProtocolPage::BuildFrame() {
    TProtocolFields f;
    // Both packets are checked before any field changes, so a refused frame
    // leaves every field as the user typed it.
    if (!ReadPacket(VMRouter, VMRouteMax, f.Route) || !ReadPacket(VMData, VMDataMax, f.Data))
        return {};
    ClearFieldMark(VMRouter);
    ClearFieldMark(VMData);
    HexBytes& hex = Host.HexBuf();
    hex.Count = static_cast<uint32_t>(f.Route.size());
    std::copy(f.Route.begin(), f.Route.end(), hex.Data);
    VMRouter->setPlainText(FromUtf8(BytesToHexText(hex)));
    hex.Count = static_cast<uint32_t>(f.Data.size());
    std::copy(f.Data.begin(), f.Data.end(), hex.Data);
    VMData->setPlainText(FromUtf8(BytesToHexText(hex)));

    auto oneByte = [&](QLineEdit* field, uint8_t& b) {
        ParseField(hex, field->text());
        b = hex.Count ? hex.Data[0] : 0;
        field->setText(FromUtf8(VMByteText(b)));
    };
    oneByte(EdtSour, f.Source);
    oneByte(EdtDes, f.Dest);
    oneByte(EdtCmd, f.Cmd);
    ParseField(hex, EdtBY->text());
    for (uint32_t i = 0; i < 4 && i < hex.Count; ++i)
        f.Reserve[i] = hex.Data[i];
    EdtBY->setText(FromUtf8(BytesToHexText(hex)));
    return BuildProtocolFrame(f);
}

void TProtocolPage::BtnSendClick() {
    const std::vector<uint8_t> frame = BuildFrame();
    if (!frame.empty())
        Host.Worker().Send(frame.data(), static_cast<uint32_t>(frame.size()));
}

void TProtocolPage::ShowLengthHint(QPlainTextEdit* field) {
    HexBytes& hex = ParseField(Host.HexBuf(), field->toPlainText());
    field->setPlainText(FromUtf8(BytesToHexText(hex)));
    ClearFieldMark(field);
    field->setToolTip(QCoreApplication::translate("ProtocolFrame", LengthHintPattern)
                          .arg(QString::number(hex.Count), FromUtf8(LengthHintHex(hex.Count))));
}

void TProtocolPage::VMRouterMouseDown() {
    ShowLengthHint(VMRouter);
}

void TProtocolPage::VMDataMouseDown() {
    ShowLengthHint(VMData);
}

void TProtocolPage::BtnVMStartClick() {
    int64_t v = 0;
    if (!ParseWholeNumber(EdtVMTime->text().toStdString(), v)) {
        dialogs::Message(this, FromUtf8(NotIntegerMessage(EdtVMTime->text().toStdString())));
        return;
    }
    // A frame that cannot go out starts no run.
    std::vector<uint8_t> probe;
    if (!ReadPacket(VMRouter, VMRouteMax, probe) || !ReadPacket(VMData, VMDataMax, probe))
        return;
    ClearFieldMark(EdtVMTime);
    LastInterval = VMSendInterval(v);
    BtnVMStart->setEnabled(false);
    BtnSend->setEnabled(false);
    Host.SendCounter() = 0;
    TimerVM->start(int(FirstTickMs));
}

void TProtocolPage::BtnVMStopClick() {
    BtnSend->setEnabled(true);
}

void TProtocolPage::TimerVMTimer() {
    TimerVM->stop();
    if (BtnSend->isEnabled()) {
        BtnVMStart->setEnabled(true);
        return;
    }
    // A frame refused for a packet typed too long during the run is not
    // sent nor counted; the run goes on and the field says why.
    const std::vector<uint8_t> frame = BuildFrame();
    if (!frame.empty())
        Host.Worker().Send(frame.data(), static_cast<uint32_t>(frame.size()));
    const uint32_t interval = NextInterval();
    if (!frame.empty()) {
        ShownCount = ++Host.SendCounter();
        ShowCountCaption();
    }
    TimerVM->start(int(interval));
}

uint32_t TProtocolPage::NextInterval() {
    return NextIntervalOf(EdtVMTime, LastInterval, VMSendInterval);
}
