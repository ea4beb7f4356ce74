// The serial device on Windows: each operation is the communications call of the same
// name on a handle opened for overlapped I/O, so reads, writes and the event wait can be
// in flight at once from different threads.
//
// Three ways of some drivers (Wine's on a pseudo-terminal among them; see veldar-wincheck)
// are met here, with what a Windows serial driver does as the behaviour kept:
// - an overlapped read with "return at once" time-outs stays pending while nothing has
//   arrived: such a read asks only for the bytes already waiting, and none when none are;
// - an event wait can be refused for the modem-line kinds, or end by itself without any
//   event: the kinds the driver lacks are dropped and the wait is made again after a pause;
// - a byte left unread can be reported again by every wait: received bytes are reported
//   only when more have arrived than were reported before.
//
// Windows offers no look at received bytes that leaves them in the driver, so a wait for a
// byte reads what has arrived into the device's own input queue, which the next read serves
// first. A second event wait beside the event thread's would fight it for the line's
// events, so the wait asks the driver's count every millisecond instead.
#include "com_device_win32.h"

#include "port_errors.h"
#include "stop_event.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <vector>

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
    d.fDtrControl = dcb.DtrControl() & 0x3; // two bits
    d.fDsrSensitivity = dcb.Has(Dcb::fDsrSensitivity);
    d.fTXContinueOnXoff = dcb.Has(Dcb::fTXContinueOnXoff);
    d.fOutX = dcb.Has(Dcb::fOutX);
    d.fInX = dcb.Has(Dcb::fInX);
    d.fErrorChar = dcb.Has(Dcb::fErrorChar);
    d.fNull = dcb.Has(Dcb::fNull);
    d.fRtsControl = dcb.RtsControl() & 0x3; // two bits
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

Win32CommCalls Win32SystemCalls() {
    Win32CommCalls calls;
    calls.CreateFileA = [](const char* name, unsigned long access, unsigned long share,
                           void* security, unsigned long disposition, unsigned long flags,
                           void* templateFile) -> void* {
        return ::CreateFileA(name, access, share, static_cast<SECURITY_ATTRIBUTES*>(security),
                             disposition, flags, templateFile);
    };
    calls.SetCommState = [](void* file, DCB* dcb) -> int { return ::SetCommState(file, dcb); };
    calls.ReadFile = [](void* file, void* buffer, unsigned long count, unsigned long* done,
                        OVERLAPPED* ov) -> int {
        return ::ReadFile(file, buffer, count, done, ov);
    };
    calls.WriteFile = [](void* file, const void* buffer, unsigned long count, unsigned long* done,
                         OVERLAPPED* ov) -> int {
        return ::WriteFile(file, buffer, count, done, ov);
    };
    calls.SetCommMask = [](void* file, unsigned long mask) -> int {
        return ::SetCommMask(file, mask);
    };
    calls.WaitCommEvent = [](void* file, unsigned long* mask, OVERLAPPED* ov) -> int {
        return ::WaitCommEvent(file, mask, ov);
    };
    calls.GetOverlappedResult = [](void* file, OVERLAPPED* ov, unsigned long* done,
                                   int wait) -> int {
        return ::GetOverlappedResult(file, ov, done, wait);
    };
    calls.CancelIoEx = [](void* file, OVERLAPPED* ov) -> int { return ::CancelIoEx(file, ov); };
    calls.WaitForMultipleObjects = [](unsigned long count, void* const* handles, int waitAll,
                                      unsigned long ms) -> unsigned long {
        return ::WaitForMultipleObjects(count, handles, waitAll, ms);
    };
    calls.ClearCommError = [](void* file, unsigned long* errors, COMSTAT* stat) -> int {
        return ::ClearCommError(file, errors, stat);
    };
    return calls;
}

