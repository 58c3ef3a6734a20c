#include "Unitmain.h"

#include "CommandLine.h"
#include "Dialogs.h"
#include "Handover.h"

#include "Abled.h"
#include "AppFonts.h"
#include "AutoSendPage.h"
#include "FindBar.h"
#include "ReceivePane.h"
#include "HistoryJob.h"
#include "ScriptWindow.h"
#include "MemoryReturn.h"
#include "PlotWindow.h"
#include "ProtocolPage.h"
#include "SendEdit.h"
#include "SendPage.h"
#include "SettingsPage.h"
#include "NetTarget.h"
#include "ObjectNames.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QFrame>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <QWindow>

#include <algorithm>

const QColor TFrmMain::LineOn(0, 255, 0);
const QColor TFrmMain::LineOff(0, 128, 0);
const QColor TFrmMain::PortShut(255, 0, 0);

namespace {

void SetBackground(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void SetTextColor(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    w->setPalette(p);
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect geometry) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(geometry);
    return l;
}

QToolButton* MakeTool(QWidget* parent, const char* icon, int col, int row) {
    auto* b = new QToolButton(parent);
    b->setIcon(QIcon(QString(":/tool/%1.png").arg(icon)));
    b->setIconSize(QSize(32, 32));
    b->setAutoRaise(true); // flat
    b->setFocusPolicy(Qt::NoFocus);
    b->setGeometry(col * 39, row * 38, 39, 38);
    return b;
}

TAbLED* MakeToggle(QWidget* parent, QObject* owner, int x, int y) {
    auto* led = new TAbLED(parent, owner);
    led->SetLED_Position(lpLeft);
    led->SetSpacing(5);
    led->SeTMode(mIndicator);
    led->SetFlashing(false);
    led->setCursor(Qt::PointingHandCursor);
    led->move(x, y);
    led->resize(112, 16);
    return led;
}

// A label whose lines stand 12 pixels apart, so that the nine lines of the
// port-settings text fit their 111 pixels whatever the font's own spacing.
class TLinesLabel : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.setFont(font());
        const QFontMetrics metrics(font());
        const QStringList lines = text().split('\n');
        // More lines than fit at the usual step come closer together.
        const int step = lines.size() < 2 ? LineStep
                         : std::min<int>(LineStep, (height() - metrics.height()) / (lines.size() - 1));
        int y = 0;
        for (const QString& line : lines) {
            painter.drawText(0, y + metrics.ascent() - 2, line);
            y += step;
        }
    }

private:
    static constexpr int LineStep = 12;
};

} // namespace

// The pictures are compiled into the app library; a static library's
// resources must be registered by hand.
static void InitResources() {
    Q_INIT_RESOURCE(kestrel);
}

TFrmMain::TFrmMain(QWidget* parent) : QWidget(parent, Qt::FramelessWindowHint) {
    PinLargeAllocations();
    InitResources();
    BuildLayout();
    HexBuffer.Count = 0;
    Comm = std::make_unique<TWThreadComm>(true);
    Paused = false;
    Calls = new TPostedCalls(this);
    // Every pass runs from a timer, not from the queue's posted wake-up: the posted calls and
    // paints that wait run in one go, and a pass among them made a turn of the loop two slices
    // and a paint long. A timer fires once a turn, so a turn holds at most one slice.
    FlushLater = new QTimer(this);
    FlushLater->setSingleShot(true);
    FlushLater->setInterval(0);
    connect(FlushLater, &QTimer::timeout, this, &TFrmMain::FlushReceived);
    connect(&ReceQueue, &TReceiveQueue::Ready, this, [this] {
        if (!FlushLater->isActive())
            FlushLater->start();
    });
    FollowLater = new QTimer(this);
    FollowLater->setSingleShot(true);
    connect(FollowLater, &QTimer::timeout, this, &TFrmMain::FollowNow);
    Plot = std::make_unique<TPlotWindow>(
        TPlotHost{[this] { return PreambleOn(); },
                  [this] { return "COM" + QString::number(Comm->GetPortSettings().PortNumber); }},
        this);
    // Key preview: the window sees each key before the control with the focus.
    qApp->installEventFilter(this);
    FormCreate();
}

TFrmMain::~TFrmMain() {
    qApp->removeEventFilter(this);
    // A file being handed to the worker stops first: its thread calls the worker.
    TabSend->StopFileSend();
    delete HistoryJob; // cancels a save or open and waits for its thread
    // The worker stops before the window's parts go (its events still use
    // them while it runs), then closes its port.
    Comm->Terminate();
    Comm->WaitFor();
    Scripts.reset(); // its script and replies call the worker
    Comm.reset();
}

