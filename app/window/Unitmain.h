#pragma once
// TFrmMain: Kestrel's one window. A borderless window dragged by its title
// strip, the receive pane with the tab pages beneath it, and the status panel
// on the right. The window's parts live in files of their own:
//   Unitmain.cpp         construction, layout, start-up, the status panel's read-outs
//   ReceiveFlow.cpp      the receive pane: OnCommData, pause, clear, history files, live log
//   StatusPanel.cpp      the status panel's output toggles and the preamble
//   SettingsBinding.cpp  settings kept with QSettings, the command line's choices
//   FunctionKeys.cpp     the function keys and the tabs
//   EdgeGrips.cpp        resizing from the edges, the title strip
// Each tab page is a class of its own (app/pages) that sees the window through TPageHost:
//   TSendPage, TAutoSendPage, TSettingsPage, TProtocolPage.
//
// Threads: the worker raises OnCommData, ModemStatusChanged, PortStateChanged,
// RtsStateChanged, SendProgressChanged and SendDropped on its own thread. Each copies what it
// needs, queues its effect for this window's thread (order kept) and returns at once: ToolExit
// waits for the worker on this thread, so the worker never waits for it.

#include "HexText.h"
#include "LiveLog.h"
#include "PageHost.h"
#include "ReceiveQueue.h"
#include "Threadcomm.h"

#include <functional>
#include <optional>

#include <QPointer>
#include <QWidget>
#include <atomic>
#include <memory>
#include <optional>

class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;
class QTabWidget;
class QToolButton;
class TAbLED;
struct TCmdLine;
class THistoryJob;
enum class TFileResult;
class TAutoSendPage;
class TPostedCalls;
class TReceivePane;
class TProtocolPage;
class TScriptWindow;
class TSendPage;
class TSettingsPage;

class TFrmMain : public QWidget, public TPageHost {
    Q_OBJECT
public:
    explicit TFrmMain(QWidget* parent = nullptr);
    ~TFrmMain() override;

    // Where the maker is found; reserved example names until the project has its own.
    static constexpr const char* EMail = "kestrel@example.com";
    // Where the documentation (the README) is: installed beside the program,
    // or in the source tree it was built from; empty when neither is there.
    static QString DocumentationFile();
    // The help box's text: the documentation's place and its chapters.
    QString HelpText() const;

    // ---- handlers, callable from code exactly as the user's action ----
    void FormCreate();
    void ToolPortClick();
    void ToolModemClick();
    void ImgPortClick();
    void ImgModemClick();
    void ToolURLClick();
    void ToolHelpClick();
    void ToolExitClick();
    // The live log: every received byte to a file as it arrives (raw, or as
    // text lines, with or without time stamps) until stopped.
    bool StartLiveLog(const QString& path, int kind); // 0 raw, 1 text, 2 text with stamps
    QLabel* lblLog = nullptr; // over the pane's top right while a log runs
    void StopLiveLog();
    void ToolClearClick();
    void ToolPauseClick();
    void ToolOpenClick();
    void ToolSaveClick();
    void LoadSettings();
    void SaveSettings();
    // The command line's choices for this run: COM1 on another device, a
    // rate, a parity, the interface's language (installed before the window
    // is made; here only the settings page's list follows it). SaveSettings keeps what was stored for each of them
    // unless the user changes it during the run.
    void ApplyCommandLine(const TCmdLine& line);

    // The window of scripts and automatic replies (Ctrl+Shift+R, the send pane's menu).
    void ShowScriptWindow();
    TScriptWindow* ScriptWindow() const { return Scripts.get(); }

    // Keys and tabs (FunctionKeys.cpp). shift: the modifiers held.
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void PageSelChange(int index);
    // lblComPort shows a port that is not open.
    bool PortLabelRed() const;

    // The status panel's toggles (StatusPanel.cpp).
    void chkRTSClick();
    void chkDTRClick();
    void ChkControlRTSClick();
    void chkHeadClick();

    // ---- worker events, entered on the worker thread ----
    void OnCommData(const uint8_t* bytes, uint32_t count);
    void ModemStatusChanged(bool cts, bool dsr, bool ri, bool rlsd);
    void PortStateChanged(bool open);
    void RtsStateChanged(bool on);
    void SendProgressChanged(uint64_t bytesLeft);
    void SendDropped(uint64_t bytesNotSent);

    // Applies what the worker has delivered so far; the frame timer calls it,
    // and so does anything that must see the pane up to date (clear, open).
    void FlushReceived();

    // The pieces tests and tools look at.
    TReceivePane* ReceEdit = nullptr;
    QLabel* lblHead = nullptr;
    QLabel* lblEnd = nullptr;
    QLabel* lblComPort = nullptr;
    QLabel* lblComSta = nullptr;
    QLabel* lblCTS = nullptr;
    QLabel* lblDSR = nullptr;
    QLabel* lblRLSD = nullptr;
    QLabel* lblRI = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* lblControl = nullptr; // over the four toggles
    QLabel* lblReceNum = nullptr; // before EdtRevNum
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
    TSendPage* TabSend = nullptr;
    TAutoSendPage* TabSendAuto = nullptr;
    TSettingsPage* TabComm = nullptr;
    TProtocolPage* TabProtocol = nullptr;

