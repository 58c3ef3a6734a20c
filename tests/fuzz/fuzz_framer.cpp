// The receive framing on any preamble, frame length and byte stream, fed in
// blocks of any size, against a plain reading of the whole stream at once:
// the same frames in the same order, each right behind a whole preamble.
#include "Framer.h"
#include "Fuzzcheck.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

struct TInput {
    const uint8_t* At;
    size_t Left;
    uint8_t Byte() {
        if (Left == 0)
            return 0;
        --Left;
        return *At++;
    }
};

// The frames of the whole stream. Matching restarts at the preamble's first
// byte only, without looking further back, as the worker has always done.
std::vector<uint8_t> Reference(const std::vector<uint8_t>& pre, uint32_t frameLen,
                               const std::vector<uint8_t>& stream, std::vector<size_t>& starts) {
    std::vector<uint8_t> out;
    size_t i = 0, matched = 0;
    while (i < stream.size()) {
        if (matched == pre.size()) {
            if (stream.size() - i < frameLen)
                break;
            starts.push_back(i);
            out.insert(out.end(), stream.begin() + long(i), stream.begin() + long(i + frameLen));
            i += frameLen;
            matched = 0;
            continue;
        }
        const uint8_t b = stream[i++];
        if (b == pre[matched])
            ++matched;
        else
            matched = !pre.empty() && b == pre[0] ? 1 : 0;
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TInput in{data, size};
    std::vector<uint8_t> pre(in.Byte() % 14); // one more than fits: refused
    for (auto& b : pre)
        b = in.Byte();
    uint32_t frameLen = (uint32_t(in.Byte()) << 8 | in.Byte()) % 2100; // 0 and above 2048 refused
    const uint8_t chunkSeed = in.Byte();

    TFramer framer;
    const bool taken = framer.SetPreamble(pre.data(), uint32_t(pre.size()), frameLen);
    Check(taken == (pre.size() <= TFramer::MaxPreamble && frameLen >= 1 &&
                    frameLen <= TFramer::FrameBufSize));
    if (!taken) {
        // Refused: the default preamble 55 AA FF and six bytes stay.
        pre = {0x55, 0xAA, 0xFF};
        frameLen = 6;
    }
    Check(framer.PreambleLen() == pre.size() && framer.FrameLen() == frameLen);

    const std::vector<uint8_t> stream(in.At, in.At + in.Left);
    std::vector<uint8_t> frames;
    size_t at = 0, k = 0;
    while (at < stream.size()) {
        // Blocks of 1 to 256 bytes, as reads of any size deliver them.
        const size_t n =
            std::min(stream.size() - at, size_t(1 + (chunkSeed * 31 + k++ * 17) % 256));
        framer.Feed(stream.data() + at, uint32_t(n), frames);
        at += n;
    }

    std::vector<size_t> starts;
    const std::vector<uint8_t> want = Reference(pre, frameLen, stream, starts);
    Check(frames == want);
    Check(frames.size() % frameLen == 0);
    for (size_t s : starts)
        Check(s >= pre.size() && (pre.empty() || std::memcmp(stream.data() + s - pre.size(),
                                                             pre.data(), pre.size()) == 0));
    return 0;
}
