#pragma once
// The Telnet framing a network serial port speaks (RFC 854 with the COM port
// control option of RFC 2217): the receive parser and the helpers that build
// what we send. Plain code without sockets, so that the fuzz target and the
// tests drive it with any byte stream.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace telnet {

inline constexpr uint8_t Se = 240;
inline constexpr uint8_t Sb = 250;
inline constexpr uint8_t Will = 251;
inline constexpr uint8_t Wont = 252;
inline constexpr uint8_t Do = 253;
inline constexpr uint8_t Dont = 254;
inline constexpr uint8_t Iac = 255;

inline constexpr uint8_t OptBinary = 0;
inline constexpr uint8_t OptSga = 3;
inline constexpr uint8_t OptComPort = 44;

// COM port subcommands as the client sends them; the server answers with the
// same code plus ServerOffset.
inline constexpr uint8_t CpSetBaudRate = 1;
inline constexpr uint8_t CpSetDataSize = 2;
inline constexpr uint8_t CpSetParity = 3;
inline constexpr uint8_t CpSetStopSize = 4;
inline constexpr uint8_t CpSetControl = 5;
inline constexpr uint8_t CpNotifyModemState = 7;
inline constexpr uint8_t CpSetModemStateMask = 11;
inline constexpr uint8_t ServerOffset = 100;

// SET-CONTROL values.
inline constexpr uint8_t CtlNoFlow = 1;
inline constexpr uint8_t CtlXonXoff = 2;
inline constexpr uint8_t CtlHardwareFlow = 3;
inline constexpr uint8_t CtlAskDtr = 7;
inline constexpr uint8_t CtlDtrOn = 8;
inline constexpr uint8_t CtlDtrOff = 9;
inline constexpr uint8_t CtlAskRts = 10;
inline constexpr uint8_t CtlRtsOn = 11;
inline constexpr uint8_t CtlRtsOff = 12;

// What the parser found besides data bytes.
class TTelnetEvents {
public:
    virtual ~TTelnetEvents() = default;
    // verb is Will, Wont, Do or Dont.
    virtual void OnNegotiation(uint8_t verb, uint8_t option) = 0;
    // The bytes between IAC SB and IAC SE, option first, IAC IAC undoubled;
    // never empty and never longer than MaxSub: a longer one is dropped whole.
    virtual void OnSubnegotiation(const uint8_t* bytes, size_t count) = 0;
};

// The receive side: a state machine over single bytes, so that a sequence
// split anywhere across reads gives the same result as one read. Anything
// that is not a well-formed command (IAC and an unknown byte, a stray SE, an
// IAC inside a subnegotiation that is neither IAC nor SE) is dropped without
// a trace in the data.
class TTelnetParser {
public:
    static constexpr size_t MaxSub = 64;

    // Writes the data bytes of in[0..count) to out, which must have room for
    // count bytes and may be in itself; returns how many.
    size_t Feed(const uint8_t* in, size_t count, uint8_t* out, TTelnetEvents& events);
    void Reset();

private:
    void Keep(uint8_t b);

    enum class TState : uint8_t { Data, Iac, Verb, SubOption, Sub, SubIac };
    TState State = TState::Data;
    uint8_t Verb = 0;
    uint8_t SubLen = 0;
    bool SubOverflow = false;
    uint8_t SubBuf[MaxSub] = {};
};

// Appends a command or a COM port subcommand (payload IAC-doubled) to out.
void AppendNegotiation(std::vector<uint8_t>& out, uint8_t verb, uint8_t option);
void AppendComPort(std::vector<uint8_t>& out, uint8_t code, const uint8_t* payload, size_t count);

// Encodes data bytes for the wire (0xFF doubled) into out, taking source bytes
// while the encoding fits into room bytes; returns the source bytes taken.
size_t EscapeData(const uint8_t* data, size_t count, std::vector<uint8_t>& out, size_t room);

} // namespace telnet
