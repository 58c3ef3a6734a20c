// The Telnet receive parser of network ports on any byte stream: fed in
// pieces of any sizes it gives the same data bytes and the same commands as
// fed whole, every data byte comes from the stream, and a subnegotiation
// never exceeds its bound.
#include "Fuzzcheck.h"
#include "Telnet.h"

#include <cstddef>
#include <string>
#include <vector>

using namespace telnet;

namespace {

struct TLog : TTelnetEvents {
    std::vector<uint8_t> Seen; // each event flattened, with a marker
    void OnNegotiation(uint8_t verb, uint8_t option) override {
        Seen.insert(Seen.end(), {0xA0, verb, option});
    }
    void OnSubnegotiation(const uint8_t* b, size_t n) override {
        Check(n > 0 && n <= TTelnetParser::MaxSub);
        Seen.insert(Seen.end(), {0xB0, static_cast<uint8_t>(n)});
        Seen.insert(Seen.end(), b, b + n);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1)
        return 0;
    // The first byte seeds the piece sizes; the rest is the stream.
    uint32_t seed = data[0] * 2654435761u + 1;
    const std::vector<uint8_t> stream(data + 1, data + size);

    TTelnetParser whole;
    TLog wholeLog;
    std::vector<uint8_t> wholeOut(stream.size() + 1);
    const size_t n = whole.Feed(stream.data(), stream.size(), wholeOut.data(), wholeLog);
    Check(n <= stream.size());
    wholeOut.resize(n);

    TTelnetParser split;
    TLog splitLog;
    std::vector<uint8_t> splitOut;
    for (size_t at = 0; at < stream.size();) {
        seed = seed * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(1 + (seed >> 16) % 9, stream.size() - at);
        // Decoded in place, as the backend does.
        std::vector<uint8_t> buf(stream.begin() + long(at), stream.begin() + long(at + piece));
        const size_t got = split.Feed(buf.data(), piece, buf.data(), splitLog);
        Check(got <= piece);
        splitOut.insert(splitOut.end(), buf.begin(), buf.begin() + long(got));
        at += piece;
    }
    Check(splitOut == wholeOut);
    Check(splitLog.Seen == wholeLog.Seen);

    // A stream of data alone, escaped for the wire, reads back as itself.
    std::vector<uint8_t> wire;
    EscapeData(stream.data(), stream.size(), wire, stream.size() * 2);
    TTelnetParser back;
    TLog none;
    std::vector<uint8_t> out(wire.size() + 1);
    out.resize(back.Feed(wire.data(), wire.size(), out.data(), none));
    Check(out == stream);
    Check(none.Seen.empty());
    return 0;
}