namespace {

int LastError() {
    return static_cast<int>(GetLastError());
}

constexpr std::uint32_t ModemLineKinds = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// After a wait that ended with nothing to report, the next one is made after this pause,
// so a driver that ends every wait at once is asked 50 times a second, not spun on.
constexpr DWORD RetryPauseMs = 20;

// One overlapped request with the bytes it moves and, for an event wait, the mask word the
// platform fills in. The device owns it: a request that a driver does not end after its
// cancel is abandoned whole, so the platform never writes into memory that was freed or
// handed back to a caller.
struct Win32Request {
    Win32Request() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Win32Request() {
        if (ov.hEvent) CloseHandle(ov.hEvent);
    }
    Win32Request(const Win32Request&) = delete;
    Win32Request& operator=(const Win32Request&) = delete;

    OVERLAPPED ov{};
    DWORD mask = 0;
    std::vector<std::uint8_t> bytes;
};

// Cancels a request that may still be in flight and waits a bounded time for its end. A
// driver that ignores the cancel keeps the request for good (released here, never freed)
// rather than hang the caller. True when the request has ended.
bool EndRequest(const Win32CommCalls& calls, HANDLE handle,
                std::unique_ptr<Win32Request>& request) {
    calls.CancelIoEx(handle, &request->ov);
    if (WaitForSingleObject(request->ov.hEvent, CancelledWaitBoundMs) == WAIT_OBJECT_0) return true;
    static_cast<void>(request.release());
    return false;
}

class Win32ComDevice;

// One read or write of a caller. Reads go into the request's own bytes and reach the
// caller's buffer only when WaitIo returns.
class Win32Io : public DeviceIo {
public:
    explicit Win32Io(Win32ComDevice& device) : device_(device) {
        if (!request->ov.hEvent) createError = LastError();
    }
    ~Win32Io() override;

    Win32Io(const Win32Io&) = delete;
    Win32Io& operator=(const Win32Io&) = delete;

    std::unique_ptr<Win32Request> request = std::make_unique<Win32Request>();
    int createError = 0;
    HANDLE handle = INVALID_HANDLE_VALUE;
    // Started and not yet waited for; pending: the driver has a request.
    bool started = false;
    bool pending = false;
    bool read = false;
    std::uint8_t* target = nullptr;
    // Bytes a read took from the device's input queue, ahead of what the driver gives it,
    // and the driver's bytes counted as taken when the read was issued.
    std::uint32_t fromQueue = 0;
    std::uint32_t counted = 0;

private:
    Win32ComDevice& device_;
};

class Win32ComDevice : public ComDevice {
public:
    explicit Win32ComDevice(const Win32CommCalls& calls) : calls_(calls) {}
    ~Win32ComDevice() override { Release(); }

    Win32ComDevice(const Win32ComDevice&) = delete;
    Win32ComDevice& operator=(const Win32ComDevice&) = delete;

    int Acquire(const std::string& portName) override {
        if (IsAcquired()) return ERROR_ACCESS_DENIED;
        handle_ =
            calls_.CreateFileA(Win32DevicePath(portName).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE) return LastError();
        readsAtOnce_ = false;
        carriedErrors_ = 0;
        std::lock_guard lock(inputMutex_);
        taken_ = 0;
        inFlight_ = 0;
        reported_ = 0;
        queue_.clear();
        return 0;
    }

    void Release() override {
        std::lock_guard lock(inputMutex_);
        if (!IsAcquired()) return;
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        queue_.clear();
    }

    bool IsAcquired() const override { return handle_ != INVALID_HANDLE_VALUE; }

    int SetupBuffers(std::uint32_t inputSize, std::uint32_t outputSize) override {
        if (!SetupComm(handle_, inputSize, outputSize)) return LastError();
        std::lock_guard lock(inputMutex_);
        queueLimit_ = inputSize;
        return 0;
    }

    // Without an event character of the program's own, the driver gets the device's: the
    // program never hears of it (see WaitOnce), only the adapter's buffering does.
    int SetState(const Dcb& dcb) override {
        DCB d = ToWin32Dcb(dcb);
        const bool own = dcb.EvtChar == 0;
        if (own) d.EvtChar = DeviceEventChar;
        if (!calls_.SetCommState(handle_, &d)) return LastError();
        ownEventChar_ = own;
        return 0;
    }

