#pragma once
// The plot's exports, written by a thread of its own: the values in view as CSV (one row per
// point of each series, the series side by side; a row holds the values that share a time),
// and bytes already made (the chart's PNG). Plain C++.
//
// Threads: Start, Done, Cancel and Result are called on one thread (the window's); the job
// runs on the export's thread, which opens the file there, so that a name the user gives
// never blocks the window.

#include "PlotData.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Opens path to write anew: a regular file, or a new one. Anything else (a FIFO, a device, a
// folder, a link to one) is refused without being opened for writing. -1 with the reason.
int OpenRegularFileToWrite(const std::string& path, std::string& error);
// Writes all of the bytes, again after an interrupted write; false with the reason.
bool WriteAll(int fd, const char* bytes, size_t size, std::string& error);

// The CSV of series over [t0, t1) (milliseconds from origin, the store's origin in ms since
// the epoch); percent rises from 0 to 100; false with the reason on a failure or a cancel.
bool WritePlotCsv(int fd, const std::vector<TPlotSeries::TView>& series, double t0, double t1,
                  int64_t origin, const std::atomic<bool>& cancel, std::atomic<int>& percent,
                  std::string& error);

class TPlotExport {
public:
    using TJob = std::function<bool(int fd, const std::atomic<bool>& cancel,
                                    std::atomic<int>& percent, std::string& error)>;
    ~TPlotExport();
    // Starts writing path with job (false when an export is still running).
    bool Start(const std::string& path, TJob job);
    bool Running() const { return m_thread.joinable() && !m_done.load(); }
    bool Done() const { return m_done.load(); }
    int Percent() const { return m_percent.load(); }
    void Cancel() { m_cancel = true; }
    // Once Done: joins the thread; true when the file is written, else the reason.
    bool Finish(std::string& error);

private:
    std::thread m_thread;
    std::atomic<bool> m_cancel{false};
    std::atomic<bool> m_done{false};
    std::atomic<int> m_percent{0};
    bool m_ok = false;         // written by the thread before m_done
    std::string m_error;       // written by the thread before m_done
};
