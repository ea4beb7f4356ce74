// Which platform errors mean a gone device: what is lost and, as much, what is not (a
// time-out, a request cancelled by the program or by Wine's idle waits).
#include "port_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace veldar {
namespace {

TEST(LostPort, WindowsErrorsOfAGoneAdapterOnly) {
    for (int lost : {5, 6, 2, 21, 22, 31, 109, 1167, 1617})
        EXPECT_TRUE(IsLostWindowsError(lost)) << lost;
    // Cancelled (995), time-out (121, 1460), still pending (997), parameter (87), success.
    for (int alive : {0, 995, 121, 1460, 997, 87, 1, 50})
        EXPECT_FALSE(IsLostWindowsError(alive)) << alive;
}

TEST(LostPort, PosixErrorsOfAGoneDeviceOnly) {
    for (int lost : {EIO, ENXIO, ENODEV})
        EXPECT_TRUE(IsLostPosixError(lost)) << lost;
    for (int alive : {0, EAGAIN, EINTR, ETIMEDOUT, EBUSY, EACCES, EINVAL, ENOTTY})
        EXPECT_FALSE(IsLostPosixError(alive)) << alive;
}

} // namespace
} // namespace veldar
