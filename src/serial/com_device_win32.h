// The Windows serial device: the pieces of it that are plain conversions, kept apart so
// tests can check them without a port.
#pragma once

#include "com_types.h"

#include <string>

// The platform's record, from <windows.h>; not included here, as its macros (EV_RXCHAR,
// MAXDWORD...) would replace the names of our own win:: constants.
struct _DCB;

namespace veldar {

// The device path CreateFile needs for a port name: "\\.\COM3". The prefix is required
// from COM10 on and harmless below, so it is always used.
std::string Win32DevicePath(const std::string& port);

// Our line-settings record as the platform's DCB, flag word spread over its bit-fields.
_DCB ToWin32Dcb(const Dcb& dcb);

} // namespace veldar
