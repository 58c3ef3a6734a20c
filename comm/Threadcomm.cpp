#include "Threadcomm.h"

#include <algorithm>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

TWThreadComm::TWThreadComm(bool createSuspended) : TThread(createSuspended) {
    WakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    Port.SetPortMap(TPortMap::Defaults());
    Publish();
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
    // One write until the worker reads it: a burst of sends (a paste of
    // many lines) costs one wake-up, not a system call each.
    if (WakePending.exchange(true))
        return;
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
    const TPublishAtEnd publish{*this};
    Port.SetBaudRate(rate);
}

void TWThreadComm::SetParity(uint8_t parity) {
    std::lock_guard lock(PortLock);
    const TPublishAtEnd publish{*this};
    Port.SetParity(parity);
}

void TWThreadComm::SetByteSize(uint8_t bits) {
    std::lock_guard lock(PortLock);
    const TPublishAtEnd publish{*this};
    Port.SetByteSize(bits);
}

void TWThreadComm::SetStopBits(uint8_t stopBits) {
    std::lock_guard lock(PortLock);
    const TPublishAtEnd publish{*this};
    Port.SetStopBits(stopBits);
}

void TWThreadComm::SetFlowControl(uint8_t flow) {
    std::lock_guard lock(PortLock);
    const TPublishAtEnd publish{*this};
    Port.SetFlowControl(flow);
}

TLineSettings TWThreadComm::GetLineSettings() {
    std::lock_guard lock(PortLock);
    TLineSettings s;
    s.BaudRate = Port.GetBaudRate();
    s.ByteSize = Port.GetByteSize();
    s.Parity = Port.GetParity();
    s.StopBits = Port.GetStopBits();
    s.Flow = Port.GetFlowControl();
    s.Rts = Port.GetRts();
    s.Dtr = Port.GetDtr();
    return s;
}

void TWThreadComm::Release() {
    ReleaseRequest.store(true);
    WakeUp();
}

void TWThreadComm::Reconnect() {
    ReleaseRequest.store(false);
    ReopenRequest.store(true);
    RequestSerial.fetch_add(1);
    WakeUp();
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
    Framer.Reset();
    PreambleMode.store(on);
}

bool TWThreadComm::SetPreamble(const uint8_t* bytes, uint32_t count, uint32_t frameLen) {
    // A match or frame under way belongs to the old preamble and length: its
    // position may lie past the new ones, and its bytes are not a new frame.
    std::lock_guard lock(FrameLock);
    return Framer.SetPreamble(bytes, count, frameLen);
}

void TWThreadComm::Publish() {
    TPortSettings s;
    s.PortNumber = Port.GetPortNumber();
    s.Line.BaudRate = Port.GetBaudRate();
    s.Line.ByteSize = Port.GetByteSize();
    s.Line.Parity = Port.GetParity();
    s.Line.StopBits = Port.GetStopBits();
    s.Line.Flow = Port.GetFlowControl();
    std::lock_guard lock(PublishedLock);
    Published = s;
}

TWThreadComm::TPortSettings TWThreadComm::GetPortSettings() const {
    std::lock_guard lock(PublishedLock);
    return Published;
}

