// The timed send page: one frame repeated at an interval, and the error rates
// of what an echoing device sends back.

#include "AutoSendPage.h"

#include "Abdbctrls.h"
#include "AppFonts.h"
#include "Checksums.h"
#include "CodePage.h"
#include "Dialogs.h"
#include "FieldMark.h"
#include "PageHost.h"
#include "SendEdit.h"
#include "Threadcomm.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstring>

namespace {

const char* const DefaultString = "Orvane Software ";
const char* const EmptyString = "Orvane SoftWare ";
const char* const DefaultHex = "55 AA FF 30 31 32 33 34 35 36 37 38 39 41 42 43";
const char* const PreambleWarning = QT_TRANSLATE_NOOP(
    "TAutoSendPage", "您使用了前导码，但接收字节与发送的字节不一致，会导致统计误码率不正确。");
const char* const SendGroupCaption = QT_TRANSLATE_NOOP("TAutoSendPage", "发送数据");

QString FromUtf8(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool ReadWholeNumber(const QLineEdit* field, int64_t& value) {
    return ParseWholeNumber(field->text().toStdString(), value);
}

QString NotInteger(const QLineEdit* field) {
    return FromUtf8(NotIntegerMessage(field->text().toStdString()));
}

// A statistics text: its pattern translated, filled with the figure.
QString StatText(const char* pattern, const std::string& figure) {
    return QCoreApplication::translate("ErrorStats", pattern).arg(FromUtf8(figure));
}

} // namespace

TAutoSendPage::TAutoSendPage(TPageHost& host, QWidget* parent) : QWidget(parent), Host(host) {
    GrpMode = new QGroupBox(this);
    // Captions are a CJK font's line high (17 pixels at 12): each group's title and every label
    // has that room, clear of the frames.
    GrpMode->setGeometry(2, 2, 100, 60);
    RadioString = new QRadioButton(GrpMode);
    RadioString->setGeometry(8, 23, 88, 16);
    RadioHex = new QRadioButton(GrpMode);
    RadioHex->setGeometry(8, 40, 88, 16);
    RadioString->setChecked(true);

    EdtString = new QLineEdit(DefaultString, this);
    EdtString->setGeometry(106, 4, 294, 19);
    EdtHex = new QLineEdit(DefaultHex, this);
    EdtHex->setGeometry(106, 26, 294, 19);
    EdtHex->setFont(PaneFont());
    // Typed letters go in upper case: lower-case a to f are no hex digits.
    InstallKeyFilter(EdtHex, [](QString& text) {
        text = text.toUpper();
        return true;
    });

    Label6 = new QLabel(this);
    Label6->setGeometry(402, 2, 96, 18);
    edtTime = new QLineEdit("1500", this);
    edtTime->setGeometry(402, 21, 94, 19);
    btnStart = new QPushButton(this);
    btnStart->setGeometry(402, 43, 46, 22);
    btnStop = new QPushButton(this);
    btnStop->setGeometry(450, 43, 46, 22);

    lblSendByte = new QLabel(this);
    lblSendByte->setGeometry(6, 64, 180, 18);
    lblRev = new QLabel(this);
    lblRev->setGeometry(6, 84, 180, 18);

    GroupBox2 = new QGroupBox(this);
    GroupBox2->setGeometry(188, 46, 212, 62);
    ChkErr = new TAbDBLED(GroupBox2, this);
    ChkErr->SetLED_Position(lpLeft);
    ChkErr->SetSpacing(5);
    ChkErr->SeTMode(mIndicator);
    ChkErr->SetFlashing(false);
    ChkErr->setCursor(Qt::PointingHandCursor);
    ChkErr->move(6, 32);
    ChkErr->resize(70, 16);
    ChkErr->OnClick = [this](QObject*) { ChkErrClick(); };
    lblBytePer = new QLabel(GroupBox2);
    lblBytePer->setGeometry(76, 23, 132, 18);
    lblBitPer = new QLabel(GroupBox2);
    lblBitPer->setGeometry(76, 41, 132, 18);

    TimerAuto = new QTimer(this);
    TimerAuto->setSingleShot(true);
    // Kept to the millisecond: a 100 ms interval is 100 ms plus the tick.
    TimerAuto->setTimerType(Qt::PreciseTimer);
    connect(TimerAuto, &QTimer::timeout, this, &TAutoSendPage::TimerAutoTimer);
    connect(btnStart, &QPushButton::clicked, this, &TAutoSendPage::btnStartClick);
    connect(btnStop, &QPushButton::clicked, this, &TAutoSendPage::btnStopClick);
    RetranslateUi();
}

void TAutoSendPage::RetranslateUi() {
    ShowCountCaption();
    RadioString->setText(tr("字符串"));
    RadioHex->setText(tr("Hex序列"));
    Label6->setText(tr("间隔时间(毫秒)"));
    btnStart->setText(tr("开始"));
    btnStop->setText(tr("停止"));
    GroupBox2->setTitle(tr("统计误码率"));
    ChkErr->SetCaption(tr("开始统计"));
    ShowStatistics();
}

void TAutoSendPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        RetranslateUi();
    QWidget::changeEvent(event);
}

