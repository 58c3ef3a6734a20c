#pragma once
// TModemWatch: waits for modem-line changes on a thread of its own, so that
// the worker can sleep in its poll instead of asking the lines every few
// milliseconds. The wait itself is given (TIOCMIWAIT on a real device); each
// time it returns, Fd() polls readable and the worker reads the lines.
//
// A wait that fails for good (the driver cannot wait, the device is gone)
// ends the watch: Fd() polls readable once more and Watching() turns false,
// and the worker goes back to asking the lines on its timer.
//
// Stop interrupts a wait in progress with a signal that has a do-nothing
// handler installed without SA_RESTART, so a blocking ioctl returns EINTR.

#include <atomic>
#include <functional>
#include <thread>

class TModemWatch {
public:
    // wait blocks until a line may have changed: 0, or an errno value (EINTR
    // when a signal cut it short).
    explicit TModemWatch(std::function<int()> wait);
    ~TModemWatch();
    TModemWatch(const TModemWatch&) = delete;
    TModemWatch& operator=(const TModemWatch&) = delete;

    // Starts the thread; false when no event descriptor could be made.
    bool Start();
    // Ends the wait and the thread; the descriptor stays until destruction
    // so that a poll that still holds it sees nothing unusual.
    void Stop();
    // Polls readable after a change (or the watch's end); -1 before Start.
    int Fd() const { return Event; }
    // Empties Fd after a wake-up.
    void Done();
    bool Watching() const { return Running.load(std::memory_order_acquire); }

private:
    void Run();
    void Signal();

    std::function<int()> Wait;
    int Event = -1;
    std::thread Thread;
    std::atomic<bool> Running{false};
    std::atomic<bool> Stopping{false};
    std::atomic<bool> Finished{false};
};
