#include "Threadcomm.h"

#include <algorithm>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

TWThreadComm::TWThreadComm(bool createSuspended) : TThread(createSuspended) {
    WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Port.SetPortMap(TPortMap::Defaults());
    if (!createSuspended)
        Resume();
}

TWThreadComm::~TWThreadComm() {
    // The loop ends first; the port closes afterwards with Port.
    Stop();
    if (WakeFd >= 0)
        ::close(WakeFd);
}

void TWThreadComm::WakeUp() {
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(WakeFd, &one, sizeof one);
}

// ---- the window's operations ----

void TWThreadComm::RequestPort(uint32_t number) {
    RequestedPort.store(number);
    ReopenRequest.store(true);
    RequestSerial.fetch_add(1);
    WakeUp();
}

void TWThreadComm::SetBaudRate(uint32_t rate) {
    std::lock_guard lock(PortLock);
    Port.SetBaudRate(rate);
}

void TWThreadComm::SetParity(uint8_t parity) {
    std::lock_guard lock(PortLock);
    Port.SetParity(parity);
}

void TWThreadComm::SetRts(bool on) {
    {
        std::lock_guard lock(PortLock);
        Port.SetRts(on);
    }
    WakeUp(); // a loopback plug's CTS follows at once
}

bool TWThreadComm::GetRts() {
    std::lock_guard lock(PortLock);
    return Port.GetRts();
}

void TWThreadComm::SetDtr(bool on) {
    {
        std::lock_guard lock(PortLock);
        Port.SetDtr(on);
    }
    WakeUp();
}

bool TWThreadComm::GetDtr() {
    std::lock_guard lock(PortLock);
    return Port.GetDtr();
}

void TWThreadComm::SetPreambleMode(bool on) {
    std::lock_guard lock(FrameLock);
    if (on == PreambleMode.load())
        return;
    FrameState = 0;
    MatchPos = 0;
    PreambleMode.store(on);
}

bool TWThreadComm::SetPreamble(const uint8_t* bytes, uint32_t count, uint32_t frameLen) {
    if (count > MaxPreamble || (count > 0 && !bytes) || frameLen < 1 || frameLen > FrameBufSize)
        return false;
    std::lock_guard lock(FrameLock);
    std::copy_n(bytes, count, Preamble.begin());
    PreambleLen = count;
    FrameLen = frameLen;
    // A match or frame under way belongs to the old preamble and length: its
    // position may lie past the new ones, and its bytes are not a new frame.
    FrameState = 0;
    MatchPos = 0;
    FrameCount = 0;
    return true;
}

std::string TWThreadComm::GetSettingsText() {
    uint32_t number, rate;
    uint8_t parity;
    {
        std::lock_guard lock(PortLock);
        number = Port.GetPortNumber();
        rate = Port.GetBaudRate();
        parity = Port.GetParity();
    }
    static const char* const ParityNames[] = {"None", "Odd", "Even", "Mark", "Space"};
    std::string text = "通讯端口: COM" + std::to_string(number) +
                       "\n\n通讯速率: " + std::to_string(rate) + "\n\n数据校验: ";
    if (parity < 5)
        text += ParityNames[parity];
    text += "\n\n数 据 位: 8\n\n停 止 位: 1";
    return text;
}

