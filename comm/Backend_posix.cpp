// Linux serial devices and pseudo-terminals through termios2 and the TIOCM
// ioctls. This file must not include <termios.h>: its struct termios clashes
// with the kernel's, which termios2 (any baud rate) needs.

#include "Backend_posix.h"
#include "ModemWatch.h"

#include <algorithm>
#include <asm/termbits.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <linux/serial.h>
#include <memory>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

#ifndef TIOCSER_TEMT
#define TIOCSER_TEMT 0x01
#endif

int FillTermios2(struct termios2& t, const TLineSettings& s) {
    if (!ValidLineSettings(s))
        return EINVAL;
    // Byte-transparent: no echo, no line editing, no translation, no software
    // or hardware flow control, no parity check on input.
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                   IXANY | INPCK | IUCLC | IMAXBEL);
    t.c_iflag |= IGNBRK;
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag &=
        ~(CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    static const tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= Sizes[s.ByteSize - 5] | CREAD | CLOCAL | BOTHER | (BOTHER << IBSHIFT);
    // termios knows one or two stop bits; one and a half is what a UART
    // sends for "two" at 5 data bits.
    if (s.StopBits != 0)
        t.c_cflag |= CSTOPB;
    if (s.Flow == 1)
        t.c_cflag |= CRTSCTS;
    if (s.Flow == 2) {
        t.c_iflag |= IXON | IXOFF;
        t.c_cc[VSTART] = 0x11;
        t.c_cc[VSTOP] = 0x13;
    }
    switch (s.Parity) {
    case 0:
        break;
    case 1:
        t.c_cflag |= PARENB | PARODD;
        break;
    case 2:
        t.c_cflag |= PARENB;
        break;
    case 3:
        t.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case 4:
        t.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    t.c_ispeed = t.c_ospeed = s.BaudRate;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return 0;
}

namespace {

using Clock = std::chrono::steady_clock;

// Pseudo-terminals have no modem lines; their ioctls answer with these.
bool NoModemLines(int err) {
    return err == ENOTTY || err == EINVAL;
}

bool DeviceGoneError(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

class TPosixBackend final : public TCommBackend {
public:
    ~TPosixBackend() override {
        Watch.reset();
        if (Fd >= 0)
            ::close(Fd);
    }

    int Open(const std::string& device) override {
        Device = device;
        // O_NONBLOCK: never wait for carrier at open; reads only take what FIONREAD reported.
        Fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (Fd < 0)
            return errno;
        // Exclusive use: TIOCEXCL for other openers of the tty (not binding on root),
        // flock for everyone who honours it, ourselves included.
        if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
            int err = errno == EWOULDBLOCK ? EBUSY : errno;
            Release();
            return err;
        }
        if (::ioctl(Fd, TIOCEXCL) != 0) {
            int err = errno;
            Release();
            return err;
        }
        struct stat st {};
        if (::fstat(Fd, &st) == 0) {
            Inode = st.st_ino;
            // Unix98 pseudo-terminal slaves have majors 136 to 143.
            IsPty = major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
        }
        int lines = 0;
        Lines = ::ioctl(Fd, TIOCMGET, &lines) == 0 || !NoModemLines(errno);
        WatchLines();
        return 0;
    }

    bool HasModemLines() override { return Lines; }

    int ModemFd() const override { return Watch && Watch->Watching() ? Watch->Fd() : -1; }
    void ModemDone() override {
        if (Watch)
            Watch->Done();
    }

    int Close() override {
        if (Fd < 0)
            return 0;
        Watch.reset(); // its wait holds the descriptor
        ::ioctl(Fd, TIOCNXCL);
        int rc = ::close(Fd);
        int err = rc == 0 ? 0 : errno;
        Fd = -1;
        // On Linux the descriptor is released even when close reports an error,
        // so only a bad descriptor would be worth reporting.
        return err == EBADF ? err : 0;
    }

    int GetState(TLineSettings& s) override {
        struct termios2 t {};
        if (::ioctl(Fd, TCGETS2, &t) != 0)
            return errno;
        s.BaudRate = t.c_ospeed;
        switch (t.c_cflag & CSIZE) {
        case CS5:
            s.ByteSize = 5;
            break;
        case CS6:
            s.ByteSize = 6;
            break;
        case CS7:
            s.ByteSize = 7;
            break;
        default:
            s.ByteSize = 8;
            break;
        }
        s.Flow = (t.c_cflag & CRTSCTS) ? 1 : (t.c_iflag & IXON) ? 2 : 0;
        s.Parity = !(t.c_cflag & PARENB)  ? 0
                   : (t.c_cflag & CMSPAR) ? ((t.c_cflag & PARODD) ? 3 : 4)
                   : (t.c_cflag & PARODD) ? 1
                                          : 2;
        s.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
        int lines = 0;
        if (::ioctl(Fd, TIOCMGET, &lines) == 0) {
            s.Rts = lines & TIOCM_RTS;
            s.Dtr = lines & TIOCM_DTR;
        }
        return 0;
    }

    int SetState(const TLineSettings& s) override {
        struct termios2 t {};
        if (::ioctl(Fd, TCGETS2, &t) != 0)
            return errno;
        if (int err = FillTermios2(t, s))
            return err;
        if (::ioctl(Fd, TCSETS2, &t) != 0)
            return errno;
        // Read the rate back: a driver that cannot come within 3 % has not set it.
        struct termios2 back {};
        if (::ioctl(Fd, TCGETS2, &back) != 0)
            return errno;
        uint64_t got = back.c_ospeed, want = s.BaudRate;
        if (got * 100 < want * 97 || got * 100 > want * 103)
            return EINVAL;
        // A pseudo-terminal always reads back 8 bits without parity; a real driver
        // that dropped mark or space parity has not set it.
        constexpr tcflag_t Framing = PARENB | PARODD | CMSPAR | CSIZE | CSTOPB;
        if (!IsPty && (back.c_cflag & Framing) != (t.c_cflag & Framing))
            return EINVAL;
        BaudRate = s.BaudRate;
        if (int err = SetLine(TIOCM_RTS, s.Rts))
            return err;
        return SetLine(TIOCM_DTR, s.Dtr);
    }

    int SetupQueues(uint32_t, uint32_t) override { return 0; } // the tty layer sizes its own

    int SetTimeouts(const TCommTimeouts& t) override {
        Timeouts = t;
        return 0;
    }

    int Write(const uint8_t* data, size_t count, size_t& written) override {
        written = 0;
        // The device drains at the line rate; give up only when it stops taking bytes.
        auto deadline = Clock::now() + StallAllowance();
        while (written < count) {
            ssize_t n = ::write(Fd, data + written, count - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
                deadline = Clock::now() + StallAllowance();
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                return Failed(errno);
            auto left = deadline - Clock::now();
            if (left <= Clock::duration::zero())
                return ETIMEDOUT;
            pollfd p{Fd, POLLOUT, 0};
            int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
            if (::poll(&p, 1, ms) < 0 && errno != EINTR)
                return errno;
            if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
                return Failed(EIO);
        }
        return 0;
    }

    int WriteSome(const uint8_t* data, size_t count, size_t& written) override {
        written = 0;
        ssize_t n;
        do
            n = ::write(Fd, data, count);
        while (n < 0 && errno == EINTR);
        if (n < 0)
            return errno == EAGAIN ? 0 : Failed(errno);
        written = static_cast<size_t>(n);
        return 0;
    }

    int Read(uint8_t* data, size_t count, size_t& got) override {
        got = 0;
        ssize_t n;
        do
            n = ::read(Fd, data, count);
        while (n < 0 && errno == EINTR);
        if (n < 0) {
            if (errno == EAGAIN)
                return 0;
            return Failed(errno);
        }
        got = static_cast<size_t>(n);
        return 0;
    }

    int Flush() override {
        // Wait until the driver's queue is empty and, on a real UART, the
        // transmitter too, so that the last bit is on the wire when we return.
        auto deadline = Clock::now() + StallAllowance();
        int last = -1;
        for (;;) {
            int queued = 0;
            bool done = false;
            if (int err = OutputState(queued, done))
                return err;
            if (done)
                return 0;
            if (queued != last) {
                last = queued;
                deadline = Clock::now() + StallAllowance();
            }
            if (Clock::now() >= deadline)
                return ETIMEDOUT;
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }

    int Drained(bool& done) override {
        int queued = 0;
        return OutputState(queued, done);
    }

    int InQueue(uint32_t& count) override {
        int n = 0;
        if (::ioctl(Fd, FIONREAD, &n) != 0)
            return Failed(errno);
        count = n > 0 ? static_cast<uint32_t>(n) : 0;
        return 0;
    }

    int ModemStatus(uint32_t& status) override {
        status = 0;
        int lines = 0;
        if (::ioctl(Fd, TIOCMGET, &lines) != 0)
            return NoModemLines(errno) ? 0 : Failed(errno);
        if (lines & TIOCM_CTS)
            status |= msCtsOn;
        if (lines & TIOCM_DSR)
            status |= msDsrOn;
        if (lines & TIOCM_RNG)
            status |= msRingOn;
        if (lines & TIOCM_CAR)
            status |= msRlsdOn;
        return 0;
    }

    int PollFd() const override { return Fd; }

    bool Gone() override {
        if (IsGone || Fd < 0)
            return true;
        pollfd p{Fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            int n = 0;
            // Bytes that arrived before the hang-up are read first.
            if (::ioctl(Fd, FIONREAD, &n) == 0 && n > 0)
                return false;
            IsGone = true;
        }
        // The node removed or replaced (an adapter pulled out and another plugged in).
        struct stat st {};
        if (!IsGone && (::stat(Device.c_str(), &st) != 0 || st.st_ino != Inode)) {
            int n = 0;
            if (::ioctl(Fd, FIONREAD, &n) == 0 && n > 0)
                return false;
            IsGone = true;
        }
        return IsGone;
    }

private:
    // Drivers that count line changes (TIOCGICOUNT: the 8250 family, most USB
    // adapters, CDC ACM) can also wait for one (TIOCMIWAIT); the others, and
    // a watch that fails later, leave the lines to the worker's timer. RI
    // counts only its trailing edge, which the worker's slow look covers.
    void WatchLines() {
        serial_icounter_struct counts {};
        if (!Lines || ::ioctl(Fd, TIOCGICOUNT, &counts) != 0)
            return;
        const int fd = Fd;
        Watch = std::make_unique<TModemWatch>([fd] {
            return ::ioctl(fd, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_RNG | TIOCM_CD) == 0
                       ? 0
                       : errno;
        });
        if (!Watch->Start())
            Watch.reset();
    }

    // Bytes still in the driver's queue; done once they and, on a real UART,
    // the transmitter's last bits are out.
    int OutputState(int& queued, bool& done) {
        done = false;
        if (::ioctl(Fd, TIOCOUTQ, &queued) != 0)
            return Failed(errno);
        unsigned lsr = TIOCSER_TEMT;
        if (queued == 0 && ::ioctl(Fd, TIOCSERGETLSR, &lsr) != 0)
            lsr = TIOCSER_TEMT; // pseudo-terminals and some USB adapters have no LSR
        done = queued == 0 && (lsr & TIOCSER_TEMT);
        return 0;
    }

    int SetLine(int line, bool on) {
        if (::ioctl(Fd, on ? TIOCMBIS : TIOCMBIC, &line) != 0 && !NoModemLines(errno))
            return Failed(errno);
        return 0;
    }

    int Failed(int err) {
        if (DeviceGoneError(err))
            IsGone = true;
        return err;
    }

    // How long the device may take no bytes before a write or flush fails: the
    // configured constant plus twice the time of the tty layer's wake-up chunk
    // (256 bytes of 10 bits) at the line rate.
    std::chrono::milliseconds StallAllowance() const {
        uint64_t rate = BaudRate ? BaudRate : 9600;
        uint64_t ms = std::max<uint32_t>(Timeouts.WriteTotalTimeoutConstant, 250) +
                      2 * 256 * 10 * 1000 / rate;
        return std::chrono::milliseconds(ms);
    }

    void Release() {
        ::close(Fd);
        Fd = -1;
    }

    int Fd = -1;
    std::string Device;
    ino_t Inode = 0;
    uint32_t BaudRate = 0;
    bool IsGone = false;
    bool IsPty = false;
    bool Lines = true; // TIOCMGET answers: the device has modem lines
    TCommTimeouts Timeouts;
    std::unique_ptr<TModemWatch> Watch;
};

} // namespace

std::unique_ptr<TCommBackend> MakePosixBackend() {
    return std::make_unique<TPosixBackend>();
}
