// A port reached over plain TCP (a ser2net "raw" port and the like): the bytes
// alone. The line settings and RTS/DTR are kept and read back but reach
// nothing, and there are no modem lines to show, as on a pseudo-terminal.

#include "NetBackend.h"

namespace {

class TTcpBackend final : public TNetBackend {
public:
    using TNetBackend::TNetBackend;

    int SetState(const TLineSettings& s) override {
        if (!ValidLineSettings(s))
            return EINVAL;
        Settings = s;
        return 0;
    }
    int WriteSome(const uint8_t* data, size_t count, size_t& written) override {
        return Link.Send(data, count, written);
    }
    int Read(uint8_t* data, size_t count, size_t& got) override {
        return Link.Recv(data, count, got);
    }
    int ModemStatus(uint32_t& status) override {
        status = 0;
        return 0;
    }
    bool HasModemLines() override { return false; }
};

} // namespace

std::unique_ptr<TCommBackend> MakeTcpBackend(const TNetTarget& target) {
    return std::make_unique<TTcpBackend>(target);
}
