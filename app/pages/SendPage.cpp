// The send pane: the send modes, the popup menu and send-command files.

#include "SendPage.h"

#include "AppFonts.h"
#include "Checksums.h"
#include "CodePage.h"
#include "Dialogs.h"
#include "FileFeeder.h"
#include "ObjectNames.h"
#include "PageHost.h"
#include "StoredSettings.h"
#include "Rtf.h"
#include "SendEdit.h"
#include "Threadcomm.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

const char* const CommandFilter = "Kestrel files(*.cmd)";
const char* const ModemHint = QT_TRANSLATE_NOOP("TSendPage", "你需要将RTS与DTR设置为ON.");
constexpr int DropNoteMs = 8000;

RtfStyle CommandStyle(const QWidget* pane) {
    RtfStyle style;
    style.FontName = pane->font().family();
    style.TextColor = pane->palette().color(QPalette::Text);
    style.BackColor = pane->palette().color(QPalette::Base);
    style.FontSize = 9; // 12 pixels at 96 dots per inch
    return style;
}

// The feeder's reason: its own text of a closed port translated, the system's as it is.
QString FileErrorText(const std::string& error) {
    return QCoreApplication::translate("Filesend", error.c_str());
}

// The page control's image of a send mode.
int ModeImage(int mode) {
    return mode + 2;
}

