#pragma once
// TFrmMain: Kestrel's one window. A borderless window dragged by its title
// strip, the receive pane with the send pages beneath it, and the status panel
// on the right. The window's parts live in files of their own:
//   Unitmain.cpp      construction, layout, start-up, the status panel's read-outs
//   Mainreceive.cpp   the receive pane: OnCommData, pause, clear, history files
//   Mainsend.cpp      the send pane, send modes and the status panel's toggles
//   Mainsettings.cpp  settings kept with QSettings, the port map, keys
//
// Threads: the worker raises OnCommData, ModemStatusChanged, PortStateChanged
// and RtsStateChanged on its own thread. Each copies what it needs, queues its
// effect for this window's thread (order kept) and returns at once: ToolExit
// waits for the worker on this thread, so the worker never waits for it.

#include "Hexdump.h"
#include "Hextext.h"
#include "Recequeue.h"
#include "Threadcomm.h"

#include <QWidget>
#include <atomic>
#include <memory>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QAction;
class QPlainTextEdit;
class QPushButton;
class QTabWidget;
class QToolButton;
class TAbLED;
class THexPane;
class TSendEdit;

class TFrmMain : public QWidget {
    Q_OBJECT
public:
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // Where the maker is found; reserved example names until the project has its own.
    static constexpr const char* HomePage = "https://www.example.com/kestrel";
    static constexpr const char* EMail = "kestrel@example.com";

    // ---- handlers, callable from code exactly as the user's action ----
    void FormCreate();
    void btnUpdateClick();
    void ToolPortClick();
    void ToolModemClick();
    void ImgPortClick();
    void ImgModemClick();
    void ToolURLClick();
    void ToolHelpClick();
    void ToolExitClick();
    void ToolClearClick();
    void ToolPauseClick();
    void ToolOpenClick();
    void ToolSaveClick();
    void LoadSettings();
    void SaveSettings();

    // Send pane and toggles (Mainsend.cpp).
    void chkRTSClick();
    void chkDTRClick();
    void ChkControlRTSClick();
    void chkHeadClick();
    void SetSendMode(int mode);
    // Key filters: text is the typed character, which they may change;
    // false drops it.
    bool SendEditKeyPress(QString& text);
    bool EdtHeadKeyPress(QString& text);
    void SendChar(uint8_t b);
    // Enter in Line (modem false) and Modem mode; true passes the Enter on.
    bool SendTextLine(bool modem);
    bool SendHexLine(QString& text);
    void mnuClearClick();
    void mnuLoadClick();
    void mnuSaveClick();

    // Checksum read-outs of a hex selection (Maincheck.cpp).
    void SendEditMouseDown();
    void UpdateCheckItems();
    void mnuAddClick();
    void mnuXorClick();
    void mnuCRCClick();

    // ---- worker events, entered on the worker thread ----
    void OnCommData(const uint8_t* bytes, uint32_t count);
    void ModemStatusChanged(bool cts, bool dsr, bool ri, bool rlsd);
    void PortStateChanged(bool open);
    void RtsStateChanged(bool on);

    // Applies what the worker has delivered so far; the frame timer calls it,
    // and so does anything that must see the pane up to date (clear, open).
    void FlushReceived();

