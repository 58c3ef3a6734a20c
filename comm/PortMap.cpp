#include "PortMap.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

namespace fs = std::filesystem;

std::string TPortMap::Resolve(uint32_t n) const {
    if (n < 1 || n > PortCount)
        return {};
    return Targets[n - 1];
}

namespace {

std::string ReadFirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// "ttyS10" sorts after "ttyS2": by prefix, then by number.
bool NaturalLess(const std::string& a, const std::string& b) {
    auto split = [](const std::string& s) {
        size_t i = s.size();
        while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1])))
            --i;
        long n = i < s.size() ? std::stol(s.substr(i, 9)) : -1;
        return std::make_pair(s.substr(0, i), n);
    };
    return split(a) < split(b);
}

bool StartsWith(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

} // namespace

TPortMap TPortMap::Defaults(const std::string& devRoot, const std::string& sysRoot) {
    std::error_code ec;
    std::set<std::string> consoles;
    {
        std::istringstream active(ReadFirstLine(fs::path(sysRoot) / "class/tty/console/active"));
        for (std::string name; active >> name;)
            consoles.insert(name);
    }

    std::vector<std::string> found;
    std::set<std::string> covered; // tty names already reached through by-id

    std::vector<std::string> byId;
    for (const auto& e : fs::directory_iterator(fs::path(devRoot) / "serial/by-id", ec))
        byId.push_back(e.path().filename().string());
    std::sort(byId.begin(), byId.end());
    for (const auto& name : byId) {
        fs::path link = fs::path(devRoot) / "serial/by-id" / name;
        std::string tty = fs::read_symlink(link, ec).filename().string();
        if (consoles.count(tty))
            continue;
        if (!tty.empty())
            covered.insert(tty);
        found.push_back(link.string());
    }

    std::vector<std::string> ttys;
    for (const auto& e : fs::directory_iterator(fs::path(sysRoot) / "class/tty", ec))
        ttys.push_back(e.path().filename().string());
    std::sort(ttys.begin(), ttys.end(), NaturalLess);
    for (const auto& tty : ttys) {
        if (consoles.count(tty) || covered.count(tty))
            continue;
        fs::path sys = fs::path(sysRoot) / "class/tty" / tty;
        bool usb = StartsWith(tty, "ttyUSB") || StartsWith(tty, "ttyACM");
        bool uart = StartsWith(tty, "ttyS") || StartsWith(tty, "ttyAMA") ||
                    StartsWith(tty, "ttymxc") || StartsWith(tty, "ttySAC");
        if (!usb && !uart)
            continue;
        if (!fs::exists(sys / "device", ec))
            continue;
        // The 8250 driver registers ports that have no UART behind them; their
        // type reads 0.
        if (StartsWith(tty, "ttyS") && fs::exists(sys / "type", ec) &&
            ReadFirstLine(sys / "type") == "0")
            continue;
        found.push_back((fs::path(devRoot) / tty).string());
    }

    TPortMap map;
    size_t i = 0;
    for (; i < found.size() && i < PortCount; ++i)
        map.Targets[i] = found[i];
    if (i < PortCount)
        map.Targets[i] = LoopbackTarget;
    return map;
}
