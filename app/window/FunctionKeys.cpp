// TFrmMain's keys and tab rules: the function keys, Alt+1..Alt+4 and the panes'
// zoom keys, seen by the window before the focused control, and what selecting a
// tab does.

#include "AppFonts.h"
#include "AutoSendPage.h"
#include "FindBar.h"
#include "PlotWindow.h"
#include "ProtocolPage.h"
#include "ReceivePane.h"
#include "SendEdit.h"
#include "SendPage.h"
#include "SettingsKeys.h"
#include "SettingsPage.h"
#include "Unitmain.h"

#include <algorithm>

#include <QApplication>
#include <QFont>
#include <QKeyEvent>
#include <QLabel>
#include <QTabWidget>
#include <QToolButton>

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
    // The zoom keys are the window's alone: a pane would type or zoom on its own.
    if (key->modifiers() & Qt::ControlModifier) {
        switch (key->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            SetPaneFontSize(PaneFontSize + 1);
            return true;
        case Qt::Key_Minus:
            SetPaneFontSize(PaneFontSize - 1);
            return true;
        case Qt::Key_0:
            SetPaneFontSize(settings::DefaultPaneFontSize);
            return true;
        default:
            break;
        }
    }
    if (!key->isAutoRepeat() || key->key() != Qt::Key_F10)
        FormKeyDown(key->key(), key->modifiers());
    return false;
}

void TFrmMain::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    switch (key) {
    case Qt::Key_F2:
        TabComm->NextPort();
        break;
    case Qt::Key_F3:
        if (!PortLabelRed())
            TabComm->NextRate();
        break;
    case Qt::Key_F4:
        if (!PortLabelRed())
            TabComm->NextParity();
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
        TabSend->NextSendMode();
        break;
    case Qt::Key_F:
    case Qt::Key_G:
        if ((shift & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier)) == Qt::ControlModifier) {
            if (key == Qt::Key_F)
                FindBar->Open();
            else
                FindBar->OpenOffset();
        }
        break;
    case Qt::Key_P:
        if ((shift & Qt::ControlModifier) && (shift & Qt::ShiftModifier))
            Plot->Open();
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

void TFrmMain::SetPaneFontSize(int pixels) {
    PaneFontSize = std::clamp(pixels, settings::LeastPaneFontSize, settings::MostPaneFontSize);
    const QFont font = PaneFont(PaneFontSize);
    ReceEdit->setFont(font);
    TabSend->SetEditFont(font);
    // The dump's column headers above and below the pane follow its font.
    for (QLabel* header : {lblHead, lblEnd})
        header->setFont(font);
    LayoutClient();
}

// Leaving a timed page stops its run; the port group changes only on its own page.
void TFrmMain::PageSelChange(int index) {
    if (index != TimedPage)
        TabSendAuto->btnStopClick();
    if (index != ProtocolPage)
        TabProtocol->BtnVMStopClick();
    TabComm->SetPortGroupEnabled(index == SettingsPage);
}
