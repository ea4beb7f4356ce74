// The Windows serial device: the pieces of it that are plain conversions, kept apart so
// tests can check them without a port, and the platform calls of its event wait, which a
// test can replace to play a driver that misbehaves.
#pragma once

#include "com_device.h"
#include "com_types.h"

#include <memory>
#include <string>

// The platform's records, from <windows.h>; not included here, as its macros (EV_RXCHAR,
// MAXDWORD...) would replace the names of our own win:: constants.
struct _DCB;
struct _OVERLAPPED;
struct _COMSTAT;

namespace veldar {

// The device path CreateFile needs for a port name: "\\.\COM3". The prefix is required
// from COM10 on and harmless below, so it is always used.
std::string Win32DevicePath(const std::string& port);

// Our line-settings record as the platform's DCB, flag word spread over its bit-fields.
_DCB ToWin32Dcb(const Dcb& dcb);

// The platform calls behind opening the device, its line settings, its reads and writes and
// its event wait, in the platform's own types (void* a HANDLE, unsigned long a DWORD, int a
// BOOL).
struct Win32CommCalls {
    void* (*CreateFileA)(const char* name, unsigned long access, unsigned long share,
                         void* security, unsigned long disposition, unsigned long flags,
                         void* templateFile);
    int (*SetCommState)(void* file, _DCB* dcb);
    int (*ReadFile)(void* file, void* buffer, unsigned long count, unsigned long* done,
                    _OVERLAPPED* overlapped);
    int (*WriteFile)(void* file, const void* buffer, unsigned long count, unsigned long* done,
                     _OVERLAPPED* overlapped);
    int (*SetCommMask)(void* file, unsigned long mask);
    int (*WaitCommEvent)(void* file, unsigned long* mask, _OVERLAPPED* overlapped);
    int (*GetOverlappedResult)(void* file, _OVERLAPPED* overlapped, unsigned long* done, int wait);
    int (*CancelIoEx)(void* file, _OVERLAPPED* overlapped);
    unsigned long (*WaitForMultipleObjects)(unsigned long count, void* const* handles, int waitAll,
                                            unsigned long milliseconds);
    int (*ClearCommError)(void* file, unsigned long* errors, _COMSTAT* stat);
};

// The system's own.
Win32CommCalls Win32SystemCalls();

// A Windows device that makes those calls through calls.
std::unique_ptr<ComDevice> CreateWin32Device(const Win32CommCalls& calls);

// How long a cancelled read, write or event wait is waited for: a driver that never ends
// it must not hang the caller, nor the close that waits for the event thread. The request
// and its buffer are then abandoned to the driver.
inline constexpr unsigned long CancelledWaitBoundMs = 2000;

// The event character the device asks of the driver when the program sets none: USB
// adapters send their buffer at once when it passes instead of after their latency timer,
// and every record ends with it.
inline constexpr char DeviceEventChar = '\r';

} // namespace veldar