    int SetTimeouts(const CommTimeouts& t) override {
        COMMTIMEOUTS ct{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier,
                        t.ReadTotalTimeoutConstant, t.WriteTotalTimeoutMultiplier,
                        t.WriteTotalTimeoutConstant};
        if (!SetCommTimeouts(handle_, &ct)) return LastError();
        readsAtOnce_ = t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
                       t.ReadTotalTimeoutConstant == 0;
        return 0;
    }

    int Purge(std::uint32_t flags) override {
        // The discarded bytes count as taken: they are not news to the event wait. Those of
        // the queue were counted when they left the driver.
        std::lock_guard lock(inputMutex_);
        std::uint32_t waiting = 0;
        if (flags & PURGE_RXCLEAR) InputWaiting(waiting);
        if (!PurgeComm(handle_, flags)) return LastError();
        taken_ += waiting;
        if (flags & PURGE_RXCLEAR) queue_.clear();
        return 0;
    }

    int ClearError(std::uint32_t& errors, std::uint32_t& inputCount) override {
        DWORD flags = 0;
        COMSTAT stat{};
        std::lock_guard lock(inputMutex_);
        if (!calls_.ClearCommError(handle_, &flags, &stat)) return LastError();
        errors = flags | carriedErrors_.exchange(0);
        inputCount = stat.cbInQue + static_cast<std::uint32_t>(queue_.size());
        return 0;
    }

    int GetModemStatus(std::uint32_t& status) override {
        DWORD s = 0;
        if (!GetCommModemStatus(handle_, &s)) return LastError();
        status = s;
        return 0;
    }

    // A driver without modem lines says so with one of these two.
    bool IsUnsupported(int error) const override {
        return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
    }

    bool IsLost(int error) const override { return IsLostWindowsError(error); }

    std::unique_ptr<DeviceIo> NewIo() override { return std::make_unique<Win32Io>(*this); }

    int StartWrite(DeviceIo& io, const std::uint8_t* data, std::uint32_t count) override {
        auto& w = static_cast<Win32Io&>(io);
        if (w.createError) return w.createError;
        auto& bytes = w.request->bytes;
        bytes.assign(data, data + count);
        if (!calls_.WriteFile(handle_, bytes.data(), count, nullptr, &w.request->ov) &&
            GetLastError() != ERROR_IO_PENDING)
            return LastError();
        w.started = true;
        Issued(w);
        return 0;
    }

    int StartRead(DeviceIo& io, std::uint8_t* buffer, std::uint32_t count) override {
        auto& w = static_cast<Win32Io&>(io);
        if (w.createError) return w.createError;
        std::lock_guard lock(inputMutex_);
        w.target = buffer;
        w.read = true;
        auto& bytes = w.request->bytes;
        bytes.resize(count);
        // What an input wait read ahead comes first.
        w.fromQueue = static_cast<std::uint32_t>(std::min<std::size_t>(count, queue_.size()));
        std::memcpy(bytes.data(), queue_.data(), w.fromQueue);
        queue_.erase(0, w.fromQueue);
        w.started = true;
        if (w.fromQueue > 0 && w.fromQueue == count) return 0;
        if (int e = StartDriverRead(w, count - w.fromQueue)) {
            // Bytes already out of the queue are not dropped: the next read meets the error.
            if (w.fromQueue > 0) return 0;
            w.started = false;
            return e;
        }
        return 0;
    }

    int WaitIo(DeviceIo& io, std::uint32_t& done) override {
        auto& w = static_cast<Win32Io&>(io);
        done = 0;
        if (!w.started) return 0;
        w.started = false;
        DWORD n = 0;
        int error = 0;
        if (w.pending) {
            if (WaitForSingleObject(w.request->ov.hEvent, INFINITE) != WAIT_OBJECT_0) {
                error = LastError();
            } else {
                w.pending = false;
                if (!calls_.GetOverlappedResult(w.handle, &w.request->ov, &n, FALSE)) {
                    error = LastError();
                    n = 0;
                }
            }
            if (error && w.pending) {
                // Our own event is broken: the request cannot be watched, so it is let go.
                w.pending = false;
                if (w.read) {
                    std::lock_guard lock(inputMutex_);
                    Abandoned(w);
                    Requeue(w.request->bytes.data(), w.fromQueue);
                }
                static_cast<void>(w.request.release());
                w.request = std::make_unique<Win32Request>();
                return error;
            }
        }
        if (!w.read) {
            done = n;
            return error;
        }
        std::lock_guard lock(inputMutex_);
        Completed(w, n);
        if (error) {
            // The bytes of the device's own queue were never the driver's to lose.
            Requeue(w.request->bytes.data(), w.fromQueue);
            return error;
        }
        done = w.fromQueue + n;
        std::memcpy(w.target, w.request->bytes.data(), done);
        return 0;
    }