std::string TWThreadComm::GetSettingsText() {
    uint32_t number, rate;
    uint8_t parity, bits, stopBits;
    {
        std::lock_guard lock(PortLock);
        number = Port.GetPortNumber();
        rate = Port.GetBaudRate();
        parity = Port.GetParity();
        bits = Port.GetByteSize();
        stopBits = Port.GetStopBits();
    }
    static const char* const ParityNames[] = {"None", "Odd", "Even", "Mark", "Space"};
    std::string text = "通讯端口: COM" + std::to_string(number) +
                       "\n\n通讯速率: " + std::to_string(rate) + "\n\n数据校验: ";
    if (parity < 5)
        text += ParityNames[parity];
    text += "\n\n数 据 位: " + std::to_string(bits) + "\n\n停 止 位: ";
    text += stopBits == 0 ? "1" : stopBits == 1 ? "1.5" : "2";
    return text;
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

// ---- sending ----

bool TWThreadComm::Send(const uint8_t* bytes, uint32_t count) {
    try {
        std::vector<uint8_t> block;
        block.reserve(MaxPreamble + count);
        if (PreambleMode.load()) {
            std::lock_guard lock(FrameLock);
            block.assign(Framer.Preamble(), Framer.Preamble() + Framer.PreambleLen());
        }
        if (count > 0 && bytes)
            block.insert(block.end(), bytes, bytes + count);
        return Enqueue(std::move(block), ControlRTS.load());
    } catch (...) {
        return false;
    }
}

bool TWThreadComm::SendByte(uint8_t b) {
    try {
        return Enqueue(std::vector<uint8_t>{b}, false);
    } catch (...) {
        return false;
    }
}

bool TWThreadComm::SendRaw(const uint8_t* bytes, uint32_t count) {
    try {
        return count > 0 && bytes && Enqueue(std::vector<uint8_t>(bytes, bytes + count), false);
    } catch (...) {
        return false;
    }
}

void TWThreadComm::CancelSend() {
    CancelRequest.store(true);
    WakeUp();
}

bool TWThreadComm::Enqueue(std::vector<uint8_t>&& bytes, bool rtsControlled) {
    if (!Queue.Add(std::move(bytes), rtsControlled))
        return false;
    WakeUp();
    return true;
}

// ---- the worker ----

void TWThreadComm::Raise(const std::function<void()>& call) {
    try {
        call();
    } catch (...) {
    }
}

void TWThreadComm::Execute() {
    pthread_setname_np(pthread_self(), "serial worker"); // as top -H and perf show it
    do {
        if (CancelRequest.exchange(false))
            Queue.Drop();
        Queue.ReportProgress();
        if (ReleaseRequest.load()) {
            ReleasePass();
            continue;
        }
        ReleasedShown = false;
        if (!IsOpen() || ReopenRequest.load()) {
            OpenPass();
            continue;
        }
        // While bytes keep coming, read again at once; otherwise wait on the
        // device, which bounds how late a modem-line change is noticed. An
        // RTS-controlled block's next step shortens the wait.
        // A device without modem lines has nothing to poll: the wait lasts
        // until it has something to say (or its presence is due a look).
        // Bytes waiting to go keep the short pace until their writes are
        // under way and the device's readiness wakes the worker.
        // A device that reports its line changes wakes the worker for them;
        // its lines are still read now and then in case a report was missed.
        // A device without a descriptor to wait on is asked on the short timer.
        const bool watched = ModemLines && Port.ModemFd() >= 0;
        const bool quiet = (!ModemLines || watched) && Queue.BytesToGo() == 0 && Port.PollFd() >= 0;
        auto timeout =
            std::chrono::duration_cast<Clock::duration>(quiet ? QuietInterval : ModemPollInterval);
        if (const auto due = Queue.NextDue(); due != Clock::time_point{})
            timeout = std::clamp(due - Clock::now(), Clock::duration::zero(), timeout);
        bool ready = Flowing || WaitForActivity(timeout);
        const uint32_t got = ready ? Receive() : 0;
        ReadCount.fetch_add(got, std::memory_order_release); // framed and delivered
        // Bytes came: more may be waiting, so read again before waiting. A terminal gives at
        // most the 4 KiB of its line discipline's buffer a read, never a whole chunk: asking the
        // device first before each read of a flood would double the calls into the kernel.
        // A burst's end costs one read that finds nothing.
        Flowing = got > 0;
        auto now = Clock::now();
        if (ModemLines && (ModemSignalled || now - LastModemCheck >=
                                                 (watched ? QuietInterval : ModemPollInterval))) {
            ModemSignalled = false;
            LastModemCheck = now;
            CheckModem();
        }
        Queue.WritePass();
        DropVanishedPort();
    } while (!Terminated());
}

bool TWThreadComm::WaitForActivity(Clock::duration timeout) {
    Waits.fetch_add(1, std::memory_order_relaxed);
    if (Terminated() || CancelRequest.load())
        return true;
    const int portFd = IsOpen() ? Port.PollFd() : -1;
    const short portEvents = POLLIN | (Queue.WantWrite() ? POLLOUT : 0);
    const int modemFd = IsOpen() && ModemLines ? Port.ModemFd() : -1;
    pollfd fds[3] = {{WakeFd, POLLIN, 0}, {portFd, portEvents, 0}, {modemFd, POLLIN, 0}};
    // Nanoseconds: an RTS-controlled block checks each byte's drain at well
    // under a millisecond.
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
    LatestWaitLimit.store(ns, std::memory_order_relaxed);
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    bool pollable = portFd >= 0;
    // poll passes over the entries whose descriptor is -1.
    if (::ppoll(fds, 3, &ts, nullptr) > 0) {
        if (fds[0].revents & POLLIN) {
            uint64_t value;
            [[maybe_unused]] ssize_t n = ::read(WakeFd, &value, sizeof value);
            // An exchange, not a store: it reads the flag a waker set, so what
            // that waker queued before is seen by the pass that follows.
            WakePending.exchange(false);
        }
        if (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL))
            LastPresenceCheck = {}; // look at it in this pass
        if (fds[1].revents & ~POLLOUT) {
            std::lock_guard lock(PortLock);
            Port.PollDone();
        }
        if (fds[2].revents) {
            std::lock_guard lock(PortLock);
            Port.ModemDone();
            ModemSignalled = true;
        }
    }
    // A device without a descriptor is asked every time.
    return !pollable || fds[0].revents || fds[1].revents || fds[2].revents;
}

