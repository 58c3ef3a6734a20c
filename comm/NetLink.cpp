#include "NetLink.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/sockios.h>
#include <map>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

// What the resolver thread hands over. The thread holds its own reference, so
// a link closed meanwhile leaves it to finish and free the state alone.
struct TNetLink::TResolveShared {
    std::mutex Lock;
    bool Done = false;                  // under Lock
    int Error = 0;                      // under Lock
    std::vector<std::string> Addresses; // under Lock
};

namespace {

std::vector<std::string> Collect(const addrinfo* list) {
    std::vector<std::string> out;
    for (const addrinfo* a = list; a; a = a->ai_next)
        if (a->ai_family == AF_INET || a->ai_family == AF_INET6)
            out.emplace_back(reinterpret_cast<const char*>(a->ai_addr), a->ai_addrlen);
    return out;
}

int Lookup(const std::string& host, uint16_t port, int flags, std::vector<std::string>& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &list);
    if (rc != 0)
        return rc;
    out = Collect(list);
    ::freeaddrinfo(list);
    return out.empty() ? EAI_NONAME : 0;
}

// The resolutions of the whole program: one in flight at a time (a resolver that never answers
// costs one thread, not one per attempt), and the failure of each name until one of its later
// resolutions succeeds, so that an attempt still resolving a name that failed is a failure too
// and the port's state does not flicker between connecting and failed.
struct TResolverBook {
    std::mutex Lock;
    std::string InFlightKey;                        // under Lock
    std::shared_ptr<TNetLink::TResolveShared> InFlight; // under Lock
    std::map<std::string, int> Failed;              // under Lock; name:port -> errno
};

TResolverBook& Book() {
    static TResolverBook book;
    return book;
}

std::string BookKey(const TNetTarget& target) {
    return target.Host + ':' + std::to_string(target.Port);
}

} // namespace

TNetLink::~TNetLink() {
    Close();
}

void TNetLink::Close() {
    if (Sock >= 0)
        ::close(Sock);
    Sock = -1;
    IsConnected = false;
    IsGone = false;
    Resolving.reset();
    ResolveKey.clear();
    Addresses.clear();
    Started = {};
}

int TNetLink::StickyFailure(int otherwise) const {
    TResolverBook& book = Book();
    std::lock_guard lock(book.Lock);
    const auto failed = book.Failed.find(ResolveKey);
    return failed != book.Failed.end() ? failed->second : otherwise;
}

int TNetLink::Fail(int err) {
    Close();
    return err;
}

int TNetLink::Connect(const TNetTarget& target, std::chrono::milliseconds wait) {
    if (IsConnected)
        return 0;
    if (Started == Clock::time_point{}) {
        Started = Clock::now();
        LastError = ECONNREFUSED;
        if (int err = StartResolve(target))
            return Fail(err);
    }
    if (Clock::now() - Started > ConnectTimeout) {
        const int err = Resolving || !ResolveKey.empty() ? StickyFailure(ETIMEDOUT) : ETIMEDOUT;
        return Fail(err);
    }
    if (!Resolving && !ResolveKey.empty())
        if (int err = StartResolve(target))
            return Fail(err);
    if (!Resolving && !ResolveKey.empty())
        return StickyFailure(EINPROGRESS); // another name is being resolved
    if (Resolving) {
        std::unique_lock lock(Resolving->Lock);
        if (!Resolving->Done)
            return StickyFailure(EINPROGRESS);
        const int error = Resolving->Error;
        Addresses = std::move(Resolving->Addresses);
        lock.unlock();
        {
            TResolverBook& book = Book();
            std::lock_guard bookLock(book.Lock);
            if (book.InFlight == Resolving) {
                book.InFlight.reset();
                book.InFlightKey.clear();
            }
            if (error)
                book.Failed[ResolveKey] = error;
            else
                book.Failed.erase(ResolveKey);
        }
        if (error)
            return Fail(error);
    }
    if (Resolving) {
        Resolving.reset();
        ResolveKey.clear();
        if (int err = TryNextAddress())
            return err;
    }
    return AwaitConnect(wait);
}

