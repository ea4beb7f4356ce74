#include "low_latency.h"

#include <cerrno>
#include <sys/ioctl.h>
#ifdef __linux__
#include <linux/serial.h>
#endif

namespace veldar {

SerialFlagsCalls SystemSerialFlagsCalls() {
#if defined(__linux__) && defined(TIOCGSERIAL)
    return {[](int fd, int& flags) -> int {
                serial_struct s{};
                if (ioctl(fd, TIOCGSERIAL, &s) != 0) return errno;
                flags = s.flags;
                return 0;
            },
            [](int fd, int flags) -> int {
                serial_struct s{};
                if (ioctl(fd, TIOCGSERIAL, &s) != 0) return errno;
                s.flags = flags;
                return ioctl(fd, TIOCSSERIAL, &s) == 0 ? 0 : errno;
            }};
#else
    return {[](int, int&) -> int { return ENOTTY; }, [](int, int) -> int { return ENOTTY; }};
#endif
}

namespace {
#ifdef ASYNC_LOW_LATENCY
constexpr int LowLatencyFlag = ASYNC_LOW_LATENCY;
#else
constexpr int LowLatencyFlag = 1 << 13;
#endif
} // namespace

void LowLatency::Set(int fd) {
    changed_ = false;
    int flags = 0;
    if (calls_.Get(fd, flags) != 0 || (flags & LowLatencyFlag)) return;
    if (calls_.Set(fd, flags | LowLatencyFlag) != 0) return;
    previous_ = flags;
    changed_ = true;
}

void LowLatency::Restore(int fd) {
    if (!changed_) return;
    changed_ = false;
    // A device that went away keeps nothing to restore.
    calls_.Set(fd, previous_);
}

} // namespace veldar