// The user let go of the device: close it once, say so, and sleep until
// Reconnect (or the stop request) wakes the worker.
void TWThreadComm::ReleasePass() {
    if (!ReleasedShown) {
        ReleasedShown = true;
        {
            std::lock_guard lock(PortLock);
            PortOpen.store(false, std::memory_order_release);
        }
        Queue.Drop();
        ModemLines = false;
        {
            std::lock_guard lock(PortLock);
            try {
                Port.Close();
                Port.CancelOpen(); // a server must not see us holding its port either
            } catch (...) {
            }
        }
        if (OnPortState)
            Raise([&] { OnPortState(false); });
    }
    if (!Terminated() && ReleaseRequest.load())
        WaitForActivity(QuietInterval);
}

void TWThreadComm::OpenPass() {
    // While the port cannot be opened, attempts keep a steady pace; a new
    // RequestPort or the stop request cuts the pause short.
    uint32_t serial = RequestSerial.load();
    if (LastOpenFailed && serial == LastSerial) {
        auto due = LastAttempt + RetryInterval;
        while (!Terminated() && !CancelRequest.load() && RequestSerial.load() == serial &&
               Clock::now() < due)
            WaitForActivity(due - Clock::now());
        if (Terminated() || CancelRequest.load())
            return;
    }
    LastSerial = RequestSerial.load();
    LastAttempt = Clock::now();
    bool requested = ReopenRequest.exchange(false);
    // What was queued for the port that closes now will not go out; blocks
    // queued while it was closed wait for this open. The port is marked
    // closed first, so that Send takes no plain block meanwhile.
    if (IsOpen()) {
        {
            std::lock_guard lock(PortLock);
            PortOpen.store(false, std::memory_order_release);
        }
        Queue.Drop();
    }
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
        Publish();
        error.PortNumber = Port.GetPortNumber();
        error.Target = Port.GetTarget();
        PortOpen.store(opened && Port.IsOpened(), std::memory_order_release);
        ModemLines = opened && Port.HasModemLines();
        ModemSignalled = ModemLines; // the lamps show the new device's lines at once
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
        const uint32_t got = Port.Read(ReadBuf.data(), ReadChunk);
        Notices = Port.TakeNotices();
        return got;
    } catch (...) {
        return 0;
    }
}

uint32_t TWThreadComm::Receive() {
    const uint32_t got = ReadWaiting();
    for (const std::string& text : Notices)
        if (OnPortNotice)
            Raise([&] { OnPortNotice(text); });
    Notices.clear();
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
        frameLen = Framer.FrameLen();
        if (framed)
            Framer.Feed(ReadBuf.data(), got, frames);
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
    Queue.Drop();
    LastOpenFailed = true; // reopen at the retry pace
    if (OnPortState)
        Raise([&] { OnPortState(false); });
}