void TFrmMain::ShowScriptWindow() {
    Scripts->show();
    Scripts->raise();
    Scripts->activateWindow();
}

void TFrmMain::BuildLayout() {
    setWindowTitle("Kestrel " + VersionText());
    setWindowIcon(QIcon(":/kestrel.png"));
    // Half-width Latin and full-width Chinese, as the layout's pixel positions assume.
    setFont(PaneFont());
    SetBackground(this, QColor(0, 128, 192));
    resize(ClientWidth - 3, ClientHeight);

    ImgMove = new QLabel(this);
    StripPicture = QPixmap(":/title.png");
    ImgMove->setPixmap(StripPicture);
    ImgMove->setGeometry(0, 0, ClientWidth, StripHeight);
    Label1 = MakeLabel(this, QString(), QRect(194, 14, 120, 14));
    SetTextColor(Label1, LineOn);
    // The strip and its label belong to the window's own surface: a press on
    // them drags the window.
    ImgMove->setAttribute(Qt::WA_TransparentForMouseEvents);
    Label1->setAttribute(Qt::WA_TransparentForMouseEvents);

    BuildCentre();
    BuildStatusPanel();

    PanlHelp = new QFrame(this);
    PanlHelp->setGeometry(0, 39, 505, 401);
    SetBackground(PanlHelp, Qt::white);
    ImgPort = new QLabel(PanlHelp);
    ImgPort->setPixmap(QPixmap(":/chart_port.png"));
    ImgModem = new QLabel(PanlHelp);
    ImgModem->setPixmap(QPixmap(":/chart_modem.png"));
    for (QLabel* img : {ImgPort, ImgModem}) {
        img->setGeometry(0, 0, 505, 401);
        img->setAlignment(Qt::AlignCenter);
        img->setCursor(Qt::PointingHandCursor);
        img->installEventFilter(this);
    }
    PanlHelp->hide();
    BuildEdgeGrips();
    NameObjects({{ReceEdit, "ReceEdit"},     {lblHead, "lblHead"},
                 {lblEnd, "lblEnd"},         {lblComPort, "lblComPort"},
                 {lblComSta, "lblComSta"},   {lblCTS, "lblCTS"},
                 {lblDSR, "lblDSR"},         {lblRLSD, "lblRLSD"},
                 {lblRI, "lblRI"},           {Label1, "Label1"},
                 {lblControl, "lblControl"}, {lblReceNum, "lblReceNum"},
                 {ImgMove, "ImgMove"},       {Panel1, "Panel1"},
                 {Panel2, "Panel2"},         {PanlHelp, "PanlHelp"},
                 {ImgPort, "ImgPort"},       {ImgModem, "ImgModem"},
                 {chkRTS, "chkRTS"},         {chkDTR, "chkDTR"},
                 {ChkControlRTS, "ChkControlRTS"}, {chkHead, "chkHead"},
                 {EdtHead, "EdtHead"},       {EdtRevNum, "EdtRevNum"},
                 {ToolClear, "ToolClear"},   {ToolOpen, "ToolOpen"},
                 {ToolSave, "ToolSave"},     {ToolPause, "ToolPause"},
                 {ToolPort, "ToolPort"},     {ToolModem, "ToolModem"},
                 {ToolURL, "ToolURL"},       {ToolHelp, "ToolHelp"},
                 {ToolExit, "ToolExit"},     {PageSel, "PageSel"},
                 {TabSend, "TabSend"},       {TabSendAuto, "TabSendAuto"},
                 {TabComm, "TabComm"},       {TabProtocol, "TabProtocol"},
                 {lblLog, "lblLog"},         {PanelImage, "PanelImage"},
                 {PanelClient, "PanelClient"}});
    RetranslateUi();
}

