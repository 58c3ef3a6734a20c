#pragma once
// The serial layer's one exception: a small fixed error code plus the operating
// system's own error number, read when the exception is built.

#include <cstdint>
#include <exception>
#include <string>

// Codes raised by TCommPort; 2, 3, 5, 12 and 18 are never used.
enum : uint8_t {
    ceSetBaudRate = 1,
    ceSetParity = 4,
    cePortIsOpen = 6,
    cePortNotOpen = 7,
    ceOpen = 8,
    ceWrite = 9,
    ceRead = 10,
    ceClose = 11,
    ceFlush = 13,
    ceGetState = 14,
    ceSetState = 15,
    ceSetupQueues = 16,
    ceSetTimeouts = 17,
    ceSetRts = 19,
    ceSetDtr = 20,
};

class ECommError : public std::exception {
public:
    ECommError(uint8_t code, uint32_t sysError);

    uint8_t Code;
    uint32_t SysError; // errno of the failing call, 0 when there was none

    const char* what() const noexcept override { return Message.c_str(); }

private:
    std::string Message;
};

// The system's text for an error number ("Permission denied"), in English.
std::string SysErrorText(uint32_t sysError);
