#pragma once
// TProtocolPage: the fourth tab. Builds frames of the small routed radio
// protocol (header with source, destination, command, route and data lengths
// and a CRC-16; route and data body with a CRC-16 of its own) and sends them
// once or at an interval. Window thread only.

#include <QWidget>

#include <cstdint>
#include <vector>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TPageHost;

class TProtocolPage : public QWidget {
    Q_OBJECT
public:
    TProtocolPage(TPageHost& host, QWidget* parent = nullptr);

    // ---- handlers, callable from code exactly as the user's action ----
    void BtnSendClick();
    void VMRouterMouseDown();
    void VMDataMouseDown();
    void BtnVMStartClick();
    void BtnVMStopClick();
    void TimerVMTimer();

    // The frame the fields make, the fields rewritten in their normal form;
    // empty (fields untouched, the field at fault marked) when a packet is
    // longer than the frame can carry.
    std::vector<uint8_t> BuildFrame();

    // Sets the page's texts in the interface's language, at creation and
    // when the language changes.
    void RetranslateUi();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label11 = nullptr;
    QLineEdit* EdtSour = nullptr;
    QLineEdit* EdtDes = nullptr;
    QLineEdit* EdtCmd = nullptr;
    QLineEdit* EdtBY = nullptr;
    QPlainTextEdit* VMRouter = nullptr;
    QPlainTextEdit* VMData = nullptr;
    QPushButton* BtnSend = nullptr;
    QGroupBox* GrpVM = nullptr;
    QLabel* Label12 = nullptr;
    QLineEdit* EdtVMTime = nullptr;
    QPushButton* BtnVMStart = nullptr;
    QPushButton* BtnVMStop = nullptr;
    QTimer* TimerVM = nullptr;


    void ShowCountCaption();
    // Parses a packet field and writes it back normalised; false when it holds
    // more than limit bytes (the field is then left as typed, and marked).
    bool ReadPacket(QPlainTextEdit* field, uint32_t limit, std::vector<uint8_t>& bytes);
    void ShowLengthHint(QPlainTextEdit* field);
    uint32_t NextInterval();

    TPageHost& Host;
    uint32_t LastInterval = 2000;
    uint32_t ShownCount = 0; // ticks in the timed group's caption; 0: none shown
};
