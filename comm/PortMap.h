#pragma once
// Which device each of "COM1".."COM6" opens. The window stores the map with its
// settings and lets the user edit it; without a stored map, Defaults() detects
// the machine's serial devices:
//   1. USB and ACM adapters by their stable /dev/serial/by-id names, sorted;
//   2. then USB/ACM ttys that have no by-id name, and onboard UARTs that really
//      exist (sysfs reports a UART type), in name and number order;
//   3. then the loopback plug on the next free number.
// A device named in /sys/class/tty/console/active (the system console) is never
// mapped by default.

#include <array>
#include <cstdint>
#include <string>

inline constexpr const char* LoopbackTarget = "loopback";

struct TPortMap {
    static constexpr uint32_t PortCount = 6;

    // Per port: a device path, LoopbackTarget, or empty (not mapped).
    std::array<std::string, PortCount> Targets;

    // The target of "COM" + n, empty when n is outside 1..6 or not mapped.
    std::string Resolve(uint32_t n) const;

    // Detects the defaults. The roots let tests point detection at a fake tree.
    static TPortMap Defaults(const std::string& devRoot = "/dev",
                             const std::string& sysRoot = "/sys");

    bool operator==(const TPortMap&) const = default;
};
