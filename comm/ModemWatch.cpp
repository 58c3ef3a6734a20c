#include "ModemWatch.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <mutex>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

// A real-time signal from the top of the range, away from the ones the C
// library and common libraries take from the bottom.
int WakeSignal() {
    return SIGRTMAX - 3;
}

void NoAction(int) {}

void InstallHandler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = NoAction;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = 0; // no SA_RESTART: the wait must return EINTR
        sigaction(WakeSignal(), &sa, nullptr);
    });
}

} // namespace

TModemWatch::TModemWatch(std::function<int()> wait) : Wait(std::move(wait)) {}

TModemWatch::~TModemWatch() {
    Stop();
    if (Event >= 0)
        ::close(Event);
}

bool TModemWatch::Start() {
    if (Thread.joinable())
        return true;
    if (Event < 0)
        Event = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (Event < 0)
        return false;
    InstallHandler();
    Stopping = false;
    Finished = false;
    Running = true;
    Thread = std::thread([this] { Run(); });
    return true;
}

void TModemWatch::Stop() {
    if (!Thread.joinable())
        return;
    Stopping.store(true, std::memory_order_release);
    // The thread may be between its check of Stopping and the wait, where a
    // signal does nothing: knock until it has left.
    const pthread_t handle = Thread.native_handle();
    while (!Finished.load(std::memory_order_acquire)) {
        pthread_kill(handle, WakeSignal());
        for (int i = 0; i < 20 && !Finished.load(std::memory_order_acquire); ++i)
            std::this_thread::sleep_for(std::chrono::microseconds(250));
    }
    Thread.join();
    Running = false;
}

void TModemWatch::Done() {
    uint64_t value;
    [[maybe_unused]] ssize_t n = ::read(Event, &value, sizeof value);
}

void TModemWatch::Signal() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(Event, &one, sizeof one);
}

void TModemWatch::Run() {
    while (!Stopping.load(std::memory_order_acquire)) {
        const int err = Wait();
        if (err == EINTR)
            continue;
        if (err != 0) {
            Running.store(false, std::memory_order_release);
            Signal();
            break;
        }
        Signal();
    }
    Finished.store(true, std::memory_order_release);
}
