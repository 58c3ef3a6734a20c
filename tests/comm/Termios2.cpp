#include "Termios2.h"

#include "Backend_posix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace {

void Decode(const struct termios2& t, TTtyState& s) {
    s.OutSpeed = t.c_ospeed;
    s.InSpeed = t.c_ispeed;
    s.ParityOn = t.c_cflag & PARENB;
    s.ParityOdd = t.c_cflag & PARODD;
    s.MarkSpace = t.c_cflag & CMSPAR;
    s.EightBits = (t.c_cflag & CSIZE) == CS8;
    s.TwoStopBits = t.c_cflag & CSTOPB;
    s.HardwareFlow = t.c_cflag & CRTSCTS;
    s.Echo = t.c_lflag & ECHO;
    s.Canonical = t.c_lflag & ICANON;
    s.Signals = t.c_lflag & ISIG;
    s.XonXoff = t.c_iflag & (IXON | IXOFF);
    s.OutputProcessing = t.c_oflag & OPOST;
    s.CrToNl = t.c_iflag & (ICRNL | INLCR | IGNCR);
}

} // namespace

bool ReadTtyState(int fd, TTtyState& s) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    Decode(t, s);
    return true;
}

bool FilledState(const TLineSettings& settings, TTtyState& s) {
    struct termios2 t {};
    // Start from what a fresh Linux tty has: echo, canonical, XON/XOFF, CR to NL, OPOST.
    t.c_iflag = ICRNL | IXON | IXOFF;
    t.c_oflag = OPOST | ONLCR;
    t.c_lflag = ECHO | ICANON | ISIG | IEXTEN;
    t.c_cflag = CS7 | CRTSCTS | CSTOPB | B9600;
    if (FillTermios2(t, settings) != 0)
        return false;
    Decode(t, s);
    return true;
}
