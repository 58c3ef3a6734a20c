#pragma once
// What the kernel holds for a tty, read with termios2 (kept apart from <termios.h>).

#include "CommBackend.h"

#include <cstdint>

struct TTtyState {
    uint32_t OutSpeed = 0;
    uint32_t InSpeed = 0;
    bool ParityOn = false, ParityOdd = false, MarkSpace = false;
    bool EightBits = false, TwoStopBits = false, HardwareFlow = false;
    bool Echo = false, Canonical = false, Signals = false, XonXoff = false,
         OutputProcessing = false, CrToNl = false;
};

bool ReadTtyState(int fd, TTtyState& state);

// The settings the POSIX backend would give a device for the line settings.
bool FilledState(const TLineSettings& settings, TTtyState& state);
