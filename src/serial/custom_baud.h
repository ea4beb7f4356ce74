// Line speeds that have no termios constant, through the kernel's arbitrary-rate interface.
#pragma once

#include <cstdint>

namespace veldar {

// Sets both directions of the open terminal fd to rate bit/s at once; 0 or errno.
int SetCustomBaudRate(int fd, std::uint32_t rate);

} // namespace veldar
