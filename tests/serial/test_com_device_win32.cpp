// The Windows device layer on its own: the conversions, opening errors, the end of an event
// wait with a driver played by the test, and real I/O on COM1 when the test run maps it to
// an echoing pseudo-terminal (VELDAR_WIN32_COM1=1).
#include "com_device_win32.h"

#include "com_port.h"
#include "stop_event.h"
#include "sync_queue.h"

#include <gtest/gtest.h>

// Lean: the full set defines SetPort (printing) over TComPort::SetPort.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

using namespace veldar;
using namespace std::chrono_literals;

namespace {

TEST(Win32DevicePath, PrefixesEveryPortName) {
    EXPECT_EQ(Win32DevicePath("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(Win32DevicePath("COM12"), "\\\\.\\COM12");
}

Dcb LineRecord(std::uint32_t flags) {
    Dcb dcb;
    dcb.DCBlength = 28;
    dcb.BaudRate = 115200;
    dcb.Flags = flags;
    dcb.XonLim = 256;
    dcb.XoffLim = 256;
    dcb.ByteSize = 8;
    dcb.Parity = 2;
    dcb.StopBits = 2;
    return dcb;
}

TEST(Win32Dcb, BinaryWithDtrEnabled) {
    DCB d = ToWin32Dcb(LineRecord(0x0011));
    EXPECT_EQ(d.DCBlength, sizeof(DCB));
    EXPECT_EQ(d.BaudRate, 115200u);
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fParity, 0u);
    EXPECT_EQ(d.fOutxCtsFlow, 0u);
    EXPECT_EQ(d.fOutxDsrFlow, 0u);
    EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(d.fDsrSensitivity, 0u);
    EXPECT_EQ(d.fTXContinueOnXoff, 0u);
    EXPECT_EQ(d.fOutX, 0u);
    EXPECT_EQ(d.fInX, 0u);
    EXPECT_EQ(d.fErrorChar, 0u);
    EXPECT_EQ(d.fNull, 0u);
    EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(d.fAbortOnError, 0u);
    EXPECT_EQ(d.XonLim, 256);
    EXPECT_EQ(d.XoffLim, 256);
    EXPECT_EQ(d.ByteSize, 8);
    EXPECT_EQ(d.Parity, EVENPARITY);
    EXPECT_EQ(d.StopBits, TWOSTOPBITS);
}

TEST(Win32Dcb, RtsEnabledToo) {
    DCB d = ToWin32Dcb(LineRecord(0x1011));
    EXPECT_EQ(d.fBinary, 1u);
    EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
    EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_ENABLE));
}

