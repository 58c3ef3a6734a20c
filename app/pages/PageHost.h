#pragma once
// TPageHost: what a tab page of TFrmMain sees of the window. The pages own
// their controls and handlers; everything they share with the window or with
// each other goes through here. Window thread only.

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

    // Modem mode holds the output toggles: entering saves and forces them,
    // leaving gives them back.
    virtual void HoldTogglesForModem(bool hold) = 0;
    // The send page's tab shows the image of its send mode.
    virtual void ShowSendModeImage(int mode) = 0;
    // The port settings changed: the status panel reads them again.
    virtual void RefreshPortState() = 0;

protected:
    ~TPageHost() = default;
};