void TFrmMain::RetranslateUi() {
    Label1->setText(tr("版本: %1 测试版").arg(VersionText()));
    const QString tabs[] = {tr("发送窗口"), tr("定时发送窗口"), tr("参数设置"), tr("无线通讯协议V0.8")};
    for (int i = 0; i < 4; ++i)
        PageSel->setTabText(i, tabs[i]);
    lblControl->setText(tr("状态控制"));
    chkRTS->SetCaption(tr("开/关RTS"));
    chkDTR->SetCaption(tr("开/关DTR"));
    ChkControlRTS->SetCaption(tr("发送时控制RTS"));
    chkHead->SetCaption(tr("启用前导码"));
    lblReceNum->setText(tr("接收字符数:"));
    const std::pair<QToolButton*, QString> hints[] = {
        {ToolClear, tr("清除接收窗口")}, {ToolOpen, tr("打开历史")},   {ToolSave, tr("保存接收")},
        {ToolPause, tr("暂停接收")},     {ToolPort, tr("串口资料")},   {ToolModem, tr("Modem资料")},
        {ToolURL, tr("奥文网页")},       {ToolHelp, tr("帮助")},       {ToolExit, tr("退出系统")}};
    for (const auto& [tool, hint] : hints)
        tool->setToolTip(hint);
    if (ReceEdit && lblEnd)
        ShowReceHeader(); // the text view's header is worded
    if (Comm) {
        // The port's texts in the new words; the reason on show is shown again, not dropped.
        const TOpenError shown = ShownError;
        ShownError = TOpenError{};
        ShowPortState(Comm->IsOpen(), Comm->GetPortSettings(), shown);
    }
}

void TFrmMain::changeEvent(QEvent* event) {
    // The pages and the pane see the change themselves: it reaches every child.
    if (event->type() == QEvent::LanguageChange)
        RetranslateUi();
    QWidget::changeEvent(event);
}

void TFrmMain::BuildCentre() {
    Panel2 = new QWidget(this);
    Panel2->setGeometry(0, StripHeight, ClientWidth - PanelWidth, ClientHeight - StripHeight);
    const int w = Panel2->width(), h = Panel2->height();

    auto headerLabel = [&](int y) {
        auto* l = new QLabel(Panel2);
        l->setGeometry(0, y, w, 12);
        l->setFont(PaneFont());
        SetBackground(l, Qt::black);
        SetTextColor(l, LineOff);
        return l;
    };
    lblHead = headerLabel(0);
    lblEnd = headerLabel(h - PageHeight - 12);

    ReceEdit = new TReceivePane(Panel2);
    ReceEdit->setGeometry(0, 12, w, h - PageHeight - 24);
    ReceEdit->setFont(PaneFont());
    ReceEdit->SetColors(Qt::white, Qt::black);
    ReceEdit->setFrameShape(QFrame::NoFrame);
    FindBar = new TFindBar(ReceEdit);
    ReceEdit->ExtendMenu = [this](QMenu* menu) {
        connect(menu->addAction(tr("查找(&F)")), &QAction::triggered, FindBar, &TFindBar::Open);
        menu->addSeparator();
        AddLogItems(menu);
        menu->addSeparator();
        QAction* plot = menu->addAction(tr("波形(&P)...") + "\tCtrl+Shift+P");
        connect(plot, &QAction::triggered, this, [this] { Plot->Open(); });
    };
    // On the title strip, where it hides neither data nor the picture (see ShowLogState).
    lblLog = new QLabel(this);
    lblLog->setAttribute(Qt::WA_TransparentForMouseEvents); // the strip still drags the window
    {
        QPalette p = lblLog->palette();
        p.setColor(QPalette::WindowText, QColor(255, 190, 60));
        lblLog->setPalette(p);
    }
    lblLog->hide();

    PageSel = new QTabWidget(Panel2);
    PageSel->setGeometry(0, h - PageHeight, w, PageHeight);
    PageSel->setTabPosition(QTabWidget::South);
    PageSel->setIconSize(QSize(16, 16));
    PageSel->setFocusPolicy(Qt::NoFocus);

    TabSend = new TSendPage(*this);
    TabSendAuto = new TAutoSendPage(*this, StatCapture);
    TabComm = new TSettingsPage(*this);
    TabProtocol = new TProtocolPage(*this);
    PageSel->addTab(TabSend, QIcon(":/tab/char.png"), QString());
    PageSel->addTab(TabSendAuto, QIcon(":/tab/timed.png"), QString());
    PageSel->addTab(TabComm, QIcon(":/tab/settings.png"), QString());
    PageSel->addTab(TabProtocol, QIcon(":/tab/protocol.png"), QString());
    connect(PageSel, &QTabWidget::currentChanged, this, [this](int index) {
        if (!PageFromCode)
            PageSelChange(index);
    });
    connect(TabSend, &TSendPage::SendModeChanged, this, &TFrmMain::ShowSendModeImage);
    connect(TabSend, &TSendPage::ModemModeChanged, this, &TFrmMain::HoldTogglesForModem);
    connect(TabComm, &TSettingsPage::PortSettingsChanged, this, &TFrmMain::RefreshPortState);
}

