#pragma once

// The flash service: one shared 50 ms tick that tells every registered receiver when it is due,
// so that all controls flashing at one rate change colour on the same tick.
//
// Threads: the tick runs on the flash timer's own thread (_abproc), which the first registration
// starts and which sleeps while the table is empty; registrations
// and removals come from the GUI thread. The process-wide table is guarded by one recursive lock,
// held for a whole tick and for each registration or removal, so they never overlap, and a
// procedure receiver may remove itself while it is being served. Controls are not called on the
// timer thread: they receive a TFlashMessage posted to them, which Qt delivers on the GUI thread
// in the order of posting.

#include <QEvent>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <vector>

class QObject;

// The flash message number (the first user message number plus 100).
constexpr int WM_FLASH = 0x464;

// The flash message as a Qt event: WParam is the tick counter, LParam the state.
class TFlashMessage : public QEvent {
public:
    TFlashMessage(quint32 AWParam, qint32 ALParam)
        : QEvent(EventType()), WParam(AWParam), LParam(ALParam) {}
    static QEvent::Type EventType() { return QEvent::Type(QEvent::User + WM_FLASH); }

    const int Msg = WM_FLASH;
    const quint32 WParam;
    const qint32 LParam;
};

// A receiver called as a plain procedure with (tick counter, state), on the timer thread.
using TFlashProc = void (*)(quint32 Counter, qint32 State);

// One registration. Interval 1 to 16: a bit mask on the tick counter; 32: once a second; any
// other value: a period in milliseconds. Stamp: for a period entry the system time in ms at
// which it is next due, for a mask entry the tick counter at the previous tick.
struct TFlashRecord {
    QObject* Control = nullptr;
    TFlashProc Proc = nullptr;
    qint32 Interval = 0;
    quint32 Stamp = 0;
};

// The registration table and the tick, with no locking of its own. The clock (milliseconds since
// system start, wrapping at 2^32) and the delivery of a flash message to a control are
// injected, so that the tick can be driven step by step.
class TAbFlashList {
public:
    using TClock = std::function<quint32()>;
    using TDeliver = std::function<void(QObject* Control, quint32 WParam, qint32 LParam)>;

    // Indices are 16-bit and signed, so at most this many entries are held.
    static constexpr int MaxCount = 32767;

    TAbFlashList(TClock AClock, TDeliver ADeliver);

    void AddControl(QObject* AControl, quint32 Interval);
    void AddProc(TFlashProc AProc, quint32 Interval);
    void DelControl(QObject* AControl);
    void DelProc(TFlashProc AProc);
    void DelControlNo(qint16 Index);
    void DelProcNo(qint16 Index);
    // One tick.
    void AbFlash();

    int Count() const { return int(FList.size()); }
    int Capacity() const { return FCapacity; }
    const TFlashRecord& Items(int Index) const { return *FList[Index]; }
    // The entry the last table operation looked at; none after DelControl removed one.
    const TFlashRecord* AFlashRecord() const { return FAFlashRecord; }

    quint32 flashCounter = 0;
    // System time at which the next once-a-second beat is due.
    quint32 tickold = 0;

private:
    void Register(QObject* AControl, TFlashProc AProc, quint32 Interval);
    void Remove(int Index);
    void Notify(const TFlashRecord& Entry, qint32 State);

    std::vector<std::unique_ptr<TFlashRecord>> FList;
    int FCapacity = 0;
    TFlashRecord* FAFlashRecord = nullptr;
    TClock FClock;
    TDeliver FDeliver;
};

// Milliseconds since system start, the clock of the process-wide table.
quint32 AbTickCount();

// The process-wide table, used from the GUI thread. The first registration makes the table and
// starts the flash timer; the removals do nothing while there is no table.
void AddControl(QObject* AControl, quint32 Interval);
// Also drops flash messages already posted to the control and not yet delivered.
void DelControl(QObject* AControl);
// The number of entries in the process-wide table (0 when it does not exist).
int AbFlashCount();

// The tick of the process-wide table, and the timer callback that runs it (all arguments are
// ignored).
void AbFlash();
void ABTIMERCALLBACK(quint32 uTimerID, quint32 uMessage, quint32 dwUser, quint32 dw1, quint32 dw2);

// Stops the flash timer and frees the process-wide table with its entries; done at program end,
// and the next registration starts both again.
void AbFlashFreeTable();