    // Window state.
    HexBytes HexBuffer{};
    // Frames sent in the current timed run; both timed pages count here.
    uint32_t SendCount = 0;
    // The four toggles as they were when Modem mode was entered.
    bool SavedControlRts = false;
    bool SavedHead = false;
    bool SavedRts = false;
    bool SavedDtr = false;
    std::atomic<bool> Paused{false};
    // The save or open of a history file under way (ReceiveFlow.cpp); null when none.
    THistoryJob* HistoryJob = nullptr;

    // Characters the preamble field takes by typing.
    static constexpr int HeadTypingLimit = 18;

    // Colours of the status panel.
    static const QColor LineOn;   // lime
    static const QColor LineOff;  // green, also an open port
    static const QColor PortShut; // red

    // TPageHost
    TWThreadComm& Worker() override { return *Comm; }
    HexBytes& HexBuf() override { return HexBuffer; }
    uint32_t& SendCounter() override { return SendCount; }
    bool PreambleOn() const override;
    bool ControlRtsOn() const override;
    QString ReceiveCountText() const override;
    void HoldTogglesForModem(bool hold) override;
    void ShowSendModeImage(int mode) override;
    void RefreshPortState() override;

    // The window's size as it opens, which is also its smallest, and the
    // fixed parts of its layout.
    static constexpr int ClientWidth = 630;
    static constexpr int ClientHeight = 442;
    static constexpr int StripHeight = 41;
    static constexpr int PanelWidth = 126;
    static constexpr int PageHeight = 120;

signals:
    // For tests: the pane has taken a batch from the worker.
    void ReceivedFlushed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildLayout();
    // Sets the window's own texts in the interface's language, at creation
    // and when the language changes.
    void RetranslateUi();
    void BuildStatusPanel();
    void BuildCentre();
    // The window can grow: the receive pane and the pages take the room, the
    // status panel keeps its width on the right (EdgeGrips.cpp).
    void BuildEdgeGrips();
    void LayoutClient();
    void ApplyRts(bool on);
    void ApplyDtr(bool on);
    void ShowPortState(bool open, const TWThreadComm::TPortSettings& settings,
                       const TOpenError& error);
    void ShowPortNotice(const QString& text);
    bool FormCloseQuery();
    bool PreviewKey(QObject* watched, QEvent* event);

    std::unique_ptr<TWThreadComm> Comm;
    // Made before the worker runs (its events feed it), gone after the worker stopped.
    std::unique_ptr<TScriptWindow> Scripts;
    TPostedCalls* Calls = nullptr; // the worker's events reach this thread here
    TReceiveQueue ReceQueue;
    void ApplyReceived(bool drain);
    // Runs work on a thread of its own with the toolbar's file buttons off;
    // done gets its result on this thread.
    void StartHistoryJob(const QString& title,
                         std::function<TFileResult(const std::function<bool(int64_t, int64_t)>&)> work,
                         std::function<void(TFileResult)> done);
    std::optional<int64_t> ReceMemoryMiB; // the stored limit of the pane's memory, if any
    bool OpeningFile = false;
    // The pane's header says once per Clear or open that the oldest lines were dropped.
    void ShowDropNotice();
    // The headers above and below the pane: the dump's columns, or what the text view shows.
    void ShowReceHeader();
    uint64_t DropNoticeEpoch = ~uint64_t(0); // received blocks stay queued until the opened file is in
    TReceiveBatch Backlog; // taken from ReceQueue, not yet in the pane
    size_t BacklogNext = 0;
    static constexpr int SliceMs = 8;
    TOpenError ShownError; // the reason on show, so that it changes once per failure
    bool Stopped = false;  // the worker has been stopped by ToolExit
    bool Exiting = false;  // ToolExit asked for the close under way
    bool PageFromCode = false;
    // The key press the window saw last, so that it sees each press once
    // while the press travels from the control up to its parents.
    const QEvent* PreviewedKey = nullptr;
    quint64 PreviewedTime = 0;
    QPointer<QWidget> PreviewedTarget;
    // What the command line replaced, to be stored again in its place.
    struct TRunOnly {
        std::optional<TPortMap> Map;      // the map before COM1 was pointed elsewhere
        std::optional<TPortMap> RunMap;   // and the map for this run
        std::optional<int> ComPort;       // the port list's index before
        std::optional<QString> RateText;  // the rate list's text before, and for the run
        QString RunRateText;
        std::optional<int> Parity;        // the parity list's index before, and for the run
        int RunParity = 0;
        std::optional<int> Language;      // the language list's index before, and for the run
        int RunLanguage = 0;
    } RunOnly;
    TLiveLog LiveLog;
    QTimer* LogTimer = nullptr;  // the log's size, twice a second
    void ShowLogState();
    void AddLogItems(QMenu* menu);
    QPoint DragOffset;
    bool Dragging = false;
    QLabel* PanelImage = nullptr;   // the status panel's background
    QWidget* PanelClient = nullptr; // and its client area
    QPixmap StripPicture;           // the title strip as drawn, at the smallest width
};

// The window's texts for a port that did not open: a short one for the status
// strip and a long one with the device and, for a permission error, the hint.
struct TPortErrorText {
    QString Short;
    QString Long;
};
TPortErrorText PortErrorText(const TOpenError& error);
// The status panel's text of the port's number and line.
QString PortSettingsText(const TWThreadComm::TPortSettings& settings);
