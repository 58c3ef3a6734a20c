// TCommPort's operations, error codes and states, against a backend that fails on command.

#include "CommPort.h"
#include "Failbackend.h"

#include <gtest/gtest.h>

namespace {

class CommPort : public ::testing::Test {
protected:
    CommPort() {
        TPortMap map;
        map.Targets = {"dev1", "dev2", "", "", "", ""};
        Port.SetPortMap(map);
        Port.SetBackendFactory(FailFactory(State));
    }

    uint8_t CodeOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const ECommError& e) {
            return e.Code;
        }
        return 0;
    }

    std::shared_ptr<TFailState> State = std::make_shared<TFailState>();
    TCommPort Port;
};

TEST_F(CommPort, OpensWithOwnedSettingsOverTheDevicesAndKeepsThemAcrossReopen) {
    Port.SetBaudRate(57600);
    Port.SetParity(2);
    Port.SetDtr(true);
    Port.Open();
    ASSERT_TRUE(Port.IsOpened());
    EXPECT_EQ(State->OpenedTarget, "dev1");
    ASSERT_EQ(State->Applied.size(), 1u);
    const TLineSettings& s = State->Applied[0];
    EXPECT_EQ(s.BaudRate, 57600u);
    EXPECT_EQ(s.Parity, 2);
    EXPECT_EQ(s.ByteSize, 8);
    EXPECT_EQ(s.StopBits, 0);
    EXPECT_FALSE(s.Rts); // the device reported RTS on; ours is off
    EXPECT_TRUE(s.Dtr);

    Port.Open(); // already open: nothing
    EXPECT_EQ(State->OpenCalls, 1);

    Port.Close();
    Port.SetPortNumber(2);
    Port.Open();
    EXPECT_EQ(State->OpenedTarget, "dev2");
    EXPECT_EQ(State->Applied.back().BaudRate, 57600u);
    EXPECT_EQ(Port.GetPortNumber(), 2u);
}

TEST_F(CommPort, PortNumberZeroMeansOneAndCannotChangeWhileOpen) {
    Port.SetPortNumber(0);
    EXPECT_EQ(Port.GetPortNumber(), 1u);
    Port.Open();
    EXPECT_EQ(CodeOf([&] { Port.SetPortNumber(2); }), cePortIsOpen);
    EXPECT_EQ(Port.GetPortNumber(), 1u);
}

TEST_F(CommPort, UnmappedPortFailsToOpenWithCode8) {
    Port.SetPortNumber(3);
    try {
        Port.Open();
        FAIL();
    } catch (const ECommError& e) {
        EXPECT_EQ(e.Code, ceOpen);
        EXPECT_EQ(e.SysError, static_cast<uint32_t>(ENOENT));
    }
    EXPECT_EQ(State->OpenCalls, 0);
}

TEST_F(CommPort, OpenFailuresReleaseTheHandleWithTheirCodes) {
    struct Case {
        TFailState::Op Op;
        uint8_t Code;
        int Closes; // a failure after the device was opened closes it again
    } cases[] = {{TFailState::Open, ceOpen, 0},
                 {TFailState::GetState, ceGetState, 1},
                 {TFailState::SetState, ceSetState, 1},
                 {TFailState::SetupQueues, ceSetupQueues, 1},
                 {TFailState::SetTimeouts, ceSetTimeouts, 1}};
    for (const Case& c : cases) {
        *State = TFailState{};
        State->FailWith[c.Op] = EACCES;
        try {
            Port.Open();
            ADD_FAILURE() << "op " << c.Op;
        } catch (const ECommError& e) {
            EXPECT_EQ(e.Code, c.Code);
            EXPECT_EQ(e.SysError, static_cast<uint32_t>(EACCES));
        }
        EXPECT_FALSE(Port.IsOpened());
        EXPECT_EQ(State->CloseCalls, c.Closes) << "op " << c.Op;
    }
}

TEST_F(CommPort, ClosedPortRefusesIoWithCode7AndTakesSettingsSilently) {
    uint8_t buf[4] = {};
    EXPECT_EQ(CodeOf([&] { Port.Write(buf, 0); }), cePortNotOpen);
    EXPECT_EQ(CodeOf([&] { Port.WriteSome(buf, 1); }), cePortNotOpen);
    EXPECT_EQ(CodeOf([&] { Port.Read(buf, 4); }), cePortNotOpen);
    EXPECT_EQ(CodeOf([&] { Port.Flush(); }), cePortNotOpen);
    EXPECT_EQ(CodeOf([&] { Port.InQueue(); }), cePortNotOpen);
    EXPECT_EQ(Port.ModemStatus(), 0u);
    State->FailWith[TFailState::SetState] = EIO; // never reached while closed
    EXPECT_EQ(CodeOf([&] { Port.SetBaudRate(300); }), 0);
    EXPECT_EQ(CodeOf([&] { Port.SetParity(4); }), 0);
    EXPECT_EQ(CodeOf([&] { Port.SetRts(true); }), 0);
    EXPECT_EQ(CodeOf([&] { Port.SetDtr(true); }), 0);
    EXPECT_EQ(Port.GetBaudRate(), 300u);
    EXPECT_TRUE(Port.GetRts());
    // Values no device takes are refused at once instead of failing every later open.
    EXPECT_EQ(CodeOf([&] { Port.SetParity(5); }), ceSetParity);
    EXPECT_EQ(CodeOf([&] { Port.SetBaudRate(0); }), ceSetBaudRate);
    EXPECT_EQ(Port.GetParity(), 4);
    EXPECT_EQ(Port.GetBaudRate(), 300u);
}

