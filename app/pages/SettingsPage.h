#pragma once
// TSettingsPage: the third tab. The port group (port, rate, parity), the apply
// button, the port map, the interface's language and the help text of the
// keys. Window thread only.

#include "PortMap.h"

#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class TPageHost;
struct TCmdLine;
struct TStoredSettings;

class TSettingsPage : public QWidget {
    Q_OBJECT
public:
    TSettingsPage(TPageHost& host, QWidget* parent = nullptr);

    // Applies the three lists to the worker and reopens the port.
    void btnUpdateClick();
    void btnPortMapClick();
    // Lets go of the port or takes it back (another program may use it meanwhile).
    void btnConnectClick();
    // Data bits, stop bits and flow control, in a small dialog.
    void btnLineClick();
    // Applies them to the worker; false, with nothing changed, when the device refuses.
    bool ApplyLine(int byteSize, int stopBits, int flow);
    // The user chose the interface's language: it applies at once and is kept
    // with the settings.
    void CboLanguageSelect(int index);
    // Sets the page's texts in the interface's language, at creation and
    // when the language changes.
    void RetranslateUi();
    // The connect button says what a click does.
    void ShowConnected(bool released);

    // The map the worker opens ports by; each COM item's tip names its device.
    TPortMap PortMap() const;
    void SetPortMap(const TPortMap& map);

    // The keys' steps: the next port, the next of the first eight rates, the
    // next parity, each applied at once; after the last item the first.
    void NextPort();
    void NextRate();
    void NextParity();
    // The worker's rate or parity has been set elsewhere (by a script): the lists show it and
    // the status panel is told; the worker is not touched again.
    void ShowBaudRate(uint32_t rate);
    void ShowParity(int parity);
    // The port group can be changed only while its page is on show.
    void SetPortGroupEnabled(bool on);

    // The page's part of the settings: port, rate, parity, port map, line,
    // language. Loading applies them to the worker and opens the port.
    void LoadSettings(const TStoredSettings& stored);
    void SaveSettings(TStoredSettings& stored) const;
    // The command line's choices for this run: COM1 on another device, a
    // rate, a parity, the language list. SaveSettings keeps what was stored
    // for each of them unless the user changes it during the run.
    void ApplyCommandLine(const TCmdLine& line);

signals:
    // The port, its line or its state changed: whoever shows them reads them again.
    void PortSettingsChanged();

protected:
    void changeEvent(QEvent* event) override;

private:
    QWidget* GrpCom = nullptr;
    QComboBox* CboPort = nullptr;
    QComboBox* CboBps = nullptr;
    QComboBox* CboParity = nullptr;
    QPushButton* btnUpdate = nullptr;
    QToolButton* btnPortMap = nullptr;
    QToolButton* btnConnect = nullptr;
    QToolButton* btnLine = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QComboBox* CboLanguage = nullptr; // 0 中文, 1 English
    QLabel* lblLanguage = nullptr;
    QLabel* Captions[3] = {}; // of the port group's three lists


    void PopulatePortTips();
    bool ShownReleased = false; // what btnConnect says
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

    TPageHost& Host;
};

// What is wrong with a port-map entry, for the map dialog; empty when it can
// be used (paths and loopback are taken as they are, network targets read).
QString PortTargetProblem(const QString& target);
