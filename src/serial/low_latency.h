// The driver's low-latency flag of a serial device (Linux: ASYNC_LOW_LATENCY through
// TIOCGSERIAL/TIOCSSERIAL). A USB adapter holds received bytes until its latency timer runs
// out, 16 ms by default; with the flag its driver sets the timer to 1 ms, so a record comes
// in when it ends. Set while the port is open; the flags found are put back at close.
#pragma once

#include <memory>
#include <string>

namespace veldar {

class ComDevice;

// The driver's flags word, 0 or errno: a seam, as a pseudo-terminal has no such flags.
struct SerialFlagsCalls {
    int (*Get)(int fd, int& flags);
    int (*Set)(int fd, int flags);
};

// The kernel's; where there is no such interface, both fail with ENOTTY.
SerialFlagsCalls SystemSerialFlagsCalls();

class LowLatency {
public:
    explicit LowLatency(const SerialFlagsCalls& calls) : calls_(calls) {}

    // A driver that refuses (a pseudo-terminal, a built-in UART without the flag) is left
    // as it is: the port works as well, only later.
    void Set(int fd);
    // Puts back the flags Set found, when it changed them.
    void Restore(int fd);

private:
    SerialFlagsCalls calls_;
    bool changed_ = false;
    int previous_ = 0;
};

// The POSIX device with its serial flags through calls.
std::unique_ptr<ComDevice> CreatePosixDevice(const std::string& linkFolder,
                                             const SerialFlagsCalls& calls);

} // namespace veldar