TEST_F(CommPort, FailedSettingChangesPutTheOldValueBack) {
    Port.Open();
    State->FailWith[TFailState::SetState] = EINVAL;
    EXPECT_EQ(CodeOf([&] { Port.SetBaudRate(1200); }), ceSetBaudRate);
    EXPECT_EQ(Port.GetBaudRate(), 9600u);
    EXPECT_EQ(CodeOf([&] { Port.SetParity(3); }), ceSetParity);
    EXPECT_EQ(Port.GetParity(), 0);
    EXPECT_EQ(CodeOf([&] { Port.SetRts(true); }), ceSetRts);
    EXPECT_FALSE(Port.GetRts());
    EXPECT_EQ(CodeOf([&] { Port.SetDtr(true); }), ceSetDtr);
    EXPECT_FALSE(Port.GetDtr());
    State->FailWith.clear();
    Port.SetRts(true);
    EXPECT_TRUE(State->Applied.back().Rts);
}

TEST_F(CommPort, WritesReadsAndTheirFailures) {
    Port.Open();
    const uint8_t data[] = {1, 2, 3, 4};
    Port.Write(data, 0);
    Port.Write(nullptr, 4);
    EXPECT_EQ(State->WriteCalls, 0);
    Port.Write(data, 4);
    EXPECT_EQ(State->Written, (std::vector<uint8_t>{1, 2, 3, 4}));

    // The second write fails: the first went out, and the port stays open.
    *State = TFailState{};
    State->WriteFailsAtCall = 2;
    EXPECT_EQ(Port.WriteSome(data, 2), 2u);
    EXPECT_EQ(CodeOf([&] { Port.WriteSome(data + 2, 2); }), ceWrite);
    EXPECT_EQ(State->Written, (std::vector<uint8_t>{1, 2}));
    EXPECT_TRUE(Port.IsOpened());

    State->FailWith[TFailState::Write] = EIO;
    EXPECT_EQ(CodeOf([&] { Port.Write(data, 1); }), ceWrite);
    State->FailWith = {{TFailState::Flush, EIO}};
    EXPECT_EQ(CodeOf([&] { Port.Flush(); }), ceFlush);

    State->FailWith.clear();
    State->Incoming = {0xAA, 0xBB, 0xCC, 0xDD};
    uint8_t buf[10];
    std::fill(std::begin(buf), std::end(buf), 0xEE);
    EXPECT_EQ(Port.Read(buf, 10), 4u);
    EXPECT_EQ(buf[3], 0xDD);
    EXPECT_EQ(buf[4], 0); // a zero after a short read
    EXPECT_EQ(buf[5], 0xEE);
    State->FailWith[TFailState::Read] = EIO;
    EXPECT_EQ(CodeOf([&] { Port.Read(buf, 1); }), ceRead);
}

TEST_F(CommPort, InQueueSwallowsAFailureAndModemStatusReportsZero) {
    Port.Open();
    State->Incoming = {1, 2, 3};
    EXPECT_EQ(Port.InQueue(), 3u);
    State->FailWith[TFailState::InQueue] = EIO;
    EXPECT_EQ(Port.InQueue(), 0u);
    State->ModemLines = msCtsOn | msRlsdOn;
    EXPECT_EQ(Port.ModemStatus(), msCtsOn | msRlsdOn);
    State->FailWith[TFailState::ModemOp] = EIO;
    EXPECT_EQ(Port.ModemStatus(), 0u);
}

TEST_F(CommPort, FailedCloseLeavesThePortMarkedOpen) {
    Port.Open();
    State->FailWith[TFailState::Close] = EIO;
    EXPECT_EQ(CodeOf([&] { Port.Close(); }), ceClose);
    EXPECT_TRUE(Port.IsOpened());
    State->FailWith.clear();
    Port.Close();
    EXPECT_FALSE(Port.IsOpened());
    Port.Close(); // closed: nothing
    EXPECT_EQ(State->CloseCalls, 2);
}

// A network connection still on its way answers EINPROGRESS: the port keeps
// that backend for the next attempt, and drops it once the port leads elsewhere.
TEST_F(CommPort, AnOpenInProgressKeepsItsBackendUntilTheTargetChanges) {
    auto& state = State;
    auto& port = Port;
    int made = 0;
    port.SetBackendFactory([&](const std::string&) {
        ++made;
        return std::make_unique<TFailBackend>(state);
    });
    TPortMap map;
    map.Targets[0] = "tcp://127.0.0.1:1";
    map.Targets[1] = "tcp://127.0.0.1:2";
    port.SetPortMap(map);
    state->FailWith[TFailState::Open] = EINPROGRESS;
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_EQ(CodeOf([&] { port.Open(); }), ceOpen);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(state->OpenCalls, 3);
    EXPECT_FALSE(port.IsOpened());

    port.SetPortNumber(2); // elsewhere: a new backend
    EXPECT_EQ(CodeOf([&] { port.Open(); }), ceOpen);
    EXPECT_EQ(made, 2);
    state->FailWith.erase(TFailState::Open);
    port.Open();
    EXPECT_TRUE(port.IsOpened());
    EXPECT_EQ(made, 2);

    // Any other failure lets the backend go.
    port.Close();
    state->FailWith[TFailState::Open] = ECONNREFUSED;
    EXPECT_EQ(CodeOf([&] { port.Open(); }), ceOpen);
    state->FailWith.erase(TFailState::Open);
    port.Open();
    EXPECT_EQ(made, 4);
}

} // namespace