bool IsHexDigit(QChar c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

const char* LineEndingBytes(int ending) {
    static const char* const Bytes[] = {"", "\r", "\n", "\r\n"};
    return ending >= 0 && ending < 4 ? Bytes[ending] : "";
}

const char* LineEndingName(int ending) {
    static const char* const Names[] = {"", "CR", "LF", "CR LF"};
    return ending >= 0 && ending < 4 ? Names[ending] : "";
}

QIcon PageImage(int index) {
    static const char* const Files[] = {":/tab/timed.png",   ":/tab/settings.png", ":/tab/char.png",
                                        ":/tab/line.png",    ":/tab/modem.png",    ":/tab/hex.png",
                                        ":/tab/protocol.png"};
    if (index < 0 || index >= int(std::size(Files)))
        return QIcon();
    return QIcon(Files[index]);
}

QIcon SendModeImage(int mode) {
    return PageImage(ModeImage(mode));
}

bool EdtHeadKeyPress(QString& text) {
    if (text.size() != 1)
        return false;
    QChar c = text.at(0);
    if (c >= 'a' && c <= 'f')
        c = c.toUpper();
    if (!IsHexDigit(c) && c != '\b' && c != '\r' && c != ' ')
        return false;
    text = c;
    return true;
}

TSendPage::TSendPage(TPageHost& host, QWidget* parent) : QWidget(parent), Host(host) {
    SendEdit = new TSendEdit(this);
    SendEdit->setFont(PaneFont());
    SendEdit->setLineWrapMode(QPlainTextEdit::NoWrap);
    SendEdit->setTabChangesFocus(false);
    SendEdit->setFrameShape(QFrame::NoFrame);
    {
        QPalette p = SendEdit->palette();
        p.setColor(QPalette::Base, Qt::black);
        p.setColor(QPalette::Text, Qt::yellow);
        SendEdit->setPalette(p);
    }
    auto* fill = new QVBoxLayout(this);
    fill->setContentsMargins(0, 0, 0, 0);
    fill->setSpacing(0);
    fill->addWidget(SendEdit);

    SendBar = new QWidget(this);
    auto* bar = new QHBoxLayout(SendBar);
    bar->setContentsMargins(4, 0, 0, 0);
    lblSendLeft = new QLabel(SendBar);
    BtnStopSend = new QToolButton(SendBar);
    BtnStopSend->setFocusPolicy(Qt::NoFocus);
    bar->addWidget(lblSendLeft, 1);
    bar->addWidget(BtnStopSend);
    fill->addWidget(SendBar);
    SendBar->hide();
    connect(BtnStopSend, &QToolButton::clicked, this, &TSendPage::BtnStopSendClick);
    DropNoteTimer = new QTimer(this);
    DropNoteTimer->setSingleShot(true);
    connect(DropNoteTimer, &QTimer::timeout, this, [this] {
        if (!LongSend)
            SendBar->hide();
    });

    PopStrMenu = new QMenu(this);
    auto item = [this](int image, auto handler) {
        QAction* a = PopStrMenu->addAction(PageImage(image), QString());
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    mnuChar = item(ModeImage(CharMode), [this] { SetSendMode(CharMode); });
    mnuLine = item(ModeImage(LineMode), [this] { SetSendMode(LineMode); });
    mnuModem = item(ModeImage(ModemMode), [this] { SetSendMode(ModemMode); });
    mnuHex = item(ModeImage(HexMode), [this] { SetSendMode(HexMode); });
    int mode = 0;
    for (QAction* a : {mnuChar, mnuLine, mnuModem, mnuHex}) {
        a->setCheckable(true);
        // Only SetSendMode checks an item: choosing the active mode again
        // must not take its mark away.
        connect(a, &QAction::triggered, this, [this, a, mode] { a->setChecked(SendMode == mode); });
        ++mode;
    }
    mnuChar->setChecked(true);
    // Line mode sends the line as typed unless the user asks for an ending.
    mnuEnding = PopStrMenu->addMenu(QString());
    mnuEnding->setToolTipsVisible(true);
    {
        const QString captions[] = {QString(), "CR (\\r, 0D)", "LF (\\n, 0A)",
                                    "CR LF (\\r\\n, 0D 0A)"};
        for (int e = 0; e < 4; ++e) {
            mnuEndings[e] = mnuEnding->addAction(captions[e]);
            mnuEndings[e]->setCheckable(true);
            connect(mnuEndings[e], &QAction::triggered, this, [this, e] { SetLineEnding(e); });
        }
        mnuEndings[0]->setChecked(true);
    }
    BtnSendMode = new QToolButton(SendEdit->viewport());
    BtnSendMode->setObjectName("BtnSendMode");
    BtnSendMode->setAutoRaise(true);
    BtnSendMode->setCursor(Qt::ArrowCursor);
    BtnSendMode->setFocusPolicy(Qt::NoFocus);
    BtnSendMode->setPopupMode(QToolButton::InstantPopup);
    BtnSendMode->setToolButtonStyle(Qt::ToolButtonTextOnly);
    {
        QPalette p = BtnSendMode->palette();
        p.setColor(QPalette::ButtonText, QColor(0x60, 0x60, 0x60));
        BtnSendMode->setPalette(p);
        // The same actions as the popup menu's: their marks and handlers are shared.
        auto* modes = new QMenu(BtnSendMode);
        modes->addActions({mnuChar, mnuLine, mnuModem, mnuHex});
        modes->addMenu(mnuEnding);
        BtnSendMode->setMenu(modes);
    }
    SendEdit->viewport()->installEventFilter(this);
    PopStrMenu->addSeparator();
    mnuClear = item(-1, [this] { mnuClearClick(); });
    mnuLoad = item(-1, [this] { mnuLoadClick(); });
    mnuSave = item(-1, [this] { mnuSaveClick(); });
    mnuSendFile = item(-1, [this] { mnuSendFileClick(); });
    mnuScript = item(-1, [this] { emit ScriptWindowRequested(); });
    FileTimer = new QTimer(this);
    FileTimer->setInterval(100);
    connect(FileTimer, &QTimer::timeout, this, [this] { ShowFileProgress(); });
    N1 = PopStrMenu->addSeparator();
    mnuNum = item(-1, [] {});
    mnuAdd = item(-1, [this] { mnuAddClick(); });
    mnuXor = item(-1, [this] { mnuXorClick(); });
    mnuCRC = item(-1, [this] { mnuCRCClick(); });
    mnuMsg = item(-1, [] {});
    for (QAction* a : {mnuLoad, mnuSave, N1, mnuNum, mnuAdd, mnuXor, mnuCRC, mnuMsg})
        a->setVisible(false);

    SendEdit->PopupMenu = PopStrMenu;
    SendEdit->OnKeyPress = [this](QString& text) { return SendEditKeyPress(text); };
    SendEdit->OnMouseDown = [this] { SendEditMouseDown(); };
    SendEdit->OnMenuKey = [this] { UpdateCheckItems(); };
    NameObjects({{SendEdit, "SendEdit"},
                 {SendBar, "SendBar"},
                 {lblSendLeft, "lblSendLeft"},
                 {BtnStopSend, "BtnStopSend"},
                 {PopStrMenu, "PopStrMenu"},
                 {mnuChar, "mnuChar"},
                 {mnuLine, "mnuLine"},
                 {mnuModem, "mnuModem"},
                 {mnuHex, "mnuHex"},
                 {mnuEnding, "mnuEnding"},
                 {mnuEndings[0], "mnuEndings0"},
                 {mnuEndings[1], "mnuEndings1"},
                 {mnuEndings[2], "mnuEndings2"},
                 {mnuEndings[3], "mnuEndings3"},
                 {BtnSendMode, "BtnSendMode"},
                 {mnuClear, "mnuClear"},
                 {mnuLoad, "mnuLoad"},
                 {mnuSave, "mnuSave"},
                 {mnuSendFile, "mnuSendFile"},
                 {N1, "N1"},
                 {mnuNum, "mnuNum"},
                 {mnuAdd, "mnuAdd"},
                 {mnuXor, "mnuXor"},
                 {mnuCRC, "mnuCRC"},
                 {mnuMsg, "mnuMsg"},
                 {DropNoteTimer, "DropNoteTimer"},
                 {FileTimer, "FileTimer"}});
    RetranslateUi();
}

void TSendPage::RetranslateUi() {
    BtnStopSend->setText(tr("停止发送"));
    BtnStopSend->setToolTip(tr("停止发送, 丢弃尚未发出的数据 (Esc)"));
    const std::pair<QAction*, QString> items[] = {
        {mnuChar, tr("发送字符(&C)")},
        {mnuLine, tr("发送字符串(&S)")},
        {mnuModem, tr("发送字符串(&Modem)")},
        {mnuHex, tr("发送十六进制序列(&H)")},
        {mnuEndings[0], tr("无 (只发送这一行)")},
        {mnuClear, tr("清除发送窗口(&E)")},
        {mnuLoad, tr("打开发送命令(&L)...")},
        {mnuSave, tr("保存发送命令(&B)...")},
        {mnuSendFile, tr("发送文件(&F)...")},
        {mnuScript, tr("脚本与自动应答(&R)...")},
        // The read-outs are set each time the menu opens; this one says why there are none.
        {mnuMsg, QCoreApplication::translate("Checksum", MultiLineCaption)},
    };
    for (const auto& [action, text] : items)
        action->setText(text);
    mnuEnding->setTitle(tr("发送字符串的行尾(&N)"));
    mnuSendFile->setToolTip(tr("把一个文件的字节原样发出"));
    SetLineEnding(Ending);
}

void TSendPage::changeEvent(QEvent* event) {
    if (event->type() == QEvent::LanguageChange)
        RetranslateUi();
    QWidget::changeEvent(event);
}

TSendPage::~TSendPage() {
    StopFileSend();
}

// ---- a file ----

void TSendPage::mnuSendFileClick() {
    if (FileFeed) {
        RefuseInput(tr("正在发送文件"));
        return;
    }
    // A file is one stream of bytes, not a half-duplex line of the transceiver.
    if (Host.ControlRtsOn()) {
        RefuseInput(tr("发送时控制RTS开启, 不能发送文件"));
        return;
    }
    if (!Host.Worker().IsOpen()) {
        RefuseInput(NotSentText());
        return;
    }
    const QString name = dialogs::OpenFileName(this, tr("发送文件..."), tr("所有文件(*)"));
    if (name.isEmpty())
        return;
    TWThreadComm& worker = Host.Worker();
    FileFeed = std::make_unique<TFileFeeder>(
        QFile::encodeName(name).toStdString(), [&worker](const uint8_t* b, uint32_t n) {
            if (worker.SendRaw(b, n))
                return TFileFeeder::TTaken::Yes;
            return worker.IsOpen() ? TFileFeeder::TTaken::Full : TFileFeeder::TTaken::Refused;
        });
    FileName = QFileInfo(name).fileName();
    if (!FileFeed->Start()) {
        const QString why = FileErrorText(FileFeed->State().Error);
        FileFeed.reset();
        ShowNote(tr("不能发送文件 %1: %2").arg(FileName, why));
        return;
    }
    LongSend = true;
    DropNoteTimer->stop();
    BtnStopSend->show();
    SendBar->show();
    ShowFileProgress();
    FileTimer->start();
}

void TSendPage::StopFileSend() {
    if (!FileFeed)
        return;
    FileFeed->Cancel();
    const TFileFeeder::TState st = FileFeed->State();
    FileFeed.reset();
    FileTimer->stop();
    FileNotHanded = st.Size - st.Handed;
}

void TSendPage::ShowFileProgress() {
    if (!FileFeed)
        return;
    const TFileFeeder::TState st = FileFeed->State();
    const uint64_t queued = Host.Worker().BytesToGo();
    if (st.Running || (!st.Failed && queued > 0)) {
        const uint64_t left = st.Size - st.Handed + queued;
        const int percent = st.Size ? int((st.Size - left) * 100 / st.Size) : 100;
        lblSendLeft->setText(tr("正在发送文件 %1: %2 %, 还有 %3 字节")
                                 .arg(FileName, QString::number(percent), QString::number(left)));
        return;
    }
    FileFeed.reset();
    FileTimer->stop();
    LongSend = false;
    if (st.Failed)
        ShowNote(tr("文件 %1 未发完: %2; %3 字节未发出")
                     .arg(FileName, FileErrorText(st.Error),
                          QString::number(st.Size - st.Handed + queued)));
    else
        ShowNote(tr("文件 %1 已发送: %2 字节").arg(FileName, QString::number(st.Handed)));
}

void TSendPage::ShowNote(const QString& text) {
    lblSendLeft->setText(text);
    BtnStopSend->hide();
    SendBar->show();
    DropNoteTimer->start(DropNoteMs);
}

// ---- line ending ----

void TSendPage::SetLineEnding(int ending) {
    Ending = ending >= 0 && ending < 4 ? ending : 0;
    for (int e = 0; e < 4; ++e)
        mnuEndings[e]->setChecked(e == Ending);
    ShowSendModeButton();
}

// The mode in a word, and in Line mode the ending Enter adds.
void TSendPage::ShowSendModeButton() {
    const QString modes[] = {tr("字符"), tr("字符串"), tr("Modem"), tr("Hex")};
    const int mode = SendMode >= 0 && SendMode < 4 ? SendMode : 0;
    QString text = modes[mode];
    if (mode == 1 && Ending != 0)
        text += " + " + QString(LineEndingName(Ending));
    BtnSendMode->setText(text);
    BtnSendMode->setToolTip(tr("发送模式与行尾"));
    BtnSendMode->adjustSize();
    const QWidget* view = SendEdit->viewport();
    BtnSendMode->move(view->width() - BtnSendMode->width() - 2, 1);
}

bool TSendPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == SendEdit->viewport() && event->type() == QEvent::Resize)
        ShowSendModeButton();
    return QWidget::eventFilter(watched, event);
}