void TFrmMain::BuildStatusPanel() {
    Panel1 = new QFrame(this);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setGeometry(ClientWidth - PanelWidth, StripHeight, PanelWidth,
                        ClientHeight - StripHeight);
    const int inner = PanelWidth - 2;

    PanelImage = new QLabel(Panel1);
    PanelImage->setPixmap(QPixmap(":/panel.png"));
    PanelImage->setScaledContents(true);
    PanelImage->setGeometry(1, 1, inner, Panel1->height() - 2);

    QWidget* p = new QWidget(Panel1); // the panel's client area
    PanelClient = p;
    p->setGeometry(1, 1, inner, Panel1->height() - 2);

    lblComPort = MakeLabel(p, QString(), QRect(0, 0, inner, 11));
    lblComPort->setAlignment(Qt::AlignCenter);
    lblComPort->setFont(CaptionFont(10));
    SetTextColor(lblComPort, Qt::white);
    SetBackground(lblComPort, LineOff);

    lblComSta = new TLinesLabel(p);
    lblComSta->setGeometry(18, 20, 105, 111);

    struct {
        QLabel** Label;
        const char* Text;
        int Left;
    } lines[] = {
        {&lblRLSD, "RLSD", 14}, {&lblCTS, "CTS", 44}, {&lblDSR, "DSR", 68}, {&lblRI, "RI", 92}};
    for (auto& l : lines) {
        *l.Label = MakeLabel(p, l.Text, QRect(l.Left, 134, 10, 13));
        (*l.Label)->adjustSize();
        (*l.Label)->resize((*l.Label)->width() + 2, 13);
        (*l.Label)->setAlignment(Qt::AlignCenter);
        SetTextColor(*l.Label, Qt::black);
        SetBackground(*l.Label, LineOff);
    }

    lblControl = MakeLabel(p, QString(), QRect(0, 150, 121, 14));
    lblControl->setAlignment(Qt::AlignCenter);
    SetTextColor(lblControl, Qt::white);
    SetBackground(lblControl, LineOff);

    chkRTS = MakeToggle(p, this, 8, 170);
    chkDTR = MakeToggle(p, this, 8, 188);
    ChkControlRTS = MakeToggle(p, this, 8, 204);
    auto* bevel = new QFrame(p);
    bevel->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    bevel->setGeometry(2, 222, 118, 4);
    chkHead = MakeToggle(p, this, 8, 228);
    chkRTS->OnClick = [this](QObject*) { chkRTSClick(); };
    chkDTR->OnClick = [this](QObject*) { chkDTRClick(); };
    ChkControlRTS->OnClick = [this](QObject*) { ChkControlRTSClick(); };
    chkHead->OnClick = [this](QObject*) { chkHeadClick(); };

    EdtHead = new QLineEdit(p);
    EdtHead->setGeometry(6, 244, 111, 14);
    EdtHead->setFrame(false);
    EdtHead->setFont(PaneFont());
    {
        // Maroon on white while it can be edited; disabled, it looks like
        // the receive count beside it.
        QPalette pal = EdtHead->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive}) {
            pal.setColor(group, QPalette::Text, QColor(128, 0, 0));
            pal.setColor(group, QPalette::Base, Qt::white);
        }
        EdtHead->setPalette(pal);
    }
    EdtHead->setAttribute(Qt::WA_InputMethodEnabled, false);
    // 18 characters is a limit for typing only: the normal form of a longer
    // preamble typed without blanks is longer, and is shown, sent and saved
    // whole.
    InstallKeyFilter(EdtHead, [this](QString& text) {
        if (!EdtHeadKeyPress(text))
            return false;
        const bool grows = text != "\b" && text != "\r";
        return !grows || EdtHead->text().size() - EdtHead->selectedText().size() < HeadTypingLimit;
    });
    lblReceNum = MakeLabel(p, QString(), QRect(6, 262, 68, 14));
    EdtRevNum = new QLineEdit("5", p);
    EdtRevNum->setGeometry(74, 262, 43, 14);
    EdtRevNum->setFrame(false);

    auto* bar = new QWidget(p);
    bar->setGeometry((inner - 117) / 2, p->height() - 114, 117, 114);
    ToolClear = MakeTool(bar, "clear", 0, 0);
    ToolOpen = MakeTool(bar, "open", 1, 0);
    ToolSave = MakeTool(bar, "save", 2, 0);
    ToolPause = MakeTool(bar, "pause", 0, 1);
    ToolPause->setCheckable(true);
    ToolPort = MakeTool(bar, "port", 1, 1);
    ToolModem = MakeTool(bar, "modem", 2, 1);
    ToolURL = MakeTool(bar, "url", 0, 2);
    ToolHelp = MakeTool(bar, "help", 1, 2);
    ToolExit = MakeTool(bar, "exit", 2, 2);
    connect(ToolClear, &QToolButton::clicked, this, &TFrmMain::ToolClearClick);
    connect(ToolOpen, &QToolButton::clicked, this, &TFrmMain::ToolOpenClick);
    connect(ToolSave, &QToolButton::clicked, this, &TFrmMain::ToolSaveClick);
    connect(ToolPause, &QToolButton::clicked, this, &TFrmMain::ToolPauseClick);
    connect(ToolPort, &QToolButton::clicked, this, &TFrmMain::ToolPortClick);
    connect(ToolModem, &QToolButton::clicked, this, &TFrmMain::ToolModemClick);
    connect(ToolURL, &QToolButton::clicked, this, &TFrmMain::ToolURLClick);
    connect(ToolHelp, &QToolButton::clicked, this, &TFrmMain::ToolHelpClick);
    connect(ToolExit, &QToolButton::clicked, this, &TFrmMain::ToolExitClick);
}

