#include "Abflasht.h"
#include "Handover.h"
#include "_abproc.h"

#include <QCoreApplication>
#include <QObject>

#include <chrono>
#include <mutex>

namespace {

// Interval values of an entry: 1 to MaxMask a bit mask, OncePerSecond the beat, anything else a
// period in milliseconds.
constexpr qint32 MaxMask = 16;
constexpr qint32 OncePerSecond = 32;
constexpr quint32 BeatMs = 1000;
// A period entry served later than this gets lateness 0 and starts afresh from the tick.
constexpr quint32 MaxLatenessMs = 1000;
// Distances of the wrapping millisecond clock at or past this are taken as having wrapped.
constexpr quint32 WrapDistance = 0x7FFFFFFFu;
// The table keeps room for at least MinSpare more entries and grows by CapacityStep.
constexpr int MinSpare = 2;
constexpr int CapacityStep = 10;

} // namespace

TAbFlashList::TAbFlashList(TClock AClock, TDeliver ADeliver)
    : FClock(std::move(AClock)), FDeliver(std::move(ADeliver)) {}

void TAbFlashList::Register(QObject* AControl, TFlashProc AProc, quint32 Interval) {
    const quint32 stamp = FClock() + Interval;
    bool found = false;
    for (auto& entry : FList) {
        if ((AControl && entry->Control == AControl) || (AProc && entry->Proc == AProc)) {
            FAFlashRecord = entry.get();
            entry->Interval = qint32(Interval);
            entry->Stamp = stamp;
            found = true;
        }
    }
    if (!found) {
        if (Count() >= MaxCount)
            return;
        // Allocated here, on the GUI thread, so that the tick never allocates.
        auto entry = std::make_unique<TFlashRecord>();
        entry->Control = AControl;
        entry->Proc = AProc;
        entry->Interval = qint32(Interval);
        entry->Stamp = stamp;
        FAFlashRecord = entry.get();
        FList.push_back(std::move(entry));
    }
    if (FCapacity - Count() < MinSpare) {
        FCapacity = Count() + CapacityStep;
        FList.reserve(FCapacity);
    }
}

void TAbFlashList::AddControl(QObject* AControl, quint32 Interval) {
    if (AControl)
        Register(AControl, nullptr, Interval);
}

void TAbFlashList::AddProc(TFlashProc AProc, quint32 Interval) {
    if (AProc)
        Register(nullptr, AProc, Interval);
}

void TAbFlashList::Remove(int Index) {
    if (FAFlashRecord == FList[Index].get())
        FAFlashRecord = nullptr;
    FList.erase(FList.begin() + Index);
}

void TAbFlashList::DelControl(QObject* AControl) {
    for (int i = 0; i < Count(); ++i) {
        if (FList[i]->Control == AControl) {
            Remove(i);
            FAFlashRecord = nullptr;
            return;
        }
    }
}

void TAbFlashList::DelProc(TFlashProc AProc) {
    for (int i = Count() - 1; i >= 0; --i) {
        if (FList[i]->Proc == AProc) {
            Remove(i);
            return;
        }
    }
}

void TAbFlashList::DelControlNo(qint16 Index) {
    if (Index >= 0 && Index < Count())
        Remove(Index);
}

void TAbFlashList::DelProcNo(qint16 Index) {
    DelControlNo(Index);
}

void TAbFlashList::Notify(const TFlashRecord& Entry, qint32 State) {
    if (Entry.Control)
        FDeliver(Entry.Control, flashCounter, State);
    else
        Entry.Proc(flashCounter, State);
}

