#pragma once
// A backend that records what the port asks of it and fails on command.

#include "CommBackend.h"

#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

struct TFailState {
    enum Op {
        Open,
        Close,
        GetState,
        SetState,
        SetupQueues,
        SetTimeouts,
        Write,
        Read,
        Flush,
        InQueue,
        ModemOp
    };

    // Held by the backend for each call, which the worker makes on its own
    // thread: a test takes it to look at or change the state while a worker runs.
    struct TLock {
        TLock() = default;
        TLock(const TLock&) {}
        TLock& operator=(const TLock&) { return *this; } // a fresh state keeps its lock
        void lock() { M.lock(); }
        void unlock() { M.unlock(); }
        std::mutex M;
    } Lock;
    // Taken by Read alone, before Lock: a test that holds it keeps the worker waiting in a
    // read, and only there.
    TLock ReadGate;
    // Reads begun, counted before the gate, and ended, counted before the gate is let go: a
    // test holding the gate sees the worker wait in a read while more have begun than ended.
    struct TCount {
        TCount() = default;
        TCount(const TCount&) {}
        TCount& operator=(const TCount&) { return *this; }
        std::atomic<int> N{0};
    } ReadsBegun, ReadsEnded;
    std::map<Op, int> FailWith; // op -> errno to return, while present
    int WriteFailsAtCall = 0;   // 1-based write call that fails (0: none)
    int WriteCalls = 0;
    int FlushCalls = 0;
    int OpenCalls = 0;
    int CloseCalls = 0;
    std::vector<uint8_t> Written;
    std::vector<uint8_t> Incoming; // what Read hands out
    size_t ReadLimit = ~size_t(0); // Read returns at most this many
    uint32_t ModemLines = 0;
    int LinesFd = -1; // a device that reports line changes on this descriptor
    int DataFd = -1;  // and one to wait on for bytes (none: the worker asks on its timer)
    int LinesDone = 0;
    TLineSettings Device{115200, 8, 0, 0, true, true}; // what the device reports
    std::vector<TLineSettings> Applied;                // each SetState
    std::string OpenedTarget;

    int Fail(Op op) const {
        auto it = FailWith.find(op);
        return it == FailWith.end() ? 0 : it->second;
    }
};

class TFailBackend : public TCommBackend {
public:
    explicit TFailBackend(std::shared_ptr<TFailState> state) : S(std::move(state)) {}

    int Open(const std::string& target) override {
        std::lock_guard guard(S->Lock);
        ++S->OpenCalls;
        S->OpenedTarget = target;
        return S->Fail(TFailState::Open);
    }
    int Close() override {
        std::lock_guard guard(S->Lock);
        ++S->CloseCalls;
        return S->Fail(TFailState::Close);
    }
    int GetState(TLineSettings& s) override {
        std::lock_guard guard(S->Lock);
        if (int e = S->Fail(TFailState::GetState))
            return e;
        s = S->Device;
        return 0;
    }
    int SetState(const TLineSettings& s) override {
        std::lock_guard guard(S->Lock);
        if (int e = S->Fail(TFailState::SetState))
            return e;
        S->Applied.push_back(s);
        return 0;
    }
    int SetupQueues(uint32_t, uint32_t) override {
        std::lock_guard guard(S->Lock);
        return S->Fail(TFailState::SetupQueues);
    }
    int SetTimeouts(const TCommTimeouts&) override {
        std::lock_guard guard(S->Lock);
        return S->Fail(TFailState::SetTimeouts);
    }
    int Write(const uint8_t* data, size_t count, size_t& written) override {
        std::lock_guard guard(S->Lock);
        ++S->WriteCalls;
        written = 0;
        if (S->WriteFailsAtCall == S->WriteCalls)
            return EIO;
        if (int e = S->Fail(TFailState::Write))
            return e;
        S->Written.insert(S->Written.end(), data, data + count);
        written = count;
        return 0;
    }
    int Read(uint8_t* data, size_t count, size_t& got) override {
        S->ReadsBegun.N.fetch_add(1);
        std::lock_guard gate(S->ReadGate);
        struct TEnd {
            std::atomic<int>& N;
            ~TEnd() { N.fetch_add(1); }
        } ended{S->ReadsEnded.N};
        std::lock_guard guard(S->Lock);
        if (int e = S->Fail(TFailState::Read))
            return e;
        got = std::min({count, S->Incoming.size(), S->ReadLimit});
        std::copy_n(S->Incoming.begin(), got, data);
        S->Incoming.erase(S->Incoming.begin(), S->Incoming.begin() + static_cast<long>(got));
        return 0;
    }
    int Flush() override {
        std::lock_guard guard(S->Lock);
        ++S->FlushCalls;
        return S->Fail(TFailState::Flush);
    }
    int InQueue(uint32_t& count) override {
        std::lock_guard guard(S->Lock);
        if (int e = S->Fail(TFailState::InQueue))
            return e;
        count = static_cast<uint32_t>(S->Incoming.size());
        return 0;
    }
    int ModemStatus(uint32_t& status) override {
        std::lock_guard guard(S->Lock);
        status = S->ModemLines;
        return S->Fail(TFailState::ModemOp);
    }
    int PollFd() const override {
        std::lock_guard guard(S->Lock);
        return S->DataFd;
    }
    int ModemFd() const override {
        std::lock_guard guard(S->Lock);
        return S->LinesFd;
    }
    void ModemDone() override {
        std::lock_guard guard(S->Lock);
        ++S->LinesDone;
        uint64_t value;
        [[maybe_unused]] ssize_t n = ::read(S->LinesFd, &value, sizeof value);
    }

private:
    std::shared_ptr<TFailState> S;
};

inline TBackendFactory FailFactory(std::shared_ptr<TFailState> state) {
    return [state](const std::string&) { return std::make_unique<TFailBackend>(state); };
}