    // The pieces tests and tools look at.
    TWThreadComm& Worker() { return *Comm; }
    THexPane* ReceEdit = nullptr;
    QLabel* lblHead = nullptr;
    QLabel* lblEnd = nullptr;
    QLabel* lblComPort = nullptr;
    QLabel* lblComSta = nullptr;
    QLabel* lblCTS = nullptr;
    QLabel* lblDSR = nullptr;
    QLabel* lblRLSD = nullptr;
    QLabel* lblRI = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* ImgMove = nullptr;
    QFrame* Panel1 = nullptr;
    QWidget* Panel2 = nullptr;
    QFrame* PanlHelp = nullptr;
    QLabel* ImgPort = nullptr;
    QLabel* ImgModem = nullptr;
    TAbLED* chkRTS = nullptr;
    TAbLED* chkDTR = nullptr;
    TAbLED* ChkControlRTS = nullptr;
    TAbLED* chkHead = nullptr;
    QLineEdit* EdtHead = nullptr;
    QLineEdit* EdtRevNum = nullptr;
    QToolButton* ToolClear = nullptr;
    QToolButton* ToolOpen = nullptr;
    QToolButton* ToolSave = nullptr;
    QToolButton* ToolPause = nullptr;
    QToolButton* ToolPort = nullptr;
    QToolButton* ToolModem = nullptr;
    QToolButton* ToolURL = nullptr;
    QToolButton* ToolHelp = nullptr;
    QToolButton* ToolExit = nullptr;
    QTabWidget* PageSel = nullptr;
    QWidget* TabSend = nullptr;
    QWidget* TabSendAuto = nullptr;
    QWidget* TabComm = nullptr;
    QWidget* TabProtocol = nullptr;
    TSendEdit* SendEdit = nullptr;
    QMenu* PopStrMenu = nullptr;
    QAction* mnuChar = nullptr;
    QAction* mnuLine = nullptr;
    QAction* mnuModem = nullptr;
    QAction* mnuHex = nullptr;
    QAction* mnuClear = nullptr;
    QAction* mnuLoad = nullptr;
    QAction* mnuSave = nullptr;
    QAction* N1 = nullptr;
    QAction* mnuNum = nullptr;
    QAction* mnuAdd = nullptr;
    QAction* mnuXor = nullptr;
    QAction* mnuCRC = nullptr;
    QAction* mnuMsg = nullptr;
    QWidget* GrpCom = nullptr;
    QComboBox* CboPort = nullptr;
    QComboBox* CboBps = nullptr;
    QComboBox* CboParity = nullptr;
    QPushButton* btnUpdate = nullptr;
    QToolButton* btnPortMap = nullptr;
    QPlainTextEdit* Memo1 = nullptr;

    // Window state.
    HexBytes HexBuffer{};
    THexDumpLine SendLine;
    int SendMode = 0;
    int AppliedSendMode = 0;
    // The four toggles as they were when Modem mode was entered.
    bool SavedControlRts = false;
    bool SavedHead = false;
    bool SavedRts = false;
    bool SavedDtr = false;
    // Values of the last checksum preparation, written by the menu items.
    int32_t SelSum = 0;
    uint8_t SelXor = 0;
    uint16_t SelCrc = 0;
    std::atomic<bool> Paused{false};
    std::atomic<bool> StatOn{false}; // read by OnCommData on the worker thread
    bool AutoRunning = false;

    // Colours of the status panel.
    static const QColor LineOn;   // lime
    static const QColor LineOff;  // green, also an open port
    static const QColor PortShut; // red

    // The port map the settings hold, shown on the settings page.
    TPortMap PortMap() const;
    void SetPortMap(const TPortMap& map);
    void btnPortMapClick();

signals:
    // For tests: the pane has taken a batch from the worker.
    void ReceivedFlushed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    void BuildStatusPanel();
    void BuildCentre();
    void BuildSettingsPage(QWidget* page);
    void BuildSendPane();
    void ApplyRts(bool on);
    void ApplyDtr(bool on);
    // A refused character or line: a beep and a short note at the caret.
    void RefuseInput(const QString& why);
    void WriteCheckValue(uint32_t value, int digits);
    void ShowPortState(bool open, const QString& settingsText, const TOpenError& error);
    void CaptureStatByte(uint8_t b);
    bool FormCloseQuery();
    void PopulatePortTips();

    std::unique_ptr<TWThreadComm> Comm;
    TReceQueue ReceQueue;
    void ApplyReceived(bool drain);
    TReceBatch Backlog; // taken from ReceQueue, not yet in the pane
    size_t BacklogNext = 0;
    static constexpr int SliceMs = 8;
    TOpenError ShownError; // the reason on show, so that it changes once per failure
    bool Stopped = false;  // the worker has been stopped by ToolExit
    QPoint DragOffset;
    bool Dragging = false;
};

// The window's texts for a port that did not open: a short one for the status
// strip and a long one with the device and, for a permission error, the hint.
struct TPortErrorText {
    QString Short;
    QString Long;
};
TPortErrorText PortErrorText(const TOpenError& error);