bool TWThreadComm::Send(const uint8_t* bytes, uint32_t count) {
    if (SendPending.load(std::memory_order_acquire))
        return false;
    try {
        std::vector<uint8_t> block;
        block.reserve(MaxPreamble + count);
        if (PreambleMode.load()) {
            std::lock_guard lock(FrameLock);
            block.assign(Preamble.begin(), Preamble.begin() + PreambleLen);
        }
        if (count > 0 && bytes)
            block.insert(block.end(), bytes, bytes + count);
        std::lock_guard lock(PortLock);
        if (ControlRTS.load()) {
            Port.SetRts(!Port.GetRts());
            SendBuf = std::move(block);
            SendPending.store(true, std::memory_order_release);
            WakeUp();
        } else {
            Port.Write(block.data(), static_cast<uint32_t>(block.size()));
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool TWThreadComm::SendByte(uint8_t b) {
    try {
        std::lock_guard lock(PortLock);
        Port.WriteByte(b);
        return true;
    } catch (...) {
        return false;
    }
}

TOpenError TWThreadComm::LastOpenError() const {
    std::lock_guard lock(ErrorLock);
    return OpenError;
}

void TWThreadComm::SetPortMap(const TPortMap& map) {
    std::lock_guard lock(PortLock);
    Port.SetPortMap(map);
}

TPortMap TWThreadComm::GetPortMap() {
    std::lock_guard lock(PortLock);
    return Port.GetPortMap();
}

void TWThreadComm::SetBackendFactory(TBackendFactory factory) {
    std::lock_guard lock(PortLock);
    Port.SetBackendFactory(std::move(factory));
}

// ---- the worker ----

void TWThreadComm::Raise(const std::function<void()>& call) {
    try {
        call();
    } catch (...) {
    }
}

void TWThreadComm::Execute() {
    do {
        if (!IsOpen() || ReopenRequest.load()) {
            OpenPass();
            continue;
        }
        // While bytes keep coming, read again at once; otherwise wait on the
        // device, which bounds how late a modem-line change is noticed.
        bool ready = Flowing || WaitForActivity(ModemPollInterval);
        const uint32_t got = ready ? Receive() : 0;
        // A full chunk means more may be waiting: read again before waiting.
        Flowing = got == ReadChunk;
        auto now = Clock::now();
        if (now - LastModemCheck >= ModemPollInterval) {
            LastModemCheck = now;
            CheckModem();
        }
        if (SendPending.load(std::memory_order_acquire))
            SendPendingBlock();
        DropVanishedPort();
    } while (!Terminated());
}

bool TWThreadComm::WaitForActivity(Clock::duration timeout) {
    if (Terminated() || SendPending.load(std::memory_order_acquire))
        return true;
    pollfd fds[2] = {{WakeFd, POLLIN, 0}, {Port.PollFd(), POLLIN, 0}};
    int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(timeout).count());
    bool pollable = fds[1].fd >= 0;
    if (::poll(fds, pollable ? 2 : 1, ms) > 0) {
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(WakeFd, &value, sizeof value);
        }
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            LastPresenceCheck = {}; // look at it in this pass
        if (fds[1].revents) {
            std::lock_guard lock(PortLock);
            Port.PollDone();
        }
    }
    // A device without a descriptor is asked every time.
    return !pollable || fds[0].revents || fds[1].revents;
}

void TWThreadComm::OpenPass() {
    // While the port cannot be opened, attempts keep a steady pace; a new
    // RequestPort or the stop request cuts the pause short.
    uint32_t serial = RequestSerial.load();
    if (LastOpenFailed && serial == LastSerial) {
        auto due = LastAttempt + RetryInterval;
        while (!Terminated() && RequestSerial.load() == serial && Clock::now() < due)
            WaitForActivity(due - Clock::now());
        if (Terminated())
            return;
    }
    LastSerial = RequestSerial.load();
    LastAttempt = Clock::now();
    bool requested = ReopenRequest.exchange(false);
    bool opened = false;
    TOpenError error;
    {
        std::lock_guard lock(PortLock);
        try {
            Port.Close();
            PortOpen.store(false, std::memory_order_release);
            Port.SetPortNumber(RequestedPort.load());
            Port.Open();
            opened = true;
        } catch (const ECommError& e) {
            error.Code = e.Code;
            error.SysError = e.SysError;
        } catch (...) {
            error.Code = ceOpen;
        }
        error.PortNumber = Port.GetPortNumber();
        error.Target = Port.GetTarget();
        PortOpen.store(opened && Port.IsOpened(), std::memory_order_release);
    }
    {
        std::lock_guard lock(ErrorLock);
        OpenError = error;
    }
    if (!opened && requested)
        ReopenRequest.store(true); // keep asking until it opens
    LastOpenFailed = !opened;
    LastPresenceCheck = Clock::now();
    if (OnPortState)
        Raise([&] { OnPortState(opened); });
}

uint32_t TWThreadComm::ReadWaiting() {
    // The device is non-blocking: one read takes whatever waits, up to a
    // chunk, which saves asking for the count first on every pass.
    try {
        std::lock_guard lock(PortLock);
        if (ReadBuf.size() < ReadChunk + 1)
            ReadBuf.resize(ReadChunk + 1);
        return Port.Read(ReadBuf.data(), ReadChunk);
    } catch (...) {
        return 0;
    }
}

uint32_t TWThreadComm::Receive() {
    const uint32_t got = ReadWaiting();
    if (got == 0)
        return 0;
    // The framing mode is read once the bytes are in hand and under the lock
    // that SetPreambleMode takes, so that bytes sent after the switch are
    // always handled in the new mode.
    // Complete frames are collected under the lock and delivered after it, so
    // that no handler runs while the window could be waiting for the lock.
    std::vector<uint8_t> frames;
    uint32_t frameLen;
    bool framed;
    {
        std::lock_guard lock(FrameLock);
        framed = PreambleMode.load();
        frameLen = FrameLen;
        for (uint32_t i = 0; framed && i < got; ++i) {
            uint8_t b = ReadBuf[i];
            if (FrameState == 0) {
                if (PreambleLen > 0) {
                    if (b == Preamble[MatchPos]) {
                        if (++MatchPos == PreambleLen) {
                            FrameState = 1;
                            FrameCount = 0;
                        }
                    } else {
                        MatchPos = b == Preamble[0] ? 1 : 0;
                    }
                    continue;
                }
                FrameState = 1;
                FrameCount = 0;
            }
            if (FrameState == 1) {
                FrameBuf[FrameCount++] = b;
                if (FrameCount >= FrameLen) {
                    frames.insert(frames.end(), FrameBuf.begin(), FrameBuf.begin() + FrameLen);
                    FrameState = 0;
                    MatchPos = 0;
                }
            } else {
                FrameState = 0;
                MatchPos = 0;
            }
        }
    }
    if (!framed) {
        // Only the bytes really read are delivered.
        if (OnReceive)
            Raise([&] { OnReceive(ReadBuf.data(), got); });
        return got;
    }
    if (OnReceive && !frames.empty()) {
        try {
            for (size_t at = 0; at < frames.size(); at += frameLen)
                OnReceive(frames.data() + at, frameLen);
        } catch (...) {
        }
    }
    return got;
}

void TWThreadComm::CheckModem() {
    uint32_t status;
    {
        std::lock_guard lock(PortLock);
        status = Port.ModemStatus();
    }
    if (status == LastModem)
        return;
    LastModem = status;
    if (OnModemChange)
        Raise([&] {
            OnModemChange(status & msCtsOn, status & msDsrOn, status & msRingOn, status & msRlsdOn);
        });
}

void TWThreadComm::SendPendingBlock() {
    using std::chrono::milliseconds;
    try {
        std::this_thread::sleep_for(milliseconds(50));
        bool rts = GetRts();
        if (OnRtsChange)
            OnRtsChange(rts);
        {
            std::lock_guard lock(PortLock);
            Port.WriteFlushed(SendBuf.data(), static_cast<uint32_t>(SendBuf.size()));
        }
        std::this_thread::sleep_for(milliseconds(50));
        {
            std::lock_guard lock(PortLock);
            Port.SetRts(!Port.GetRts());
            rts = Port.GetRts();
        }
        if (OnRtsChange)
            OnRtsChange(rts);
    } catch (...) {
    }
    SendPending.store(false, std::memory_order_release);
}

void TWThreadComm::DropVanishedPort() {
    auto now = Clock::now();
    if (now - LastPresenceCheck < PresenceInterval)
        return;
    LastPresenceCheck = now;
    {
        std::lock_guard lock(PortLock);
        // Gone() stays false while bytes that came before the hang-up wait.
        if (!Port.Gone())
            return;
        try {
            Port.Close();
        } catch (...) {
            return;
        }
        PortOpen.store(false, std::memory_order_release);
    }
    LastOpenFailed = true; // reopen at the retry pace
    if (OnPortState)
        Raise([&] { OnPortState(false); });
}
