#pragma once
// What the worker's tests share: a recorder of its events and a running worker.

#include "Threadcomm.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Everything the worker reports, in order, as text: "open 1", "rx 01 02" (the
// first 64 bytes of a delivery), "rts 1", "modem 1010", "dropped 12", "left 300".
class TRecorder {
public:
    void Attach(TWThreadComm& w) {
        w.OnReceive = [this](const uint8_t* b, uint32_t n) {
            std::string s = "rx";
            char hex[4];
            for (uint32_t i = 0; i < n && i < 64; ++i) {
                snprintf(hex, sizeof hex, " %02X", b[i]);
                s += hex;
            }
            Add(s, std::vector<uint8_t>(b, b + n));
        };
        w.OnPortState = [this](bool open) { OnPortStateForTest(open); };
        w.OnRtsChange = [this](bool on) { Add(on ? "rts 1" : "rts 0"); };
        w.OnSendDropped = [this](uint64_t n) { Add("dropped " + std::to_string(n)); };
        w.OnSendProgress = [this](uint64_t n) { Add("left " + std::to_string(n)); };
        w.OnPortNotice = [this](const std::string& text) { Add("notice " + text); };
        w.OnModemChange = [this](bool cts, bool dsr, bool ri, bool rlsd) {
            Add(std::string("modem ") + (cts ? "1" : "0") + (dsr ? "1" : "0") + (ri ? "1" : "0") +
                (rlsd ? "1" : "0"));
        };
    }

    // What the recorder's own OnPortState handler does, for a test's handler
    // that records more.
    void OnPortStateForTest(bool open) { Add(open ? "open 1" : "open 0"); }

    // Waits until pred holds over the events so far.
    bool WaitFor(const std::function<bool(const std::vector<std::string>&)>& pred,
                 std::chrono::milliseconds limit = 3000ms) {
        std::unique_lock lock(M);
        return Cv.wait_for(lock, limit, [&] { return pred(Events); });
    }
    bool WaitEvent(const std::string& e, size_t times = 1,
                   std::chrono::milliseconds limit = 3000ms) {
        return WaitFor(
            [&](const auto& ev) { return size_t(std::count(ev.begin(), ev.end(), e)) >= times; },
            limit);
    }
    bool WaitBytes(size_t n, std::chrono::milliseconds limit = 3000ms) {
        std::unique_lock lock(M);
        return Cv.wait_for(lock, limit, [&] { return Bytes.size() >= n; });
    }
    std::vector<std::string> Snapshot() {
        std::lock_guard lock(M);
        return Events;
    }
    // The events so far on one line, for failure messages.
    std::string Joined() {
        std::string all;
        for (const auto& e : Snapshot())
            all += e + "; ";
        return all;
    }
    std::vector<uint8_t> ReceivedBytes() {
        std::lock_guard lock(M);
        return Bytes;
    }
    std::vector<Clock::time_point> Times() {
        std::lock_guard lock(M);
        return Stamps;
    }
    size_t Count(const std::string& e) {
        auto ev = Snapshot();
        return size_t(std::count(ev.begin(), ev.end(), e));
    }

private:
    void Add(std::string e, std::vector<uint8_t> bytes = {}) {
        std::lock_guard lock(M);
        Events.push_back(std::move(e));
        Stamps.push_back(Clock::now());
        Bytes.insert(Bytes.end(), bytes.begin(), bytes.end());
        Cv.notify_all();
    }
    std::mutex M;
    std::condition_variable Cv;
    std::vector<std::string> Events;
    std::vector<Clock::time_point> Stamps;
    std::vector<uint8_t> Bytes;
};

inline TPortMap MapTo(const std::string& target, uint32_t port = 1) {
    TPortMap map;
    map.Targets[port - 1] = target;
    return map;
}

// A worker on COM1, mapped to the given target, started and open.
struct TRunningWorker {
    explicit TRunningWorker(const std::string& target) {
        Rec.Attach(Worker);
        Worker.SetPortMap(MapTo(target));
        Worker.RequestPort(1);
        Worker.Resume();
    }
    TRecorder Rec; // outlives the worker, which reports into it until it ends
    TWThreadComm Worker{true};
};
