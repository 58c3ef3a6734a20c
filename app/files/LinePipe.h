#pragma once
// TLinePipe: a line sink that hands the lines to another sink on a thread of
// its own, so that reading a file and building the pane's store from its
// lines run side by side. Lines go over in batches of about BatchBytes; at
// most MaxBatches wait at a time, so memory stays bounded whatever the file.
//
// Threads: Line, Restart, Finish and Abandon are called on one thread (the
// reader's); the target sees its calls on the pipe's thread, in order, and
// not after Finish or Abandon has returned.

#include "Rtf.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TLinePipe : public TRtfLineSink {
public:
    static constexpr size_t BatchBytes = size_t(256) << 10;
    static constexpr size_t MaxBatches = 8;

    explicit TLinePipe(TRtfLineSink& target);
    ~TLinePipe() override; // abandons what has not gone over yet
    TLinePipe(const TLinePipe&) = delete;
    TLinePipe& operator=(const TLinePipe&) = delete;

    void Line(std::string_view utf8) override;
    void Restart() override;
    // Every line given has reached the target when this returns.
    void Finish();
    // Lines still queued are dropped; the target is left as far as it got.
    void Abandon();

private:
    struct TBatch {
        bool Restart = false; // the target starts over before these lines
        std::string Data;
        std::vector<size_t> Ends;
    };
    void Send();
    void Run();
    void Stop(bool deliver);

    TRtfLineSink& m_target;
    TBatch m_filling;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<TBatch> m_queue; // guarded by m_lock
    bool m_closing = false;     // guarded: no more batches come
    bool m_dropping = false;    // guarded: queued batches are to be dropped
    std::thread m_thread;
};
