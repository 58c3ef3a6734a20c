#pragma once
// TAutoSendPage: the second tab. Repeats one frame (a text or a hex sequence)
// at a set interval and, when asked, compares what comes back with what was
// sent: byte and bit error rates of an echoing device.
//
// Threads: window thread only. The capture of received bytes belongs to the
// window, which appends to it on the worker thread (OnCommData); it is locked
// against the tick's take-and-reset.

#include "ErrorStats.h"

#include <QWidget>

#include <cstdint>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class TAbDBLED;
class TPageHost;

class TAutoSendPage : public QWidget {
    Q_OBJECT
public:
    TAutoSendPage(TPageHost& host, TStatCapture& capture, QWidget* parent = nullptr);

    // ---- handlers, callable from code exactly as the user's action ----
    void btnStartClick();
    void btnStopClick();
    void TimerAutoTimer();
    void ChkErrClick();

    // The run's state.
    uint8_t AutoFrame[ErrStatBufSize] = {};
    uint32_t AutoFrameLen = 0;
    bool AutoRunning = false;
    bool StatOn = false;
    uint32_t TotalSent = 0;
    uint32_t TotalRecv = 0;
    uint32_t TotalByteErr = 0;
    uint32_t TotalBitErr = 0;
    TErrStat ErrStat;
    // What the page shows of the run, kept to be worded again in another language.
    uint32_t ShownCount = 0;    // ticks in the group's caption; 0: none shown
    std::string ByteRateFigure; // "6.2500%", empty before the first measured tick
    std::string BitRateFigure;

    // Sets the page's texts in the interface's language, at creation and
    // when the language changes.
    void RetranslateUi();

protected:
    void changeEvent(QEvent* event) override;

private:
    // The selected item of GrpMode: 0 string, 1 hex sequence.
    int ModeIndex() const;
    QGroupBox* GrpMode = nullptr;
    QRadioButton* RadioString = nullptr; // item 0 "字符串"
    QRadioButton* RadioHex = nullptr;    // item 1 "Hex序列"
    QLineEdit* EdtString = nullptr;
    QLineEdit* EdtHex = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* edtTime = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    TAbDBLED* ChkErr = nullptr;
    QLabel* lblBitPer = nullptr;
    QLabel* lblBytePer = nullptr;
    QLabel* lblSendByte = nullptr;
    QLabel* lblRev = nullptr;
    QTimer* TimerAuto = nullptr;


    void ShowCountCaption();
    void ShowStatistics();
    void SetControlsEnabled(bool on);
    // The interval for the next tick from edtTime; a text that is not a whole
    // number keeps the last good interval and marks the field.
    uint32_t NextInterval();

    TPageHost& Host;
    TStatCapture& Capture;
    uint32_t LastInterval = 1500;
};