// ---- typing ----

bool TSendPage::SendEditKeyPress(QString& text) {
    // While a long send is under way, Esc stops it instead of being typed.
    if (LongSend && text == "\x1b") {
        BtnStopSendClick();
        return false;
    }
    switch (SendMode) {
    case CharMode: {
        bool ok = false;
        const QByteArray bytes = ToCodePage(text, &ok);
        if (!ok) {
            RefuseInput(tr("此字符不在GBK代码页中, 未发送"));
            return false;
        }
        if (!Host.Worker().IsOpen()) {
            RefuseInput(NotSentText());
            return false;
        }
        for (char b : bytes)
            if (!SendChar(static_cast<uint8_t>(b)))
                break;
        return false;
    }
    case LineMode:
    case ModemMode:
        if (text == "\r")
            return SendTextLine(SendMode == ModemMode);
        // Such a character could not go out as it stands.
        if (!IsCodePageText(text)) {
            RefuseInput(tr("此字符不在GBK代码页中"));
            return false;
        }
        return true;
    case HexMode:
        return SendHexLine(text);
    default:
        return true;
    }
}

bool TSendPage::SendChar(uint8_t b) {
    // The echo shows what went out: a byte that did not is not echoed.
    if (!Host.Worker().SendByte(b)) {
        RefuseInput(NotSentText());
        return false;
    }
    const bool newLine = SendLine.Add(b);
    const int count = SendEdit->LineCount();
    const int row = newLine ? count : std::max(count - 1, 0);
    const QString line =
        QString::fromStdString(HexDumpRender(SendLine, uint64_t(row), SendLeading));
    if (newLine)
        SendEdit->AddLine(line);
    else
        SendEdit->SetLine(row, line);
    SendEdit->CaretToEnd();
    return true;
}

