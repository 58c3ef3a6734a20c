#pragma once
// The small private interface between TCommPort and the platform. One backend
// object stands for one open device; TCommPort creates it at Open and destroys
// it at a successful Close. Every call returns 0 or an errno value.
//
// Backends: Backend_posix.cpp (termios devices and pseudo-terminals),
// Backend_loopback.cpp (the emulated loopback plug), Backend_rfc2217.cpp and
// Backend_tcp.cpp (ports on other machines, Netbackend.h) and the test doubles.
// Open may answer EINPROGRESS (a network connection on its way): TCommPort then
// keeps the backend and calls Open again at the next attempt.
// A backend is not thread-safe: TCommPort serialises every call except
// PollFd, which the worker reads once after Open.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// The line settings the port owns; everything else is the backend's business.
// Valid: BaudRate > 0, ByteSize 5..8, Parity 0..4, StopBits 0..2, Flow 0..2;
// backends refuse anything else with EINVAL.
struct TLineSettings {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one stop bit, 1 one and a half, 2 two
    bool Rts = false;
    bool Dtr = false;
    uint8_t Flow = 0; // 0 none, 1 RTS/CTS, 2 XON/XOFF
};

// Milliseconds, as the port's time-outs are given.
struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Modem status bits, as the port reports them.
inline constexpr uint32_t msCtsOn = 0x10;
inline constexpr uint32_t msDsrOn = 0x20;
inline constexpr uint32_t msRingOn = 0x40;
inline constexpr uint32_t msRlsdOn = 0x80;

class TCommBackend {
public:
    virtual ~TCommBackend() = default;

    virtual int Open(const std::string& device) = 0;
    virtual int Close() = 0;
    virtual int GetState(TLineSettings& settings) = 0;
    virtual int SetState(const TLineSettings& settings) = 0;
    virtual int SetupQueues(uint32_t inBytes, uint32_t outBytes) = 0;
    virtual int SetTimeouts(const TCommTimeouts& timeouts) = 0;
    // Writes the whole block or fails; written says how far it got.
    virtual int Write(const uint8_t* data, size_t count, size_t& written) = 0;
    virtual int Read(uint8_t* data, size_t count, size_t& got) = 0;
    // Takes what the device accepts now without waiting: written may be 0.
    // Backends that never make the caller wait may keep the whole-block Write.
    virtual int WriteSome(const uint8_t* data, size_t count, size_t& written) {
        return Write(data, count, written);
    }
    // Waits until everything written has left the device.
    virtual int Flush() = 0;
    // Whether everything written has left the device, asked without waiting.
    virtual int Drained(bool& done) {
        done = true;
        return Flush();
    }
    virtual int InQueue(uint32_t& count) = 0;
    virtual int ModemStatus(uint32_t& status) = 0;

    // A descriptor that polls readable when bytes or a line change wait, and
    // reports POLLHUP/POLLERR when the device is gone, and writable when
    // WriteSome would take bytes; -1 when there is none (the worker then polls
    // on a short timer).
    virtual int PollFd() const { return -1; }
    // Called by the worker after PollFd woke it, to re-arm an edge source.
    virtual void PollDone() {}
    // Whether the device has modem lines to watch at all (a pseudo-terminal
    // has none): the worker does not poll a device without them.
    virtual bool HasModemLines() { return true; }
    // A descriptor that polls readable after a modem line may have changed,
    // for a device that can tell (the worker then reads the lines and calls
    // ModemDone, and need not ask them on a timer); -1 when it cannot, for
    // now: the answer may change while the port is open.
    virtual int ModemFd() const { return -1; }
    virtual void ModemDone() {}
    // True once the device has hung up or vanished; the port must be reopened.
    virtual bool Gone() { return false; }
    // Things the user should know of that are no failure of a call (a network
    // server refused an option), each once; the worker takes them after reads.
    virtual std::vector<std::string> TakeNotices() { return {}; }
};

inline bool ValidLineSettings(const TLineSettings& s) {
    return s.BaudRate > 0 && s.ByteSize >= 5 && s.ByteSize <= 8 && s.Parity <= 4 &&
           s.StopBits <= 2 && s.Flow <= 2;
}

// Makes the backend for a port-map target ("loopback", a device path, or
// rfc2217:// and tcp:// for a port on another machine, see Nettarget.h).
using TBackendFactory = std::function<std::unique_ptr<TCommBackend>(const std::string& target)>;

std::unique_ptr<TCommBackend> MakePosixBackend();
std::unique_ptr<TCommBackend> MakeLoopbackBackend();
std::unique_ptr<TCommBackend> MakeDefaultBackend(const std::string& target);
