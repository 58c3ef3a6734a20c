#include "NetTarget.h"

#include <cctype>

namespace {

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

bool Fail(std::string* why, const char* text) {
    if (why)
        *why = text;
    return false;
}

} // namespace

bool IsNetTarget(const std::string& target) {
    return StartsWith(target, Rfc2217Scheme) || StartsWith(target, TcpScheme);
}

bool ParseNetTarget(const std::string& target, TNetTarget& out, std::string* why) {
    std::string rest;
    if (StartsWith(target, Rfc2217Scheme)) {
        out.Kind = TNetTarget::TKind::Rfc2217;
        rest = target.substr(std::char_traits<char>::length(Rfc2217Scheme));
    } else if (StartsWith(target, TcpScheme)) {
        out.Kind = TNetTarget::TKind::Tcp;
        rest = target.substr(std::char_traits<char>::length(TcpScheme));
    } else {
        return Fail(why, "not rfc2217://host:port or tcp://host:port");
    }
    std::string host;
    size_t colon;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos)
            return Fail(why, "an IPv6 address needs its closing bracket");
        host = rest.substr(1, close - 1);
        if (host.empty() || host.find_first_not_of("0123456789abcdefABCDEF:.") != std::string::npos)
            return Fail(why, "not an IPv6 address between the brackets");
        colon = close + 1;
        if (colon >= rest.size() || rest[colon] != ':')
            return Fail(why, "the port number is missing (host:port)");
    } else {
        colon = rest.rfind(':');
        if (colon == std::string::npos)
            return Fail(why, "the port number is missing (host:port)");
        host = rest.substr(0, colon);
        if (host.empty())
            return Fail(why, "the host is missing");
        for (char c : host)
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
                return Fail(why, "the host may hold letters, digits, '.', '-' and '_' only");
    }
    const std::string port = rest.substr(colon + 1);
    if (port.empty() || port.size() > 5 ||
        port.find_first_not_of("0123456789") != std::string::npos)
        return Fail(why, "the port must be a number from 1 to 65535");
    const unsigned long n = std::stoul(port);
    if (n < 1 || n > 65535)
        return Fail(why, "the port must be a number from 1 to 65535");
    out.Host = host;
    out.Port = static_cast<uint16_t>(n);
    return true;
}

std::string NetTargetEndpoint(const TNetTarget& target) {
    const bool v6 = target.Host.find(':') != std::string::npos;
    return (v6 ? "[" + target.Host + "]" : target.Host) + ":" + std::to_string(target.Port);
}