void TFrmMain::FormCreate() {
    ReceEdit->Clear();
    TabSend->mnuClearClick();
    ShowReceHeader();
    connect(ReceEdit, &TReceivePane::ViewChanged, this, &TFrmMain::ShowReceHeader);
    connect(ReceEdit, &TReceivePane::CopyTruncated, this, [this](qint64 copied, qint64 selected) {
        dialogs::Message(this, tr("选中的内容超过 %1 MB: 只复制了 %2 行中的前 %3 行, 其后的内容未复制。")
                                   .arg(TReceivePane::CopyLimit >> 20)
                                   .arg(selected)
                                   .arg(copied));
    });
    resize(ClientWidth, ClientHeight);
    setMinimumSize(ClientWidth, ClientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    Scripts = std::make_unique<TScriptWindow>(*Comm);
    connect(TabSend, &TSendPage::ScriptWindowRequested, this, &TFrmMain::ShowScriptWindow);
    connect(Scripts.get(), &TScriptWindow::BaudRateSet, TabComm, &TSettingsPage::ShowBaudRate);
    connect(Scripts.get(), &TScriptWindow::ParitySet, TabComm, &TSettingsPage::ShowParity);
    Comm->OnReceive = [this](const uint8_t* b, uint32_t n) { OnCommData(b, n); };
    Comm->OnModemChange = [this](bool cts, bool dsr, bool ri, bool rlsd) {
        ModemStatusChanged(cts, dsr, ri, rlsd);
    };
    Comm->OnPortState = [this](bool open) { PortStateChanged(open); };
    Comm->OnPortNotice = [this](const std::string& text) {
        Calls->Post([this, t = QString::fromStdString(text)] { ShowPortNotice(t); });
    };
    Comm->OnRtsChange = [this](bool on) { RtsStateChanged(on); };
    Comm->OnSendProgress = [this](uint64_t left) { SendProgressChanged(left); };
    Comm->OnSendDropped = [this](uint64_t notSent) { SendDropped(notSent); };

    LoadSettings();
    Comm->Resume();
    ShowPortState(Comm->IsOpen(), Comm->GetPortSettings(), TOpenError{});
}

void TFrmMain::RefreshPortState() {
    ShowPortState(Comm->IsOpen(), Comm->GetPortSettings(), ShownError);
}

void TFrmMain::ShowSendModeImage(int mode) {
    PageSel->setTabIcon(PageSel->indexOf(TabSend), SendModeImage(mode));
}

// ---- worker events: copy, queue, return ----

void TFrmMain::ModemStatusChanged(bool cts, bool dsr, bool ri, bool rlsd) {
    Scripts->ModemChanged(cts, dsr, ri, rlsd);
    Calls->Post([this, cts, dsr, ri, rlsd] {
        SetBackground(lblCTS, cts ? LineOn : LineOff);
        SetBackground(lblDSR, dsr ? LineOn : LineOff);
        SetBackground(lblRLSD, rlsd ? LineOn : LineOff);
        SetBackground(lblRI, ri ? LineOn : LineOff);
    });
}

void TFrmMain::PortStateChanged(bool open) {
    const TWThreadComm::TPortSettings settings = Comm->GetPortSettings();
    TOpenError error = Comm->LastOpenError();
    Calls->Post([this, open, settings, error] { ShowPortState(open, settings, error); });
}

void TFrmMain::RtsStateChanged(bool on) {
    Calls->Post([this, on] { chkRTS->SetChecked(on); });
}

void TFrmMain::SendProgressChanged(uint64_t bytesLeft) {
    Calls->Post([this, bytesLeft] { TabSend->ShowSendProgress(bytesLeft); });
}

void TFrmMain::SendDropped(uint64_t bytesNotSent) {
    Calls->Post([this, bytesNotSent] { TabSend->ShowSendDropped(bytesNotSent); });
}

QString PortSettingsText(const TWThreadComm::TPortSettings& s) {
    static const char* const ParityNames[] = {"None", "Odd", "Even", "Mark", "Space"};
    const TLineSettings& line = s.Line;
    return TFrmMain::tr("通讯端口: COM%1\n\n通讯速率: %2\n\n数据校验: %3\n\n数 据 位: %4\n\n停 止 位: %5")
        .arg(QString::number(s.PortNumber), QString::number(line.BaudRate),
             line.Parity < 5 ? QString(ParityNames[line.Parity]) : QString(),
             QString::number(line.ByteSize),
             line.StopBits == 0   ? QStringLiteral("1")
             : line.StopBits == 1 ? QStringLiteral("1.5")
                                  : QStringLiteral("2")) +
           // Flow control shows only when it is on: a port that seems dead may be held by it.
           (line.Flow == 0 ? QString()
                           : "\n\n" + TFrmMain::tr("流控: %1")
                                          .arg(line.Flow == 1 ? QStringLiteral("RTS/CTS")
                                                              : QStringLiteral("XON/XOFF")));
}

void TFrmMain::ShowPortState(bool open, const TWThreadComm::TPortSettings& settings,
                             const TOpenError& error) {
    lblComSta->setText(PortSettingsText(settings));
    setWindowTitle(WindowTitle(error.PortNumber ? error : Comm->LastOpenError()));
    SetBackground(lblComPort, open ? LineOff : PortShut);
    if (!open) {
        for (QLabel* l : {lblCTS, lblDSR, lblRLSD, lblRI})
            SetBackground(l, LineOff);
    }
    // The reason is shown once per change, not once per retry.
    const bool failed = !open && error.Code != 0;
    if (failed && error.Code == ShownError.Code && error.SysError == ShownError.SysError &&
        error.Target == ShownError.Target)
        return;
    ShownError = failed ? error : TOpenError{};
    if (failed) {
        TPortErrorText t = PortErrorText(error);
        // Cut at the end only, so that the port and the start of the reason
        // stay readable; the tip has it whole.
        const QFontMetrics metrics(lblComPort->font());
        lblComPort->setText(metrics.elidedText(t.Short, Qt::ElideRight, lblComPort->width() - 2));
        lblComPort->setToolTip(t.Long);
    } else if (open || Comm->Released()) {
        // Which device the port leads to, or that the user let go of it. Open,
        // the strip keeps its caption and the tips name the device.
        const TOpenError where = error.Target.empty() ? Comm->LastOpenError() : error;
        const QString port = QString("COM%1").arg(where.PortNumber);
        const QString device = where.Target == LoopbackTarget
                                   ? tr("环回插头")
                                   : QString::fromStdString(where.Target);
        lblComPort->setText(open ? tr("端口状态") : tr("%1: 已断开").arg(port));
        lblComPort->setToolTip(open ? port + " → " + device
                                    : tr("%1 已断开, 其他程序可以使用该设备 (参数设置 → 连接)")
                                          .arg(port));
        lblComSta->setToolTip(open ? port + " → " + device : QString());
    } else {
        lblComPort->setText(tr("端口状态"));
        lblComPort->setToolTip(tr("端口未打开"));
    }
}

// A notice of the open port (a network server refused an option) stays in
// the strip's tip until the port next changes state.
void TFrmMain::ShowPortNotice(const QString& text) {
    if (!Comm->IsOpen())
        return;
    lblComPort->setText(tr("端口状态 (!)"));
    QString tip = lblComPort->toolTip();
    // The worker's notices are its own English texts.
    lblComPort->setToolTip((tip.isEmpty() ? QString() : tip + "\n") + tr("服务器: %1").arg(text));
}

// The program once, with its version, and the port with the device it leads to, so that two
// windows on two ports tell themselves apart: "Kestrel 0.6 — COM1 (/dev/ttyUSB0)".
QString WindowTitle(const TOpenError& where) {
    QString title = "Kestrel " + VersionText();
    if (where.PortNumber == 0)
        return title;
    title += QString(" — COM%1").arg(where.PortNumber);
    if (where.Target == LoopbackTarget)
        return title + " (" + TFrmMain::tr("环回插头") + ")";
    TNetTarget net;
    if (IsNetTarget(where.Target) && ParseNetTarget(where.Target, net))
        return title + " (" + QString::fromStdString(NetTargetEndpoint(net)) + ")";
    return where.Target.empty() ? title : title + " (" + QString::fromStdString(where.Target) + ")";
}

TPortErrorText PortErrorText(const TOpenError& error) {
    QString port = QString("COM%1").arg(error.PortNumber);
    TNetTarget net;
    const bool remote = IsNetTarget(error.Target);
    const bool wellFormed = remote && ParseNetTarget(error.Target, net);
    QString target = error.Target == LoopbackTarget ? TFrmMain::tr("环回插头")
                     : wellFormed
                         ? TFrmMain::tr("%1 (网络端口 %2)")
                               .arg(QString::fromStdString(NetTargetEndpoint(net)),
                                    net.Kind == TNetTarget::TKind::Rfc2217 ? "RFC 2217" : "TCP")
                         : QString::fromStdString(error.Target);
    QString reason = error.SysError ? QString::fromStdString(SysErrorText(error.SysError))
                                    : QString("error %1").arg(error.Code);
    TPortErrorText t;
    if (error.Target.empty()) {
        t.Short = TFrmMain::tr("%1: 未映射设备").arg(port);
        t.Long = TFrmMain::tr("%1 没有映射到任何设备 (参数设置 → 端口映射...)").arg(port);
        return t;
    }
    t.Short = port + ": " + reason;
    t.Long = port + " → " + target + "\n" + reason;
    if (remote) {
        const char* what = nullptr;
        const char* help = QT_TRANSLATE_NOOP("TFrmMain", "端口自动重连.");
        switch (error.SysError) {
        case 0:
            break;
        case ECONNREFUSED:
            what = QT_TRANSLATE_NOOP("TFrmMain", "连接被拒绝");
            help = QT_TRANSLATE_NOOP("TFrmMain",
                                     "服务器没有在该端口监听 (ser2net 未运行?).\n端口自动重连.");
            break;
        case EHOSTUNREACH:
        case ENETUNREACH:
            what = QT_TRANSLATE_NOOP("TFrmMain", "主机不可达");
            break;
        case ETIMEDOUT:
            what = QT_TRANSLATE_NOOP("TFrmMain", "连接超时");
            break;
        case EINPROGRESS:
            what = QT_TRANSLATE_NOOP("TFrmMain", "正在连接");
            help = "";
            break;
        case ECONNRESET:
        case EPIPE:
            what = QT_TRANSLATE_NOOP("TFrmMain", "连接断开");
            break;
        case EADDRNOTAVAIL:
            what = QT_TRANSLATE_NOOP("TFrmMain", "主机名无法解析");
            help = QT_TRANSLATE_NOOP("TFrmMain", "检查主机名.");
            break;
        case ENODEV:
            what = QT_TRANSLATE_NOOP("TFrmMain", "地址格式错误");
            help = QT_TRANSLATE_NOOP("TFrmMain", "应为 rfc2217://主机:端口 或 tcp://主机:端口.");
            break;
        default:
            what = QT_TRANSLATE_NOOP("TFrmMain", "网络错误");
            break;
        }
        if (what) {
            const QString said = TFrmMain::tr(what);
            t.Short = port + ": " + said;
            // The system's own words on a line of their own, not as a translation in brackets.
            t.Long = port + " → " + target + "\n" + said + "\n" + TFrmMain::tr("系统: %1").arg(reason);
            if (*help)
                t.Long += "\n" + TFrmMain::tr(help);
        }
        return t;
    }
    if (error.SysError == ENOENT || error.SysError == ENODEV || error.SysError == ENXIO) {
        t.Short = TFrmMain::tr("%1: 设备不存在").arg(port);
        t.Long += "\n" + TFrmMain::tr("设备没有接上, 或已拔出. 接好后端口自动打开;\n"
                                      "或在 参数设置 → 端口映射... 中选择别的设备.");
    } else if (error.SysError == EACCES || error.SysError == EPERM) {
        t.Short = TFrmMain::tr("%1: 无权限 (dialout 组)").arg(port);
        t.Long += "\n" + TFrmMain::tr("当前用户不在 dialout 组: sudo adduser $USER dialout, "
                                      "然后重新登录.");
    } else if (error.SysError == EBUSY) {
        t.Short = TFrmMain::tr("%1: 设备被占用").arg(port);
        t.Long += "\n" + TFrmMain::tr("另一个程序正在使用该端口.");
    }
    return t;
}

// ---- tool bar ----

void TFrmMain::ToolPortClick() {
    PanlHelp->show();
    PanlHelp->raise();
    ImgPort->show();
    ImgModem->hide();
}

void TFrmMain::ToolModemClick() {
    PanlHelp->show();
    PanlHelp->raise();
    ImgPort->hide();
    ImgModem->show();
}

void TFrmMain::ImgPortClick() {
    PanlHelp->hide();
}
void TFrmMain::ImgModemClick() {
    PanlHelp->hide();
}

QString TFrmMain::DocumentationFile() {
    const QString beside =
        QCoreApplication::applicationDirPath() + "/../share/doc/kestrel/README.md";
    for (const QString& path : {beside, QStringLiteral(KESTREL_SOURCE_DIR "/README.md")})
        if (QFileInfo(path).isFile())
            return QFileInfo(path).canonicalFilePath();
    return QString();
}

QString TFrmMain::HelpText() const {
    const QString doc = DocumentationFile();
    QString text = tr("主页地址: %1 \n电子邮箱：%2")
                       .arg(doc.isEmpty() ? QStringLiteral("(README.md)") : doc, EMail);
    // The README's chapters, so that the box says what is to be found there.
    QFile file(doc);
    if (!doc.isEmpty() && file.open(QIODevice::ReadOnly)) {
        text += "\n\n" + tr("说明书 README.md 的章节:");
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line.startsWith("## "))
                text += "\n  · " + line.mid(3);
        }
    }
    text += "\n\n" + tr("串口资料, Modem资料: 状态面板上的按钮.");
    return text;
}

