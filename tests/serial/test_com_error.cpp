#include "com_error.h"

#include <gtest/gtest.h>

namespace veldar {
namespace {

TEST(EComPortTest, WithPlatformErrorTheMessageCarriesTheSuffix) {
    EComPort e(CError_OpenFailed, 2);
    EXPECT_EQ(e.ErrorCode(), 1);
    EXPECT_EQ(e.OsError(), 2);
    EXPECT_STREQ(e.what(), "Unable to open com port (win error code: 2)");
}

TEST(EComPortTest, WithoutPlatformErrorOsErrorIsMinusOne) {
    EComPort e(CError_ConnChangeProp);
    EXPECT_EQ(e.OsError(), -1);
    EXPECT_STREQ(e.what(), "Cannot set property while connected");
}

TEST(EComPortTest, TextTableCoversTheTwentyThreeCodes) {
    EXPECT_STREQ(EComPort::Text(5), "PurgeComm function failed");
    EXPECT_STREQ(EComPort::Text(8), "SetCommTimeouts failed");
    EXPECT_STREQ(EComPort::Text(18), "Link (un)registration failed");
    EXPECT_STREQ(EComPort::Text(19), "Cannot change led state if ComPort is selected");
    EXPECT_STREQ(EComPort::Text(23), "Registry error");
    EXPECT_STREQ(EComPort::Text(0), "");
    EXPECT_STREQ(EComPort::Text(24), "");
}

} // namespace
} // namespace veldar
