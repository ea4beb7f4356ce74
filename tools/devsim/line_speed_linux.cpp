// Kept apart: the kernel's termios2 header cannot live beside <termios.h>.
#include "line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace veldar::devsim {

std::uint32_t ReadCustomLineSpeed(int fd) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

} // namespace veldar::devsim
