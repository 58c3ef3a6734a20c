#pragma once
// THistoryJob: one save or open of a history file, run on a thread of its own
// so that the window keeps receiving and answering. A progress dialog with a
// cancel button shows once the job has taken ShowAfterMs.
//
// Threads: the work function runs on the job's thread and must touch nothing
// of the window; what it needs it owns (a snapshot, a fresh store). Everything
// else, Finished included, happens on the thread that made the job (the
// window's). The progress figures and the cancel flag cross over as atomics in
// a state the job and its thread share; the way back (TPostedCalls) sits behind
// a lock. Cancel and the destructor never wait for the thread: a read or write
// that blocks (a stalled network mount) would hold the window for ever. The
// thread is left to end by itself; it owns its work and the shared state, so
// it outlives the job safely, and its result then goes nowhere.

#include "Rtf.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QProgressDialog;
class QWidget;

class THistoryJob : public QObject {
    Q_OBJECT
public:
    using TWork = std::function<TFileResult(const TFileProgress& progress)>;
    static constexpr int ShowAfterMs = 500;

    THistoryJob(QWidget* parent, const QString& title, TWork work);
    ~THistoryJob() override;

    // As the dialog's cancel button: the work sees it at its next progress
    // call; the job ends at once with Cancelled, without waiting for it.
    void Cancel();
    bool Running() const { return IsRunning; }
    // The dialog, once shown (for tests); null before.
    QProgressDialog* Dialog() const;

signals:
    // The work has ended and its thread is joined, or the job was cancelled
    // (Cancelled) and its thread left to end by itself. Emitted once.
    void Finished(TFileResult result);

private:
    struct TShared;
    void Poll();
    void Done(TFileResult result);
    // Lets the thread go: it posts nothing more to this job.
    void Abandon();

    QWidget* Parent;
    QString Title;
    std::thread Thread;
    std::shared_ptr<TShared> Shared;
    bool IsRunning = true;
    QTimer PollTimer;
    int Polled = 0;
    QPointer<QProgressDialog> ProgressBox;
};
