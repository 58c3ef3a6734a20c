#pragma once
// TFrmMain: Kestrel's one window. A borderless window dragged by its title
// strip, the receive pane with the tab pages beneath it, and the status panel
// on the right. The window's parts live in files of their own:
//   Unitmain.cpp         construction, layout, start-up, the status panel's read-outs
//   ReceiveFlow.cpp      the receive pane: OnCommData, pause, clear, history files, live log
//   StatusPanel.cpp      the status panel's output toggles and the preamble
//   SettingsBinding.cpp  settings kept with QSettings: the window's own, then each page's
//   FunctionKeys.cpp     the function keys and the tabs
//   EdgeGrips.cpp        resizing from the edges, the title strip
// Each tab page is a class of its own (app/pages): TSendPage, TAutoSendPage,
// TSettingsPage, TProtocolPage. A page owns its controls, loads and saves its
// part of the settings, offers operations (NextPort, NextSendMode...), reads
// the window through TPageHost and tells it what changed through signals.
// Every part of the window and its pages has its control's name as object
// name; tests find them with findChild.
//
// Threads: the worker raises OnCommData, ModemStatusChanged, PortStateChanged,
// RtsStateChanged, SendProgressChanged and SendDropped on its own thread. Each copies what it
// needs, queues its effect for this window's thread (order kept) and returns at once: ToolExit
// waits for the worker on this thread, so the worker never waits for it.

#include "ErrorStats.h"
#include "HexText.h"
#include "LiveLog.h"
#include "PageHost.h"
#include "ReceiveQueue.h"
#include "Threadcomm.h"

#include <functional>
#include <optional>

