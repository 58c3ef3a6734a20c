#pragma once
// TWThreadComm: the worker that owns the serial port. It keeps the port open
// (reopening it on request and retrying while it cannot be opened), waits on
// the device for received bytes, polls the modem lines, frames received data by
// the preamble, performs RTS-controlled writes, and reports through four events.
//
// Threads:
// - The events are raised on the worker thread, one at a time, never while a
//   lock of the worker is held. Handlers must copy what they need and return
//   at once (the bytes given to OnReceive are valid only during the call); they
//   must not call back into the worker. Assign them before Resume.
// - Every other member is called from one other thread (the window's).
// - Each port operation of either thread runs under PortLock, so the two never
//   interleave inside one; the worker waits for data without holding it.
// - SendPending hands SendBuf to the worker: stored with release after the
//   buffer is complete, loaded with acquire before the worker reads it.
// - The framing state is shared under FrameLock; the other flags are atomics.

#include "Commport.h"
#include "Wthread.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Why the last open attempt failed; Code 0 after a successful open.
struct TOpenError {
    uint8_t Code = 0;
    uint32_t SysError = 0;
    uint32_t PortNumber = 0;
    std::string Target;
};

class TWThreadComm : public TThread {
public:
    explicit TWThreadComm(bool createSuspended);
    ~TWThreadComm() override;

    std::function<void(const uint8_t* bytes, uint32_t count)> OnReceive;
    std::function<void(bool cts, bool dsr, bool ri, bool rlsd)> OnModemChange;
    std::function<void(bool rtsOn)> OnRtsChange;
    std::function<void(bool open)> OnPortState;

    // RTS-controlled sending, written directly by the window.
    std::atomic<bool> ControlRTS{false};

    void RequestPort(uint32_t number);
    void SetBaudRate(uint32_t rate);
    void SetParity(uint8_t parity);
    void SetRts(bool on);
    bool GetRts();
    void SetDtr(bool on);
    bool GetDtr();
    void SetPreambleMode(bool on);
    // Refuses (false, nothing changed) more than MaxPreamble bytes and a frame
    // length outside 1..FrameBufSize. Otherwise the hunt for a preamble starts
    // over: a partial match or frame of the old one is dropped.
    bool SetPreamble(const uint8_t* bytes, uint32_t count, uint32_t frameLen);
    bool IsOpen() const { return PortOpen.load(std::memory_order_acquire); }
    std::string GetSettingsText();
    // Any length: the preamble and the block go out whole.
    bool Send(const uint8_t* bytes, uint32_t count);
    bool SendByte(uint8_t b);

    TOpenError LastOpenError() const;
    // The port map lives with the port; it applies from the next (re)open.
    void SetPortMap(const TPortMap& map);
    TPortMap GetPortMap();
    // Tests and tools choose how targets become backends.
    void SetBackendFactory(TBackendFactory factory);

    static constexpr uint32_t MaxPreamble = 12;
    static constexpr uint32_t FrameBufSize = 2048;
    // Largest read asked of the device at once.
    static constexpr uint32_t ReadChunk = 65536;
    // Pace of open attempts while a port cannot be opened.
    static constexpr std::chrono::milliseconds RetryInterval{200};
    // Longest wait on the device, which bounds how late a modem-line change is seen.
    static constexpr std::chrono::milliseconds ModemPollInterval{8};
    // How often a quiet open device is checked for having vanished.
    static constexpr std::chrono::milliseconds PresenceInterval{250};

protected:
    void Execute() override;
    void WakeUp() override;

private:
    using Clock = std::chrono::steady_clock;

    void OpenPass();
    bool WaitForActivity(Clock::duration timeout);
    // Reads what waits into ReadBuf; the number of bytes read, 0 on failure.
    uint32_t ReadWaiting();
    // Reads and delivers: plainly, or framed by the preamble; returns the
    // number of bytes read from the device.
    uint32_t Receive();
    void CheckModem();
    void SendPendingBlock();
    void DropVanishedPort();
    void Raise(const std::function<void()>& call);

    TCommPort Port;
    mutable std::mutex PortLock;

    uint32_t LastModem = 0; // worker only
    std::atomic<uint32_t> RequestedPort{0};
    std::atomic<bool> ReopenRequest{false};
    std::atomic<uint32_t> RequestSerial{0}; // counts RequestPort calls
    std::atomic<bool> PreambleMode{false};
    std::atomic<bool> SendPending{false};
    std::atomic<bool> PortOpen{false};

    std::mutex FrameLock;
    std::array<uint8_t, MaxPreamble> Preamble{0x55, 0xAA, 0xFF};
    uint32_t PreambleLen = 3;
    std::array<uint8_t, FrameBufSize> FrameBuf{};
    uint32_t FrameLen = 6;
    uint32_t MatchPos = 0;
    uint32_t FrameCount = 0;
    uint32_t FrameState = 0;

    std::vector<uint8_t> SendBuf; // preamble (when on) and the block, whole
    std::vector<uint8_t> ReadBuf; // worker only, reused between reads

    mutable std::mutex ErrorLock;
    TOpenError OpenError;

    int WakeFd = -1;
    // Worker-only pacing state.
    bool LastOpenFailed = false;
    uint32_t LastSerial = 0;
    Clock::time_point LastAttempt{};
    Clock::time_point LastPresenceCheck{};
    Clock::time_point LastModemCheck{};
    bool Flowing = false;
};
