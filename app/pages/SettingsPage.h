#pragma once
// TSettingsPage: the third tab. The port group (port, rate, parity), the apply
// button, the port map, the interface's language and the help text of the
// keys. Window thread only.

#include "PortMap.h"

#include <QWidget>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QToolButton;
class TPageHost;

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

protected:
    void changeEvent(QEvent* event) override;

private:
    void PopulatePortTips();
    bool ShownReleased = false; // what btnConnect says

    TPageHost& Host;
};

// What is wrong with a port-map entry, for the map dialog; empty when it can
// be used (paths and loopback are taken as they are, network targets read).
QString PortTargetProblem(const QString& target);
