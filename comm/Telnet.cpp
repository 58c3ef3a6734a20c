#include "Telnet.h"

namespace telnet {

void TTelnetParser::Reset() {
    State = TState::Data;
    SubLen = 0;
    SubOverflow = false;
}

size_t TTelnetParser::Feed(const uint8_t* in, size_t count, uint8_t* out, TTelnetEvents& events) {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t b = in[i];
        switch (State) {
        case TState::Data:
            if (b == Iac)
                State = TState::Iac;
            else
                out[n++] = b;
            break;
        case TState::Iac:
            if (b == Iac) {
                out[n++] = b;
                State = TState::Data;
            } else if (b >= Will) {
                Verb = b;
                State = TState::Verb;
            } else if (b == Sb) {
                SubLen = 0;
                SubOverflow = false;
                State = TState::SubOption;
            } else {
                State = TState::Data; // NOP, GA, a stray SE and the like carry nothing for us
            }
            break;
        case TState::Verb:
            State = TState::Data;
            events.OnNegotiation(Verb, b);
            break;
        case TState::SubOption:
        case TState::Sub:
            if (b == Iac) {
                State = TState::SubIac;
            } else {
                Keep(b);
                State = TState::Sub;
            }
            break;
        case TState::SubIac:
            if (b == Iac) {
                Keep(b);
                State = TState::Sub;
            } else if (b == Se) {
                State = TState::Data;
                if (SubLen > 0 && !SubOverflow)
                    events.OnSubnegotiation(SubBuf, SubLen);
            } else {
                // A broken subnegotiation: drop it and read the byte as the
                // command that the IAC began.
                State = TState::Iac;
                --i;
            }
            break;
        }
    }
    return n;
}

void TTelnetParser::Keep(uint8_t b) {
    if (SubLen < MaxSub)
        SubBuf[SubLen++] = b;
    else
        SubOverflow = true;
}

void AppendNegotiation(std::vector<uint8_t>& out, uint8_t verb, uint8_t option) {
    out.insert(out.end(), {Iac, verb, option});
}

void AppendComPort(std::vector<uint8_t>& out, uint8_t code, const uint8_t* payload, size_t count) {
    out.insert(out.end(), {Iac, Sb, OptComPort, code});
    for (size_t i = 0; i < count; ++i) {
        out.push_back(payload[i]);
        if (payload[i] == Iac)
            out.push_back(Iac);
    }
    out.insert(out.end(), {Iac, Se});
}

size_t EscapeData(const uint8_t* data, size_t count, std::vector<uint8_t>& out, size_t room) {
    size_t i = 0;
    for (; i < count; ++i) {
        const size_t need = data[i] == Iac ? 2 : 1;
        if (room < need)
            break;
        room -= need;
        out.push_back(data[i]);
        if (data[i] == Iac)
            out.push_back(Iac);
    }
    return i;
}

} // namespace telnet
