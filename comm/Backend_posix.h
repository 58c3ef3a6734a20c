#pragma once
// The termios2 settings the POSIX backend gives a device, apart so that tests can check
// them without a device. Include <asm/termbits.h> (not <termios.h>) to use it.

#include "CommBackend.h"

struct termios2;

// Byte-transparent line settings: 8 data bits, the rate (any value, BOTHER), the
// parity (mark and space through CMSPAR), no echo, no line editing, no translation
// and no flow control. Returns EINVAL for a rate of 0 or an unknown parity.
int FillTermios2(struct termios2& t, const TLineSettings& s);
