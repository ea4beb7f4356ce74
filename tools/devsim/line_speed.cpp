#include "line_speed.h"

#include <cerrno>
#include <termios.h>
#ifdef __linux__
#include "custom_baud.h"
#endif

namespace veldar::devsim {

namespace {

struct KnownSpeed {
    speed_t code;
    std::uint32_t rate;
};

constexpr KnownSpeed KnownSpeeds[] = {
    {B50, 50},         {B75, 75},         {B110, 110},   {B134, 134},     {B150, 150},
    {B200, 200},       {B300, 300},       {B600, 600},   {B1200, 1200},   {B1800, 1800},
    {B2400, 2400},     {B4800, 4800},     {B9600, 9600}, {B19200, 19200}, {B38400, 38400},
    {B57600, 57600},   {B115200, 115200},
#ifdef B230400
    {B230400, 230400},
#endif
};

} // namespace

std::uint32_t ReadLineSpeed(int fd) {
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return 0;
    speed_t code = cfgetospeed(&tio);
    for (const auto& known : KnownSpeeds)
        if (known.code == code) return known.rate;
    // A rate set through the arbitrary-rate interface shows here only as a marker.
    return ReadCustomLineSpeed(fd);
}

int SetLineSpeed(int fd, std::uint32_t rate) {
    for (const auto& known : KnownSpeeds) {
        if (known.rate != rate) continue;
        termios tio{};
        if (tcgetattr(fd, &tio) != 0) return errno;
        cfsetispeed(&tio, known.code);
        cfsetospeed(&tio, known.code);
        return tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : errno;
    }
#ifdef __linux__
    return SetCustomBaudRate(fd, rate);
#else
    return EINVAL;
#endif
}

#ifndef __linux__
std::uint32_t ReadCustomLineSpeed(int) {
    return 0;
}
#endif

} // namespace veldar::devsim
