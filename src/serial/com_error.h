// The one exception class of the serial port.
#pragma once

#include <stdexcept>
#include <string>

namespace veldar {

class EComPort : public std::runtime_error {
public:
    // Without a platform error: OsError is -1 and the message is the code's text alone.
    explicit EComPort(int errorCode);
    // With a platform error: the code's text followed by " (win error code: e)".
    EComPort(int errorCode, int osError);

    int ErrorCode() const { return errorCode_; }
    int OsError() const { return osError_; }

    // The English text of a code (1-23); an unknown code gives an empty text.
    static const char* Text(int errorCode);

private:
    int errorCode_;
    int osError_;
};

// Codes raised by this program's port.
enum ComErrorCode {
    CError_OpenFailed = 1,
    CError_WriteFailed = 2,
    CError_ReadFailed = 3,
    CError_InvalidAsync = 4,
    CError_PurgeFailed = 5,
    CError_AsyncCheck = 6,
    CError_SetStateFailed = 7,
    CError_TimeoutsFailed = 8,
    CError_SetupComFailed = 9,
    CError_ClearComFailed = 10,
    CError_ModemStatFailed = 11,
    CError_EscapeComFailed = 12,
    CError_TransmitFailed = 13,
    CError_ConnChangeProp = 14,
    CError_EnumPortsFailed = 15,
    CError_StoreFailed = 16,
    CError_LoadFailed = 17,
    CError_RegFailed = 18,
    CError_LedStateFailed = 19,
    CError_ThreadCreated = 20,
    CError_WaitFailed = 21,
    CError_HasLink = 22,
    CError_RegError = 23,
};

} // namespace veldar
