#pragma once
// TFileFeeder: hands a file's bytes to the worker's send queue from a thread
// of its own, a piece at a time, so that a file of any size goes out with a
// bounded amount of it in memory and the window never waits for the disk or
// the queue. Plain C++: the window polls State() for its progress display.

#include "TranslateMark.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

class TFileFeeder {
public:
    // What the queue said to a piece: taken, full for now (the piece is
    // offered again shortly), or refused for good (the port is not open).
    enum class TTaken { Yes, Full, Refused };
    using TSend = std::function<TTaken(const uint8_t* bytes, uint32_t count)>;

    static constexpr uint32_t PieceBytes = 65536;
    // State().Error when the port refused a piece; the window translates it (context "Filesend").
    static constexpr const char* PortClosedError =
        QT_TRANSLATE_NOOP("Filesend", "端口未打开");

    TFileFeeder(std::string path, TSend send);
    ~TFileFeeder(); // cancels and waits for the thread
    TFileFeeder(const TFileFeeder&) = delete;
    TFileFeeder& operator=(const TFileFeeder&) = delete;

    // Opens the file and starts handing it over; false, with the system's
    // reason in State().Error, when it cannot be opened or read.
    bool Start();
    // Stops handing over; returns once the thread has ended.
    void Cancel();

    struct TState {
        uint64_t Size = 0;   // the file's size when it was opened
        uint64_t Handed = 0; // bytes the queue took
        bool Running = false;
        bool Cancelled = false;
        bool Failed = false; // the file could not be read or the port refused
        std::string Error;   // the system's text, or PortClosedError
    };
    TState State() const;

private:
    void Run();
    void Fail(std::string error);

    std::string Path;
    TSend Send;
    int Fd = -1;
    std::thread Thread;
    std::atomic<bool> Stop{false};
    mutable std::mutex Lock;
    TState Now;
};
