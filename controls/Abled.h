#pragma once

// TAbLED: an LED shape in an on or off colour beside a one-line caption. It paints only the LED
// and the caption (the parent shows through), never takes the focus, and looks the same when
// disabled (disabling only stops mouse input). GUI thread only.

#include "_gclass.h"

#include <QFont>
#include <QString>

#include <memory>

class TAbLED : public TAbBinGControl {
    Q_OBJECT
public:
    // AOwner, by default AParent, decides the group membership (see TAbBinGControl).
    explicit TAbLED(QWidget* AParent = nullptr, QObject* AOwner = nullptr);
    ~TAbLED() override;

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& Value);
    QFont Font() const { return font(); }
    void SetFont(const QFont& Value) { setFont(Value); }
    // True while the caption follows the parent's font.
    bool ParentFont() const;
    void SetParentFont(bool Value);
    // The caption's colour (a Qt font has none of its own).
    TColor FontColor() const { return FFontColor; }
    void SetFontColor(TColor Value);
    TLED* LED() const { return FLED.get(); }
    TLEDPos LED_Position() const { return FLED_Position; }
    void SetLED_Position(TLEDPos Value);
    // Gap in pixels between the LED and the caption; any value is taken.
    int Spacing() const { return FSpacing; }
    void SetSpacing(int Value);

    // Repaints the whole control at once.
    void ParamChange(QObject* Sender) override;
    // Redraws only the LED, in ColorOn when checked.
    void StatusChanged() override;
    // Redraws only the LED, in ColorOn when On.
    void Flash(bool On) override;

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    // The LED's box as a widget rectangle, clipped to the control.
    QRect LedArea() const;
    void RedrawLed(bool On);

    std::unique_ptr<TLED> FLED;
    TLEDPos FLED_Position = lpLeft;
    int FSpacing = 0;
    QString FCaption;
    TColor FFontColor = clWindowText;
    // A redraw of the LED alone is pending, in the colour FLedOn says.
    bool FLedOnly = false;
    bool FLedOn = false;
};
