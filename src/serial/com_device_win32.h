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

// The platform calls behind opening the device and its event wait, in the platform's own
// types (void* a HANDLE, unsigned long a DWORD, int a BOOL).
struct Win32CommCalls {
    void* (*CreateFileA)(const char* name, unsigned long access, unsigned long share,
                         void* security, unsigned long disposition, unsigned long flags,
                         void* templateFile);
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

// How long the end of an event wait waits for a cancelled wait request to end: a driver
// that never ends it must not hang the thread, nor the close that waits for the thread.
inline constexpr unsigned long CancelledWaitBoundMs = 2000;

} // namespace veldar
