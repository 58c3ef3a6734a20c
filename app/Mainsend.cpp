// The send pane of TFrmMain: the send modes, the popup menu, send-command
// files, and the status panel's output toggles with the preamble.

#include "Abled.h"
#include "Checksum.h"
#include "Codepage.h"
#include "Commerror.h"
#include "Dialogs.h"
#include "Rtf.h"
#include "Sendedit.h"
#include "Unitmain.h"

#include <QApplication>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QToolTip>

namespace {

const char* const CommandFilter = "Kestrel files(*.cmd)";
const char* const ModemHint = "你需要将RTS与DTR设置为ON.";

// The page control's image list; the send modes use entries 2 to 5.
QIcon PageImage(int index) {
    static const char* const Files[] = {":/tab/timed.png",   ":/tab/settings.png", ":/tab/char.png",
                                        ":/tab/line.png",    ":/tab/modem.png",    ":/tab/hex.png",
                                        ":/tab/protocol.png"};
    if (index < 0 || index >= int(std::size(Files)))
        return QIcon();
    return QIcon(Files[index]);
}

RtfStyle CommandStyle(const QWidget* pane) {
    RtfStyle style;
    style.FontName = pane->font().family();
    style.TextColor = pane->palette().color(QPalette::Text);
    style.BackColor = pane->palette().color(QPalette::Base);
    style.FontSize = 9; // 12 pixels at 96 dots per inch
    return style;
}

bool IsHexDigit(QChar c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

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
    return QString("%1 未能改变: %2").arg(line, QString::fromLocal8Bit(e.what()));
}

} // namespace

