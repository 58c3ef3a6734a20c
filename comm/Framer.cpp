#include "Framer.h"

#include <algorithm>

bool TFramer::SetPreamble(const uint8_t* bytes, uint32_t count, uint32_t frameLen) {
    if (count > MaxPreamble || (count > 0 && !bytes) || frameLen < 1 || frameLen > FrameBufSize)
        return false;
    std::copy_n(bytes, count, PreambleBytes.begin());
    Length = count;
    FrameLength = frameLen;
    Reset();
    return true;
}

void TFramer::Reset() {
    FrameState = 0;
    MatchPos = 0;
    FrameCount = 0;
}

void TFramer::Feed(const uint8_t* bytes, uint32_t count, std::vector<uint8_t>& frames) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (FrameState == 0) {
            if (Length > 0) {
                // A byte that breaks the match starts a new one only when it is
                // the preamble's first byte; the match does not look further back.
                if (b == PreambleBytes[MatchPos]) {
                    if (++MatchPos == Length) {
                        FrameState = 1;
                        FrameCount = 0;
                    }
                } else {
                    MatchPos = b == PreambleBytes[0] ? 1 : 0;
                }
                continue;
            }
            FrameState = 1;
            FrameCount = 0;
        }
        FrameBuf[FrameCount++] = b;
        if (FrameCount >= FrameLength) {
            frames.insert(frames.end(), FrameBuf.begin(), FrameBuf.begin() + FrameLength);
            FrameState = 0;
            MatchPos = 0;
        }
    }
}