void TAutoSendPage::ShowCountCaption() {
    GrpMode->setTitle(ShownCount == 0 ? tr(SendGroupCaption)
                                      : QCoreApplication::translate("ErrorStats", CountPattern)
                                            .arg(tr(SendGroupCaption), QString::number(ShownCount)));
}

// The figures as the last tick left them; the counts are blank from a start to its first tick.
void TAutoSendPage::ShowStatistics() {
    lblBytePer->setText(StatText(BytePerPattern, ByteRateFigure));
    lblBitPer->setText(StatText(BitPerPattern, BitRateFigure));
    if (!lblRev->text().isEmpty())
        lblRev->setText(StatText(RevPattern, std::to_string(TotalRecv)));
    if (!lblSendByte->text().isEmpty())
        lblSendByte->setText(StatText(SendBytePattern, std::to_string(TotalSent)));
}

int TAutoSendPage::ModeIndex() const {
    return RadioHex->isChecked() ? 1 : 0;
}

void TAutoSendPage::SetModeIndex(int index) {
    (index == 1 ? RadioHex : RadioString)->setChecked(true);
}

void TAutoSendPage::ChkErrClick() {
    ChkErr->SetChecked(!ChkErr->Checked());
}

void TAutoSendPage::SetControlsEnabled(bool on) {
    for (QWidget* w : {static_cast<QWidget*>(btnStart), static_cast<QWidget*>(GrpMode),
                       static_cast<QWidget*>(ChkErr), static_cast<QWidget*>(EdtHex),
                       static_cast<QWidget*>(EdtString)})
        w->setEnabled(on);
}

