#pragma once
// TWThreadComm: the worker that owns the serial port. It keeps the port open
// (reopening it on request and retrying while it cannot be opened), waits on
// the device for received bytes and for room to write, polls the modem lines,
// frames received data by the preamble, writes what Send and SendByte queued,
// RTS-controlled blocks included, and reports through its events.
//
// Sending: Send and SendByte queue their bytes and return at once; the worker
// writes them in the order given, as fast as the device takes them, between
// its reads. A block is never cut: it goes out whole however slowly the device
// takes it, or, when the port closes or fails or CancelSend is called, the rest
// of it and every block behind it are dropped and OnSendDropped says how many
// bytes did not go out. A dropped RTS-controlled block gives RTS back as its
// end would have, with its OnRtsChange report.
//
// Threads:
// - The events are raised on the worker thread, one at a time, never while a
//   lock of the worker is held. Handlers must copy what they need and return
//   at once (the bytes given to OnReceive are valid only during the call); they
//   must not call back into the worker. Assign them before Resume.
// - Every other member is called from one other thread (the window's). None
//   of them waits for the device: a setting changed during a long block takes
//   effect between two of its bytes. Send, SendRaw, SetRts, SetDtr,
//   SetBaudRate, SetParity, IsOpen and BytesToGo may also be called from a
//   script's thread and the automatic replies' thread: each runs under the
//   locks below, and blocks of different threads queue in the order taken.
// - Each port operation of either thread runs under PortLock, so the two never
//   interleave inside one; the worker holds it for one non-blocking call at a
//   time and waits for the device without it.
// - The send queue (TSendQueue, SendQueue.h) keeps its own lock; the worker
//   writes from it with PortLock taken for each port call.
// - The framing state is shared under FrameLock; the other flags are atomics.

#include "CommPort.h"
#include "Framer.h"
#include "SendQueue.h"
#include "Thread.h"

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
    // Queued bytes that will not go out (port closed or failed, CancelSend).
    std::function<void(uint64_t bytesNotSent)> OnSendDropped;
    // Bytes still to go while a send takes long: first after TSendQueue::ProgressInterval
    // of sending, then at that pace, and 0 when the queue has emptied.
    std::function<void(uint64_t bytesLeft)> OnSendProgress;
    // Something the open port wants the user to know that is no failure (a
    // network server refused an option); each once per connection.
    std::function<void(const std::string& text)> OnPortNotice;

    // RTS-controlled sending, written directly by the window.
    std::atomic<bool> ControlRTS{false};

    void RequestPort(uint32_t number);
    void SetBaudRate(uint32_t rate);
    void SetParity(uint8_t parity);
    // Data bits, stop bits and flow control as TCommPort takes them; the
    // settings text shows the first two.
    void SetByteSize(uint8_t bits);
    void SetStopBits(uint8_t stopBits);
    void SetFlowControl(uint8_t flow);
    TLineSettings GetLineSettings();
    // Lets go of the device (another program may then open it) and keeps it
    // closed, without retrying, until Reconnect. RequestPort while released
    // only chooses the port that Reconnect opens.
    void Release();
    void Reconnect();
    bool Released() const { return ReleaseRequest.load(); }
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
    // The port's number and line, read together, for a window that words them itself. Read
    // from a copy kept beside the port: never waits for the device or its reads.
    struct TPortSettings {
        uint32_t PortNumber = 0;
        TLineSettings Line;
    };
    TPortSettings GetPortSettings() const;
    std::string GetSettingsText();
    // Queues the preamble (when framing is on) and the block, of any length,
    // to go out whole. True: accepted. False: nothing queued, because the port
    // is not open, or the queue is full (see MaxQueueCost), or ControlRTS is on
    // and an RTS-controlled block is still queued.
    // With ControlRTS on, RTS switches over at the call (even while blocks
    // queued before are still going out); the block goes out byte by byte,
    // each flushed, between two waits of TSendQueue::RtsSettle that start once it is first
    // in the queue and the port is open, and RTS switches back after it. Such
    // a block is accepted with the port closed too and waits for the port to
    // open.
    bool Send(const uint8_t* bytes, uint32_t count);
    // One byte, never with the preamble: out at once when nothing is queued,
    // otherwise after what is. False when the port is not open or the queue
    // is full.
    bool SendByte(uint8_t b);
    // Bytes as they are (a file's pieces): never the preamble, never
    // RTS-controlled. False when the port is not open or the queue is full.
    bool SendRaw(const uint8_t* bytes, uint32_t count);
    // Drops everything queued; OnSendDropped follows from the worker.
    void CancelSend();
    // Bytes queued and not yet written.
    uint64_t BytesToGo() const { return Queue.BytesToGo(); }
    // For tests that follow the worker's passes: its waits so far, the limit
    // of the latest wait (how long an idle worker sleeps), and the bytes read
    // from the device so far, counted once they are framed and delivered.
    uint64_t WaitCount() const { return Waits.load(std::memory_order_relaxed); }
    std::chrono::nanoseconds WaitLimit() const {
        return std::chrono::nanoseconds(LatestWaitLimit.load(std::memory_order_relaxed));
    }
    uint64_t BytesRead() const { return ReadCount.load(std::memory_order_acquire); }

    TOpenError LastOpenError() const;
    // The port map lives with the port; it applies from the next (re)open.
    void SetPortMap(const TPortMap& map);
    TPortMap GetPortMap();
    // Tests and tools choose how targets become backends.
    void SetBackendFactory(TBackendFactory factory);

    static constexpr uint32_t MaxPreamble = TFramer::MaxPreamble;
    static constexpr uint32_t FrameBufSize = 2048;
    // Largest read asked of the device at once.
    static constexpr uint32_t ReadChunk = 65536;
    // Pace of open attempts while a port cannot be opened.
    static constexpr std::chrono::milliseconds RetryInterval{200};
    // Longest wait on the device, which bounds how late a modem-line change is seen.
    static constexpr std::chrono::milliseconds ModemPollInterval{8};
    // How often a quiet open device is checked for having vanished.
    static constexpr std::chrono::milliseconds PresenceInterval{250};
    // Longest wait on a device without modem lines, or one that reports their
    // changes: how late a device whose node was replaced without a hang-up,
    // or a change report that went missing, is noticed.
    static constexpr std::chrono::milliseconds QuietInterval{2000};
    // The send queue's bound (see TSendQueue).
    static constexpr uint64_t MaxQueueCost = TSendQueue::MaxQueueCost;

