#include "Thread.h"

#include "ThreadPriority.h"

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
    LowerThisThread(1); // one step below the window's thread
    Execute();
}