// Why the worker did not take a line or character; it then stays as typed, unechoed.
QString TSendPage::NotSentText() const {
    if (!Host.Worker().IsOpen())
        return tr("端口未打开, 未发送");
    if (Host.ControlRtsOn())
        return tr("上一块数据仍在按RTS控制发送, 未发送");
    return tr("发送队列已满, 未发送");
}

// ---- a long send ----

void TSendPage::ShowSendProgress(uint64_t bytesLeft) {
    if (FileFeed)
        return; // the file's own progress is on show
    LongSend = bytesLeft > 0;
    if (!LongSend) {
        // A note of dropped bytes stays for its time.
        if (!DropNoteTimer->isActive())
            SendBar->hide();
        return;
    }
    DropNoteTimer->stop();
    lblSendLeft->setText(tr("正在发送: 还有 %1 字节").arg(bytesLeft));
    BtnStopSend->show();
    SendBar->show();
}

void TSendPage::ShowSendDropped(uint64_t bytesNotSent) {
    // A file whose bytes were dropped (the port closed) is not handed on.
    StopFileSend();
    bytesNotSent += FileNotHanded;
    FileNotHanded = 0;
    LongSend = false;
    lblSendLeft->setText(tr("已停止: %1 字节未发出").arg(bytesNotSent));
    BtnStopSend->hide();
    SendBar->show();
    DropNoteTimer->start(DropNoteMs);
}

