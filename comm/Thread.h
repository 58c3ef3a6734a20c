#pragma once
// TThread: a thread object that can be created suspended, resumed once, asked
// to stop and waited for. The most-derived class starts the thread at the end
// of its constructor (Resume) when it was not created suspended, and stops it
// at the start of its destructor (Stop), before its own members go away.

#include <atomic>
#include <thread>

class TThread {
public:
    explicit TThread(bool createSuspended) : CreateSuspended(createSuspended) {}
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Starts a suspended thread; nothing when it runs already or has run.
    void Resume();
    // Sets the stop request, which the loop reads on every pass.
    void Terminate();
    // Waits until the thread has ended; at once when it never started.
    void WaitFor();
    bool Terminated() const { return StopRequest.load(std::memory_order_acquire); }

protected:
    virtual void Execute() = 0;
    // Called by Terminate so that a waiting loop notices the request at once.
    virtual void WakeUp() {}
    // Terminate and WaitFor; for the derived destructor.
    void Stop();

    const bool CreateSuspended;

private:
    void Run();

    std::thread Thread;
    std::atomic<bool> StopRequest{false};
    bool Started = false; // touched only by the owning thread
};
