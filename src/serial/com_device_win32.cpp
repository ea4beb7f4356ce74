// The serial device on Windows: each operation is the communications call of the same
// name on a handle opened for overlapped I/O, so reads, writes and the event wait can be
// in flight at once from different threads.
#include "com_device_win32.h"

#include "com_device.h"
#include "stop_event.h"

#include <atomic>

// The base interface is all this needs; the full set defines macros over common names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace veldar {

std::string Win32DevicePath(const std::string& port) {
    return "\\\\.\\" + port;
}

DCB ToWin32Dcb(const Dcb& dcb) {
    DCB d{};
    d.DCBlength = sizeof(DCB);
    d.BaudRate = dcb.BaudRate;
    d.fBinary = dcb.Has(Dcb::fBinary);
    d.fParity = dcb.Has(Dcb::fParity);
    d.fOutxCtsFlow = dcb.Has(Dcb::fOutxCtsFlow);
    d.fOutxDsrFlow = dcb.Has(Dcb::fOutxDsrFlow);
    d.fDtrControl = dcb.DtrControl();
    d.fDsrSensitivity = dcb.Has(Dcb::fDsrSensitivity);
    d.fTXContinueOnXoff = dcb.Has(Dcb::fTXContinueOnXoff);
    d.fOutX = dcb.Has(Dcb::fOutX);
    d.fInX = dcb.Has(Dcb::fInX);
    d.fErrorChar = dcb.Has(Dcb::fErrorChar);
    d.fNull = dcb.Has(Dcb::fNull);
    d.fRtsControl = dcb.RtsControl();
    // Left off: with it every read and write fails after a line error until ClearCommError.
    d.fAbortOnError = 0;
    d.XonLim = dcb.XonLim;
    d.XoffLim = dcb.XoffLim;
    d.ByteSize = dcb.ByteSize;
    d.Parity = dcb.Parity;
    d.StopBits = dcb.StopBits;
    d.XonChar = dcb.XonChar;
    d.XoffChar = dcb.XoffChar;
    d.ErrorChar = dcb.ErrorChar;
    d.EofChar = dcb.EofChar;
    d.EvtChar = dcb.EvtChar;
    return d;
}

namespace {

int LastError() {
    return static_cast<int>(GetLastError());
}

// One overlapped request. The event starts signalled so that a record which never issued
// anything reads as complete.
class Win32Io : public DeviceIo {
public:
    Win32Io() {
        ov.hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        if (!ov.hEvent) createError = LastError();
    }

    ~Win32Io() override {
        // Until the request ends the platform uses ov and the caller's buffer: end it first.
        if (pending) {
            CancelIoEx(handle, &ov);
            WaitForSingleObject(ov.hEvent, INFINITE);
        }
        if (ov.hEvent) CloseHandle(ov.hEvent);
    }

    Win32Io(const Win32Io&) = delete;
    Win32Io& operator=(const Win32Io&) = delete;

    OVERLAPPED ov{};
    int createError = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    bool pending = false;
};

class Win32ComDevice : public ComDevice {
public:
    Win32ComDevice() = default;
    ~Win32ComDevice() override { Release(); }

    Win32ComDevice(const Win32ComDevice&) = delete;
    Win32ComDevice& operator=(const Win32ComDevice&) = delete;

    int Acquire(const std::string& portName) override {
        if (IsAcquired()) return ERROR_ACCESS_DENIED;
        handle_ = CreateFileA(Win32DevicePath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) return LastError();
        return 0;
    }

