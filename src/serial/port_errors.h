// What a platform error number says about a port, judged in one place for the window, the
// event thread and veldar-dump alike: the kind of failure of an open, and whether the device
// itself is gone (an unplugged adapter) rather than busy, slow or cancelled. Both platforms'
// tables are plain functions, so either can be checked anywhere.
#pragma once

namespace veldar {

enum class PortErrorKind { Absent, Occupied, NotAnswering, NotSerial, AccessRefused, Other };

// GetLastError numbers.
PortErrorKind WindowsPortErrorKind(int osError);
bool IsLostWindowsError(int osError);

// errno numbers.
PortErrorKind PosixPortErrorKind(int osError);
bool IsLostPosixError(int osError);

// The table of the platform the program was built for.
PortErrorKind PlatformPortErrorKind(int osError);

} // namespace veldar