void TFrmMain::BuildSendPane() {
    PopStrMenu = new QMenu(this);
    auto item = [this](const char* caption, int image, auto handler) {
        QAction* a = PopStrMenu->addAction(PageImage(image), QString::fromUtf8(caption));
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    mnuChar = item("发送字符(&C)", 2, [this] { SetSendMode(0); });
    mnuLine = item("发送字符串(&S)", 3, [this] { SetSendMode(1); });
    mnuModem = item("发送字符串(&Modem)", 4, [this] { SetSendMode(2); });
    mnuHex = item("发送十六进制序列(&H)", 5, [this] { SetSendMode(3); });
    int mode = 0;
    for (QAction* a : {mnuChar, mnuLine, mnuModem, mnuHex}) {
        a->setCheckable(true);
        // Only SetSendMode checks an item: choosing the active mode again
        // must not take its mark away.
        connect(a, &QAction::triggered, this, [this, a, mode] { a->setChecked(SendMode == mode); });
        ++mode;
    }
    mnuChar->setChecked(true);
    PopStrMenu->addSeparator();
    mnuClear = item("清除发送窗口(&E)", -1, [this] { mnuClearClick(); });
    mnuLoad = item("打开发送命令(&L)...", -1, [this] { mnuLoadClick(); });
    mnuSave = item("保存发送命令(&B)...", -1, [this] { mnuSaveClick(); });
    N1 = PopStrMenu->addSeparator();
    mnuNum = item("", -1, [] {});
    mnuAdd = item("", -1, [this] { mnuAddClick(); });
    mnuXor = item("", -1, [this] { mnuXorClick(); });
    mnuCRC = item("", -1, [this] { mnuCRCClick(); });
    mnuMsg = item(MultiLineCaption, -1, [] {});
    for (QAction* a : {mnuLoad, mnuSave, N1, mnuNum, mnuAdd, mnuXor, mnuCRC, mnuMsg})
        a->setVisible(false);

    SendEdit->PopupMenu = PopStrMenu;
    SendEdit->OnKeyPress = [this](QString& text) { return SendEditKeyPress(text); };
    SendEdit->OnMouseDown = [this] { SendEditMouseDown(); };
    SendEdit->OnMenuKey = [this] { UpdateCheckItems(); };
    InstallKeyFilter(EdtHead, [this](QString& text) { return EdtHeadKeyPress(text); });
}

// ---- typing ----

bool TFrmMain::SendEditKeyPress(QString& text) {
    switch (SendMode) {
    case 0: {
        bool ok = false;
        const QByteArray bytes = ToCodePage(text, &ok);
        if (!ok) {
            RefuseInput("此字符不在GBK代码页中, 未发送");
            return false;
        }
        for (char b : bytes)
            SendChar(static_cast<uint8_t>(b));
        return false;
    }
    case 1:
    case 2:
        if (text == "\r")
            return SendTextLine(SendMode == 2);
        // Such a character could not go out as it stands.
        if (!IsCodePageText(text)) {
            RefuseInput("此字符不在GBK代码页中");
            return false;
        }
        return true;
    case 3:
        return SendHexLine(text);
    default:
        return true;
    }
}

void TFrmMain::SendChar(uint8_t b) {
    const bool newLine = SendLine.Add(b);
    Comm->SendByte(b); // a failed write is not shown: the echo is what was typed
    const int count = SendEdit->LineCount();
    const int row = newLine ? count : std::max(count - 1, 0);
    const QString line =
        QString::fromStdString(HexDumpRender(SendLine, uint64_t(row), SendLeading));
    if (newLine)
        SendEdit->AddLine(line);
    else
        SendEdit->SetLine(row, line);
    SendEdit->CaretToEnd();
}

bool TFrmMain::SendTextLine(bool modem) {
    const int row = SendEdit->CaretRow();
    QString line = SendEdit->Line(row);
    bool ok = false;
    QByteArray bytes = ToCodePage(line, &ok);
    if (!ok) {
        RefuseInput("这一行含有GBK代码页以外的字符, 未发送");
        return false;
    }
    if (modem) {
        bytes.append('\r');
        line.append('\r');
    }
    // Dropped while an RTS-controlled send is under way; the pane goes on
    // as if it had been written.
    Comm->Send(reinterpret_cast<const uint8_t*>(bytes.constData()),
               static_cast<uint32_t>(bytes.size()));
    if (row < SendEdit->LineCount() - 1)
        SendEdit->AddLine(line);
    SendEdit->CaretToEnd();
    return !SendEdit->EndsWithLineBreak();
}

bool TFrmMain::SendHexLine(QString& text) {
    // The same digits, Backspace, Enter and space as the preamble field takes.
    if (!EdtHeadKeyPress(text))
        return false;
    if (text.at(0) != '\r')
        return true;

    const int row = SendEdit->CaretRow();
    const QByteArray line = HexLineText(SendEdit->Line(row));
    bool overflow = false;
    HexTextToBytes(HexBuffer, line.constData(), static_cast<uint32_t>(line.size()), &overflow);
    if (overflow) {
        RefuseInput(QString("一行最多%1个字节, 未发送").arg(HexBytesCapacity));
        return false;
    }
    if (HexBuffer.Count == 0)
        return false;
    Comm->Send(HexBuffer.Data, HexBuffer.Count);
    const QString echo = "> " + QString::fromStdString(BytesToHexText(HexBuffer));
    if (row >= SendEdit->LineCount() - 1)
        SendEdit->SetLine(row, echo);
    else
        SendEdit->AddLine(echo);
    SendEdit->CaretToEnd();
    return !SendEdit->EndsWithLineBreak();
}

void TFrmMain::RefuseInput(const QString& why) {
    QApplication::beep();
    const QPoint at = SendEdit->viewport()->mapToGlobal(SendEdit->cursorRect().bottomLeft());
    QToolTip::showText(at, why, SendEdit);
}

// ---- send modes ----

void TFrmMain::SetSendMode(int mode) {
    if (mode == AppliedSendMode)
        return;
    for (QAction* a : {mnuLine, mnuModem, mnuChar, mnuHex})
        a->setChecked(false);
    SendMode = mode;
    SendEdit->clear();

    if (AppliedSendMode == 2) {
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
    }

    switch (mode) {
    case 0:
        mnuChar->setChecked(true);
        SendLine.Reset();
        break;
    case 1:
        mnuLine->setChecked(true);
        break;
    case 2:
        mnuModem->setChecked(true);
        SendEdit->AddLine(ModemHint);
        SendEdit->CaretToEnd();
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
        break;
    case 3:
        mnuHex->setChecked(true);
        break;
    default:
        break;
    }
    if (mode >= 0 && mode <= 3)
        PageSel->setTabIcon(PageSel->indexOf(TabSend), PageImage(mode + 2));
    AppliedSendMode = mode;
}

// ---- menu: clear and send-command files ----

void TFrmMain::mnuClearClick() {
    SendEdit->clear();
    SendLine.Reset();
}

void TFrmMain::mnuLoadClick() {
    QString name = dialogs::OpenFileName(this, "打开发送命令...", CommandFilter);
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += ".cmd";
    QStringList lines;
    if (!LoadRtfFile(name, lines)) {
        dialogs::Message(this, "打开文件错误!");
        return;
    }
    SendEdit->SetLines(lines);
}

void TFrmMain::mnuSaveClick() {
    QString name = dialogs::SaveFileName(this, "保存发送命令...", CommandFilter);
    if (name.isEmpty())
        return;
    if (QFileInfo(name).suffix().isEmpty())
        name += ".cmd";
    if (!SaveRtfFile(name, SendEdit->Lines(), CommandStyle(SendEdit)))
        dialogs::Message(this, "Save to File Error!");
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
    int receNum = EdtRevNum->text().trimmed().toInt(&ok);
    if (!ok) {
        dialogs::Message(this, QString("'%1' is not a valid integer value").arg(EdtRevNum->text()));
        return;
    }
    if (receNum < 1) {
        receNum = 1;
        EdtRevNum->setText("1");
    }
    if (overflow || HexBuffer.Count > TWThreadComm::MaxPreamble) {
        ShowToggleFault(chkHead, QString("前导码最多%1个字节").arg(TWThreadComm::MaxPreamble));
        return;
    }
    if (uint32_t(receNum) > TWThreadComm::FrameBufSize ||
        !Comm->SetPreamble(HexBuffer.Data, HexBuffer.Count, static_cast<uint32_t>(receNum))) {
        ShowToggleFault(chkHead, QString("接收字符数最多%1").arg(TWThreadComm::FrameBufSize));
        return;
    }
    ClearToggleFault(chkHead);
    Comm->SetPreambleMode(true);
    EdtHead->setEnabled(false);
    EdtRevNum->setEnabled(false);
    chkHead->SetChecked(true);
}

bool TFrmMain::EdtHeadKeyPress(QString& text) {
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
