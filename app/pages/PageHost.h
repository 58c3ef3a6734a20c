#pragma once
// TPageHost: what a tab page of TFrmMain reads of the window. The pages own
// their controls, handlers and settings, and tell the window what changed
// through their signals; what they must read of the window or share with each
// other is here. Window thread only.

#include "HexText.h"

#include <QString>

#include <cstdint>

class TWThreadComm;

class TPageHost {
public:
    virtual TWThreadComm& Worker() = 0;
    // The window's one scratch target of hex-text parses.
    virtual HexBytes& HexBuf() = 0;
    // Frames sent in the current timed run, one count for both timed pages.
    virtual uint32_t& SendCounter() = 0;

    // The status panel's state as the pages read it.
    virtual bool PreambleOn() const = 0;          // chkHead
    virtual bool ControlRtsOn() const = 0;        // ChkControlRTS
    virtual QString ReceiveCountText() const = 0; // EdtRevNum

protected:
    ~TPageHost() = default;
};