protected:
    void Execute() override;
    void WakeUp() override;

private:
    using Clock = std::chrono::steady_clock;

    void OpenPass();
    void ReleasePass();
    bool WaitForActivity(Clock::duration timeout);
    // Reads what waits into ReadBuf; the number of bytes read, 0 on failure.
    uint32_t ReadWaiting();
    // Reads and delivers: plainly, or framed by the preamble; returns the
    // number of bytes read from the device.
    uint32_t Receive();
    void CheckModem();
    bool Enqueue(std::vector<uint8_t>&& bytes, bool rtsControlled);
    void DropVanishedPort();
    void Raise(const std::function<void()>& call);

    TCommPort Port;
    mutable std::mutex PortLock;
    // Copies the port's number and line for GetPortSettings; with PortLock held, after each
    // change (TPublishAtEnd: as the change ends, thrown out of or not).
    void Publish();
    struct TPublishAtEnd {
        TWThreadComm& Comm;
        ~TPublishAtEnd() { Comm.Publish(); }
    };
    mutable std::mutex PublishedLock; // held for a copy, never across the device
    TPortSettings Published;

    uint32_t LastModem = 0;  // worker only
    bool ModemLines = false; // worker only: the open device has modem lines to poll
    bool ModemSignalled = false; // worker only: the lines are due a look in this pass
    std::atomic<bool> ReleaseRequest{false};
    bool ReleasedShown = false; // worker only: the closed port has been reported
    std::atomic<uint32_t> RequestedPort{0};
    std::atomic<bool> ReopenRequest{false};
    std::atomic<uint32_t> RequestSerial{0}; // counts RequestPort calls
    std::atomic<bool> PreambleMode{false};
    std::atomic<bool> PortOpen{false};
    std::atomic<bool> CancelRequest{false};
    std::atomic<uint64_t> Waits{0};
    std::atomic<int64_t> LatestWaitLimit{0}; // nanoseconds
    std::atomic<uint64_t> ReadCount{0};

    std::mutex FrameLock;
    TFramer Framer; // under FrameLock

    TSendQueue Queue{Port, PortLock, PortOpen, {OnRtsChange, OnSendDropped, OnSendProgress}};

    std::vector<uint8_t> ReadBuf; // worker only, reused between reads
    std::vector<std::string> Notices; // worker only: taken with the last read

    mutable std::mutex ErrorLock;
    TOpenError OpenError;

    int WakeFd = -1;
    std::atomic<bool> WakePending{false}; // WakeFd written and not yet read
    // Worker-only pacing state.
    bool LastOpenFailed = false;
    uint32_t LastSerial = 0;
    Clock::time_point LastAttempt{};
    Clock::time_point LastPresenceCheck{};
    Clock::time_point LastModemCheck{};
    bool Flowing = false;
};
