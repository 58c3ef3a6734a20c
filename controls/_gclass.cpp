#include "_gclass.h"

#include <QHash>
#include <QMouseEvent>
#include <QPainter>

// ---- TAbPersistent, TLED ----

void TAbPersistent::Change() {
    if (OnChange)
        OnChange(this);
}

void TAbPersistent::ChangeObject(QObject* Sender) {
    if (OnChange)
        OnChange(Sender);
}

void TLED::SetShape(TLEDShape Value) {
    if (Value == FShape || Value > sRectangle)
        return;
    FShape = Value;
    Change();
}

void TLED::SetColorOn(TColor Value) {
    if (Value == FColorOn)
        return;
    FColorOn = Value;
    Change();
}

void TLED::SetColorOff(TColor Value) {
    if (Value == FColorOff)
        return;
    FColorOff = Value;
    Change();
}

void TLED::SetWidth(int Value) {
    if (Value == FWidth || Value < 4 || Value > 30)
        return;
    FWidth = Value;
    Change();
}

void TLED::SetHeight(int Value) {
    if (Value == FHeight || Value < 4 || Value > 30)
        return;
    FHeight = Value;
    Change();
}

void TLED::Draw(QPainter& Canvas, bool On) const {
    AbDrawLED(Canvas, FRect, FShape, clBtnShadow, On ? FColorOn : FColorOff);
}

// ---- TAbBinGControl ----

namespace {

bool FGroupUpdate = false;

// The owners' component lists, keyed by owner. GUI thread only.
QHash<const QObject*, QList<TAbBinGControl*>>& Components() {
    static QHash<const QObject*, QList<TAbBinGControl*>> components;
    return components;
}

void Unregister(const QObject* Owner, TAbBinGControl* Control) {
    auto it = Components().find(Owner);
    if (it == Components().end())
        return;
    it->removeOne(Control);
    if (it->isEmpty())
        Components().erase(it);
}

qint32 Bit(qint32 Index) {
    return qint32(quint32(1) << Index);
}

} // namespace

TAbBinGControl::TAbBinGControl(QWidget* AParent, QObject* AOwner)
    : QWidget(AParent), FOwner(AOwner ? AOwner : AParent) {
    setFocusPolicy(Qt::NoFocus);
    if (FOwner) {
        Components()[FOwner].append(this);
        // An owner that is not the parent may go first: the control then has no owner.
        connect(FOwner, &QObject::destroyed, this, [this] { DetachOwner(); });
    }
}

TAbBinGControl::~TAbBinGControl() {
    DelControl(this);
    DetachOwner();
}

void TAbBinGControl::DetachOwner() {
    if (FOwner)
        Unregister(FOwner, this);
    else
        // The owner is being destroyed: QPointer has let go already, so find the entry by value.
        for (auto it = Components().begin(); it != Components().end(); ++it)
            if (it->contains(this)) {
                Unregister(it.key(), this);
                break;
            }
    FOwner = nullptr;
}

QList<TAbBinGControl*> TAbBinGControl::OwnerComponents(const QObject* AOwner) {
    return Components().value(AOwner);
}

bool TAbBinGControl::GroupUpdate() {
    return FGroupUpdate;
}

void TAbBinGControl::SetChecked(bool Value) {
    if (Value == FChecked)
        return;
    FChecked = Value;
    if (FChecked && FFlashing)
        StartFlashing();
    else
        DelControl(this);
    if (FChecked) {
        if (FMode == mRadioButton)
            SetStatusInt(Bit(FStatusBit));
        else
            SetStatusInt(FStatusInt | Bit(FStatusBit));
    } else if (FMode != mRadioButton) {
        SetStatusInt(FStatusInt & ~Bit(FStatusBit));
    }
    StatusChanged();
    if (OnStatusChanged)
        OnStatusChanged(this);
}

void TAbBinGControl::SetStatusInt(qint32 Value) {
    if (Value == FStatusInt)
        return;
    FStatusInt = Value;
    SetChecked((FStatusInt & Bit(FStatusBit)) != 0);
    StatusIntChanged();
    if (OnStatusIntChanged)
        OnStatusIntChanged(this);
    if (FGroupIndex == 0 || FGroupUpdate)
        return;

    struct TGroupUpdateScope {
        TGroupUpdateScope() { FGroupUpdate = true; }
        ~TGroupUpdateScope() { FGroupUpdate = false; }
    } scope;
    // A handler may create or destroy controls during the walk: walk a snapshot, skipping the
    // controls that are gone.
    QList<QPointer<TAbBinGControl>> members;
    const QList<TAbBinGControl*> components =
        FOwner ? OwnerComponents(FOwner) : QList<TAbBinGControl*>{this};
    for (TAbBinGControl* c : components)
        members.append(c);
    for (const QPointer<TAbBinGControl>& c : members)
        if (c && c->FGroupIndex == FGroupIndex)
            c->SetStatusInt(FStatusInt);
}