    // A read or write dropped before its end: the request is cancelled, and a read's bytes,
    // the queue's and those the driver had given, go back to the front of the queue.
    void Dropped(Win32Io& w) {
        w.started = false;
        DWORD n = 0;
        if (w.pending) {
            w.pending = false;
            // The queue's bytes lie before the driver's part, which an abandoned request
            // keeps: they are copied back before the request can be let go.
            const std::uint8_t* bytes = w.request->bytes.data();
            if (!EndRequest(calls_, w.handle, w.request)) {
                if (!w.read) return;
                std::lock_guard lock(inputMutex_);
                Abandoned(w);
                Requeue(bytes, w.fromQueue);
                return;
            }
            if (!calls_.GetOverlappedResult(w.handle, &w.request->ov, &n, FALSE) &&
                GetLastError() != ERROR_OPERATION_ABORTED)
                n = 0;
        }
        if (!w.read) return;
        std::lock_guard lock(inputMutex_);
        Completed(w, n);
        Requeue(w.request->bytes.data(), w.fromQueue + n);
    }

    int WaitForInput(std::uint8_t byte, int milliseconds, const StopEvent* stop,
                     bool& found) override {
        found = false;
        const auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (true) {
            if (stop && stop->IsSet()) return WaitStopped;
            if (int e = QueueArrivedBytes(deadline, stop)) return e;
            {
                std::lock_guard lock(inputMutex_);
                if (std::memchr(queue_.data(), byte, queue_.size())) {
                    found = true;
                    return 0;
                }
            }
            if (Clock::now() >= deadline) return 0;
            // The next look in a millisecond, or at once for a stop.
            if (stop) {
                if (WaitForSingleObject(stop->NativeHandle(), 1) == WAIT_OBJECT_0)
                    return WaitStopped;
            } else {
                Sleep(1);
            }
        }
    }

    int SetEventMask(std::uint32_t mask) override {
        if (!calls_.SetCommMask(handle_, mask)) return LastError();
        mask_ = mask;
        // A new mask forgets what arrived before it.
        std::lock_guard lock(inputMutex_);
        std::uint32_t waiting = 0;
        InputWaiting(waiting);
        reported_ = taken_ + waiting - inFlight_;
        return 0;
    }

    int WaitEvent(std::uint32_t& events, const StopEvent& stop) override {
        while (true) {
            int result = WaitOnce(events, stop);
            if (result != NothingToReport) return result;
            ++wakeUps_;
            if (WaitForSingleObject(stop.NativeHandle(), RetryPauseMs) == WAIT_OBJECT_0)
                return WaitStopped;
        }
    }

    std::uint64_t WaitWakeUps() const override { return wakeUps_; }

private:
    using Clock = std::chrono::steady_clock;

    // A wait that ended without anything to tell.
    static constexpr int NothingToReport = -100;

    // Issues a read of count bytes of what the driver holds: with "return at once"
    // time-outs at most what has arrived, and nothing (the record completes at once with 0
    // bytes) when none has, as such a read could stay pending. The bytes count as taken
    // from now on, as many as were waiting at most; the completion corrects the count. Queue
    // lock held.
    int StartDriverRead(Win32Io& w, std::uint32_t count) {
        std::uint32_t waiting = 0;
        if (int e = InputWaiting(waiting)) return e;
        if (readsAtOnce_) {
            count = std::min(count, waiting);
            if (count == 0) return 0;
        }
        if (!calls_.ReadFile(handle_, w.request->bytes.data() + w.fromQueue, count, nullptr,
                             &w.request->ov) &&
            GetLastError() != ERROR_IO_PENDING)
            return LastError();
        Issued(w);
        w.counted = std::min(count, waiting);
        taken_ += w.counted;
        inFlight_ += w.counted;
        return 0;
    }