    void Release() override {
        if (!IsAcquired()) return;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    bool IsAcquired() const override { return handle_ != INVALID_HANDLE_VALUE; }

    int SetupBuffers(std::uint32_t inputSize, std::uint32_t outputSize) override {
        return SetupComm(handle_, inputSize, outputSize) ? 0 : LastError();
    }

    int SetState(const Dcb& dcb) override {
        DCB d = ToWin32Dcb(dcb);
        return SetCommState(handle_, &d) ? 0 : LastError();
    }

    int SetTimeouts(const CommTimeouts& t) override {
        COMMTIMEOUTS ct{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                        t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                        t.WriteTotalTimeoutConstant};
        return SetCommTimeouts(handle_, &ct) ? 0 : LastError();
    }

    int Purge(std::uint32_t flags) override { return PurgeComm(handle_, flags) ? 0 : LastError(); }

    int ClearError(std::uint32_t& errors, std::uint32_t& inputCount) override {
        DWORD flags = 0;
        COMSTAT stat{};
        if (!ClearCommError(handle_, &flags, &stat)) return LastError();
        errors = flags;
        inputCount = stat.cbInQue;
        return 0;
    }

    int GetModemStatus(std::uint32_t& status) override {
        DWORD s = 0;
        if (!GetCommModemStatus(handle_, &s)) return LastError();
        status = s;
        return 0;
    }

    std::unique_ptr<DeviceIo> NewIo() override { return std::make_unique<Win32Io>(); }

    int StartWrite(DeviceIo& io, const std::uint8_t* data, std::uint32_t count) override {
        auto& w = static_cast<Win32Io&>(io);
        if (w.createError) return w.createError;
        if (!WriteFile(handle_, data, count, nullptr, &w.ov) && GetLastError() != ERROR_IO_PENDING)
            return LastError();
        Issued(w);
        return 0;
    }

    int StartRead(DeviceIo& io, std::uint8_t* buffer, std::uint32_t count) override {
        auto& w = static_cast<Win32Io&>(io);
        if (w.createError) return w.createError;
        if (!ReadFile(handle_, buffer, count, nullptr, &w.ov) && GetLastError() != ERROR_IO_PENDING)
            return LastError();
        Issued(w);
        return 0;
    }

    int WaitIo(DeviceIo& io, std::uint32_t& done) override {
        auto& w = static_cast<Win32Io&>(io);
        done = 0;
        if (!w.pending) return 0;
        if (WaitForSingleObject(w.ov.hEvent, INFINITE) != WAIT_OBJECT_0) return LastError();
        w.pending = false;
        DWORD n = 0;
        if (!GetOverlappedResult(w.handle, &w.ov, &n, FALSE)) return LastError();
        done = n;
        return 0;
    }

    int SetEventMask(std::uint32_t mask) override {
        if (!SetCommMask(handle_, mask)) return LastError();
        mask_ = mask;
        return 0;
    }

    int WaitEvent(std::uint32_t& events, const StopEvent& stop) override {
        OVERLAPPED ov{};
        ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (!ov.hEvent) return LastError();
        int result = WaitEventOrStop(ov, events, stop);
        CloseHandle(ov.hEvent);
        return result;
    }

private:
    void Issued(Win32Io& io) {
        io.handle = handle_;
        io.pending = true;
    }

    // Returns only once the platform is done with ov and the mask word.
    int WaitEventOrStop(OVERLAPPED& ov, std::uint32_t& events, const StopEvent& stop) {
        DWORD mask = 0;
        if (!WaitCommEvent(handle_, &mask, &ov) && GetLastError() != ERROR_IO_PENDING)
            return LastError();
        // The stop comes first: when both are signalled, the stop wins.
        HANDLE objects[] = {stop.NativeHandle(), ov.hEvent};
        DWORD r = WaitForMultipleObjects(2, objects, FALSE, INFINITE);
        if (r != WAIT_OBJECT_0 + 1) {
            int error = r == WAIT_OBJECT_0 ? WaitStopped : LastError();
            // Setting the mask again ends a wait still pending (and forgets past events, so
            // it is not done to a wait that has completed).
            if (!HasOverlappedIoCompleted(&ov)) SetCommMask(handle_, mask_);
            DWORD ignored = 0;
            GetOverlappedResult(handle_, &ov, &ignored, TRUE);
            return error;
        }
        DWORD ignored = 0;
        if (!GetOverlappedResult(handle_, &ov, &ignored, FALSE)) return LastError();
        events = mask;
        return 0;
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // Set by the port's thread, read by the event thread's wait.
    std::atomic<std::uint32_t> mask_ = 0;
};

} // namespace

std::unique_ptr<ComDevice> CreatePlatformDevice() {
    return std::make_unique<Win32ComDevice>();
}

std::unique_ptr<ComDevice> CreatePlatformDevice(const std::string&) {
    return std::make_unique<Win32ComDevice>();
}

} // namespace veldar
