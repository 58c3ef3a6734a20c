// TFrmMain's keys and tab rules: the function keys and Alt+1..Alt+4, seen by
// the window before the focused control, and what selecting a tab does.

#include "AutoSendPage.h"
#include "ProtocolPage.h"
#include "SendPage.h"
#include "SettingsPage.h"
#include "Unitmain.h"

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
#include <QToolButton>

namespace {

// The next item of a list up to index last, then back to the first; a list without
// a selection starts at its first item.
void NextItem(QComboBox* box, int last) {
    const int i = box->currentIndex();
    box->setCurrentIndex(i >= 0 && i < last ? i + 1 : 0);
}

} // namespace

bool TFrmMain::PortLabelRed() const {
    return lblComPort->palette().color(QPalette::Window) == PortShut;
}

// The window sees every key before the focused control and never takes it:
// the control gets the key as well.
bool TFrmMain::PreviewKey(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    // A key the control did not take travels up to its parents; it has been
    // seen already.
    if (key == PreviewedKey && key->timestamp() == PreviewedTime && PreviewedTarget &&
        widget != PreviewedTarget && widget->isAncestorOf(PreviewedTarget))
        return false;
    PreviewedKey = key;
    PreviewedTime = key->timestamp();
    PreviewedTarget = widget;
    if (!key->isAutoRepeat() || key->key() != Qt::Key_F10)
        FormKeyDown(key->key(), key->modifiers());
    return false;
}

void TFrmMain::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    switch (key) {
    case Qt::Key_F2:
        NextItem(TabComm->CboPort, TabComm->CboPort->count() - 1);
        TabComm->btnUpdateClick();
        break;
    case Qt::Key_F3:
        if (PortLabelRed())
            break;
        // Over the first eight rates only, "110" to "14400".
        NextItem(TabComm->CboBps, 7);
        TabComm->btnUpdateClick();
        break;
    case Qt::Key_F4:
        if (PortLabelRed())
            break;
        NextItem(TabComm->CboParity, TabComm->CboParity->count() - 1);
        TabComm->btnUpdateClick();
        break;
    case Qt::Key_F5:
        if (!PortLabelRed())
            chkRTSClick();
        break;
    case Qt::Key_F6:
        if (!PortLabelRed())
            chkDTRClick();
        break;
    case Qt::Key_F7:
        ChkControlRTSClick();
        break;
    case Qt::Key_F8:
        chkHeadClick();
        break;
    case Qt::Key_F9:
        ToolClearClick();
        break;
    case Qt::Key_F10:
        if (shift & Qt::ShiftModifier) {
            TabSend->UpdateCheckItems();
        } else {
            ToolPause->setChecked(!ToolPause->isChecked());
            ToolPauseClick();
        }
        break;
    case Qt::Key_F12:
        TabSend->SetSendMode(TabSend->SendMode >= 3 ? 0 : TabSend->SendMode + 1);
        break;
    case Qt::Key_R:
        if ((shift & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier)) ==
            (Qt::ControlModifier | Qt::ShiftModifier))
            ShowScriptWindow();
        break;
    case Qt::Key_1:
    case Qt::Key_2:
    case Qt::Key_3:
    case Qt::Key_4:
        // The digits of the main keyboard only, not the keypad's.
        if ((shift & Qt::AltModifier) && !(shift & Qt::KeypadModifier)) {
            // Chosen from code: the rules of a tab the user selects do not run.
            PageFromCode = true;
            PageSel->setCurrentIndex(key - Qt::Key_1);
            PageFromCode = false;
        }
        break;
    default:
        break;
    }
}

void TFrmMain::PageSelChange(int index) {
    if (index != 1)
        TabSendAuto->btnStopClick();
    if (index != 3)
        TabProtocol->BtnVMStopClick();
    TabComm->GrpCom->setEnabled(index == 2);
}
