#include "HistoryJob.h"

#include "Handover.h"

#include <QProgressDialog>

namespace {
constexpr int PollMs = 100;
constexpr int Steps = 1000; // the dialog's range
} // namespace

THistoryJob::THistoryJob(QWidget* parent, const QString& title, TWork work)
    : QObject(parent), m_parent(parent), m_title(title) {
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, &THistoryJob::Poll);
    m_poll.start();
    auto* calls = new TPostedCalls(this);
    m_thread = std::thread([this, calls, work = std::move(work)] {
        const TFileResult result = work([this](int64_t done, int64_t total) {
            m_done.store(done, std::memory_order_relaxed);
            m_total.store(total, std::memory_order_relaxed);
            return !m_cancel.load(std::memory_order_relaxed);
        });
        // Delivered only while the job still exists: a job destroyed first
        // takes the posted call with it.
        calls->Post([this, result] { Done(result); });
    });
}

THistoryJob::~THistoryJob() {
    m_cancel = true;
    if (m_thread.joinable())
        m_thread.join();
    delete m_dialog;
}

QProgressDialog* THistoryJob::Dialog() const {
    return m_dialog;
}

void THistoryJob::Cancel() {
    m_cancel = true;
}

void THistoryJob::Poll() {
    if (!m_running)
        return;
    ++m_polled;
    if (!m_dialog && m_polled * PollMs >= ShowAfterMs) {
        m_dialog = new QProgressDialog(m_title, tr("取消"), 0, Steps, m_parent);
        m_dialog->setWindowTitle(m_title);
        m_dialog->setMinimumDuration(0);
        m_dialog->setAutoClose(false);
        m_dialog->setAutoReset(false);
        connect(m_dialog, &QProgressDialog::canceled, this, &THistoryJob::Cancel);
        m_dialog->show();
    }
    if (m_dialog) {
        const int64_t total = m_total.load(std::memory_order_relaxed);
        const int64_t done = m_done.load(std::memory_order_relaxed);
        m_dialog->setValue(total > 0 ? int(std::min<int64_t>(done, total) * Steps / total) : 0);
    }
}

void THistoryJob::Done(TFileResult result) {
    m_thread.join();
    m_running = false;
    m_poll.stop();
    if (m_dialog)
        m_dialog->hide();
    emit Finished(result);
}
