// Default port map from a fake /dev and /sys tree.

#include "PortMap.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class PortMapDefaults : public ::testing::Test {
protected:
    PortMapDefaults() {
        Root = fs::temp_directory_path() / ("kestrel-portmap-" + std::to_string(::getpid()));
        fs::remove_all(Root);
        fs::create_directories(Root / "dev");
        fs::create_directories(Root / "sys/class/tty/console");
    }
    ~PortMapDefaults() override { fs::remove_all(Root); }

    void Tty(const std::string& name, const char* uartType = nullptr) {
        fs::create_directories(Root / "sys/class/tty" / name / "device");
        if (uartType)
            std::ofstream(Root / "sys/class/tty" / name / "type") << uartType << "\n";
    }
    void ById(const std::string& id, const std::string& tty) {
        fs::create_directories(Root / "dev/serial/by-id");
        fs::create_symlink("../../" + tty, Root / "dev/serial/by-id" / id);
    }
    void Console(const std::string& names) {
        std::ofstream(Root / "sys/class/tty/console/active") << names << "\n";
    }
    TPortMap Detect() {
        return TPortMap::Defaults((Root / "dev").string(), (Root / "sys").string());
    }
    std::string Dev(const std::string& rel) { return (Root / "dev" / rel).string(); }

    fs::path Root;
};

TEST_F(PortMapDefaults, NoHardwareGivesTheLoopbackPlugOnCom1) {
    Tty("ttyS0", "4");
    Tty("ttyS1", "0"); // registered, no UART behind it
    Console("tty0 ttyS0");
    TPortMap map = Detect();
    EXPECT_EQ(map.Targets[0], LoopbackTarget);
    for (size_t i = 1; i < TPortMap::PortCount; ++i)
        EXPECT_EQ(map.Targets[i], "");
}

TEST_F(PortMapDefaults, AdaptersByIdFirstThenUartsInNumberOrderThenLoopback) {
    Tty("ttyUSB0");
    Tty("ttyACM0");
    Tty("ttyUSB1"); // no by-id name
    Tty("ttyS2", "4");
    Tty("ttyS10", "4");
    Tty("ttyS0", "4");
    Tty("tty1"); // virtual consoles are never serial ports
    Console("tty0");
    ById("usb-Zeta_Adapter-if00-port0", "ttyUSB0");
    ById("usb-Alpha_Modem-if00", "ttyACM0");
    TPortMap map = Detect();
    EXPECT_EQ(map.Targets[0], Dev("serial/by-id/usb-Alpha_Modem-if00"));
    EXPECT_EQ(map.Targets[1], Dev("serial/by-id/usb-Zeta_Adapter-if00-port0"));
    EXPECT_EQ(map.Targets[2], Dev("ttyS0"));
    EXPECT_EQ(map.Targets[3], Dev("ttyS2"));
    EXPECT_EQ(map.Targets[4], Dev("ttyS10"));
    EXPECT_EQ(map.Targets[5], Dev("ttyUSB1"));
}

TEST_F(PortMapDefaults, SixDevicesLeaveNoRoomForTheLoopbackPlug) {
    for (int i = 0; i < 7; ++i)
        Tty("ttyUSB" + std::to_string(i));
    TPortMap map = Detect();
    EXPECT_EQ(map.Targets[5], Dev("ttyUSB5"));
    EXPECT_EQ(map.Resolve(0), "");
    EXPECT_EQ(map.Resolve(1), Dev("ttyUSB0"));
    EXPECT_EQ(map.Resolve(7), "");
}

TEST(PortMapMachine, TheSystemConsoleIsNeverMapped) {
    std::ifstream active("/sys/class/tty/console/active");
    std::string name;
    TPortMap map = TPortMap::Defaults();
    while (active >> name)
        for (const auto& target : map.Targets)
            EXPECT_NE(target, "/dev/" + name);
}

} // namespace
