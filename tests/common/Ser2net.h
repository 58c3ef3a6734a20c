#pragma once
// A ser2net started by a test on 127.0.0.1: its YAML written into a temporary
// folder, two ports on one pseudo-terminal whose far end the test holds (an
// RFC 2217 port and a raw one), stopped by its pid. Available() is false when
// the binary is not installed (tools/dev installs it for the tests).

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

class TSer2net {
public:
    explicit TSer2net(const std::string& device) {
        char dir[] = "/tmp/kestrel-ser2net-XXXXXX";
        if (::mkdtemp(dir))
            Dir = dir;
        RfcPort = FreePort();
        do
            RawPort = FreePort();
        while (RawPort == RfcPort);
        std::ofstream yaml(Dir + "/ser2net.yaml");
        yaml << "connection: &rfc\n"
             << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << RfcPort << "\n"
             << "  connector: serialdev," << device << ",9600n81,local\n"
             << "  options:\n    kickolduser: true\n"
             << "connection: &raw\n"
             << "  accepter: tcp,127.0.0.1," << RawPort << "\n"
             << "  connector: serialdev," << device << ",9600n81,local\n"
             << "  options:\n    kickolduser: true\n";
    }
    ~TSer2net() {
        Stop(SIGTERM);
        if (!Dir.empty()) {
            std::remove((Dir + "/ser2net.yaml").c_str());
            std::remove((Dir + "/ser2net.log").c_str());
            ::rmdir(Dir.c_str());
        }
    }

    static std::string Binary() {
        for (const char* p : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"})
            if (::access(p, X_OK) == 0)
                return p;
        return {};
    }
    static bool Available() { return !Binary().empty(); }

    // Starts it and waits until both ports listen.
    bool Start() {
        const std::string bin = Binary(), conf = Dir + "/ser2net.yaml", log = Dir + "/ser2net.log";
        // -n: stay in the foreground, our child; -u: no UUCP lock files to go stale.
        const char* argv[] = {bin.c_str(), "-n", "-u", "-c", conf.c_str(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        const int rc = ::posix_spawn(&Pid, bin.c_str(), &fa, nullptr,
                                     const_cast<char* const*>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) {
            Pid = -1;
            return false;
        }
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            if (Listening(RfcPort) && Listening(RawPort))
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    void Stop(int sig) {
        if (Pid <= 0)
            return;
        ::kill(Pid, sig);
        int status;
        ::waitpid(Pid, &status, 0);
        Pid = -1;
    }

    std::string RfcTarget() const { return "rfc2217://127.0.0.1:" + std::to_string(RfcPort); }
    std::string RawTarget() const { return "tcp://127.0.0.1:" + std::to_string(RawPort); }

    uint16_t RfcPort = 0;
    uint16_t RawPort = 0;

private:
    // A port the kernel handed out just now and nobody holds.
    static uint16_t FreePort() {
        int s = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t len = sizeof a;
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(s);
        return ntohs(a.sin_port);
    }

    // Read from the kernel's table, without connecting: a probe connection
    // would make ser2net open the device.
    static bool Listening(uint16_t port) {
        std::ifstream in("/proc/net/tcp");
        std::string line;
        char want[32];
        std::snprintf(want, sizeof want, "0100007F:%04X", port);
        while (std::getline(in, line)) {
            std::istringstream f(line);
            std::string slot, local, remote, state;
            f >> slot >> local >> remote >> state;
            if (local == want && state == "0A")
                return true;
        }
        return false;
    }

    std::string Dir;
    pid_t Pid = -1;
};
