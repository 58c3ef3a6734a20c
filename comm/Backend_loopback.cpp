// The emulated loopback plug: TX wired to RX, RTS to CTS, DTR to DSR and DCD.
// It lets a machine without serial hardware use Kestrel, and the tests drive
// the modem lines with it. Bytes written come back at once, whatever the rate.

#include "CommBackend.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace {

// One plug per process, like one device node: a second open is refused.
std::atomic<bool> PlugInUse{false};

class TLoopbackBackend final : public TCommBackend {
public:
    ~TLoopbackBackend() override { Close(); }

    int Open(const std::string&) override {
        if (PlugInUse.exchange(true))
            return EBUSY;
        Event = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        LinesEvent = Event < 0 ? -1 : ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (LinesEvent < 0) {
            int err = errno;
            if (Event >= 0)
                ::close(Event);
            Event = -1;
            PlugInUse = false;
            return err;
        }
        IsOpen = true;
        return 0;
    }

    int Close() override {
        if (!IsOpen)
            return 0;
        ::close(Event);
        ::close(LinesEvent);
        Event = LinesEvent = -1;
        IsOpen = false;
        PlugInUse = false;
        return 0;
    }

    int GetState(TLineSettings& s) override {
        s = Settings;
        return 0;
    }

    int SetState(const TLineSettings& s) override {
        if (!ValidLineSettings(s))
            return EINVAL;
        bool linesChanged = s.Rts != Settings.Rts || s.Dtr != Settings.Dtr;
        Settings = s;
        if (linesChanged)
            Signal(LinesEvent);
        return 0;
    }

    int SetupQueues(uint32_t, uint32_t) override { return 0; }
    int SetTimeouts(const TCommTimeouts&) override { return 0; }

    int Write(const uint8_t* data, size_t count, size_t& written) override {
        Rx.insert(Rx.end(), data, data + count);
        written = count;
        Signal(Event);
        return 0;
    }

    int Read(uint8_t* data, size_t count, size_t& got) override {
        size_t waiting = Rx.size() - RxHead;
        got = count < waiting ? count : waiting;
        std::copy_n(Rx.begin() + static_cast<std::ptrdiff_t>(RxHead), got, data);
        RxHead += got;
        if (RxHead == Rx.size()) {
            Rx.clear();
            RxHead = 0;
        }
        return 0;
    }

    int Flush() override { return 0; }

    int InQueue(uint32_t& count) override {
        count = static_cast<uint32_t>(Rx.size() - RxHead);
        return 0;
    }

    int ModemStatus(uint32_t& status) override {
        status = (Settings.Rts ? msCtsOn : 0) | (Settings.Dtr ? msDsrOn | msRlsdOn : 0);
        return 0;
    }

    int PollFd() const override { return Event; }

    void PollDone() override { Drain(Event); }

    // The plug's lines change only when we switch RTS or DTR, and it says so.
    int ModemFd() const override { return LinesEvent; }
    void ModemDone() override { Drain(LinesEvent); }

private:
    static void Signal(int fd) {
        uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
    }

    static void Drain(int fd) {
        uint64_t value;
        [[maybe_unused]] ssize_t n = ::read(fd, &value, sizeof value);
    }

    bool IsOpen = false;
    int Event = -1;      // bytes to read
    int LinesEvent = -1; // RTS or DTR switched
    TLineSettings Settings;
    std::vector<uint8_t> Rx;
    size_t RxHead = 0;
};

} // namespace

std::unique_ptr<TCommBackend> MakeLoopbackBackend() {
    return std::make_unique<TLoopbackBackend>();
}
