#pragma once
// TCommPort: one serial port, "COM" + a number, opened for exclusive use with
// 8 data bits and 1 stop bit. It holds the line settings, which survive any
// number of close and open cycles: a setting changed while the port is open is
// applied at once, one changed while it is closed at the next Open. Every
// failure throws ECommError.
//
// Threads: the object has no lock of its own. Its owner (TWThreadComm)
// serialises all calls; see Threadcomm.h.

#include "CommBackend.h"
#include "CommError.h"
#include "PortMap.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TCommPort {
public:
    TCommPort();
    ~TCommPort();
    TCommPort(const TCommPort&) = delete;
    TCommPort& operator=(const TCommPort&) = delete;

    void Open();
    void Close();
    // Gives up a connection still on its way (see Open), which Close leaves
    // for the next Open.
    void CancelOpen();
    bool IsOpened() const { return Opened; }

    void SetPortNumber(uint32_t n);
    uint32_t GetPortNumber() const { return PortNumber; }
    void SetBaudRate(uint32_t rate);
    uint32_t GetBaudRate() const { return Dcb.BaudRate; }
    void SetParity(uint8_t parity);
    uint8_t GetParity() const { return Dcb.Parity; }
    // 5..8 data bits, 0 one / 1 one and a half / 2 two stop bits, 0 no / 1 RTS/CTS /
    // 2 XON/XOFF flow control; anything else is refused with EINVAL.
    void SetByteSize(uint8_t bits);
    uint8_t GetByteSize() const { return Dcb.ByteSize; }
    void SetStopBits(uint8_t stopBits);
    uint8_t GetStopBits() const { return Dcb.StopBits; }
    void SetFlowControl(uint8_t flow);
    uint8_t GetFlowControl() const { return Dcb.Flow; }
    void SetRts(bool on);
    bool GetRts() const { return Dcb.Rts; }
    void SetDtr(bool on);
    bool GetDtr() const { return Dcb.Dtr; }

    void Write(const uint8_t* data, uint32_t count);
    // What the device takes now, without waiting; the count taken.
    uint32_t WriteSome(const uint8_t* data, uint32_t count);
    // Whether the last byte written has left the device, asked without waiting.
    bool OutputDrained();
    // Stores a zero byte after the bytes read when fewer than count came.
    uint32_t Read(uint8_t* buffer, uint32_t count);
    void Flush();
    // Bytes waiting; 0 also when the query fails.
    uint32_t InQueue();
    // msCtsOn | msDsrOn | msRingOn | msRlsdOn; 0 when closed, when the query
    // fails and on devices without modem lines (pseudo-terminals).
    uint32_t ModemStatus();

    // Where "COM" + n leads, and how its backend is made (tests inject doubles).
    void SetPortMap(const TPortMap& map) { Map = map; }
    const TPortMap& GetPortMap() const { return Map; }
    void SetBackendFactory(TBackendFactory factory);
    // The target the last Open tried ("" before any), for messages. An Open
    // that fails with EINPROGRESS keeps its backend for the next Open.
    const std::string& GetTarget() const { return Target; }

    // For the worker's wait: see TCommBackend. -1 while closed.
    int PollFd() const;
    void PollDone();
    int ModemFd() const;
    void ModemDone();
    // False while closed, and for a device without modem lines.
    bool HasModemLines();
    bool Gone();
    // The backend's notices since the last call (see TCommBackend).
    std::vector<std::string> TakeNotices();

    static constexpr uint32_t InQueueSize = 32768;
    static constexpr uint32_t OutQueueSize = 9216;

private:
    void ApplyState(TLineSettings previous, uint8_t code);
    void SetLine(uint8_t TLineSettings::*field, uint8_t value);
    [[noreturn]] void FailOpen(uint8_t code, int err);
    void RequireOpen() const;

    bool Opened = false;
    TCommTimeouts Timeouts;
    uint32_t PortNumber = 1;
    TLineSettings Dcb;
    std::unique_ptr<TCommBackend> Handle;

    TPortMap Map;
    TBackendFactory Factory;
    std::string Target;
};
