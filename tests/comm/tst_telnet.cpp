// The Telnet receive parser and the network targets of the port map.

#include "NetTarget.h"
#include "Telnet.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace telnet;

namespace {

struct TCollect : TTelnetEvents {
    std::vector<std::string> Seen;
    void OnNegotiation(uint8_t verb, uint8_t option) override {
        Seen.push_back("neg " + std::to_string(verb) + " " + std::to_string(option));
    }
    void OnSubnegotiation(const uint8_t* b, size_t n) override {
        std::string s = "sub";
        for (size_t i = 0; i < n; ++i)
            s += " " + std::to_string(b[i]);
        Seen.push_back(s);
    }
};

struct TParsed {
    std::vector<uint8_t> Data;
    std::vector<std::string> Events;
};

// Feeds the stream in pieces of the given size (0: whole).
TParsed Parse(const std::vector<uint8_t>& in, size_t piece = 0) {
    TTelnetParser parser;
    TCollect c;
    TParsed out;
    for (size_t at = 0; at < in.size();) {
        const size_t n = piece ? std::min(piece, in.size() - at) : in.size();
        std::vector<uint8_t> buf(in.begin() + long(at), in.begin() + long(at + n));
        const size_t got = parser.Feed(buf.data(), n, buf.data(), c);
        out.Data.insert(out.Data.end(), buf.begin(), buf.begin() + long(got));
        at += n;
    }
    out.Events = c.Seen;
    return out;
}

struct TCase {
    const char* Name;
    std::vector<uint8_t> Wire;
    std::vector<uint8_t> Data;
    std::vector<std::string> Events;
};

TEST(TelnetParser, DataAndCommandsComeApartTheSameWayHoweverTheStreamIsSplit) {
    const std::vector<TCase> cases = {
        {"plain bytes with 0x00", {0x00, 'a', 0x00}, {0x00, 'a', 0x00}, {}},
        {"doubled 0xFF is one byte", {0xFF, 0xFF, 0xFF, 0xFF, 0x00}, {0xFF, 0xFF, 0x00}, {}},
        {"negotiations", {'a', Iac, Will, 0, Iac, Dont, 44, 'b'}, {'a', 'b'},
         {"neg 251 0", "neg 254 44"}},
        {"modem state with a doubled 0xFF inside",
         {Iac, Sb, 44, 107, 0xFF, 0xFF, Iac, Se, 0xFF, 0xFF},
         {0xFF},
         {"sub 44 107 255"}},
        {"unknown commands and a stray SE vanish", {Iac, 241, 'x', Iac, Se, 'y', Iac, 1, 'z'},
         {'x', 'y', 'z'}, {}},
        {"a broken subnegotiation is dropped and its IAC read as a command",
         {Iac, Sb, 44, 107, 0x30, Iac, Will, 3, 'k'}, {'k'}, {"neg 251 3"}},
        {"an empty subnegotiation reports nothing", {Iac, Sb, Iac, Se, 'q'}, {'q'}, {}},
    };
    for (const auto& c : cases) {
        for (size_t piece : {size_t(0), size_t(1), size_t(2), size_t(3)}) {
            const TParsed p = Parse(c.Wire, piece);
            EXPECT_EQ(p.Data, c.Data) << c.Name << ", pieces of " << piece;
            EXPECT_EQ(p.Events, c.Events) << c.Name << ", pieces of " << piece;
        }
    }
}

TEST(TelnetParser, AnOverlongSubnegotiationIsDroppedWholeAndTheStreamGoesOn) {
    std::vector<uint8_t> wire = {Iac, Sb, 44, 107};
    wire.insert(wire.end(), TTelnetParser::MaxSub, 0xF0);
    wire.insert(wire.end(), {Iac, Se, 'o', 'k', Iac, Sb, 44, 107, 0x10, Iac, Se});
    const TParsed p = Parse(wire, 7);
    EXPECT_EQ(p.Data, (std::vector<uint8_t>{'o', 'k'}));
    EXPECT_EQ(p.Events, std::vector<std::string>{"sub 44 107 16"});
}

TEST(TelnetEncoding, DataAndSubcommandsDoubleEvery0xFF) {
    const uint8_t data[] = {0xFF, 0x00, 0xFF, 'a'};
    std::vector<uint8_t> out;
    EXPECT_EQ(EscapeData(data, 4, out, 100), 4u);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xFF, 0x00, 0xFF, 0xFF, 'a'}));
    // Room for the first pair and the zero, not the second pair.
    out.clear();
    EXPECT_EQ(EscapeData(data, 4, out, 4), 2u);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 0xFF, 0x00}));

    out.clear();
    const uint8_t rate[] = {0x00, 0x00, 0x00, 0xFF};
    AppendComPort(out, CpSetBaudRate, rate, 4);
    EXPECT_EQ(out, (std::vector<uint8_t>{Iac, Sb, 44, 1, 0, 0, 0, 0xFF, 0xFF, Iac, Se}));
    EXPECT_EQ(Parse(out).Events, std::vector<std::string>{"sub 44 1 0 0 0 255"});
}

TEST(NetTarget, WellFormedTargetsAreReadAndEveryMalformedOneSaysWhy) {
    TNetTarget t;
    ASSERT_TRUE(ParseNetTarget("rfc2217://lab-server.local:7001", t));
    EXPECT_EQ(t.Kind, TNetTarget::TKind::Rfc2217);
    EXPECT_EQ(t.Host, "lab-server.local");
    EXPECT_EQ(t.Port, 7001);
    ASSERT_TRUE(ParseNetTarget("tcp://127.0.0.1:65535", t));
    EXPECT_EQ(t.Kind, TNetTarget::TKind::Tcp);
    EXPECT_EQ(NetTargetEndpoint(t), "127.0.0.1:65535");
    ASSERT_TRUE(ParseNetTarget("tcp://[::1]:23", t));
    EXPECT_EQ(t.Host, "::1");
    EXPECT_EQ(NetTargetEndpoint(t), "[::1]:23");

    for (const char* bad : {"rfc2217://", "rfc2217://host", "rfc2217://host:", "tcp://:80",
                            "tcp://host:0", "tcp://host:65536", "tcp://host:80x",
                            "tcp://ho st:80", "tcp://[::1:80", "tcp://[::1]80", "tcp://[zz]:80",
                            "telnet://host:23", "/dev/ttyUSB0"}) {
        std::string why;
        EXPECT_FALSE(ParseNetTarget(bad, t, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    EXPECT_TRUE(IsNetTarget("tcp://host"));
    EXPECT_FALSE(IsNetTarget("/dev/ttyS1"));
    EXPECT_FALSE(IsNetTarget("loopback"));
}

} // namespace