void TFrmMain::ToolURLClick() {
    // The maker's page is the documentation that comes with the program.
    const QString doc = DocumentationFile();
    if (!doc.isEmpty())
        QDesktopServices::openUrl(QUrl::fromLocalFile(doc));
}

void TFrmMain::ToolHelpClick() {
    dialogs::Message(this, HelpText());
}

void TFrmMain::ToolExitClick() {
    // The worker stops only once the close is certain: a close refused (the
    // settings could not be saved) leaves the window receiving as before.
    Exiting = true;
    close();
    Exiting = false;
}

void TFrmMain::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    if (Exiting && !Stopped) {
        Comm->Terminate();
        Comm->WaitFor();
        Stopped = true;
    }
    Scripts->close();
    event->accept();
}

bool TFrmMain::eventFilter(QObject* watched, QEvent* event) {
    TakeOver(); // this filter sees events from other threads before any other
    if (event->type() == QEvent::KeyPress)
        return PreviewKey(watched, event);
    if (event->type() == QEvent::MouseButtonRelease) {
        if (watched == ImgPort)
            ImgPortClick();
        else if (watched == ImgModem)
            ImgModemClick();
    }
    return QWidget::eventFilter(watched, event);
}

// ---- dragging by the title strip ----

void TFrmMain::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    // The move starts once the mouse moves: a window manager that is handed the move takes the
    // mouse until the button is released, and the second click of a double click would not
    // come here.
    Dragging = true;
    DragMoving = false;
    DragPress = event->globalPosition().toPoint();
    DragOffset = DragPress - frameGeometry().topLeft();
}

void TFrmMain::mouseMoveEvent(QMouseEvent* event) {
    if (!Dragging || !(event->buttons() & Qt::LeftButton))
        return;
    const QPoint at = event->globalPosition().toPoint();
    if (!DragMoving) {
        if ((at - DragPress).manhattanLength() < QApplication::startDragDistance())
            return;
        DragMoving = true;
        // A window manager moves the window itself; without one, we follow the mouse.
        if (!isMaximized() && windowHandle() && windowHandle()->startSystemMove()) {
            Dragging = false;
            return;
        }
    }
    if (!isMaximized())
        move(at - DragOffset);
}

void TFrmMain::mouseReleaseEvent(QMouseEvent*) {
    Dragging = false;
    DragMoving = false;
}
