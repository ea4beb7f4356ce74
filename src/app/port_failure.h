// Why a port would not open, told in French: the open failure box and the log give the reason
// the platform reported, so a missing port, a port another program holds and a port the user
// may not open no longer look alike. Qt-free; texts in Windows-1252.
#pragma once

#include <string>

namespace veldar {

// The reason for a port error (its code and the platform's error number, -1 for none);
// devicePath is where the port leads on POSIX systems (its group is named when the user may
// not open it). Empty when the error tells nothing more than that the port did not open.
std::string PortOpenFailureReason(int errorCode, int osError, const std::string& devicePath);

// The reasons for the platform error numbers of each system.
std::string WindowsOpenFailureReason(int osError);
#ifndef _WIN32
std::string PosixOpenFailureReason(int osError, const std::string& devicePath);
#endif

} // namespace veldar