void TSendPage::BtnStopSendClick() {
    const bool file = FileFeed != nullptr;
    StopFileSend();
    const uint64_t queued = Host.Worker().BytesToGo();
    Host.Worker().CancelSend();
    // With nothing queued no drop is reported: the note is shown here, and
    // corrected when the worker reports what it dropped.
    if (file) {
        const uint64_t notHanded = FileNotHanded;
        ShowSendDropped(queued);
        FileNotHanded = queued > 0 ? notHanded : 0;
    }
}

bool TSendPage::SendTextLine(bool modem) {
    const int row = SendEdit->CaretRow();
    QString line = SendEdit->Line(row);
    bool ok = false;
    QByteArray bytes = ToCodePage(line, &ok);
    if (!ok) {
        RefuseInput(tr("这一行含有GBK代码页以外的字符, 未发送"));
        return false;
    }
    if (modem) {
        bytes.append('\r');
        line.append('\r');
    } else {
        bytes.append(LineEndingBytes(Ending));
    }
    // A line the worker did not take (no port, a full queue) stays where it
    // is, uncopied, and the pane says why. One taken goes out whole or is
    // reported beneath the pane.
    const bool sent = Host.Worker().Send(reinterpret_cast<const uint8_t*>(bytes.constData()),
                                         static_cast<uint32_t>(bytes.size()));
    if (!sent && !DroppedUnderRts())
        return false;
    if (row < SendEdit->LineCount() - 1)
        SendEdit->AddLine(line);
    if (!sent)
        SendEdit->MarkUnsent(SendEdit->LineCount() - 1);
    SendEdit->CaretToEnd();
    return !SendEdit->EndsWithLineBreak();
}

// A line typed while an RTS-controlled send is under way is dropped: the pane
// moves on as after a sent line, with that line marked, so that the next line
// typed is not joined to it. Says why in any case.
bool TSendPage::DroppedUnderRts() {
    RefuseInput(NotSentText());
    return Host.Worker().IsOpen() && Host.ControlRtsOn();
}

