// Line speeds as the device end sees them. On a pseudo-terminal's master the terminal
// settings are those of the far end, so reading there gives the speed the program set.
#pragma once

#include <cstdint>

namespace veldar::devsim {

// The output speed of the terminal of fd in bit/s; 0 when it cannot be told.
std::uint32_t ReadLineSpeed(int fd);

// The same through the kernel's arbitrary-rate interface, for speeds without a termios
// constant (Linux only; 0 elsewhere or on failure).
std::uint32_t ReadCustomLineSpeed(int fd);

// Sets both directions of the terminal of fd to rate bit/s; 0 or errno.
int SetLineSpeed(int fd, std::uint32_t rate);

} // namespace veldar::devsim
