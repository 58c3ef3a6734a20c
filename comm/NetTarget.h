#pragma once
// Port-map targets on another machine: "rfc2217://host:port" (Telnet with the
// COM port control option, as ser2net serves it) and "tcp://host:port" (the
// bytes alone). The host is a name, an IPv4 address or a bracketed IPv6
// address.

#include <cstdint>
#include <string>

struct TNetTarget {
    enum class TKind : uint8_t { Rfc2217, Tcp };
    TKind Kind = TKind::Tcp;
    std::string Host; // without brackets
    uint16_t Port = 0;
};

inline constexpr const char* Rfc2217Scheme = "rfc2217://";
inline constexpr const char* TcpScheme = "tcp://";

// Whether the target names one of the network schemes, well-formed or not.
bool IsNetTarget(const std::string& target);

// Reads a network target; on failure, why says what is wrong (English, for
// the window to show beside its own words).
bool ParseNetTarget(const std::string& target, TNetTarget& out, std::string* why = nullptr);

// The host and port as they are written in the target, for messages.
std::string NetTargetEndpoint(const TNetTarget& target);