void TAbBinGControl::SetStatusBit(qint32 Value) {
    if (Value == FStatusBit || Value < 0 || Value > 31)
        return;
    FStatusBit = Value;
    SetChecked((FStatusInt & Bit(FStatusBit)) != 0);
}

void TAbBinGControl::SetGroupIndex(qint32 Value) {
    if (Value == FGroupIndex || Value < 0)
        return;
    FGroupIndex = Value;
    if (FGroupIndex != 0)
        GetGroupStatusInt();
    GroupIndexChanged();
}

void TAbBinGControl::GetGroupStatusInt() {
    const QList<TAbBinGControl*> components =
        FOwner ? OwnerComponents(FOwner) : QList<TAbBinGControl*>{this};
    for (TAbBinGControl* c : components) {
        if (c->FGroupIndex == FGroupIndex) {
            SetStatusInt(c->FStatusInt);
            return;
        }
    }
}

void TAbBinGControl::SeTMode(TMode Value) {
    if (Value > mRadioButton)
        return;
    FMode = Value;
    if (FMode == mButton)
        SetStatusInt(0);
    else if (FMode == mRadioButton)
        SetStatusInt(1);
}

void TAbBinGControl::StartFlashing() {
    // ff8Hz .. ff05Hz: bits 0 to 4 of the tick counter.
    AddControl(this, quint32(1) << FFrequency);
}

void TAbBinGControl::SetFlashing(bool Value) {
    if (Value == FFlashing)
        return;
    FFlashing = Value;
    if (FChecked && FFlashing)
        StartFlashing();
    else
        DelControl(this);
    StatusChanged();
    if (OnStatusChanged)
        OnStatusChanged(this);
}

void TAbBinGControl::SetFrequency(TFlashFreq Value) {
    if (Value > ff05Hz)
        return;
    FFrequency = Value;
    if (FChecked && FFlashing)
        StartFlashing();
}

void TAbBinGControl::ParamChange(QObject*) {}
void TAbBinGControl::StatusChanged() {}
void TAbBinGControl::GroupIndexChanged() {}
void TAbBinGControl::StatusIntChanged() {}
void TAbBinGControl::Flash(bool) {}

void TAbBinGControl::CMTextChanged() {
    ParamChange(this);
}

void TAbBinGControl::WMFlash(const TFlashMessage& Message) {
    Flash(Message.LParam != 0);
}

bool TAbBinGControl::event(QEvent* Event) {
    if (Event->type() == TFlashMessage::EventType()) {
        WMFlash(static_cast<const TFlashMessage&>(*Event));
        return true;
    }
    return QWidget::event(Event);
}

void TAbBinGControl::MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y) {
    if (OnMouseDown)
        OnMouseDown(this, Button, Shift, X, Y);
    if (Button != Qt::LeftButton || FMode == mIndicator)
        return;
    FPressed = true;
    switch (FMode) {
    case mButton:
        SetChecked(true);
        break;
    case mSwitch:
        SetChecked(!FChecked);
        break;
    case mRadioButton:
        SetStatusInt(Bit(FStatusBit));
        break;
    case mIndicator:
        break;
    }
}

void TAbBinGControl::MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y) {
    if (OnMouseUp)
        OnMouseUp(this, Button, Shift, X, Y);
    if (Button != Qt::LeftButton || FMode == mIndicator)
        return;
    FPressed = false;
    if (FMode == mButton)
        SetChecked(false);
    StatusChanged();
}

void TAbBinGControl::Click() {
    if (OnClick)
        OnClick(this);
}

void TAbBinGControl::DblClick() {
    if (OnDblClick)
        OnDblClick(this);
}

void TAbBinGControl::mousePressEvent(QMouseEvent* Event) {
    // The second press of a double click arrives as a double-click event.
    if (Event->flags().testFlag(Qt::MouseEventCreatedDoubleClick))
        return;
    if (Event->button() == Qt::LeftButton)
        FClicked = true;
    const QPoint p = Event->position().toPoint();
    MouseDown(Event->button(), Event->modifiers(), p.x(), p.y());
}

void TAbBinGControl::mouseDoubleClickEvent(QMouseEvent* Event) {
    const QPoint p = Event->position().toPoint();
    if (Event->button() == Qt::LeftButton) {
        // No click follows the release of a double click.
        FClicked = false;
        DblClick();
    }
    MouseDown(Event->button(), Event->modifiers(), p.x(), p.y());
}

void TAbBinGControl::mouseReleaseEvent(QMouseEvent* Event) {
    const QPoint p = Event->position().toPoint();
    if (Event->button() == Qt::LeftButton && FClicked) {
        FClicked = false;
        if (rect().contains(p))
            Click();
    }
    MouseUp(Event->button(), Event->modifiers(), p.x(), p.y());
}

void TAbBinGControl::mouseMoveEvent(QMouseEvent* Event) {
    if (OnMouseMove) {
        const QPoint p = Event->position().toPoint();
        OnMouseMove(this, Event->modifiers(), p.x(), p.y());
    }
}
