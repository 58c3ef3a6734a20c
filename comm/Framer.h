#pragma once
// TFramer: the receive side of preamble framing. Bytes are matched against the
// preamble; after a whole preamble the next FrameLen bytes are one frame, and
// the hunt for a preamble starts again. Plain C++, no locking: its owner keeps
// it under a lock of its own (TWThreadComm's FrameLock).

#include <array>
#include <cstdint>
#include <vector>

class TFramer {
public:
    static constexpr uint32_t MaxPreamble = 12;
    static constexpr uint32_t FrameBufSize = 2048;

    // Refuses (false, nothing changed) more than MaxPreamble bytes and a frame
    // length outside 1..FrameBufSize. A match or frame under way is dropped:
    // its position may lie past the new preamble or length.
    bool SetPreamble(const uint8_t* bytes, uint32_t count, uint32_t frameLen);
    // Starts the hunt for a preamble afresh.
    void Reset();
    // Runs bytes through the matcher; each frame completed is appended to
    // frames (FrameLen bytes each).
    void Feed(const uint8_t* bytes, uint32_t count, std::vector<uint8_t>& frames);

    const uint8_t* Preamble() const { return PreambleBytes.data(); }
    uint32_t PreambleLen() const { return Length; }
    uint32_t FrameLen() const { return FrameLength; }

private:
    std::array<uint8_t, MaxPreamble> PreambleBytes{0x55, 0xAA, 0xFF};
    uint32_t Length = 3;
    std::array<uint8_t, FrameBufSize> FrameBuf{};
    uint32_t FrameLength = 6;
    uint32_t MatchPos = 0;
    uint32_t FrameCount = 0;
    uint32_t FrameState = 0; // 0: hunting for the preamble, 1: inside a frame
};