    // The driver's part of a read ended with n bytes. Queue lock held.
    void Completed(Win32Io& w, std::uint32_t n) {
        taken_ = taken_ - w.counted + n;
        inFlight_ -= w.counted;
        w.counted = 0;
    }

    // Bytes a read took that its caller will not get go back to the front of the queue.
    // Queue lock held.
    void Requeue(const std::uint8_t* bytes, std::uint32_t count) {
        queue_.insert(0, reinterpret_cast<const char*>(bytes), count);
    }

    // The driver's part of a read was let go without an end: its bytes stay counted as
    // taken, the driver may have them. Queue lock held.
    void Abandoned(Win32Io& w) {
        inFlight_ -= w.counted;
        w.counted = 0;
    }

    // Moves the bytes waiting in the driver into the queue, as far as the input size
    // allows; the driver keeps the rest. They count as taken from the read's issue on, under
    // the lock the event wait's count takes too, so it never misses them. Such a read ends
    // at once; one the driver holds past the wait's end (another reader took the bytes
    // meanwhile) or a stop is cancelled, keeping what it got. The lock is not held while
    // the read is waited for: the event thread's count must not wait on a driver. Reads
    // and input waits come from one thread, so nothing takes from the queue meanwhile.
    int QueueArrivedBytes(Clock::time_point deadline, const StopEvent* stop) {
        auto request = std::make_unique<Win32Request>();
        if (!request->ov.hEvent) return LastError();
        HANDLE handle = INVALID_HANDLE_VALUE;
        std::uint32_t count = 0;
        {
            std::lock_guard lock(inputMutex_);
            if (!IsAcquired()) return ERROR_INVALID_HANDLE;
            std::uint32_t waiting = 0;
            if (int e = InputWaiting(waiting)) return e;
            const std::size_t room =
                queueLimit_ - std::min<std::size_t>(queueLimit_, queue_.size());
            count = static_cast<std::uint32_t>(std::min<std::size_t>(waiting, room));
            if (count == 0) return 0;
            handle = handle_;
            request->bytes.resize(count);
            if (!calls_.ReadFile(handle, request->bytes.data(), count, nullptr, &request->ov) &&
                GetLastError() != ERROR_IO_PENDING)
                return LastError();
            taken_ += count;
            inFlight_ += count;
        }
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        void* const objects[] = {request->ov.hEvent, stop ? stop->NativeHandle() : nullptr};
        bool ended = WaitForMultipleObjects(
                         stop ? 2 : 1, objects, FALSE,
                         static_cast<DWORD>(std::max<long long>(left.count(), 1))) == WAIT_OBJECT_0;
        if (!ended && !EndRequest(calls_, handle, request)) {
            std::lock_guard lock(inputMutex_);
            inFlight_ -= count;
            return 0;
        }
        DWORD n = 0;
        int error = 0;
        if (!calls_.GetOverlappedResult(handle, &request->ov, &n, FALSE) &&
            GetLastError() != ERROR_OPERATION_ABORTED) {
            error = LastError();
            n = 0;
        }
        std::lock_guard lock(inputMutex_);
        taken_ = taken_ - count + n;
        inFlight_ -= count;
        queue_.append(reinterpret_cast<const char*>(request->bytes.data()), n);
        return error;
    }

    void Issued(Win32Io& io) {
        io.handle = handle_;
        io.pending = true;
    }

    // The bytes waiting; the line errors the query clears are kept for the next ClearError.
    int InputWaiting(std::uint32_t& waiting) {
        DWORD errors = 0;
        COMSTAT stat{};
        if (!calls_.ClearCommError(handle_, &errors, &stat)) return LastError();
        carriedErrors_ |= errors;
        waiting = stat.cbInQue;
        return 0;
    }

