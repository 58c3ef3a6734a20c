#pragma once

// Base classes of the control family: the settings object with a change event (TAbPersistent),
// the LED's appearance (TLED) and the two-state control model (TAbBinGControl).
//
// Threads: everything here runs on the GUI thread. The flash service's tick runs on its own
// thread and reaches a control only as a posted flash message.

#include "Abflasht.h"
#include "_abproc.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QPainter;

// An event with its sender; called only when assigned.
using TNotifyEvent = std::function<void(QObject* Sender)>;
// A mouse event: sender, button, keyboard modifiers, position in the control.
using TMouseEvent = std::function<void(QObject* Sender, Qt::MouseButton Button,
                                       Qt::KeyboardModifiers Shift, int X, int Y)>;
using TMouseMoveEvent =
    std::function<void(QObject* Sender, Qt::KeyboardModifiers Shift, int X, int Y)>;

enum TMode : quint8 { mButton, mSwitch, mIndicator, mRadioButton };
enum TFlashFreq : quint8 { ff8Hz, ff4Hz, ff2Hz, ff1Hz, ff05Hz };
enum TLEDPos : quint8 { lpLeft, lpRight, lpTop, lpBottom };

// A settings object that tells its owner of every change.
class TAbPersistent : public QObject {
public:
    TNotifyEvent OnChange;

    // Raises OnChange with this object as the sender.
    virtual void Change();
    // Raises OnChange with Sender as the sender.
    virtual void ChangeObject(QObject* Sender);
};

// The LED's appearance. Every write of a different, accepted value calls Change.
class TLED : public TAbPersistent {
public:
    TLEDShape Shape() const { return FShape; }
    void SetShape(TLEDShape Value);
    TColor ColorOn() const { return FColorOn; }
    void SetColorOn(TColor Value);
    TColor ColorOff() const { return FColorOff; }
    void SetColorOff(TColor Value);
    // 4 to 30 pixels; other values are ignored.
    int Width() const { return FWidth; }
    void SetWidth(int Value);
    int Height() const { return FHeight; }
    void SetHeight(int Value);
    // The LED's box in the owning control as the last paint laid it out; not a setting, so
    // setting it raises no change.
    TRect Rect() const { return FRect; }
    void SetRect(const TRect& Value) { FRect = Value; }

    // Draws the LED at Rect in ColorOn or ColorOff.
    void Draw(QPainter& Canvas, bool On) const;

private:
    TLEDShape FShape = sRound;
    TColor FColorOn = clLime;
    TColor FColorOff = clBtnFace;
    int FWidth = 13;
    int FHeight = 13;
    TRect FRect;
};

// The two-state control: Checked mirrored into bit StatusBit of the 32-bit StatusInt, exclusive
// groups, click modes and flashing.
//
// Owner: each control has an owner (by default its parent). The owner's components are all the
// family's controls with that owner, whatever their parent, in the order of their construction;
// groups are formed among them. A control without an owner forms a group of its own.
class TAbBinGControl : public QWidget {
    Q_OBJECT
public:
    explicit TAbBinGControl(QWidget* AParent = nullptr, QObject* AOwner = nullptr);
    ~TAbBinGControl() override;

    QObject* Owner() const { return FOwner; }
    // The family's controls of AOwner in the owner's order.
    static QList<TAbBinGControl*> OwnerComponents(const QObject* AOwner);

    bool Checked() const { return FChecked; }
    void SetChecked(bool Value);
    TFlashFreq Frequency() const { return FFrequency; }
    void SetFrequency(TFlashFreq Value);
    bool Flashing() const { return FFlashing; }
    void SetFlashing(bool Value);
    qint32 StatusInt() const { return FStatusInt; }
    void SetStatusInt(qint32 Value);
    // 0 to 31; other values are ignored.
    qint32 StatusBit() const { return FStatusBit; }
    void SetStatusBit(qint32 Value);
    // 0 = no group; negative values are ignored.
    qint32 GroupIndex() const { return FGroupIndex; }
    void SetGroupIndex(qint32 Value);
    TMode Mode() const { return FMode; }
    void SeTMode(TMode Value);
    // True between a left press that the mode handles and its release.
    bool Pressed() const { return FPressed; }

    // True while a group update is being spread (one flag for the whole family).
    static bool GroupUpdate();

    TNotifyEvent OnStatusChanged;
    TNotifyEvent OnStatusIntChanged;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

    virtual void ParamChange(QObject* Sender);
    virtual void StatusChanged();
    virtual void GroupIndexChanged();
    virtual void StatusIntChanged();
    virtual void Flash(bool On);

protected:
    // The text-changed notification: the caption changed.
    void CMTextChanged();
    // The flash message: calls Flash with On = (LParam is not 0).
    void WMFlash(const TFlashMessage& Message);
    virtual void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    virtual void MouseUp(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);
    virtual void Click();
    virtual void DblClick();

    bool event(QEvent* Event) override;
    void mousePressEvent(QMouseEvent* Event) override;
    void mouseDoubleClickEvent(QMouseEvent* Event) override;
    void mouseReleaseEvent(QMouseEvent* Event) override;
    void mouseMoveEvent(QMouseEvent* Event) override;

private:
    void StartFlashing();
    void GetGroupStatusInt();
    void DetachOwner();

    bool FChecked = false;
    TFlashFreq FFrequency = ff1Hz;
    bool FFlashing = false;
    qint32 FStatusInt = 0;
    qint32 FStatusBit = 0;
    qint32 FGroupIndex = 0;
    TMode FMode = mIndicator;
    bool FPressed = false;
    // A left press on the control that its release turns into a click.
    bool FClicked = false;
    QPointer<QObject> FOwner;
};
