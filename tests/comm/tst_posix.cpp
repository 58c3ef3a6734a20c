// TCommPort on real pseudo-terminals: the tty layer is part of what is tested.

#include "CommPort.h"
#include "Eventually.h"
#include "Pty.h"
#include "Termios2.h"

#include <gtest/gtest.h>
#include <numeric>

namespace {

TPortMap MapTo(const std::string& path) {
    TPortMap map;
    map.Targets[0] = path;
    return map;
}

class PtyPort : public ::testing::Test {
protected:
    PtyPort() { Port.SetPortMap(MapTo(Pty.Path)); }
    TPty Pty;
    TCommPort Port;
};

TEST(PosixSettings, EveryParityAndAnyRateMakeTheirFlagsFromAFreshTty) {
    struct {
        uint8_t Parity;
        bool On, Odd, MarkSpace;
    } cases[] = {{0, false, false, false},
                 {1, true, true, false},
                 {2, true, false, false},
                 {3, true, true, true},
                 {4, true, false, true}};
    for (const auto& c : cases) {
        TTtyState s;
        ASSERT_TRUE(FilledState(TLineSettings{14400, 8, c.Parity, 0, false, false}, s));
        EXPECT_EQ(s.ParityOn, c.On) << int(c.Parity);
        EXPECT_EQ(s.ParityOdd, c.Odd) << int(c.Parity);
        EXPECT_EQ(s.MarkSpace, c.MarkSpace) << int(c.Parity);
        EXPECT_EQ(s.OutSpeed, 14400u);
        EXPECT_TRUE(s.EightBits);
        EXPECT_FALSE(s.TwoStopBits || s.HardwareFlow || s.Echo || s.Canonical || s.Signals ||
                     s.XonXoff || s.OutputProcessing || s.CrToNl);
    }
    TTtyState s;
    EXPECT_FALSE(FilledState(TLineSettings{0, 8, 0, 0, false, false}, s));
    EXPECT_FALSE(FilledState(TLineSettings{9600, 8, 5, 0, false, false}, s));
}

TEST(PosixSettings, DataBitsStopBitsAndFlowControlMakeTheirFlags) {
    TLineSettings line{9600, 7, 2, 2, false, false, 1};
    TTtyState s;
    ASSERT_TRUE(FilledState(line, s));
    EXPECT_FALSE(s.EightBits);
    EXPECT_TRUE(s.TwoStopBits);
    EXPECT_TRUE(s.HardwareFlow);
    EXPECT_FALSE(s.XonXoff);
    line.Flow = 2;
    line.ByteSize = 8;
    line.StopBits = 0;
    ASSERT_TRUE(FilledState(line, s));
    EXPECT_TRUE(s.EightBits);
    EXPECT_FALSE(s.TwoStopBits || s.HardwareFlow);
    EXPECT_TRUE(s.XonXoff);
    for (TLineSettings bad : {TLineSettings{9600, 4, 0, 0, false, false, 0},
                              TLineSettings{9600, 9, 0, 0, false, false, 0},
                              TLineSettings{9600, 8, 0, 3, false, false, 0},
                              TLineSettings{9600, 8, 0, 0, false, false, 3}})
        EXPECT_FALSE(FilledState(bad, s));
}

// What a pseudo-terminal keeps of them: the rate (any rate), the stop bits and
// the flow control; it holds eight bits whatever is asked.
TEST_F(PtyPort, ACustomRateTwoStopBitsAndFlowControlReachTheDevice) {
    Port.Open();
    Port.SetBaudRate(250000);
    Port.SetByteSize(7);
    Port.SetParity(2);
    Port.SetStopBits(2);
    Port.SetFlowControl(1);
    TTtyState s;
    ASSERT_TRUE(ReadTtyState(Pty.Master, s));
    EXPECT_EQ(s.OutSpeed, 250000u);
    EXPECT_TRUE(s.TwoStopBits);
    EXPECT_TRUE(s.HardwareFlow);
    Port.SetFlowControl(2);
    ASSERT_TRUE(ReadTtyState(Pty.Master, s));
    EXPECT_FALSE(s.HardwareFlow);
    EXPECT_TRUE(s.XonXoff);
    // Refused values change nothing.
    EXPECT_THROW(Port.SetByteSize(9), ECommError);
    EXPECT_THROW(Port.SetStopBits(3), ECommError);
    EXPECT_EQ(Port.GetByteSize(), 7);
    EXPECT_EQ(Port.GetStopBits(), 2);
}

TEST_F(PtyPort, EveryRateOfTheListReachesTheDevice) {
    Port.Open();
    for (uint32_t rate :
         {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200}) {
        Port.SetBaudRate(rate);
        TTtyState s;
        ASSERT_TRUE(ReadTtyState(Pty.Master, s));
        EXPECT_EQ(s.OutSpeed, rate);
        EXPECT_EQ(s.InSpeed, rate);
    }
    // A pseudo-terminal keeps no parity; it takes every setting all the same.
    for (uint8_t parity = 0; parity <= 4; ++parity) {
        EXPECT_NO_THROW(Port.SetParity(parity));
        EXPECT_EQ(Port.GetParity(), parity);
    }
}

TEST_F(PtyPort, OpenMakesTheLineByteTransparent) {
    Port.SetBaudRate(19200);
    Port.Open();
    TTtyState s;
    ASSERT_TRUE(ReadTtyState(Pty.Master, s));
    EXPECT_EQ(s.OutSpeed, 19200u);
    EXPECT_TRUE(s.EightBits);
    EXPECT_FALSE(s.TwoStopBits);
    EXPECT_FALSE(s.ParityOn);
    EXPECT_FALSE(s.Echo);
    EXPECT_FALSE(s.Canonical);
    EXPECT_FALSE(s.Signals);
    EXPECT_FALSE(s.XonXoff);
    EXPECT_FALSE(s.HardwareFlow);
    EXPECT_FALSE(s.OutputProcessing);
    EXPECT_FALSE(s.CrToNl);

    // All 256 byte values, both ways, unchanged and not echoed.
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    Port.Write(all.data(), 256);
    EXPECT_EQ(Pty.Read(256), all);
    Pty.Write(all);
    std::vector<uint8_t> got;
    for (int i = 0; i < 200 && got.size() < 256; ++i) {
        uint32_t n = Port.InQueue();
        if (n == 0) {
            usleep(5000);
            continue;
        }
        std::vector<uint8_t> buf(n + 1);
        buf.resize(Port.Read(buf.data(), n));
        got.insert(got.end(), buf.begin(), buf.end());
    }
    EXPECT_EQ(got, all);
    // No echo came back: a byte sent now is the next the far end reads.
    const uint8_t marker = 0x42;
    Port.Write(&marker, 1);
    EXPECT_EQ(Pty.Read(1), std::vector<uint8_t>{marker});
}

TEST_F(PtyPort, WritesArriveInOrderAndDrain) {
    Port.Open();
    const uint8_t data[] = {'A', 0, 0xFF, '\n', '\r'};
    EXPECT_EQ(Port.WriteSome(data, 5), 5u);
    Port.Write(data + 2, 1);
    Port.Flush();
    EXPECT_EQ(Pty.Read(6), (std::vector<uint8_t>{'A', 0, 0xFF, '\n', '\r', 0xFF}));
    EXPECT_TRUE(Eventually([&] { return Port.OutputDrained(); }));
}

TEST_F(PtyPort, PseudoTerminalHasNoModemLinesButTakesTheModes) {
    Port.Open();
    EXPECT_NO_THROW(Port.SetRts(true));
    EXPECT_NO_THROW(Port.SetDtr(true));
    EXPECT_TRUE(Port.GetRts());
    EXPECT_TRUE(Port.GetDtr());
    EXPECT_EQ(Port.ModemStatus(), 0u);
}

TEST_F(PtyPort, SecondOpenOfAHeldDeviceFailsWithCode8) {
    Port.Open();
    TCommPort other;
    other.SetPortMap(MapTo(Pty.Path));
    try {
        other.Open();
        FAIL() << "second open succeeded";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.Code, ceOpen);
        EXPECT_EQ(e.SysError, static_cast<uint32_t>(EBUSY));
    }
    Port.Close();
    EXPECT_NO_THROW(other.Open()); // free again after our close
}

TEST(PosixOpen, MissingDeviceKeepsTheSystemReason) {
    TCommPort port;
    port.SetPortMap(MapTo("/nonexistent/kestrel-tty"));
    try {
        port.Open();
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_EQ(e.Code, ceOpen);
        EXPECT_EQ(e.SysError, static_cast<uint32_t>(ENOENT));
        EXPECT_NE(std::string(e.what()).find("No such file"), std::string::npos);
    }
    EXPECT_FALSE(port.IsOpened());
}

TEST(PosixOpen, NotATerminalIsRefused) {
    TCommPort port;
    port.SetPortMap(MapTo("/dev/null"));
    EXPECT_THROW(port.Open(), ECommError);
    EXPECT_FALSE(port.IsOpened());
}

} // namespace
