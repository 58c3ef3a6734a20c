#pragma once
// TNetLink: the TCP connection under the network backends. It connects without
// blocking its caller for more than a short, given wait: Connect starts the
// work and is called again (the worker's next open attempt) until it answers
// 0 or an error. Host names are resolved on a short-lived thread of the link's
// own, one at a time in the whole program; numeric addresses, the common case,
// need none. A name that failed to resolve stays failed for every attempt until
// one of its resolutions succeeds.
//
// Threads: one object is used by one thread at a time (the backend's rule);
// the resolver thread touches only the shared state it was given.

#include "NetTarget.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TNetLink {
public:
    // How long a connection may take, resolving included, before ETIMEDOUT.
    static constexpr std::chrono::milliseconds ConnectTimeout{5000};
    // Errno for a host name that does not resolve.
    static constexpr int ResolveFailed = EADDRNOTAVAIL;

    TNetLink() = default;
    ~TNetLink();
    TNetLink(const TNetLink&) = delete;
    TNetLink& operator=(const TNetLink&) = delete;

    // 0 once connected; EINPROGRESS while resolving or connecting (call again);
    // any other errno when the connection failed, after which the next call
    // starts over. Waits at most wait for the connection to complete.
    int Connect(const TNetTarget& target, std::chrono::milliseconds wait);
    bool Connected() const { return IsConnected; }
    int Fd() const { return IsConnected ? Sock : -1; }

    // Both return 0 or an errno; 0 with nothing moved when the socket has no
    // bytes or room now. End of stream and errors mark the link gone.
    int Recv(uint8_t* data, size_t count, size_t& got);
    int Send(const uint8_t* data, size_t count, size_t& sent);
    // Bytes written and not yet acknowledged by the far end.
    int Unsent(uint32_t& bytes) const;
    // Bytes received and not yet read (Telnet commands included).
    int Waiting(uint32_t& bytes) const;
    // True once the far end closed or reset the connection and every byte it
    // sent before has been read.
    bool Gone() const { return IsGone; }
    void Close();

    // The resolver's state, shared with its thread and with later links to the same name.
    struct TResolveShared;

private:
    int Fail(int err);
    // The last failure to resolve this link's name while no resolution of it has succeeded
    // since; otherwise.
    int StickyFailure(int otherwise) const;
    int StartResolve(const TNetTarget& target);
    int TryNextAddress();
    int AwaitConnect(std::chrono::milliseconds wait);

    int Sock = -1;
    bool IsConnected = false;
    bool IsGone = false;
    std::shared_ptr<TResolveShared> Resolving;
    std::string ResolveKey; // "name:port" while a name is to be resolved
    std::vector<std::string> Addresses; // sockaddr bytes still to try
    int LastError = 0;
    std::chrono::steady_clock::time_point Started{};
};
