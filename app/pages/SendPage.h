#pragma once
// TSendPage: the first tab, the send pane. The four send modes, the popup menu
// with send-command files and the checksum read-outs of a hex selection.
// Window thread only.

#include "HexDump.h"

#include <QIcon>
#include <QWidget>

#include <cstdint>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class QTimer;
class QToolButton;
class TPageHost;
class TFileFeeder;
class TSendEdit;
struct TStoredSettings;

class TSendPage : public QWidget {
    Q_OBJECT
public:
    // The send modes, as SendMode holds them and the settings store them.
    enum TSendMode : int { CharMode = 0, LineMode = 1, ModemMode = 2, HexMode = 3 };

    TSendPage(TPageHost& host, QWidget* parent = nullptr);
    ~TSendPage() override;

    // ---- handlers, callable from code exactly as the user's action ----
    void SetSendMode(int mode);
    // F12: the next send mode, after Hex the first.
    void NextSendMode();
    // The send pane's key filter: text is the typed character, which it may
    // change; false drops it.
    bool SendEditKeyPress(QString& text);
    // False when the worker did not take the byte (it is then not echoed).
    bool SendChar(uint8_t b);
    // Enter in Line (modem false) and Modem mode; true passes the Enter on.
    bool SendTextLine(bool modem);
    bool SendHexLine(QString& text);
    // What Enter sends after a line in Line mode: 0 nothing, 1 CR, 2 LF,
    // 3 CR LF. Out-of-range values mean nothing.
    void SetLineEnding(int ending);
    int LineEnding() const { return Ending; }
    // Sends a file's bytes as they are, with progress and stop beneath the pane.
    void mnuSendFileClick();
    // Stops a file being handed to the worker (the window closes, the user stops).
    void StopFileSend();
    bool SendingFile() const { return FileFeed != nullptr; }
    void mnuClearClick();
    void mnuLoadClick();
    void mnuSaveClick();
    // A long send: the bytes still to go, with a button (and Esc) to stop it;
    // and, when bytes were dropped, how many did not go out.
    void ShowSendProgress(uint64_t bytesLeft);
    void ShowSendDropped(uint64_t bytesNotSent);
    void BtnStopSendClick();
    // Checksum read-outs (SendPageChecksums.cpp).
    void SendEditMouseDown();
    void UpdateCheckItems();
    // Sets the page's texts in the interface's language, at creation and
    // when the language changes.
    void RetranslateUi();
    void mnuAddClick();
    void mnuXorClick();
    void mnuCRCClick();

    // The send pane's font (the window's zoom keys).
    void SetEditFont(const QFont& font);

    // The page's part of the settings: the send mode and the line ending.
    void LoadSettings(const TStoredSettings& stored);
    void SaveSettings(TStoredSettings& stored) const;

    int SendMode = CharMode; // requested
    int AppliedSendMode = 0; // in effect
    THexDumpLine SendLine;   // Character mode's echo line
    // Values of the last checksum preparation, written by the menu items.
    int32_t SelSum = 0;
    uint8_t SelXor = 0;
    uint16_t SelCrc = 0;

signals:
    // A send mode took effect: 0 Character, 1 Line, 2 Modem, 3 Hex.
    void SendModeChanged(int mode);
    // Modem mode was entered (true) or left (false).
    void ModemModeChanged(bool entered);
    // The menu's script item: the window opens its script window.
    void ScriptWindowRequested();

protected:
    void changeEvent(QEvent* event) override;

private:
    TSendEdit* SendEdit = nullptr;
    QWidget* SendBar = nullptr; // beneath the pane, shown only while it has something to say
    QLabel* lblSendLeft = nullptr;
    QToolButton* BtnStopSend = nullptr;
    QMenu* PopStrMenu = nullptr;
    QAction* mnuChar = nullptr;
    QAction* mnuLine = nullptr;
    QAction* mnuModem = nullptr;
    QAction* mnuHex = nullptr;
    QMenu* mnuEnding = nullptr;
    QAction* mnuEndings[4] = {};
    // In the pane's corner: the send mode and Line mode's ending; a click offers the same
    // choices as the popup menu.
    QToolButton* BtnSendMode = nullptr;
    QAction* mnuClear = nullptr;
    QAction* mnuLoad = nullptr;
    QAction* mnuSave = nullptr;
    QAction* mnuSendFile = nullptr;
    QAction* mnuScript = nullptr; // opens the script window (Ctrl+Shift+R)
    QAction* N1 = nullptr;
    QAction* mnuNum = nullptr;
    QAction* mnuAdd = nullptr;
    QAction* mnuXor = nullptr;
    QAction* mnuCRC = nullptr;
    QAction* mnuMsg = nullptr;


    // A refused character or line: a beep and a short note at the caret.
    void RefuseInput(const QString& why);
    void WriteCheckValue(uint32_t value, int digits);
    QString NotSentText() const;
    bool DroppedUnderRts();

    void ShowSendModeButton();
    void ShowFileProgress();
    void ShowNote(const QString& text);
    bool eventFilter(QObject* watched, QEvent* event) override;

    TPageHost& Host;
    int Ending = 0;
    bool LongSend = false;           // progress is on show
    QTimer* DropNoteTimer = nullptr; // takes the note of dropped bytes away
    std::unique_ptr<TFileFeeder> FileFeed;
    QString FileName;
    QTimer* FileTimer = nullptr;  // the file's progress, while one is sent
    uint64_t FileNotHanded = 0;   // of a stopped file: added to the worker's dropped count
};

// The bytes of line ending 0..3 (none, CR, LF, CR LF), and its short name.
const char* LineEndingBytes(int ending);
const char* LineEndingName(int ending);

// The page control's image list; the send modes use entries 2 to 5.
QIcon PageImage(int index);
// The image of a send mode (TSendPage::TSendMode).
QIcon SendModeImage(int mode);

// The key filter of every hex entry field (the preamble, Hex mode, the
// protocol page's fields): a to f become upper case; digits, A to F,
// Backspace, Enter and the blank pass; every other key is swallowed.
bool EdtHeadKeyPress(QString& text);
