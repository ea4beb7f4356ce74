#include "port_errors.h"

#include <cerrno>

namespace veldar {

namespace {
// From <winerror.h>, which exists only for Windows builds.
enum WindowsError {
    ErrorFileNotFound = 2,
    ErrorPathNotFound = 3,
    ErrorAccessDenied = 5,
    ErrorInvalidHandle = 6,
    ErrorInvalidFunction = 1,
    ErrorNotReady = 21,
    ErrorBadCommand = 22,
    ErrorGenFailure = 31,
    ErrorSharingViolation = 32,
    ErrorBrokenPipe = 109,
    ErrorSemTimeout = 121,
    ErrorInvalidName = 123,
    ErrorDeviceNotConnected = 1167,
    ErrorDeviceRemoved = 1617,
};
} // namespace

PortErrorKind WindowsPortErrorKind(int osError) {
    switch (osError) {
    case ErrorFileNotFound:
    case ErrorPathNotFound:
    case ErrorInvalidName:
        return PortErrorKind::Absent;
    // Windows' answer when another program holds the port.
    case ErrorAccessDenied:
    case ErrorSharingViolation:
        return PortErrorKind::Occupied;
    case ErrorNotReady:
    case ErrorGenFailure:
    case ErrorSemTimeout:
    case ErrorDeviceNotConnected:
    case ErrorDeviceRemoved:
        return PortErrorKind::NotAnswering;
    case ErrorInvalidFunction:
    case ErrorInvalidHandle:
        return PortErrorKind::NotSerial;
    default:
        return PortErrorKind::Other;
    }
}

// What reads, writes and line queries of an open handle fail with once the adapter is gone
// (Wine: 21 from ClearCommError, GetCommModemStatus and WriteFile, 109 from ReadFile). A
// cancelled request (995) and a time-out are not among them.
bool IsLostWindowsError(int osError) {
    switch (osError) {
    case ErrorAccessDenied:
    case ErrorBadCommand:
    case ErrorGenFailure:
    case ErrorDeviceRemoved:
    case ErrorDeviceNotConnected:
    case ErrorFileNotFound:
    case ErrorInvalidHandle:
    case ErrorNotReady:
    case ErrorBrokenPipe:
        return true;
    default:
        return false;
    }
}

PortErrorKind PosixPortErrorKind(int osError) {
    switch (osError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return PortErrorKind::Absent;
    case EBUSY:
        return PortErrorKind::Occupied;
    case EACCES:
    case EPERM:
        return PortErrorKind::AccessRefused;
    case EIO:
        return PortErrorKind::NotAnswering;
    case ENOTTY:
    case EISDIR:
        return PortErrorKind::NotSerial;
    default:
        return PortErrorKind::Other;
    }
}

// A hung-up terminal answers EIO; a vanished USB device ENXIO or ENODEV.
bool IsLostPosixError(int osError) {
    return osError == EIO || osError == ENXIO || osError == ENODEV;
}

PortErrorKind PlatformPortErrorKind(int osError) {
#ifdef _WIN32
    return WindowsPortErrorKind(osError);
#else
    return PosixPortErrorKind(osError);
#endif
}

} // namespace veldar
