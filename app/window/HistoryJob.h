#pragma once
// THistoryJob: one save or open of a history file, run on a thread of its own
// so that the window keeps receiving and answering. A progress dialog with a
// cancel button shows once the job has taken ShowAfterMs.
//
// Threads: the work function runs on the job's thread and must touch nothing
// of the window; what it needs it owns (a snapshot, a fresh store). Everything
// else, Finished included, happens on the thread that made the job (the
// window's). The progress figures cross over as atomics. Destroying a job that
// is still running cancels it and waits for its thread.

#include "Rtf.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
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

    // As the dialog's cancel button: the work sees it at its next progress call.
    void Cancel();
    bool Running() const { return IsRunning; }
    // The dialog, once shown (for tests); null before.
    QProgressDialog* Dialog() const;

signals:
    // The work has ended and its thread is joined.
    void Finished(TFileResult result);

private:
    void Poll();
    void Done(TFileResult result);

    QWidget* Parent;
    QString Title;
    std::thread Thread;
    std::atomic<bool> CancelAsked{false};
    std::atomic<int64_t> DoneCount{0};
    std::atomic<int64_t> Total{0};
    bool IsRunning = true;
    QTimer PollTimer;
    int Polled = 0;
    QPointer<QProgressDialog> ProgressBox;
};