#include <QElapsedTimer>
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
class TRtfLineSink;
class TAutoSendPage;
class TPostedCalls;
class TReceivePane;
class TPlotWindow;
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
    void StopLiveLog();
    void ToolClearClick();
    void ToolPauseClick();
    void ToolOpenClick();
    void ToolSaveClick();
    void LoadSettings();
    void SaveSettings();
    // The command line's choices for this run: COM1 on another device, a
    // rate, a parity, the interface's language (installed before the window
    // is made; here only the settings page's list follows it). The settings
    // page keeps what was stored for each of them unless the user changes it
    // during the run.
    void ApplyCommandLine(const TCmdLine& line);

    // The window of scripts and automatic replies (Ctrl+Shift+R, the send pane's menu).
    void ShowScriptWindow();
    TScriptWindow* ScriptWindow() const { return Scripts.get(); }

    // Keys and tabs (FunctionKeys.cpp). shift: the modifiers held.
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    // The receive and send panes' font size in pixels (Ctrl+plus, Ctrl+minus, Ctrl+0), kept
    // within the stored range.
    void SetPaneFontSize(int pixels);
    int PaneFontSize = 12;
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

    // Reads the history file name into a fresh pane on a job of its own, holding received
    // bytes back until it ends. ToolOpenClick passes the history reader and a name it checked.
    using THistoryRead =
        std::function<TFileResult(const QString& name, TRtfLineSink& sink,
                                   const std::function<bool(int64_t done, int64_t total)>& progress)>;
    void OpenHistory(const QString& name, THistoryRead read);
    // The save or open of a history file under way; null when none.
    THistoryJob* RunningJob() const { return HistoryJob; }

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

    // The window's size as it opens, which is also its smallest, and the
    // fixed parts of its layout.
    static constexpr int ClientWidth = 630;
    static constexpr int ClientHeight = 442;
    static constexpr int StripHeight = 41;
    // The title strip's picture is plain between the end of its name and the start of its wave.
    static constexpr int StripGapLeft = 160;
    static constexpr int StripGapRight = 336;
    static constexpr int PanelWidth = 126;
    static constexpr int PageHeight = 140; // room for a CJK caption font's lines

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
    // The window's parts; each has its name as object name, for tests.
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

    HexBytes HexBuffer{};
    // Frames sent in the current timed run; both timed pages count here.
    uint32_t SendCount = 0;
    // The four toggles as they were when Modem mode was entered.
    bool SavedControlRts = false;
    bool SavedHead = false;
    bool SavedRts = false;
    bool SavedDtr = false;
    // The save or open of a history file under way (ReceiveFlow.cpp); null when none.
    THistoryJob* HistoryJob = nullptr;

    QLabel* lblLog = nullptr; // over the pane's top right while a log runs
    std::atomic<bool> Paused{false};
    // The received bytes of a timed run, for its statistics: appended by OnCommData on
    // the worker thread, taken by the timed-send page on this one.
    TStatCapture StatCapture;

    // Modem mode holds the output toggles: entering saves and forces them,
    // leaving gives them back (StatusPanel.cpp).
    void HoldTogglesForModem(bool hold);
    // The send page's tab shows the image of its send mode.
    void ShowSendModeImage(int mode);
    // The port settings changed: the status panel reads them again.
    void RefreshPortState();
    // The tabs of PageSel, in their order.
    enum TPageIndex : int { SendPage = 0, TimedPage = 1, SettingsPage = 2, ProtocolPage = 3 };
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
    QString SettingsProblem; // why the settings file was not read or written, as last said
    bool OpeningFile = false;
    // The pane's header says once per Clear or open that the oldest lines were dropped.
    void ShowDropNotice();
    // The headers above and below the pane: the dump's columns, or what the text view shows.
    void ShowReceHeader();
    uint64_t DropNoticeEpoch =
        ~uint64_t(0); // received blocks stay queued until the opened file is in
    // One pass of feeding received blocks to the pane works this long at most, so that a frame
    // of painting and a key typed meanwhile are never held up by more than a few milliseconds.
    static constexpr int SliceMs = 2;
    class QTimer* FlushLater = nullptr; // the next pass, after the events that wait
    // The pane scrolls and repaints at most once a frame while more blocks wait: the passes
    // that come closer feed the store only.
    void FollowReceived(bool drain, bool wasAtEnd);
    void FollowNow();
    class QTimer* FollowLater = nullptr;
    QElapsedTimer SinceFollow;
    bool FollowDue = false;    // blocks went in that the pane has not followed yet
    bool FollowAtEnd = false;  // whether the pane showed the end before the first of them
    TOpenError ShownError; // the reason on show, so that it changes once per failure
    bool Stopped = false;  // the worker has been stopped by ToolExit
    bool Exiting = false;  // ToolExit asked for the close under way
    bool PageFromCode = false;
    // The key press the window saw last, so that it sees each press once
    // while the press travels from the control up to its parents.
    const QEvent* PreviewedKey = nullptr;
    quint64 PreviewedTime = 0;
    QPointer<QWidget> PreviewedTarget;
    TLiveLog LiveLog;
    // The plot of the received values, in a window of its own (Ctrl+Shift+P, the pane's menu);
    // made with the window, its feed runs from the first opening.
    std::unique_ptr<TPlotWindow> Plot;
    QTimer* LogTimer = nullptr;  // the log's size, twice a second
    void ShowLogState();
    void AddLogItems(QMenu* menu);
    QPoint DragOffset;
    QPoint DragPress;         // where the button went down, in global coordinates
    bool Dragging = false;    // the button is down on the strip
    bool DragMoving = false;  // and the mouse has moved far enough to move the window
    QLabel* PanelImage = nullptr;   // the status panel's background
    QWidget* PanelClient = nullptr; // and its client area
    QPixmap StripPicture;           // the title strip as drawn, at the smallest width
    class TFindBar* FindBar = nullptr; // over the receive pane's foot (Ctrl+F, Ctrl+G)
};

// The window's texts for a port that did not open: a short one for the status
// strip and a long one with the device and, for a permission error, the hint.
struct TPortErrorText {
    QString Short;
    QString Long;
};
TPortErrorText PortErrorText(const TOpenError& error);
// The window's title: the program and its version, the port and its device.
QString WindowTitle(const TOpenError& where);
// The status panel's text of the port's number and line.
QString PortSettingsText(const TWThreadComm::TPortSettings& settings);
