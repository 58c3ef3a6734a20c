#include "CommError.h"

#include <cstring>

ECommError::ECommError(uint8_t code, uint32_t sysError)
    : Code(code), SysError(sysError),
      Message("serial port error " + std::to_string(code) +
              (sysError ? ": " + SysErrorText(sysError) : std::string())) {}

std::string SysErrorText(uint32_t sysError) {
    char buf[256];
    // The GNU strerror_r may return a static string instead of filling buf.
    const char* text = strerror_r(static_cast<int>(sysError), buf, sizeof buf);
    return text ? text : "error " + std::to_string(sysError);
}
