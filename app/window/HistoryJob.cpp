#include "HistoryJob.h"

#include "Handover.h"

#include <QProgressDialog>

#include <mutex>

namespace {
constexpr int PollMs = 100;
constexpr int Steps = 1000; // the dialog's range
} // namespace

struct THistoryJob::TShared {
    std::atomic<bool> CancelAsked{false};
    std::atomic<int64_t> DoneCount{0};
    std::atomic<int64_t> Total{0};
    std::mutex Lock;
    // Under Lock; null once the job let the thread go.
    TPostedCalls* Calls = nullptr;
    THistoryJob* Job = nullptr;
};

THistoryJob::THistoryJob(QWidget* parent, const QString& title, TWork work)
    : QObject(parent), Parent(parent), Title(title), Shared(std::make_shared<TShared>()) {
    PollTimer.setInterval(PollMs);
    connect(&PollTimer, &QTimer::timeout, this, &THistoryJob::Poll);
    PollTimer.start();
    Shared->Calls = new TPostedCalls(this);
    Shared->Job = this;
    Thread = std::thread([shared = Shared, work = std::move(work)]() mutable {
        TFileResult result = work([&shared](int64_t done, int64_t total) {
            shared->DoneCount.store(done, std::memory_order_relaxed);
            shared->Total.store(total, std::memory_order_relaxed);
            return !shared->CancelAsked.load(std::memory_order_relaxed);
        });
        work = nullptr; // what the work owns goes on this thread
        std::lock_guard lock(shared->Lock);
        if (shared->Calls != nullptr)
            shared->Calls->Post([job = shared->Job, result] { job->Done(result); });
    });
}

THistoryJob::~THistoryJob() {
    Abandon();
    delete ProgressBox;
}

QProgressDialog* THistoryJob::Dialog() const {
    return ProgressBox;
}

void THistoryJob::Abandon() {
    Shared->CancelAsked = true;
    {
        std::lock_guard lock(Shared->Lock);
        // A call already posted goes with the TPostedCalls.
        delete std::exchange(Shared->Calls, nullptr);
    }
    if (Thread.joinable())
        Thread.detach();
}

void THistoryJob::Cancel() {
    if (!IsRunning)
        return;
    Abandon();
    Done(TFileResult::Cancelled);
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
        const int64_t total = Shared->Total.load(std::memory_order_relaxed);
        const int64_t done = Shared->DoneCount.load(std::memory_order_relaxed);
        ProgressBox->setValue(total > 0 ? int(std::min<int64_t>(done, total) * Steps / total) : 0);
    }
}

void THistoryJob::Done(TFileResult result) {
    // The thread posted its result last: joining it waits for nothing more
    // than its return.
    if (Thread.joinable())
        Thread.join();
    IsRunning = false;
    PollTimer.stop();
    if (ProgressBox)
        ProgressBox->hide();
    emit Finished(result);
}
