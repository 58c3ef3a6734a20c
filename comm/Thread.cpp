#include "Thread.h"

#include <sys/resource.h>
#include <unistd.h>

TThread::~TThread() {
    Stop();
}

void TThread::Resume() {
    if (Started)
        return;
    Started = true;
    Thread = std::thread([this] { Run(); });
}

void TThread::Terminate() {
    StopRequest.store(true, std::memory_order_release);
    WakeUp();
}

void TThread::WaitFor() {
    if (Thread.joinable())
        Thread.join();
}

void TThread::Stop() {
    if (Thread.joinable()) {
        Terminate();
        WaitFor();
    }
}

void TThread::Run() {
    // One step below normal priority: one nice level up, for this thread only.
    // An unprivileged process may always lower its own priority.
    pid_t tid = gettid();
    errno = 0;
    int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice + 1);
    Execute();
}
