#include "port_failure.h"

#include "com_error.h"
#include "port_errors.h"
#include "program_texts.h"

#include <cerrno>

#ifndef _WIN32
#include <grp.h>
#include <sys/stat.h>
#endif

namespace veldar {

namespace {

std::string SystemError(int osError) {
    return texts::PortSystemError + std::to_string(osError) + ".";
}

// Access refused: the device's group, when it may read and write the device, is the one to
// join (dialout on most Linux systems).
std::string AccessRefused([[maybe_unused]] const std::string& devicePath) {
#ifndef _WIN32
    struct stat info {};
    if (stat(devicePath.c_str(), &info) == 0 && (info.st_mode & S_IRGRP) &&
        (info.st_mode & S_IWGRP)) {
        if (const group* owner = getgrgid(info.st_gid); owner && owner->gr_name)
            return std::string(texts::PortJoinGroup) + owner->gr_name + texts::PortJoinGroupEnd;
    }
#endif
    return texts::PortAccessRefused;
}

std::string Reason(PortErrorKind kind, int osError, const std::string& devicePath) {
    switch (kind) {
    case PortErrorKind::Absent:
        return texts::PortAbsent;
    case PortErrorKind::Occupied:
        return texts::PortOccupied;
    case PortErrorKind::NotAnswering:
        return texts::PortNotAnswering;
    case PortErrorKind::NotSerial:
        return texts::PortNotSerial;
    case PortErrorKind::AccessRefused:
        return AccessRefused(devicePath);
    case PortErrorKind::Other:
        break;
    }
    return SystemError(osError);
}

bool TimedOut(int osError) {
#ifdef _WIN32
    return osError == 121 || osError == 1460; // ERROR_SEM_TIMEOUT, ERROR_TIMEOUT
#else
    return osError == ETIMEDOUT || osError == EAGAIN;
#endif
}

bool NotOpen(int osError) {
#ifdef _WIN32
    return osError == 6; // ERROR_INVALID_HANDLE
#else
    return osError == EBADF;
#endif
}

} // namespace

std::string PortFailureText(const std::string& portName, int osError, bool lost) {
    if (lost) return texts::FailureGone + portName + texts::FailureGoneEnd;
    if (NotOpen(osError)) return PortClosedText(portName);
    if (TimedOut(osError)) return texts::FailurePort + portName + texts::FailureTimeOutEnd;
    return texts::FailureOther + portName + texts::FailureSystemCode + std::to_string(osError) +
           ")" + texts::FailureOtherEnd;
}

std::string PortClosedText(const std::string& portName) {
    return texts::FailurePort + portName + texts::FailureNotOpenEnd;
}

std::string WindowsOpenFailureReason(int osError) {
    return Reason(WindowsPortErrorKind(osError), osError, {});
}

#ifndef _WIN32
std::string PosixOpenFailureReason(int osError, const std::string& devicePath) {
    return Reason(PosixPortErrorKind(osError), osError, devicePath);
}
#endif

std::string PortOpenFailureReason(int errorCode, int osError, const std::string& devicePath) {
    switch (errorCode) {
    case CError_OpenFailed:
        if (osError < 0) return {};
        return Reason(PlatformPortErrorKind(osError), osError, devicePath);
    case CError_SetupComFailed:
    case CError_SetStateFailed:
    case CError_TimeoutsFailed:
        return texts::PortSettingsRefused;
    default:
        return {};
    }
}

} // namespace veldar
