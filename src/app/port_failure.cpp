#include "port_failure.h"

#include "com_error.h"

#ifndef _WIN32
#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#endif

namespace veldar {

namespace {

const char* const Absent = "Ce port n'existe pas sur cet ordinateur.";
const char* const Occupied = "Ce port est d\xE9j\xE0 utilis\xE9 par un autre programme.";
const char* const NotAnswering =
    "Le p\xE9riph\xE9rique de ce port ne r\xE9pond pas (adaptateur d\xE9"
    "branch\xE9 ?).";
const char* const NotSerial = "Ce nom ne d\xE9signe pas un port s\xE9rie.";
const char* const SettingsRefused = "Le port refuse les r\xE9glages de la ligne.";

std::string SystemError(int osError) {
    return "Erreur syst\xE8me " + std::to_string(osError) + ".";
}

} // namespace

std::string WindowsOpenFailureReason(int osError) {
    switch (osError) {
    case 2:   // ERROR_FILE_NOT_FOUND
    case 3:   // ERROR_PATH_NOT_FOUND
    case 123: // ERROR_INVALID_NAME
        return Absent;
    case 5:  // ERROR_ACCESS_DENIED: Windows' answer when another program holds the port
    case 32: // ERROR_SHARING_VIOLATION
        return Occupied;
    case 21:   // ERROR_NOT_READY
    case 31:   // ERROR_GEN_FAILURE
    case 121:  // ERROR_SEM_TIMEOUT
    case 1167: // ERROR_DEVICE_NOT_CONNECTED
    case 1617: // ERROR_DEVICE_REMOVED
        return NotAnswering;
    case 1: // ERROR_INVALID_FUNCTION
    case 6: // ERROR_INVALID_HANDLE
        return NotSerial;
    default:
        return SystemError(osError);
    }
}

#ifndef _WIN32
namespace {

// Access refused: the device's group, when it may read and write the device, is the one to
// join (dialout on most Linux systems).
std::string AccessRefused(const std::string& devicePath) {
    struct stat info {};
    if (stat(devicePath.c_str(), &info) == 0 && (info.st_mode & S_IRGRP) &&
        (info.st_mode & S_IWGRP)) {
        if (const group* owner = getgrgid(info.st_gid); owner && owner->gr_name)
            return std::string("Acc\xE8s refus\xE9: ajoutez votre compte au groupe ") +
                   owner->gr_name + ", propri\xE9taire du port, puis ouvrez une nouvelle session.";
    }
    return "Acc\xE8s refus\xE9: votre compte n'a pas le droit d'ouvrir ce port.";
}

} // namespace

std::string PosixOpenFailureReason(int osError, const std::string& devicePath) {
    switch (osError) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return Absent;
    case EBUSY:
        return Occupied;
    case EACCES:
    case EPERM:
        return AccessRefused(devicePath);
    case EIO:
        return NotAnswering;
    case ENOTTY:
    case EISDIR:
        return NotSerial;
    default:
        return SystemError(osError);
    }
}
#endif

std::string PortOpenFailureReason(int errorCode, int osError, const std::string& devicePath) {
    switch (errorCode) {
    case CError_OpenFailed:
        if (osError < 0) return {};
#ifdef _WIN32
        (void)devicePath;
        return WindowsOpenFailureReason(osError);
#else
        return PosixOpenFailureReason(osError, devicePath);
#endif
    case CError_SetupComFailed:
    case CError_SetStateFailed:
    case CError_TimeoutsFailed:
        return SettingsRefused;
    default:
        return {};
    }
}

} // namespace veldar