void TAbFlashList::AbFlash() {
    flashCounter = flashCounter == 0xFFFFFFFFu ? 0 : flashCounter + 1;
    const quint32 now = FClock();
    const bool beat = now >= tickold;
    if (beat)
        tickold = now + BeatMs;

    const int count = Count();
    for (int i = 0; i < count; ++i) {
        // A receiver may have removed entries while being served: the entry that followed it
        // moved into its index and waits for the next tick, and indices past the end are
        // skipped.
        if (i >= Count())
            continue;
        TFlashRecord& entry = *FList[i];
        if (!entry.Control && !entry.Proc)
            continue;
        try {
            if (entry.Interval >= 1 && entry.Interval <= MaxMask) {
                const quint32 mask = quint32(entry.Interval);
                const quint32 bit = flashCounter & mask;
                const bool changed = (entry.Stamp & mask) != bit;
                entry.Stamp = flashCounter;
                if (changed)
                    Notify(entry, bit ? -1 : 0);
            } else if (entry.Interval == OncePerSecond) {
                if (beat)
                    Notify(entry, 0);
            } else {
                const qint32 d = qint32(now - entry.Stamp);
                // |d| computed without overflow: -2^31 has no positive int32.
                quint32 a = d < 0 ? 0u - quint32(d) : quint32(d);
                if (entry.Stamp <= now || a >= WrapDistance) {
                    const qint32 lateness = a < WrapDistance ? d : 0;
                    if (a > MaxLatenessMs)
                        a = 0;
                    const quint32 interval = quint32(entry.Interval);
                    entry.Stamp = lateness >= 0 ? interval + now - a : interval + now + a;
                    Notify(entry, entry.Control ? qint32(a) : 0);
                }
            }
        } catch (...) {
            // A failing receiver ends the service of its own entry only.
        }
    }
}

quint32 AbTickCount() {
    using namespace std::chrono;
    // steady_clock is CLOCK_MONOTONIC on Linux: time since boot.
    return quint32(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// ---- The process-wide table ----

namespace {

std::recursive_mutex& TableLock() {
    static std::recursive_mutex lock;
    return lock;
}

// Guarded by TableLock; constant-initialised, so it is safe before any constructor has run.
TAbFlashList* dynFlashList = nullptr;

void PostFlash(QObject* Control, quint32 WParam, qint32 LParam) {
    // Runs on the timer thread, under TableLock: the control cannot be destroyed meanwhile,
    // because its destructor removes it from the table first.
    auto* message = new TFlashMessage(WParam, LParam);
    HandOver();
    QCoreApplication::postEvent(Control, message);
}

// The timer's tick: true while anything is registered.
bool FlashTimerTick() {
    ABTIMERCALLBACK(0, 0, 0, 0, 0);
    return AbFlashCount() > 0;
}

// The table for a registration, made with its first one; under TableLock.
TAbFlashList& Table() {
    if (!dynFlashList) {
        // Frees the table at program end, after the timer has stopped: made after TableLock,
        // so it goes before it.
        static struct TAtExit {
            ~TAtExit() { AbFlashFreeTable(); }
        } atExit;
        dynFlashList = new TAbFlashList(AbTickCount, PostFlash);
    }
    return *dynFlashList;
}

} // namespace

void AbFlashFreeTable() {
    // The timer first: no tick may run on a freed table.
    AbStopFlashTimer();
    std::lock_guard lock(TableLock());
    delete dynFlashList;
    dynFlashList = nullptr;
}

void AddControl(QObject* AControl, quint32 Interval) {
    if (!AControl)
        return;
    {
        std::lock_guard lock(TableLock());
        Table().AddControl(AControl, Interval);
    }
    AbStartFlashTimer(FlashTimerTick); // outside the table's lock: the timer takes it to tick
}

void DelControl(QObject* AControl) {
    {
        std::lock_guard lock(TableLock());
        if (dynFlashList)
            dynFlashList->DelControl(AControl);
    }
    // No tick can post to the control any more; drop what is still queued, so that a control
    // that stopped flashing does not blink once more.
    if (AControl && QCoreApplication::instance())
        QCoreApplication::removePostedEvents(AControl, TFlashMessage::EventType());
}

int AbFlashCount() {
    std::lock_guard lock(TableLock());
    return dynFlashList ? dynFlashList->Count() : 0;
}

void AbFlash() {
    std::lock_guard lock(TableLock());
    if (dynFlashList)
        dynFlashList->AbFlash();
}

void ABTIMERCALLBACK(quint32, quint32, quint32, quint32, quint32) {
    AbFlash();
}
