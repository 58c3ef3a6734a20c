// A port on another machine through Telnet with the COM port control option
// (RFC 2217), as ser2net serves it: data bytes with 0xFF doubled, the line
// settings and RTS/DTR sent as subcommands, the modem lines reported by the
// server (NOTIFY-MODEMSTATE) and raised to the worker through an eventfd, so
// that the lamps follow the device without being polled.
//
// Output order: commands and data share the socket. Commands that do not fit
// wait in Pending and go before any later data; a data 0xFF of which only the
// first half went out is finished before anything else (see THalf).

#include "NetBackend.h"
#include "Telnet.h"

#include <algorithm>
#include <bitset>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

using namespace telnet;

namespace {

class TRfc2217Backend final : public TNetBackend, private TTelnetEvents {
public:
    using TNetBackend::TNetBackend;
    ~TRfc2217Backend() override { CloseEvent(); }

    int Close() override {
        CloseEvent();
        return TNetBackend::Close();
    }

    int GetState(TLineSettings& s) override {
        s = Settings;
        if (RtsKnown)
            s.Rts = RtsBack;
        if (DtrKnown)
            s.Dtr = DtrBack;
        return 0;
    }

    int SetState(const TLineSettings& s) override {
        if (!ValidLineSettings(s))
            return EINVAL;
        if (ComPortRefused) { // kept, and read back, as on a raw port
            Settings = s;
            return 0;
        }
        const bool all = !SettingsSent;
        if (all || s.BaudRate != Settings.BaudRate) {
            const uint8_t rate[4] = {uint8_t(s.BaudRate >> 24), uint8_t(s.BaudRate >> 16),
                                     uint8_t(s.BaudRate >> 8), uint8_t(s.BaudRate)};
            AppendComPort(Pending, CpSetBaudRate, rate, 4);
        }
        if (all || s.ByteSize != Settings.ByteSize)
            SendComPort(CpSetDataSize, s.ByteSize);
        if (all || s.Parity != Settings.Parity)
            SendComPort(CpSetParity, uint8_t(s.Parity + 1)); // 1 none .. 5 space
        if (all || s.StopBits != Settings.StopBits) // 1 one, 2 two, 3 one and a half
            SendComPort(CpSetStopSize, s.StopBits == 0 ? 1 : s.StopBits == 1 ? 3 : 2);
        if (all || s.Flow != Settings.Flow)
            SendComPort(CpSetControl, s.Flow == 1 ? CtlHardwareFlow
                                      : s.Flow == 2 ? CtlXonXoff
                                                    : CtlNoFlow);
        if (all || s.Rts != Settings.Rts)
            SendComPort(CpSetControl, s.Rts ? CtlRtsOn : CtlRtsOff);
        if (all || s.Dtr != Settings.Dtr)
            SendComPort(CpSetControl, s.Dtr ? CtlDtrOn : CtlDtrOff);
        Settings = s;
        SettingsSent = true;
        return FlushPending();
    }

    int WriteSome(const uint8_t* data, size_t count, size_t& written) override {
        written = 0;
        if (int err = FinishHalf())
            return err;
        if (Half == THalf::Sent)
            return 0;
        if (Half == THalf::Owed) {
            // The pair went out whole; it stands for this byte unless the
            // block it belonged to was dropped meanwhile.
            Half = THalf::None;
            if (count > 0 && data[0] == Iac) {
                written = 1;
                ++data;
                --count;
            }
        }
        if (int err = FlushPending())
            return err;
        if (!Pending.empty() || count == 0)
            return 0;
        Wire.clear();
        const size_t taken = EscapeData(data, count, Wire, WireChunk);
        size_t sent = 0;
        if (int err = Link.Send(Wire.data(), Wire.size(), sent))
            return err;
        // Source bytes whose encoding went out whole; a 0xFF cut after its
        // first half is finished on the next call and reported then.
        size_t at = 0, whole = 0;
        for (; whole < taken; ++whole) {
            const size_t need = data[whole] == Iac ? 2 : 1;
            if (at + need > sent)
                break;
            at += need;
        }
        if (at < sent)
            Half = THalf::Sent;
        written += whole;
        return 0;
    }

    int Read(uint8_t* data, size_t count, size_t& got) override {
        got = 0;
        size_t raw = 0;
        const int err = Link.Recv(data, count, raw);
        // Data bytes are never more than the bytes that carried them: decode in place.
        got = Parser.Feed(data, raw, data, *this);
        if (!err)
            FlushPending();
        return got > 0 ? 0 : err;
    }

    void PollDone() override { FlushPending(); }

    int ModemStatus(uint32_t& status) override {
        status = ComPortRefused ? 0 : Modem;
        return 0;
    }
    bool HasModemLines() override { return !ComPortRefused; }
    // Kept after a refusal too: the worker then sleeps instead of asking lines
    // that never change.
    int ModemFd() const override { return ModemEvent; }
    void ModemDone() override {
        uint64_t value;
        [[maybe_unused]] ssize_t n = ::read(ModemEvent, &value, sizeof value);
    }

