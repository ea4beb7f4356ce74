// What went wrong with a port, told in French for the user: the open failure box and the log
// give the reason the platform reported, so a missing port, a port another program holds and
// a port the user may not open no longer look alike; a failure of an open port says what
// happened and what to do. The port's own English texts go to the log only. Qt-free; texts
// in Windows-1252.
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

// A read, write or line query of an open port that failed with osError: two lines naming
// the port, what happened and what to do. lost: the error says the device is gone.
std::string PortFailureText(const std::string& portName, int osError, bool lost);

// A dump asked for on a port that is not open.
std::string PortClosedText(const std::string& portName);

} // namespace veldar
