#include "LinePipe.h"

#include <pthread.h>

TLinePipe::TLinePipe(TRtfLineSink& target) : m_target(target) {
    m_thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "line pipe");
        Run();
    });
}

TLinePipe::~TLinePipe() {
    Stop(false);
}

void TLinePipe::Line(std::string_view utf8) {
    m_filling.Data.append(utf8);
    m_filling.Ends.push_back(m_filling.Data.size());
    if (m_filling.Data.size() >= BatchBytes || m_filling.Ends.size() >= BatchBytes / 8)
        Send();
}

void TLinePipe::Restart() {
    // What was given so far is void, queued or not: the target starts over
    // when it reaches this batch.
    m_filling = TBatch{};
    m_filling.Restart = true;
    Send();
}

void TLinePipe::Send() {
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_queue.size() < MaxBatches || m_dropping; });
    if (m_dropping)
        return;
    m_queue.push_back(std::move(m_filling));
    m_filling = TBatch{};
    m_filling.Data.reserve(BatchBytes + 4096);
    lock.unlock();
    m_changed.notify_all();
}

void TLinePipe::Finish() {
    if (!m_filling.Ends.empty() || m_filling.Restart)
        Send();
    Stop(true);
}

void TLinePipe::Abandon() {
    Stop(false);
}

void TLinePipe::Stop(bool deliver) {
    {
        std::lock_guard lock(m_lock);
        m_closing = true;
        if (!deliver) {
            m_dropping = true;
            m_queue.clear();
        }
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void TLinePipe::Run() {
    for (;;) {
        TBatch batch;
        {
            std::unique_lock lock(m_lock);
            m_changed.wait(lock, [this] { return !m_queue.empty() || m_closing; });
            if (m_queue.empty())
                return; // closing, and everything delivered or dropped
            batch = std::move(m_queue.front());
            m_queue.pop_front();
        }
        m_changed.notify_all(); // room for the reader
        if (batch.Restart)
            m_target.Restart();
        size_t begin = 0;
        for (size_t end : batch.Ends) {
            m_target.Line(std::string_view(batch.Data).substr(begin, end - begin));
            begin = end;
        }
    }
}