    // One wait request: 0 with events, WaitStopped, WaitBroken, NothingToReport or the
    // platform's error.
    int WaitOnce(std::uint32_t& events, const StopEvent& stop) {
        auto request = std::make_unique<Win32Request>();
        if (!request->ov.hEvent) return LastError();
        if (!calls_.WaitCommEvent(handle_, &request->mask, &request->ov)) {
            int e = LastError();
            if (e != ERROR_IO_PENDING) {
                std::uint32_t mask = mask_;
                if (!IsUnsupported(e) || !(mask & ModemLineKinds)) return e;
                // A driver without modem lines: watch the other kinds.
                mask &= ~ModemLineKinds;
                if (!calls_.SetCommMask(handle_, mask)) return LastError();
                mask_ = mask;
                return NothingToReport;
            }
        }
        // The stop comes first: when both are signalled, the stop wins.
        void* const objects[] = {stop.NativeHandle(), request->ov.hEvent};
        DWORD r = calls_.WaitForMultipleObjects(2, objects, FALSE, INFINITE);
        ++wakeUps_;
        if (r != WAIT_OBJECT_0 + 1) {
            // A failed multi-wait means our own handles are broken: nothing to retry.
            int result = r == WAIT_OBJECT_0 ? WaitStopped : WaitBroken;
            EndRequest(calls_, handle_, request);
            return result;
        }
        DWORD ignored = 0;
        if (!calls_.GetOverlappedResult(handle_, &request->ov, &ignored, FALSE)) {
            int e = LastError();
            if (e != ERROR_OPERATION_ABORTED) return e;
            // Ended by the driver itself, not by an event: Wine ends every idle wait so, and
            // a driver whose device went away too. One look at the line tells them apart.
            std::lock_guard lock(inputMutex_);
            std::uint32_t waiting = 0;
            int lineError = InputWaiting(waiting);
            return IsLost(lineError) ? lineError : NothingToReport;
        }
        std::uint32_t kinds = request->mask;
        // The device's own event character is the adapter's business, not the program's.
        if (ownEventChar_) kinds &= ~EV_RXFLAG;
        if ((kinds & EV_RXCHAR) && !NewBytesArrived()) kinds &= ~EV_RXCHAR;
        if (!kinds) return NothingToReport;
        events = kinds;
        return 0;
    }

    // Whether bytes arrived since the last report of received bytes: every byte that
    // arrived is either still waiting or taken (read or discarded). The bytes of a read in
    // flight may be in both: the report then counts them once only, so a later byte is
    // never taken for one already reported; at worst a report comes with nothing new.
    bool NewBytesArrived() {
        std::lock_guard lock(inputMutex_);
        std::uint32_t waiting = 0;
        if (InputWaiting(waiting)) return true;
        std::uint64_t arrived = taken_ + waiting;
        if (arrived <= reported_) return false;
        reported_ = std::max(reported_, arrived - inFlight_);
        return true;
    }

    Win32CommCalls calls_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    // Set by the port's thread, read and narrowed by the event thread's wait.
    std::atomic<std::uint32_t> mask_ = 0;
    std::atomic<bool> ownEventChar_ = false;
    bool readsAtOnce_ = false;
    std::atomic<std::uint32_t> carriedErrors_ = 0;
    std::atomic<std::uint64_t> wakeUps_ = 0;
    // Bytes an input wait read ahead of the next read, bounded by the input size. Reads and
    // purges may come from the event thread's hand-over too. The lock also guards the
    // counts: received bytes read or discarded since the device was acquired (those of
    // reads in flight included, inFlight_ of them), and the count of arrived bytes at the
    // last report of the event thread.
    std::mutex inputMutex_;
    ByteString queue_;
    std::size_t queueLimit_ = 4096;
    std::uint64_t taken_ = 0;
    std::uint64_t inFlight_ = 0;
    std::uint64_t reported_ = 0;
};

Win32Io::~Win32Io() {
    if (started) device_.Dropped(*this);
}

} // namespace

std::unique_ptr<ComDevice> CreateWin32Device(const Win32CommCalls& calls) {
    return std::make_unique<Win32ComDevice>(calls);
}

std::unique_ptr<ComDevice> CreatePlatformDevice() {
    return CreateWin32Device(Win32SystemCalls());
}

std::unique_ptr<ComDevice> CreatePlatformDevice(const std::string&) {
    return CreatePlatformDevice();
}

} // namespace veldar