int TNetLink::StartResolve(const TNetTarget& target) {
    Addresses.clear();
    // A numeric address is read at once; only a name needs the resolver.
    if (Lookup(target.Host, target.Port, AI_NUMERICHOST | AI_NUMERICSERV, Addresses) == 0)
        return TryNextAddress();
    ResolveKey = BookKey(target);
    TResolverBook& book = Book();
    std::lock_guard lock(book.Lock);
    if (book.InFlight && book.InFlightKey != ResolveKey) {
        // Ended with no link left to take its result: its turn is over.
        std::lock_guard stateLock(book.InFlight->Lock);
        if (book.InFlight->Done) {
            if (book.InFlight->Error)
                book.Failed[book.InFlightKey] = book.InFlight->Error;
            else
                book.Failed.erase(book.InFlightKey);
            book.InFlight.reset();
            book.InFlightKey.clear();
        }
    }
    if (book.InFlight) {
        // The same name's resolution is taken over; another name waits for its turn.
        if (book.InFlightKey == ResolveKey)
            Resolving = book.InFlight;
        return 0;
    }
    auto state = std::make_shared<TResolveShared>();
    try {
        std::thread([state, host = target.Host, port = target.Port] {
            std::vector<std::string> found;
            const int rc = Lookup(host, port, AI_ADDRCONFIG | AI_NUMERICSERV, found);
            std::lock_guard lock(state->Lock);
            state->Addresses = std::move(found);
            state->Error = rc == 0 ? 0 : rc == EAI_SYSTEM && errno ? errno : ResolveFailed;
            state->Done = true;
        }).detach();
    } catch (...) {
        return EAGAIN;
    }
    Resolving = state;
    book.InFlight = state;
    book.InFlightKey = ResolveKey;
    return 0;
}

// Starts a connection to the next address; 0 when one is on its way.
int TNetLink::TryNextAddress() {
    while (!Addresses.empty()) {
        const std::string addr = Addresses.front();
        Addresses.erase(Addresses.begin());
        if (Sock >= 0)
            ::close(Sock);
        const auto* sa = reinterpret_cast<const sockaddr*>(addr.data());
        Sock = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
        if (Sock < 0) {
            LastError = errno;
            continue;
        }
        // Small writes (a key press) go out at once; the worker gathers big ones.
        int one = 1;
        ::setsockopt(Sock, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(Sock, sa, static_cast<socklen_t>(addr.size())) == 0 || errno == EINPROGRESS)
            return 0;
        LastError = errno;
    }
    return Fail(LastError);
}

int TNetLink::AwaitConnect(std::chrono::milliseconds wait) {
    for (;;) {
        pollfd p{Sock, POLLOUT, 0};
        const int rc = ::poll(&p, 1, static_cast<int>(wait.count()));
        if (rc < 0 && errno != EINTR)
            return Fail(errno);
        if (rc <= 0)
            return EINPROGRESS;
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(Sock, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
        if (err == 0) {
            IsConnected = true;
            Started = {};
            return 0;
        }
        // This address failed; the next one, if any, gets the rest of the wait.
        LastError = err;
        if (int e = TryNextAddress())
            return e;
    }
}

int TNetLink::Recv(uint8_t* data, size_t count, size_t& got) {
    got = 0;
    if (!IsConnected || IsGone)
        return IsGone ? ECONNRESET : ENOTCONN;
    ssize_t n;
    do
        n = ::recv(Sock, data, count, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        got = static_cast<size_t>(n);
        return 0;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
        return 0;
    // End of stream or a reset: everything sent before it has been read. Our
    // side shuts too, so that the descriptor polls as hung up and the worker
    // looks at the link at once instead of on its presence timer.
    const int err = n == 0 ? ECONNRESET : errno;
    IsGone = true;
    ::shutdown(Sock, SHUT_RDWR);
    return n == 0 ? 0 : err;
}

int TNetLink::Send(const uint8_t* data, size_t count, size_t& sent) {
    sent = 0;
    if (!IsConnected || IsGone)
        return IsGone ? ECONNRESET : ENOTCONN;
    ssize_t n;
    do
        n = ::send(Sock, data, count, MSG_DONTWAIT | MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n >= 0) {
        sent = static_cast<size_t>(n);
        return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK)
        return 0;
    const int err = errno;
    // Bytes the far end sent before the fault are still read before Gone().
    uint32_t waiting = 0;
    if (Waiting(waiting) != 0 || waiting == 0)
        IsGone = true;
    ::shutdown(Sock, SHUT_WR);
    return err;
}

int TNetLink::Unsent(uint32_t& bytes) const {
    int n = 0;
    if (Sock < 0 || ::ioctl(Sock, SIOCOUTQ, &n) != 0)
        return Sock < 0 ? ENOTCONN : errno;
    bytes = n > 0 ? static_cast<uint32_t>(n) : 0;
    return 0;
}

int TNetLink::Waiting(uint32_t& bytes) const {
    int n = 0;
    if (Sock < 0 || ::ioctl(Sock, FIONREAD, &n) != 0)
        return Sock < 0 ? ENOTCONN : errno;
    bytes = n > 0 ? static_cast<uint32_t>(n) : 0;
    return 0;
}
