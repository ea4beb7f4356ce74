// Kept apart: the kernel's termios2 header cannot live beside <termios.h>.
#include "custom_baud.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

namespace veldar {

int SetCustomBaudRate(int fd, std::uint32_t rate) {
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return errno;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
    // TCSETS2 applies at once, like TCSANOW: nothing queued is discarded.
    if (ioctl(fd, TCSETS2, &tio) != 0) return errno;
    return 0;
}

} // namespace veldar