TEST(Win32Dcb, EveryFlagAndCharacter) {
    Dcb dcb = LineRecord(0x2FEE);
    dcb.XonChar = 17;
    dcb.XoffChar = 19;
    dcb.ErrorChar = '?';
    dcb.EofChar = 26;
    dcb.EvtChar = '\n';
    DCB d = ToWin32Dcb(dcb);
    EXPECT_EQ(d.fBinary, 0u);
    EXPECT_EQ(d.fParity, 1u);
    EXPECT_EQ(d.fOutxCtsFlow, 1u);
    EXPECT_EQ(d.fOutxDsrFlow, 1u);
    EXPECT_EQ(d.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    EXPECT_EQ(d.fDsrSensitivity, 1u);
    EXPECT_EQ(d.fTXContinueOnXoff, 1u);
    EXPECT_EQ(d.fOutX, 1u);
    EXPECT_EQ(d.fInX, 1u);
    EXPECT_EQ(d.fErrorChar, 1u);
    EXPECT_EQ(d.fNull, 1u);
    EXPECT_EQ(d.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_EQ(d.fAbortOnError, 0u);
    EXPECT_EQ(d.XonChar, 17);
    EXPECT_EQ(d.XoffChar, 19);
    EXPECT_EQ(d.ErrorChar, '?');
    EXPECT_EQ(d.EofChar, 26);
    EXPECT_EQ(d.EvtChar, '\n');
}

TEST(Win32Device, MissingPortFailsWithThePlatformError) {
    auto device = CreatePlatformDevice();
    EXPECT_EQ(device->Acquire("COM77"), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(device->IsAcquired());
}

TEST(Win32Device, PortOpenOfMissingPortRaisesOpenFailed) {
    TComPort port;
    port.SetPort("COM77");
    try {
        port.OpenPort();
        FAIL() << "opened a port that does not exist";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode(), CError_OpenFailed);
        EXPECT_EQ(std::string(e.what()).rfind("Unable to open com port (win error code: ", 0), 0u)
            << e.what();
    }
    EXPECT_FALSE(port.Connected());
}

// --- the end of an event wait, with a driver played here ---

// A driver played by the test: its wait requests stay pending until cancelled (or for
// good, when it ignores cancels), or end at once with waitReports; its reads end at once or
// stay pending until the test ends them. Plain functions, so the state is global.
struct FakeDriver {
    bool honoursCancel = true;
    bool multiWaitFails = false;
    std::atomic<OVERLAPPED*> pendingWait{nullptr};
    std::atomic<OVERLAPPED*> cancelled{nullptr};
    DWORD waitReports = 0;
    // Wait requests end by themselves as cancelled (Wine's idle waits), and the line query
    // that follows fails with this error (0: it succeeds).
    bool waitsAbort = false;
    DWORD lineError = 0;
    // Received bytes the driver holds, and its reads.
    std::string received;
    bool readsStayPending = false;
    OVERLAPPED* pendingRead = nullptr;
    char* pendingBuffer = nullptr;
    DWORD pendingCount = 0;
    DWORD lastError = 0;
    DCB lastState{};
} fake;

// From the native status codes, which <windows.h> leaves out.
constexpr ULONG_PTR StatusCancelled = 0xC0000120;
constexpr ULONG_PTR StatusFailed = 0xC0000001;

void EndRequest(OVERLAPPED* ov, ULONG_PTR status, DWORD done) {
    ov->Internal = status;
    ov->InternalHigh = done;
    SetEvent(ov->hEvent);
}

// The driver's part of the pending read ends: with the bytes it holds, or failing with
// error (and no byte).
void EndPendingRead(DWORD error = 0) {
    DWORD n = 0;
    if (!error) {
        n = std::min<DWORD>(fake.pendingCount, static_cast<DWORD>(fake.received.size()));
        std::memcpy(fake.pendingBuffer, fake.received.data(), n);
        fake.received.erase(0, n);
    }
    fake.lastError = error;
    EndRequest(fake.pendingRead, error ? StatusFailed : 0, n);
    fake.pendingRead = nullptr;
}

Win32CommCalls FakeCalls() {
    Win32CommCalls calls = Win32SystemCalls();
    // A real handle, so that releasing the device closes something.
    calls.CreateFileA = [](const char*, unsigned long, unsigned long, void*, unsigned long,
                           unsigned long,
                           void*) -> void* { return CreateEventA(nullptr, TRUE, FALSE, nullptr); };
    calls.SetCommState = [](void*, DCB* dcb) -> int {
        fake.lastState = *dcb;
        return TRUE;
    };
    calls.SetCommMask = [](void*, unsigned long) -> int { return TRUE; };
    calls.ClearCommError = [](void*, unsigned long* errors, COMSTAT* stat) -> int {
        if (fake.lineError) {
            SetLastError(fake.lineError);
            return FALSE;
        }
        *errors = 0;
        *stat = COMSTAT{};
        stat->cbInQue = static_cast<DWORD>(fake.received.size());
        return TRUE;
    };
    calls.ReadFile = [](void*, void* buffer, unsigned long count, unsigned long*,
                        OVERLAPPED* ov) -> int {
        ResetEvent(ov->hEvent);
        ov->Internal = STATUS_PENDING;
        fake.pendingRead = ov;
        fake.pendingBuffer = static_cast<char*>(buffer);
        fake.pendingCount = count;
        if (fake.readsStayPending) {
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        EndPendingRead();
        return TRUE;
    };
    calls.WaitCommEvent = [](void*, unsigned long* mask, OVERLAPPED* ov) -> int {
        if (fake.waitReports) {
            *mask = fake.waitReports;
            EndRequest(ov, 0, 0);
            return TRUE;
        }
        if (fake.waitsAbort) {
            EndRequest(ov, StatusCancelled, 0);
            SetLastError(ERROR_IO_PENDING);
            return FALSE;
        }
        ov->Internal = STATUS_PENDING;
        ResetEvent(ov->hEvent);
        fake.pendingWait = ov;
        SetLastError(ERROR_IO_PENDING);
        return FALSE;
    };
    calls.CancelIoEx = [](void*, OVERLAPPED* ov) -> int {
        fake.cancelled = ov;
        if (!fake.honoursCancel || (ov != fake.pendingWait && ov != fake.pendingRead)) return FALSE;
        EndRequest(ov, StatusCancelled, 0);
        return TRUE;
    };
    calls.GetOverlappedResult = [](void*, OVERLAPPED* ov, unsigned long* done, int wait) -> int {
        if (wait) WaitForSingleObject(ov->hEvent, INFINITE);
        *done = static_cast<DWORD>(ov->InternalHigh);
        switch (ov->Internal) {
        case 0:
            return TRUE;
        case STATUS_PENDING:
            SetLastError(ERROR_IO_INCOMPLETE);
            return FALSE;
        case StatusCancelled:
            SetLastError(ERROR_OPERATION_ABORTED);
            return FALSE;
        default:
            SetLastError(fake.lastError);
            return FALSE;
        }
    };
    calls.WaitForMultipleObjects = [](unsigned long count, void* const* handles, int all,
                                      unsigned long ms) -> unsigned long {
        if (fake.multiWaitFails) {
            SetLastError(ERROR_INVALID_HANDLE);
            return WAIT_FAILED;
        }
        return WaitForMultipleObjects(count, handles, all, ms);
    };
    return calls;
}

class EventWaitEnd : public ::testing::Test {
protected:
    void SetUp() override {
        fake.honoursCancel = true;
        fake.multiWaitFails = false;
        fake.pendingWait = nullptr;
        fake.cancelled = nullptr;
        fake.waitReports = 0;
        fake.waitsAbort = false;
        fake.lineError = 0;
        fake.received.clear();
        fake.readsStayPending = false;
        fake.pendingRead = nullptr;
        ASSERT_EQ(device_->Acquire("COM1"), 0);
        ASSERT_EQ(device_->SetEventMask(EV_RXCHAR), 0);
    }

    // WaitEvent on a thread of its own, with stop set after 100 ms unless told otherwise;
    // nullopt when it has not returned after 10 s (the thread is then left behind: the test
    // has failed).
    std::optional<int> BoundedWait(bool setStop = true) {
        auto stop = std::make_shared<StopEvent>();
        auto result = std::async(std::launch::async, [device = device_, stop] {
            std::uint32_t events = 0;
            return device->WaitEvent(events, *stop);
        });
        std::this_thread::sleep_for(100ms);
        if (setStop) stop->Set();
        if (result.wait_for(10s) != std::future_status::ready) {
            // Not waited for at the end of the test.
            new std::future<int>(std::move(result));
            return std::nullopt;
        }
        return result.get();
    }

    std::shared_ptr<ComDevice> device_ = CreateWin32Device(FakeCalls());
};

TEST_F(EventWaitEnd, StopCancelsTheRequestTheDriverKeepsPending) {
    EXPECT_EQ(BoundedWait(), ComDevice::WaitStopped);
    EXPECT_NE(fake.pendingWait.load(), nullptr);
    EXPECT_EQ(fake.cancelled.load(), fake.pendingWait.load());
}

TEST_F(EventWaitEnd, DriverThatIgnoresTheCancelCostsABoundedWait) {
    fake.honoursCancel = false;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(BoundedWait(), ComDevice::WaitStopped);
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(CancelledWaitBoundMs) + 5s);
    EXPECT_EQ(fake.cancelled.load(), fake.pendingWait.load());
}

TEST_F(EventWaitEnd, FailedMultiWaitEndsTheWaitAsBroken) {
    fake.multiWaitFails = true;
    EXPECT_EQ(BoundedWait(false), ComDevice::WaitBroken);
    EXPECT_EQ(fake.cancelled.load(), fake.pendingWait.load());
}

// A wait the driver ends as cancelled is a lost port only when the line says so too.
TEST_F(EventWaitEnd, CancelledWaitIsALostPortOnlyWhenTheLineFailsToo) {
    fake.waitsAbort = true;
    EXPECT_EQ(BoundedWait(), ComDevice::WaitStopped);
    fake.lineError = ERROR_NOT_READY;
    auto lost = BoundedWait(false);
    ASSERT_TRUE(lost.has_value());
    EXPECT_EQ(*lost, ERROR_NOT_READY);
    EXPECT_TRUE(device_->IsLost(*lost));
}

// --- reads against the same driver ---

using DriverReads = EventWaitEnd;

// The event wait's count of arrived bytes must hold while the driver's part of a read has
// ended but its caller has not yet collected it: a byte arriving then is news.
TEST_F(DriverReads, ByteArrivingWhileAReadIsInFlightIsReported) {
    fake.received = "REC\r";
    fake.waitReports = EV_RXCHAR;
    EXPECT_EQ(BoundedWait(false), 0);

    fake.readsStayPending = true;
    char buffer[16] = {};
    auto io = device_->NewIo();
    ASSERT_EQ(device_->StartRead(*io, reinterpret_cast<std::uint8_t*>(buffer), 16), 0);
    EndPendingRead();
    fake.received = "N";
    EXPECT_EQ(BoundedWait(), 0) << "the byte that came during the read was not reported";

    std::uint32_t done = 0;
    EXPECT_EQ(device_->WaitIo(*io, done), 0);
    EXPECT_EQ(std::string(buffer, done), "REC\r");
}

TEST_F(DriverReads, FailedDriverPartKeepsTheBytesReadAhead) {
    fake.received = "AB";
    bool found = true;
    ASSERT_EQ(device_->WaitForInput('\r', 0, nullptr, found), 0);
    EXPECT_FALSE(found);

    fake.received = "C\r";
    fake.readsStayPending = true;
    char buffer[16] = {};
    auto io = device_->NewIo();
    ASSERT_EQ(device_->StartRead(*io, reinterpret_cast<std::uint8_t*>(buffer), 16), 0);
    EndPendingRead(ERROR_BROKEN_PIPE);
    std::uint32_t done = 0;
    EXPECT_EQ(device_->WaitIo(*io, done), ERROR_BROKEN_PIPE);

    fake.readsStayPending = false;
    auto again = device_->NewIo();
    ASSERT_EQ(device_->StartRead(*again, reinterpret_cast<std::uint8_t*>(buffer), 16), 0);
    EXPECT_EQ(device_->WaitIo(*again, done), 0);
    EXPECT_EQ(std::string(buffer, done), "ABC\r");
}

// A read its caller drops while the driver ignores the cancel: the caller is back within
// the bound, and what the driver writes later lands in the device's own buffer.
TEST_F(DriverReads, AbandonedReadNeverWritesIntoTheCallersBuffer) {
    fake.received = "late";
    fake.readsStayPending = true;
    fake.honoursCancel = false;
    std::string buffer(16, '\0');
    auto dropped = std::async(std::launch::async, [&] {
        auto io = device_->NewIo();
        EXPECT_EQ(device_->StartRead(*io, reinterpret_cast<std::uint8_t*>(buffer.data()), 16), 0);
    });
    ASSERT_EQ(dropped.wait_for(CancelledWaitBoundMs * 1ms + 5s), std::future_status::ready);
    ASSERT_NE(fake.pendingRead, nullptr);
    EXPECT_TRUE(fake.pendingBuffer < buffer.data() || fake.pendingBuffer >= buffer.data() + 16);
    EndPendingRead();
    EXPECT_EQ(buffer, std::string(16, '\0'));
}

// The adapter gets the device's event character; the program, which asked for none, never
// hears of it.
TEST_F(DriverReads, DeviceEventCharGoesToTheDriverOnly) {
    ASSERT_EQ(device_->SetState(LineRecord(0x0011)), 0);
    EXPECT_EQ(fake.lastState.EvtChar, '\r');
    fake.received = "R\r";
    fake.waitReports = EV_RXCHAR | EV_RXFLAG;
    std::uint32_t events = 0;
    StopEvent stop;
    EXPECT_EQ(device_->WaitEvent(events, stop), 0);
    EXPECT_EQ(events, static_cast<std::uint32_t>(EV_RXCHAR));

    Dcb own = LineRecord(0x0011);
    own.EvtChar = '\n';
    ASSERT_EQ(device_->SetState(own), 0);
    EXPECT_EQ(fake.lastState.EvtChar, '\n');
}

// --- COM1, echoed back byte for byte by the far end ---

// CI runs these under Wine on a pseudo-terminal. Where that is known to differ from
// Windows, a test says so and stands aside there.
bool OnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

template <typename Condition> bool PollUntil(Condition condition) {
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The settings the program uses with the field device: 115200 8N1, DTR on, RTS off.
Dcb FieldDeviceDcb() {
    TComPort port;
    port.SetBaudRate(br115200);
    port.SetDataBits(dbEight);
    port.Parity().SetBits(prNone);
    port.SetStopBits(sbOneStopBit);
    port.FlowControl().SetControlDTR(dtrEnable);
    port.FlowControl().SetControlRTS(rtsDisable);
    return port.BuildDcb();
}

class Com1Test : public ::testing::Test {
protected:
    void SetUp() override {
        const char* enabled = std::getenv("VELDAR_WIN32_COM1");
        if (!enabled || std::string(enabled) != "1")
            GTEST_SKIP() << "COM1 is not mapped to an echoing line (set VELDAR_WIN32_COM1=1)";
        ASSERT_EQ(device_->Acquire("COM1"), 0);
        ASSERT_EQ(device_->SetupBuffers(1024, 1024), 0);
        ASSERT_EQ(device_->SetState(FieldDeviceDcb()), 0);
        ASSERT_EQ(device_->SetTimeouts(CommTimeouts{MAXDWORD, 0, 0, 100, 1000}), 0);
        ASSERT_EQ(device_->Purge(PURGE_RXCLEAR | PURGE_TXCLEAR), 0);
    }

    // Returns the platform error, or 0 with the count written in done. Safe off the test
    // thread: it asserts nothing.
    int RawWrite(const ByteString& bytes, std::uint32_t& done) {
        auto io = device_->NewIo();
        if (int e = device_->StartWrite(*io, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                        static_cast<std::uint32_t>(bytes.size())))
            return e;
        return device_->WaitIo(*io, done);
    }

    std::uint32_t Write(const ByteString& bytes) {
        std::uint32_t done = 0;
        EXPECT_EQ(RawWrite(bytes, done), 0);
        return done;
    }

    // A read still pending after 5 s fails the test: the device is released, which ends it.
    ByteString Read(std::uint32_t count) {
        ByteString bytes(count, '\0');
        auto io = device_->NewIo();
        EXPECT_EQ(device_->StartRead(*io, reinterpret_cast<std::uint8_t*>(bytes.data()), count), 0);
        StopEvent finished;
        std::thread watchdog([&] {
            if (!finished.WaitFor(5s)) device_->Release();
        });
        std::uint32_t done = 0;
        EXPECT_EQ(device_->WaitIo(*io, done), 0);
        finished.Set();
        watchdog.join();
        EXPECT_TRUE(device_->IsAcquired()) << "the read was still pending after 5 s";
        bytes.resize(done);
        return bytes;
    }

    std::uint32_t InputCount() {
        std::uint32_t errors = 0, count = 0;
        EXPECT_EQ(device_->ClearError(errors, count), 0);
        return count;
    }

    bool WaitForInput(std::uint32_t count) {
        return PollUntil([&] { return InputCount() >= count; });
    }

    // WaitEvent with a stop that a watchdog sets after 5 s, so a missing event fails the
    // test instead of hanging the run.
    int BoundedWaitEvent(std::uint32_t& events) {
        StopEvent stop, finished;
        std::thread watchdog([&] {
            if (!finished.WaitFor(5s)) stop.Set();
        });
        int result = device_->WaitEvent(events, stop);
        finished.Set();
        watchdog.join();
        return result;
    }

    std::unique_ptr<ComDevice> device_ = CreatePlatformDevice();
};

TEST_F(Com1Test, WrittenBytesComeBack) {
    EXPECT_EQ(Write("ACK\r"), 4u);
    ASSERT_TRUE(WaitForInput(4));
    EXPECT_EQ(Read(4), "ACK\r");
    EXPECT_EQ(InputCount(), 0u);
}

// Wine keeps such a read pending until a byte comes; the device asks it for none.
TEST_F(Com1Test, ReadWithNothingWaitingReturnsNothing) {
    EXPECT_EQ(InputCount(), 0u);
    EXPECT_EQ(Read(16), "");
}

TEST_F(Com1Test, AbandonedReadTakesNoLaterBytes) {
    {
        ByteString buffer(16, '\0');
        auto io = device_->NewIo();
        ASSERT_EQ(device_->StartRead(*io, reinterpret_cast<std::uint8_t*>(buffer.data()), 16), 0);
        // Dropped without waiting (Wine leaves such a read pending).
    }
    EXPECT_EQ(Write("ACK\r"), 4u);
    ASSERT_TRUE(WaitForInput(4));
    EXPECT_EQ(Read(4), "ACK\r");
}

TEST_F(Com1Test, ReadTakesOnlyWhatWasAskedFor) {
    ByteString sent;
    for (int i = 0; i < 300; ++i)
        sent += static_cast<char>(i % 251);
    EXPECT_EQ(Write(sent), 300u);
    ASSERT_TRUE(WaitForInput(300));
    EXPECT_EQ(Read(250), sent.substr(0, 250));
    EXPECT_EQ(InputCount(), 50u);
    EXPECT_EQ(Read(100), sent.substr(250));
}

TEST_F(Com1Test, PurgeDropsReceivedBytes) {
    EXPECT_EQ(Write("0123456789"), 10u);
    ASSERT_TRUE(WaitForInput(10));
    EXPECT_EQ(device_->Purge(PURGE_RXCLEAR), 0);
    EXPECT_EQ(InputCount(), 0u);
}

TEST_F(Com1Test, WaitingByteIsReportedAsEvent) {
    ASSERT_EQ(device_->SetEventMask(EV_RXCHAR), 0);
    EXPECT_EQ(Write("E"), 1u);
    ASSERT_TRUE(WaitForInput(1));
    std::uint32_t events = 0;
    EXPECT_EQ(BoundedWaitEvent(events), 0);
    EXPECT_EQ(events, static_cast<std::uint32_t>(EV_RXCHAR));
}

// Wine ends a pending wait on a pseudo-terminal by itself (error 995); the device waits
// again.
TEST_F(Com1Test, ArrivingByteEndsAPendingWait) {
    ASSERT_EQ(device_->SetEventMask(EV_RXCHAR), 0);
    int writeResult = -2;
    std::thread writer([&] {
        std::this_thread::sleep_for(200ms);
        std::uint32_t done = 0;
        writeResult = RawWrite("W", done);
    });
    std::uint32_t events = 0;
    EXPECT_EQ(BoundedWaitEvent(events), 0);
    writer.join();
    EXPECT_EQ(writeResult, 0);
    EXPECT_EQ(events, static_cast<std::uint32_t>(EV_RXCHAR));
}

TEST_F(Com1Test, StopFromAnotherThreadEndsAPendingWait) {
    ASSERT_EQ(device_->SetEventMask(EV_RXCHAR), 0);
    StopEvent stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(200ms);
        stop.Set();
    });
    std::uint32_t events = 0;
    EXPECT_EQ(device_->WaitEvent(events, stop), ComDevice::WaitStopped);
    stopper.join();
}

TEST_F(Com1Test, StopSetBeforehandEndsTheWaitAtOnce) {
    ASSERT_EQ(device_->SetEventMask(EV_RXCHAR), 0);
    StopEvent stop;
    stop.Set();
    std::uint32_t events = 0;
    EXPECT_EQ(device_->WaitEvent(events, stop), ComDevice::WaitStopped);
    EXPECT_EQ(device_->WaitEvent(events, stop), ComDevice::WaitStopped);

    // The device is left waiting as usual for whoever comes next.
    EXPECT_EQ(Write("y"), 1u);
    ASSERT_TRUE(WaitForInput(1));
    EXPECT_EQ(BoundedWaitEvent(events), 0);
    EXPECT_EQ(events, static_cast<std::uint32_t>(EV_RXCHAR));
}

TEST_F(Com1Test, StopWinsOverAnEventAlreadyThere) {
    ASSERT_EQ(device_->SetEventMask(EV_RXCHAR), 0);
    EXPECT_EQ(Write("z"), 1u);
    ASSERT_TRUE(WaitForInput(1));
    StopEvent stop;
    stop.Set();
    std::uint32_t events = 0;
    EXPECT_EQ(device_->WaitEvent(events, stop), ComDevice::WaitStopped);
}

// A wait for a byte reads what has arrived into the device's own queue: the next reads get
// those bytes first, then the driver's, none lost or doubled.
TEST_F(Com1Test, BytesReadDuringAWaitComeFirstInTheNextRead) {
    bool found = true;
    EXPECT_EQ(Write("AB"), 2u);
    ASSERT_TRUE(WaitForInput(2));
    EXPECT_EQ(device_->WaitForInput('C', 20, nullptr, found), 0);
    EXPECT_FALSE(found);
    EXPECT_EQ(Write("C\rD"), 3u);
    EXPECT_EQ(device_->WaitForInput('\r', 5000, nullptr, found), 0);
    EXPECT_TRUE(found);
    ASSERT_TRUE(WaitForInput(5));
    EXPECT_EQ(Read(64), "ABC\rD");
    EXPECT_EQ(Read(64), "");
}

TEST_F(Com1Test, ShortReadsTakeTheQueueFirstThenTheDriver) {
    bool found = false;
    EXPECT_EQ(Write("0123\r"), 5u);
    EXPECT_EQ(device_->WaitForInput('\r', 5000, nullptr, found), 0);
    ASSERT_TRUE(found);
    EXPECT_EQ(Write("5678"), 4u);
    ASSERT_TRUE(WaitForInput(9));
    EXPECT_EQ(Read(3), "012");
    EXPECT_EQ(Read(64), "3\r5678");
    EXPECT_EQ(InputCount(), 0u);
}

TEST_F(Com1Test, StopSetBeforehandEndsAnInputWaitAtOnce) {
    StopEvent stop;
    stop.Set();
    bool found = true;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(device_->WaitForInput('\r', 5000, &stop, found), ComDevice::WaitStopped);
    EXPECT_FALSE(found);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(Com1Test, AcquiredDeviceRefusesAnotherAcquire) {
    EXPECT_EQ(device_->Acquire("COM1"), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(device_->IsAcquired());
}

TEST_F(Com1Test, SecondOpenerIsRefused) {
    // veldar-wincheck shows it with nothing but the platform's calls.
    if (OnWine()) GTEST_SKIP() << "Wine lets a second handle open a serial device";
    auto second = CreatePlatformDevice();
    EXPECT_NE(second->Acquire("COM1"), 0);
    EXPECT_FALSE(second->IsAcquired());
}

// Wine reports every waiting byte again at each wait; the device reports bytes that came
// since the last report only.
TEST_F(Com1Test, UnreadByteIsReportedOnce) {
    ASSERT_EQ(device_->SetEventMask(EV_RXCHAR), 0);
    EXPECT_EQ(Write("u"), 1u);
    ASSERT_TRUE(WaitForInput(1));
    std::uint32_t events = 0;
    EXPECT_EQ(BoundedWaitEvent(events), 0);
    EXPECT_EQ(events, static_cast<std::uint32_t>(EV_RXCHAR));
    StopEvent stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(500ms);
        stop.Set();
    });
    EXPECT_EQ(device_->WaitEvent(events, stop), ComDevice::WaitStopped);
    stopper.join();
    EXPECT_EQ(InputCount(), 1u);
}

// A pseudo-terminal has no modem lines: Wine cannot report them, which the port takes as
// lines that are off.
TEST_F(Com1Test, PortWithoutModemLinesOpensWithLinesOff) {
    std::uint32_t status = 0;
    int e = device_->GetModemStatus(status);
    if (e == 0) GTEST_SKIP() << "this COM1 has modem lines";
    EXPECT_TRUE(device_->IsUnsupported(e)) << e;
    device_->Release();

    TComPort port;
    port.SetPort("COM1");
    int ctsReports = 0;
    port.OnCTSChange = [&](TCustomComPort*, bool on) {
        ++ctsReports;
        EXPECT_FALSE(on);
    };
    port.OpenPort();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(ctsReports, 1);
    EXPECT_TRUE(port.QueryModemSignals().Empty());
    port.ClosePort();
}

// The whole road of a received byte on the Windows code: the event thread's wait, the
// hand-over to this thread, OnRxChar, the read; then the close ends the thread.
TEST_F(Com1Test, PortDeliversAReceivedByteThroughTheHandOver) {
    device_->Release();
    TComPort port;
    port.SetPort("COM1");
    port.SetBaudRate(br115200);
    ByteString received;
    port.OnRxChar = [&](TCustomComPort* sender, int count) {
        ByteString bytes;
        EXPECT_EQ(sender->ReceiveText(bytes, count), count);
        received += bytes;
    };
    port.OpenPort();
    EXPECT_EQ(port.SendText("R"), 1);
    auto& queue = SyncQueue::Application();
    EXPECT_TRUE(PollUntil([&] {
        queue.RunPending();
        return received == "R";
    })) << "received \""
        << received << "\"";

    auto start = std::chrono::steady_clock::now();
    port.ClosePort();
    EXPECT_FALSE(port.Connected());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

} // namespace
