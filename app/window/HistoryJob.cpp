#include "HistoryJob.h"

#include "Handover.h"

#include <QProgressDialog>

namespace {
constexpr int PollMs = 100;
constexpr int Steps = 1000; // the dialog's range
} // namespace

THistoryJob::THistoryJob(QWidget* parent, const QString& title, TWork work)
    : QObject(parent), Parent(parent), Title(title) {
    PollTimer.setInterval(PollMs);
    connect(&PollTimer, &QTimer::timeout, this, &THistoryJob::Poll);
    PollTimer.start();
    auto* calls = new TPostedCalls(this);
    Thread = std::thread([this, calls, work = std::move(work)] {
        const TFileResult result = work([this](int64_t done, int64_t total) {
            DoneCount.store(done, std::memory_order_relaxed);
            Total.store(total, std::memory_order_relaxed);
            return !CancelAsked.load(std::memory_order_relaxed);
        });
        // Delivered only while the job still exists: a job destroyed first
        // takes the posted call with it.
        calls->Post([this, result] { Done(result); });
    });
}

THistoryJob::~THistoryJob() {
    CancelAsked = true;
    if (Thread.joinable())
        Thread.join();
    delete ProgressBox;
}

QProgressDialog* THistoryJob::Dialog() const {
    return ProgressBox;
}

void THistoryJob::Cancel() {
    CancelAsked = true;
}

void THistoryJob::Poll() {
    if (!IsRunning)
        return;
    ++Polled;
    if (!ProgressBox && Polled * PollMs >= ShowAfterMs) {
        ProgressBox = new QProgressDialog(Title, tr("取消"), 0, Steps, Parent);
        ProgressBox->setWindowTitle(Title);
        ProgressBox->setMinimumDuration(0);
        ProgressBox->setAutoClose(false);
        ProgressBox->setAutoReset(false);
        connect(ProgressBox, &QProgressDialog::canceled, this, &THistoryJob::Cancel);
        ProgressBox->show();
    }
    if (ProgressBox) {
        const int64_t total = Total.load(std::memory_order_relaxed);
        const int64_t done = DoneCount.load(std::memory_order_relaxed);
        ProgressBox->setValue(total > 0 ? int(std::min<int64_t>(done, total) * Steps / total) : 0);
    }
}

void THistoryJob::Done(TFileResult result) {
    Thread.join();
    IsRunning = false;
    PollTimer.stop();
    if (ProgressBox)
        ProgressBox->hide();
    emit Finished(result);
}
