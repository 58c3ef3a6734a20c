// The LED control family on one window: every shape, position, size and mode, flashing at every
// rate, and the window's five toggles at their own sizes. Click the LEDs to try the modes.

#include "Abdbctrls.h"
#include "Abled.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace {

QGroupBox* Section(QWidget* Parent, const QString& Title, int Height) {
    auto* box = new QGroupBox(Title, Parent);
    box->setMinimumHeight(Height);
    Parent->layout()->addWidget(box);
    return box;
}

TAbLED* Led(QWidget* Parent, int X, int Y, int W, int H, const QString& Caption) {
    auto* led = new TAbLED(Parent);
    led->setGeometry(X, Y, W, H);
    led->SetCaption(Caption);
    led->setCursor(Qt::PointingHandCursor);
    return led;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("LED gallery"));
    new QVBoxLayout(&window);

    // Shapes, off and on.
    QGroupBox* shapes = Section(&window, QStringLiteral("Shapes (off / on)"), 80);
    const char* shapeNames[] = {"round", "left", "right", "up", "down", "rect"};
    for (int s = 0; s <= sRectangle; ++s)
        for (int on = 0; on < 2; ++on) {
            TAbLED* led = Led(shapes, 10 + s * 162 + on * 80, 25, 78, 20,
                              QString::fromLatin1(shapeNames[s]) + (on ? " on" : " off"));
            led->LED()->SetShape(TLEDShape(s));
            led->SetChecked(on);
        }
    // Sizes and colours.
    QGroupBox* sizes = Section(&window, QStringLiteral("Sizes and colours"), 80);
    const int sizeList[] = {4, 8, 13, 20, 30};
    const TColor colours[] = {clRed, clYellow, clLime, clBlue, 0x0000A5FF};
    for (int i = 0; i < 5; ++i) {
        TAbLED* round = Led(sizes, 10 + i * 95, 22, 90, 34, QString::number(sizeList[i]) + " px");
        round->LED()->SetWidth(sizeList[i]);
        round->LED()->SetHeight(sizeList[i]);
        round->LED()->SetColorOn(colours[i]);
        round->SetChecked(true);
        TAbLED* rect = Led(sizes, 490 + i * 95, 22, 90, 34, QStringLiteral("rect"));
        rect->LED()->SetShape(sRectangle);
        rect->LED()->SetWidth(sizeList[i]);
        rect->LED()->SetHeight(30 - sizeList[i] + 4);
        rect->LED()->SetColorOn(colours[4 - i]);
        rect->SetChecked(i % 2 == 0);
    }

    // Caption positions, on a tinted panel so that the controls' bounds show.
    QGroupBox* positions =
        Section(&window, QStringLiteral("LED_Position (tinted: the control)"), 80);
    const char* posNames[] = {"lpLeft", "lpRight", "lpTop", "lpBottom"};
    for (int p = 0; p <= lpBottom; ++p) {
        auto* tint = new QLabel(positions);
        tint->setGeometry(10 + p * 130, 22, 110, 48);
        tint->setStyleSheet(QStringLiteral("background: #dde6f0"));
        TAbLED* led = Led(positions, 10 + p * 130, 22, 110, 48, QString::fromLatin1(posNames[p]));
        led->SetLED_Position(TLEDPos(p));
        led->SetChecked(p % 2 == 1);
    }

    // Modes: push button, switch, indicator, and a radio group.
    QGroupBox* modes = Section(&window, QStringLiteral("Modes (click them)"), 60);
    TAbLED* button = Led(modes, 10, 25, 90, 20, QStringLiteral("mButton"));
    button->SeTMode(mButton);
    TAbLED* sw = Led(modes, 110, 25, 90, 20, QStringLiteral("mSwitch"));
    sw->SeTMode(mSwitch);
    sw->SetChecked(true);
    TAbLED* indicator = Led(modes, 210, 25, 120, 20, QStringLiteral("mIndicator"));
    indicator->OnClick = [indicator](QObject*) { indicator->SetChecked(!indicator->Checked()); };
    for (int i = 0; i < 3; ++i) {
        TAbLED* radio =
            Led(modes, 340 + i * 100, 25, 95, 20, QStringLiteral("radio bit %1").arg(i));
        radio->LED()->SetColorOn(clYellow);
        radio->SeTMode(mRadioButton);
        radio->SetStatusBit(i);
        radio->SetGroupIndex(1);
    }
    TAbLED* disabled = Led(modes, 650, 25, 130, 20, QStringLiteral("disabled, on"));
    disabled->SetChecked(true);
    disabled->setEnabled(false);

    // Flashing at every rate.
    QGroupBox* flashing = Section(&window, QStringLiteral("Flashing"), 60);
    const char* freqNames[] = {"ff8Hz", "ff4Hz", "ff2Hz", "ff1Hz", "ff05Hz"};
    for (int f = 0; f <= ff05Hz; ++f) {
        TAbLED* led = Led(flashing, 10 + f * 100, 25, 95, 20, QString::fromLatin1(freqNames[f]));
        led->LED()->SetColorOn(clRed);
        led->SetFrequency(TFlashFreq(f));
        led->SetFlashing(true);
        led->SetChecked(true);
    }

    // The window's toggles at their own geometry (offset into the box).
    QGroupBox* toggles = Section(&window, QStringLiteral("The window's toggles"), 110);
    // A 12-pixel font, as the window's: a taller one is clipped by the 11-pixel high chkRTS.
    QFont windowFont = toggles->font();
    windowFont.setPixelSize(12);
    toggles->setFont(windowFont);
    struct Toggle {
        const char* Caption;
        int Y, W, H;
        bool Checked;
    };
    const Toggle list[] = {{"开/关RTS", 20, 77, 11, true},
                           {"开/关DTR", 38, 93, 13, false},
                           {"发送时控制RTS", 54, 105, 17, true},
                           {"启用前导码", 78, 85, 13, false}};
    for (const Toggle& t : list) {
        TAbLED* led = Led(toggles, 8, t.Y, t.W, t.H, QString::fromUtf8(t.Caption));
        led->SetChecked(t.Checked);
        led->OnClick = [led](QObject*) { led->SetChecked(!led->Checked()); };
    }
    auto* chkErr = new TAbDBLED(toggles);
    chkErr->setGeometry(160, 20, 99, 17);
    chkErr->SetCaption(QStringLiteral("开始统计"));
    QFont song(QStringLiteral("宋体"));
    song.setPixelSize(12);
    chkErr->setFont(song);
    chkErr->SetFontColor(clBlack);
    chkErr->setCursor(Qt::PointingHandCursor);
    chkErr->OnClick = [chkErr](QObject*) { chkErr->SetChecked(!chkErr->Checked()); };

    window.resize(1000, 600);
    window.show();
    return app.exec();
}