bool TSendPage::SendHexLine(QString& text) {
    // The same digits, Backspace, Enter and space as the preamble field takes.
    if (!EdtHeadKeyPress(text))
        return false;
    if (text.at(0) != '\r')
        return true;

    HexBytes& hex = Host.HexBuf();
    const int row = SendEdit->CaretRow();
    const QByteArray line = HexLineText(SendEdit->Line(row));
    bool overflow = false;
    HexTextToBytes(hex, line.constData(), static_cast<uint32_t>(line.size()), &overflow);
    if (overflow) {
        RefuseInput(tr("一行最多%1个字节, 未发送").arg(HexBytesCapacity));
        return false;
    }
    if (hex.Count == 0)
        return false;
    const bool sent = Host.Worker().Send(hex.Data, hex.Count);
    if (!sent && !DroppedUnderRts())
        return false;
    // A dropped line stays as typed: "> " shows what went out.
    const QString echo =
        sent ? "> " + QString::fromStdString(BytesToHexText(hex)) : SendEdit->Line(row);
    if (row >= SendEdit->LineCount() - 1)
        SendEdit->SetLine(row, echo);
    else
        SendEdit->AddLine(echo);
    if (!sent)
        SendEdit->MarkUnsent(SendEdit->LineCount() - 1);
    SendEdit->CaretToEnd();
    return !SendEdit->EndsWithLineBreak();
}

void TSendPage::RefuseInput(const QString& why) {
    QApplication::beep();
    const QPoint at = SendEdit->viewport()->mapToGlobal(SendEdit->cursorRect().bottomLeft());
    QToolTip::showText(at, why, SendEdit);
}

// ---- send modes ----

void TSendPage::SetSendMode(int mode) {
    if (mode == AppliedSendMode)
        return;
    for (QAction* a : {mnuLine, mnuModem, mnuChar, mnuHex})
        a->setChecked(false);
    SendMode = mode;
    SendEdit->clear();
    if (AppliedSendMode == ModemMode)
        emit ModemModeChanged(false);

    switch (mode) {
    case CharMode:
        mnuChar->setChecked(true);
        SendLine.Reset();
        break;
    case LineMode:
        mnuLine->setChecked(true);
        break;
    case ModemMode:
        mnuModem->setChecked(true);
        SendEdit->AddLine(tr(ModemHint));
        SendEdit->CaretToEnd();
        emit ModemModeChanged(true);
        break;
    case HexMode:
        mnuHex->setChecked(true);
        break;
    default:
        break;
    }
    if (mode >= 0 && mode <= 3)
        emit SendModeChanged(mode);
    AppliedSendMode = mode;
    ShowSendModeButton();
}

void TSendPage::SetEditFont(const QFont& font) {
    SendEdit->setFont(font);
}

void TSendPage::NextSendMode() {
    SetSendMode(SendMode >= HexMode ? CharMode : SendMode + 1);
}

void TSendPage::LoadSettings(const TStoredSettings& stored) {
    if (stored.SendMode)
        SendMode = int(*stored.SendMode);
    SetLineEnding(stored.LineEnding ? int(*stored.LineEnding) : 0);
    SetSendMode(SendMode);
}

void TSendPage::SaveSettings(TStoredSettings& stored) const {
    stored.SendMode = SendMode;
    stored.LineEnding = LineEnding();
}

// ---- menu: clear and send-command files ----

void TSendPage::mnuClearClick() {
    SendEdit->clear();
    SendLine.Reset();
}

void TSendPage::mnuLoadClick() {
    QString name = dialogs::OpenFileName(this, tr("打开发送命令..."), CommandFilter);
    if (name.isEmpty())
        return;
    name = dialogs::WithExtension(name, "cmd");
    QStringList lines;
    if (!LoadRtfFile(name, lines)) {
        dialogs::Message(this, tr("打开文件错误!"));
        return;
    }
    SendEdit->SetLines(lines);
    // Character mode's next echo starts a line of its own below the loaded ones.
    SendLine.Reset();
}

void TSendPage::mnuSaveClick() {
    QString name = dialogs::SaveFileName(this, tr("保存发送命令..."), CommandFilter);
    if (name.isEmpty())
        return;
    name = dialogs::WithExtension(name, "cmd");
    if (!SaveRtfFile(name, SendEdit->Lines(), CommandStyle(SendEdit)))
        dialogs::Message(this, "Save to File Error!");
}