void TAutoSendPage::btnStartClick() {
    // Every field is checked before anything changes: input that cannot make
    // a run starts none, so no run is left half started.
    int64_t receNum = 0, interval = 0;
    if (!ReadWholeNumber(edtTime, interval)) {
        dialogs::Message(this, NotInteger(edtTime));
        return;
    }
    const QString receText = Host.ReceiveCountText();
    if (!ParseWholeNumber(receText.toStdString(), receNum)) {
        dialogs::Message(this, FromUtf8(NotIntegerMessage(receText.toStdString())));
        return;
    }
    QString text = EdtString->text().isEmpty() ? QString(EmptyString) : EdtString->text();
    bool inCodePage = false;
    const QByteArray textBytes = ToCodePage(text, &inCodePage);
    const QByteArray hexText = HexLineText(EdtHex->text());
    HexBytes& hex = Host.HexBuf();
    bool overflow = false;
    HexTextToBytes(hex, hexText.constData(), static_cast<uint32_t>(hexText.size()), &overflow);
    const bool hexDefaulted = hex.Count == 0;
    if (hexDefaulted)
        HexTextToBytes(hex, DefaultHex);
    const int mode = ModeIndex();
    if (mode == 0 && !inCodePage) {
        MarkField(EdtString, tr("此文字含有GBK代码页以外的字符, 未开始"));
        return;
    }
    if (mode == 0 && uint32_t(textBytes.size()) > ErrStatBufSize) {
        MarkField(EdtString, tr("发送数据最多%1个字节 (现有%2个), 未开始")
                                 .arg(QString::number(ErrStatBufSize),
                                      QString::number(textBytes.size())));
        return;
    }
    if (mode == 1 && (overflow || hex.Count > ErrStatBufSize)) {
        MarkField(EdtHex, tr("发送数据最多%1个字节, 未开始").arg(ErrStatBufSize));
        return;
    }
    ClearFieldMark(EdtString);
    ClearFieldMark(EdtHex);
    ClearFieldMark(edtTime);

    SetControlsEnabled(false);
    LastInterval = AutoSendInterval(interval, Host.ControlRtsOn());
    EdtString->setText(text);
    // A sequence longer than the parse holds (string mode) stays as typed
    // rather than being written back cut.
    if (!overflow)
        EdtHex->setText(hexDefaulted ? QString(DefaultHex) : FromUtf8(BytesToHexText(hex)));
    if (mode == 0) {
        AutoFrameLen = static_cast<uint32_t>(textBytes.size());
        std::memcpy(AutoFrame, textBytes.constData(), AutoFrameLen);
    } else {
        AutoFrameLen = hex.Count;
        CopyHexBytes(hex, AutoFrame);
    }
    Capture.Reset();
    StatOn = ChkErr->Checked();
    ErrStatSetSent(ErrStat, AutoFrame, AutoFrameLen);
    TotalSent = TotalRecv = TotalByteErr = TotalBitErr = 0;
    Host.SendCounter() = 0;
    AutoRunning = true;
    Capture.SetActive(StatOn);
    if (Host.PreambleOn() && ChkErr->Checked() && receNum != int64_t(AutoFrameLen))
        dialogs::Message(this, tr(PreambleWarning));
    lblRev->clear();
    lblSendByte->clear();
    TimerAuto->start(int(FirstTickMs));
}

void TAutoSendPage::btnStopClick() {
    AutoRunning = false;
    Capture.SetActive(false);
}

void TAutoSendPage::TimerAutoTimer() {
    TimerAuto->stop();
    if (StatOn && TotalSent != 0) {
        uint8_t taken[ErrStatBufSize];
        const uint32_t count = Capture.Take(taken);
        TotalRecv += count;
        ErrStatSetRecv(ErrStat, taken, count);
        ErrStatCompare(ErrStat);
        TotalByteErr += ErrStat.ByteErrors;
        TotalBitErr += ErrStat.BitErrors;
        ByteRateFigure = RateText(ByteErrorRate(TotalByteErr, TotalSent));
        BitRateFigure = RateText(BitErrorRate(TotalBitErr, TotalSent));
        lblRev->setText(StatText(RevPattern, std::to_string(TotalRecv)));
        ShowStatistics();
    }
    if (!AutoRunning) {
        StatOn = false;
        Capture.SetActive(false);
        SetControlsEnabled(true);
        return;
    }
    Host.Worker().Send(AutoFrame, AutoFrameLen);
    const uint32_t interval = NextInterval();
    TotalSent += AutoFrameLen;
    lblSendByte->setText(StatText(SendBytePattern, std::to_string(TotalSent)));
    ShownCount = ++Host.SendCounter();
    ShowCountCaption();
    TimerAuto->start(int(interval));
}

uint32_t TAutoSendPage::NextInterval() {
    return NextIntervalOf(edtTime, LastInterval,
                          [this](int64_t v) { return AutoSendInterval(v, Host.ControlRtsOn()); });
}
