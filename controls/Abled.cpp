#include "Abled.h"

#include <QPaintEvent>
#include <QPainter>

TAbLED::TAbLED(QWidget* AParent, QObject* AOwner)
    : TAbBinGControl(AParent, AOwner), FLED(std::make_unique<TLED>()) {
    FLED->OnChange = [this](QObject* Sender) { ParamChange(Sender); };
    FLED_Position = lpLeft;
    resize(73, 33);
    SetSpacing(5);
    FCaption = objectName();
}

TAbLED::~TAbLED() {
    FLED.reset();
    DelControl(this);
}

void TAbLED::SetCaption(const QString& Value) {
    if (Value == FCaption)
        return;
    FCaption = Value;
    CMTextChanged();
}

bool TAbLED::ParentFont() const {
    return !testAttribute(Qt::WA_SetFont);
}

void TAbLED::SetParentFont(bool Value) {
    if (Value) {
        setFont(QFont());
    } else {
        QFont f = font();
        f.setResolveMask(QFont::AllPropertiesResolved);
        setFont(f);
    }
}

void TAbLED::SetFontColor(TColor Value) {
    if (Value == FFontColor)
        return;
    FFontColor = Value;
    ParamChange(this);
}

void TAbLED::SetLED_Position(TLEDPos Value) {
    if (Value == FLED_Position || Value > lpBottom)
        return;
    FLED_Position = Value;
    ParamChange(this);
}

void TAbLED::SetSpacing(int Value) {
    if (Value == FSpacing)
        return;
    FSpacing = Value;
    ParamChange(this);
}

void TAbLED::ParamChange(QObject*) {
    repaint();
}

QRect TAbLED::LedArea() const {
    const TRect r = FLED->Rect();
    return QRect(QPoint(r.Left, r.Top), QPoint(r.Right - 1, r.Bottom - 1)) & rect();
}

void TAbLED::RedrawLed(bool On) {
    if (!isVisible())
        return;
    const QRect area = LedArea();
    // Before the first paint the box is empty and nothing is drawn.
    if (area.isEmpty())
        return;
    FLedOn = On;
    FLedOnly = true;
    update(area);
}

void TAbLED::StatusChanged() {
    RedrawLed(Checked());
}

void TAbLED::Flash(bool On) {
    RedrawLed(On);
}

void TAbLED::paintEvent(QPaintEvent* Event) {
    // A redraw of the LED alone shows the colour it asked for; any other paint that reaches the
    // LED shows the checked state, whatever the flash phase.
    const QRect area = LedArea();
    bool on = Checked();
    if (Event->rect().intersects(area)) {
        if (FLedOnly && area.contains(Event->rect()))
            on = FLedOn;
        FLedOnly = false;
    }

    QPainter canvas(this);
    canvas.setFont(font());
    const int W = width(), H = height();
    const int cx = W / 2, cy = H / 2;
    int w = FLED->Width(), h = FLED->Height();
    if (FLED->Shape() == sRound)
        w = h = AbMaxInt(w, h);
    const int S = FSpacing;

    canvas.setBrush(Qt::NoBrush);
    canvas.setPen(AbColor(FFontColor));
    TRect box{0, 0, w, h};
    switch (FLED_Position) {
    case lpLeft:
        box = {0, cy - h / 2, w, cy - h / 2 + h};
        AbTextOut(canvas, w + S, cy, FCaption, toMidLeft);
        break;
    case lpRight:
        box = {W - w, cy - h / 2, W, cy - h / 2 + h};
        AbTextOut(canvas, W - w - S, cy, FCaption, toMidRight);
        break;
    case lpTop:
        box = {cx - w / 2, 0, cx - w / 2 + w, h};
        AbTextOut(canvas, cx, h + S, FCaption, toTopCenter);
        break;
    case lpBottom:
        box = {cx - w / 2, H - h, cx - w / 2 + w, H};
        AbTextOut(canvas, cx, H - h - S, FCaption, toBotCenter);
        break;
    }
    FLED->SetRect(box);
    canvas.setBrush(Qt::SolidPattern);
    FLED->Draw(canvas, on);
}
