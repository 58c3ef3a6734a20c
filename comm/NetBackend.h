#pragma once
// What the two network backends share: the connection, opening without
// blocking, whole-block writes and drains built on the non-blocking ones, and
// the link's fate as the device's. Backend_tcp.cpp passes bytes as they are;
// Backend_rfc2217.cpp speaks Telnet with the COM port option over the link.
//
// Opening: Open starts the connection and waits at most OpenWait for it; while
// it is still on its way Open answers EINPROGRESS, TCommPort keeps the backend,
// and the worker's next attempt (at its retry pace) calls Open again, so that
// neither the worker's loop nor the window, which may wait for the port's
// lock meanwhile, is held up for longer than OpenWait.

#include "CommBackend.h"
#include "NetLink.h"

#include <chrono>

class TNetBackend : public TCommBackend {
public:
    static constexpr std::chrono::milliseconds OpenWait{20};
    // How long the far end may take no bytes before a whole-block write or a
    // flush gives up.
    static constexpr std::chrono::milliseconds StallAllowance{2000};

    explicit TNetBackend(const TNetTarget& target) : Target(target) {}

    int Open(const std::string&) override;
    int Close() override;
    int GetState(TLineSettings& s) override {
        s = Settings;
        return 0;
    }
    int SetupQueues(uint32_t, uint32_t) override { return 0; }
    int SetTimeouts(const TCommTimeouts&) override { return 0; }
    int Write(const uint8_t* data, size_t count, size_t& written) override;
    int Flush() override;
    int Drained(bool& done) override;
    int InQueue(uint32_t& count) override { return Link.Waiting(count); }
    int PollFd() const override { return Link.Fd(); }
    bool Gone() override { return Link.Gone(); }

protected:
    // Called once the connection stands, before Open reports success.
    virtual int Connected() { return 0; }
    // Whether bytes that WriteSome took are still held back by the backend.
    virtual bool HoldsBytes() const { return false; }
    int WaitWritable(std::chrono::steady_clock::time_point deadline);

    TNetTarget Target;
    TNetLink Link;
    TLineSettings Settings;
};

std::unique_ptr<TCommBackend> MakeTcpBackend(const TNetTarget& target);
std::unique_ptr<TCommBackend> MakeRfc2217Backend(const TNetTarget& target);
