#include "CommPort.h"
#include "NetBackend.h"

#include <cerrno>

TCommPort::TCommPort() : Factory(MakeDefaultBackend) {}

TCommPort::~TCommPort() {
    try {
        Close();
    } catch (...) {
    }
}

void TCommPort::SetBackendFactory(TBackendFactory factory) {
    Factory = factory ? std::move(factory) : TBackendFactory(MakeDefaultBackend);
}

void TCommPort::RequireOpen() const {
    if (!Opened)
        throw ECommError(cePortNotOpen, 0);
}

void TCommPort::FailOpen(uint8_t code, int err) {
    Handle->Close();
    Handle.reset();
    throw ECommError(code, static_cast<uint32_t>(err));
}

void TCommPort::Open() {
    if (Opened)
        return;
    const TLineSettings owned = Dcb;
    if (PortNumber == 0)
        PortNumber = 1;
    const std::string target = Map.Resolve(PortNumber);
    // A connection still on its way from the last attempt goes on, unless the
    // port now leads elsewhere.
    if (Handle && target != Target)
        Handle.reset();
    Target = target;
    if (Target.empty())
        throw ECommError(ceOpen, ENOENT);
    if (!Handle)
        Handle = Factory(Target);
    if (!Handle)
        throw ECommError(ceOpen, ENODEV);
    if (int err = Handle->Open(Target)) {
        if (err != EINPROGRESS)
            Handle.reset();
        throw ECommError(ceOpen, static_cast<uint32_t>(err));
    }
    // The device keeps its own values for everything we do not own.
    if (int err = Handle->GetState(Dcb))
        FailOpen(ceGetState, err);
    Dcb = owned;
    if (int err = Handle->SetState(Dcb))
        FailOpen(ceSetState, err);
    if (int err = Handle->SetupQueues(InQueueSize, OutQueueSize))
        FailOpen(ceSetupQueues, err);
    Timeouts = {15, 1, 250, 1, 250};
    if (int err = Handle->SetTimeouts(Timeouts))
        FailOpen(ceSetTimeouts, err);
    Opened = true;
}

void TCommPort::Close() {
    if (!Opened)
        return;
    if (int err = Handle->Close())
        throw ECommError(ceClose, static_cast<uint32_t>(err));
    Handle.reset();
    Opened = false;
}

void TCommPort::CancelOpen() {
    if (!Opened)
        Handle.reset();
}

void TCommPort::SetPortNumber(uint32_t n) {
    if (Opened)
        throw ECommError(cePortIsOpen, 0);
    PortNumber = n == 0 ? 1 : n;
}

void TCommPort::ApplyState(TLineSettings previous, uint8_t code) {
    if (!Opened)
        return;
    if (int err = Handle->SetState(Dcb)) {
        Dcb = previous;
        throw ECommError(code, static_cast<uint32_t>(err));
    }
}

void TCommPort::SetBaudRate(uint32_t rate) {
    // A rate of 0 or a parity beyond space would make every later open fail.
    if (rate == 0)
        throw ECommError(ceSetBaudRate, EINVAL);
    TLineSettings previous = Dcb;
    Dcb.BaudRate = rate;
    ApplyState(previous, ceSetBaudRate);
}

void TCommPort::SetParity(uint8_t parity) {
    if (parity > 4)
        throw ECommError(ceSetParity, EINVAL);
    TLineSettings previous = Dcb;
    Dcb.Parity = parity;
    ApplyState(previous, ceSetParity);
}

void TCommPort::SetLine(uint8_t TLineSettings::*field, uint8_t value) {
    TLineSettings next = Dcb;
    next.*field = value;
    if (!ValidLineSettings(next))
        throw ECommError(ceSetState, EINVAL);
    TLineSettings previous = Dcb;
    Dcb = next;
    ApplyState(previous, ceSetState);
}

void TCommPort::SetByteSize(uint8_t bits) {
    SetLine(&TLineSettings::ByteSize, bits);
}

void TCommPort::SetStopBits(uint8_t stopBits) {
    SetLine(&TLineSettings::StopBits, stopBits);
}

void TCommPort::SetFlowControl(uint8_t flow) {
    SetLine(&TLineSettings::Flow, flow);
}

void TCommPort::SetRts(bool on) {
    TLineSettings previous = Dcb;
    Dcb.Rts = on;
    ApplyState(previous, ceSetRts);
}

void TCommPort::SetDtr(bool on) {
    TLineSettings previous = Dcb;
    Dcb.Dtr = on;
    ApplyState(previous, ceSetDtr);
}

void TCommPort::Write(const uint8_t* data, uint32_t count) {
    RequireOpen();
    if (count == 0 || data == nullptr)
        return;
    size_t written = 0;
    if (int err = Handle->Write(data, count, written))
        throw ECommError(ceWrite, static_cast<uint32_t>(err));
}

uint32_t TCommPort::WriteSome(const uint8_t* data, uint32_t count) {
    RequireOpen();
    if (count == 0 || data == nullptr)
        return 0;
    size_t written = 0;
    if (int err = Handle->WriteSome(data, count, written))
        throw ECommError(ceWrite, static_cast<uint32_t>(err));
    return static_cast<uint32_t>(written);
}

bool TCommPort::OutputDrained() {
    RequireOpen();
    bool done = false;
    if (int err = Handle->Drained(done))
        throw ECommError(ceFlush, static_cast<uint32_t>(err));
    return done;
}

uint32_t TCommPort::Read(uint8_t* buffer, uint32_t count) {
    RequireOpen();
    size_t got = 0;
    if (int err = Handle->Read(buffer, count, got))
        throw ECommError(ceRead, static_cast<uint32_t>(err));
    if (got < count)
        buffer[got] = 0;
    return static_cast<uint32_t>(got);
}

void TCommPort::Flush() {
    RequireOpen();
    if (int err = Handle->Flush())
        throw ECommError(ceFlush, static_cast<uint32_t>(err));
}

uint32_t TCommPort::InQueue() {
    RequireOpen();
    uint32_t n = 0;
    if (Handle->InQueue(n) != 0)
        return 0;
    return n;
}

uint32_t TCommPort::ModemStatus() {
    uint32_t status = 0;
    if (Handle && Handle->ModemStatus(status) != 0)
        return 0;
    return status;
}

bool TCommPort::HasModemLines() {
    return Handle && Handle->HasModemLines();
}

int TCommPort::PollFd() const {
    return Handle ? Handle->PollFd() : -1;
}

void TCommPort::PollDone() {
    if (Handle)
        Handle->PollDone();
}

int TCommPort::ModemFd() const {
    return Handle ? Handle->ModemFd() : -1;
}

void TCommPort::ModemDone() {
    if (Handle)
        Handle->ModemDone();
}

std::vector<std::string> TCommPort::TakeNotices() {
    return Opened && Handle ? Handle->TakeNotices() : std::vector<std::string>{};
}

bool TCommPort::Gone() {
    return Opened && Handle && Handle->Gone();
}

std::unique_ptr<TCommBackend> MakeDefaultBackend(const std::string& target) {
    if (target == LoopbackTarget)
        return MakeLoopbackBackend();
    if (IsNetTarget(target)) {
        TNetTarget net;
        if (!ParseNetTarget(target, net))
            return nullptr; // reported as no such device
        return net.Kind == TNetTarget::TKind::Rfc2217 ? MakeRfc2217Backend(net)
                                                      : MakeTcpBackend(net);
    }
    return MakePosixBackend();
}
