#pragma once
// CPU time of this process's threads, for benchmarks: the seconds the thread
// of a name (as pthread_setname_np gave it, and top -H shows it) has run so
// far, in user and system mode together; 0 when there is none.

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>

inline double ThreadCpuSeconds(const std::string& name) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string n;
        std::getline(comm, n);
        if (n != name)
            continue;
        std::ifstream stat(entry.path() / "stat");
        const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream rest(text.substr(text.rfind(')') + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i) {
            if (i == 14)
                utime = std::stol(field);
            if (i == 15)
                stime = std::stol(field);
        }
        return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    }
    return 0;
}