    std::vector<std::string> TakeNotices() override { return std::move(Notices); }

protected:
    int Connected() override {
        CloseEvent();
        ModemEvent = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (ModemEvent < 0)
            return errno;
        Parser.Reset();
        Pending.clear();
        Half = THalf::None;
        SettingsSent = RtsKnown = DtrKnown = ComPortRefused = false;
        Answered.reset();
        Modem = 0;
        // Binary both ways so that no byte is translated, no go-aheads, and
        // the COM port option; the settings follow from TCommPort's SetState.
        AppendNegotiation(Pending, Will, OptBinary);
        AppendNegotiation(Pending, Do, OptBinary);
        AppendNegotiation(Pending, Will, OptSga);
        AppendNegotiation(Pending, Do, OptSga);
        AppendNegotiation(Pending, Will, OptComPort);
        SendComPort(CpSetModemStateMask, 0xFF);
        SendComPort(CpSetControl, CtlAskRts);
        SendComPort(CpSetControl, CtlAskDtr);
        return FlushPending();
    }

    bool HoldsBytes() const override { return !Pending.empty() || Half == THalf::Sent; }

private:
    // A data 0xFF goes out as two bytes; when the socket takes only the first,
    // the second must follow before anything else (Sent), and the source byte
    // is reported written on the next WriteSome (Owed).
    enum class THalf : uint8_t { None, Sent, Owed };
    static constexpr size_t WireChunk = 65536;

    void SendComPort(uint8_t code, uint8_t value) { AppendComPort(Pending, code, &value, 1); }

    int FinishHalf() {
        if (Half != THalf::Sent)
            return 0;
        const uint8_t second = Iac;
        size_t sent = 0;
        if (int err = Link.Send(&second, 1, sent))
            return err;
        if (sent == 1)
            Half = THalf::Owed;
        return 0;
    }

    int FlushPending() {
        if (Pending.empty())
            return 0;
        if (int err = FinishHalf())
            return err;
        if (Half == THalf::Sent || !Link.Connected())
            return 0;
        size_t sent = 0;
        if (int err = Link.Send(Pending.data(), Pending.size(), sent))
            return err;
        Pending.erase(Pending.begin(), Pending.begin() + static_cast<std::ptrdiff_t>(sent));
        return 0;
    }

    void Notice(const std::string& text) {
        if (std::find(Reported.begin(), Reported.end(), text) != Reported.end())
            return;
        Reported.push_back(text);
        Notices.push_back(text);
    }

    // Each option we do not take is refused once: a server that keeps asking
    // gets no answer loop from us.
    void Refuse(uint8_t verb, uint8_t option) {
        if (Answered.test(option))
            return;
        Answered.set(option);
        AppendNegotiation(Pending, verb, option);
    }

    void OnNegotiation(uint8_t verb, uint8_t option) override {
        const bool ours = option == OptBinary || option == OptSga || option == OptComPort;
        switch (verb) {
        case Will:
            // We asked for BINARY and SGA from the server already; COM-PORT
            // is ours to offer, not the server's.
            if (!ours || option == OptComPort)
                Refuse(Dont, option);
            break;
        case Do:
            if (!ours)
                Refuse(Wont, option);
            break;
        case Wont:
            if (option == OptBinary)
                Notice("the server refuses binary mode from its side: bytes it sends may be altered");
            break;
        case Dont:
            if (option == OptBinary)
                Notice("the server refuses binary mode: bytes sent may be altered");
            if (option == OptComPort && !ComPortRefused) {
                ComPortRefused = true;
                Notice("the server refuses the COM port option (RFC 2217): line settings, RTS "
                       "and DTR do not reach the device, the lamps stay off");
                Signal(); // the lamps go off
            }
            break;
        default:
            break;
        }
    }

    void OnSubnegotiation(const uint8_t* bytes, size_t count) override {
        // Every answer we read is the option, the code and one value byte.
        if (count != 3 || bytes[0] != OptComPort)
            return;
        const uint8_t value = bytes[2];
        switch (bytes[1]) {
        case ServerOffset + CpNotifyModemState: {
            const uint32_t lines = value & (msCtsOn | msDsrOn | msRingOn | msRlsdOn);
            if (lines != Modem || (value & 0x0F)) {
                Modem = lines;
                Signal();
            }
            break;
        }
        case ServerOffset + CpSetControl:
            if (value == CtlRtsOn || value == CtlRtsOff) {
                RtsKnown = true;
                RtsBack = value == CtlRtsOn;
            } else if (value == CtlDtrOn || value == CtlDtrOff) {
                DtrKnown = true;
                DtrBack = value == CtlDtrOn;
            }
            break;
        default:
            break;
        }
    }

    void Signal() {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(ModemEvent, &one, sizeof one);
    }

    void CloseEvent() {
        if (ModemEvent >= 0)
            ::close(ModemEvent);
        ModemEvent = -1;
    }

    TTelnetParser Parser;
    std::vector<uint8_t> Pending; // commands not yet taken by the socket
    std::vector<uint8_t> Wire;    // reused for the encoded data
    THalf Half = THalf::None;
    bool SettingsSent = false;
    bool ComPortRefused = false;
    bool RtsKnown = false, RtsBack = false;
    bool DtrKnown = false, DtrBack = false;
    std::bitset<256> Answered;
    uint32_t Modem = 0;
    int ModemEvent = -1;
    std::vector<std::string> Reported; // every notice once per connection
    std::vector<std::string> Notices;  // not yet taken by the worker
};

} // namespace

std::unique_ptr<TCommBackend> MakeRfc2217Backend(const TNetTarget& target) {
    return std::make_unique<TRfc2217Backend>(target);
}
