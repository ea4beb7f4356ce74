// veldar-wincheck [PORT]
//
// Checks, with nothing but the Windows communications calls, the behaviours of a serial
// port that VELDAR relies on, on a port whose far end echoes every byte (default COM1).
// Each line says "as Windows" or "DIFFERS", with what was seen. Made to show what Wine does
// on a pseudo-terminal, away from VELDAR's own code.
//
// Exit status: 0 every check behaved as a Windows driver does; 1 at least one differed;
// 2 the port could not be opened or set up.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

HANDLE port = INVALID_HANDLE_VALUE;
int differences = 0;

void Report(bool asWindows, const char* check, const std::string& seen) {
    std::printf("%-9s %s: %s\n", asWindows ? "as Windows" : "DIFFERS", check, seen.c_str());
    if (!asWindows) ++differences;
}

std::string Error(DWORD e) {
    return "error " + std::to_string(e);
}

struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(ov.hEvent); }
    // Ends a request still pending, so that ov can be released.
    void Cancel() {
        CancelIoEx(port, &ov);
        WaitForSingleObject(ov.hEvent, 5000);
    }
};

bool Setup(const std::string& name) {
    port = CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                       OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("cannot open %s: %s\n", name.c_str(), Error(GetLastError()).c_str());
        return false;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 115200;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.ByteSize = 8;
    // Reads return at once with what has arrived, writes take at most 100 ms a byte + 1 s.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 100, 1000};
    if (!SetupComm(port, 1024, 1024) || !SetCommState(port, &dcb) ||
        !SetCommTimeouts(port, &timeouts) || !PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR)) {
        std::printf("cannot set %s up: %s\n", name.c_str(), Error(GetLastError()).c_str());
        return false;
    }
    return true;
}

DWORD InputCount() {
    DWORD errors = 0;
    COMSTAT stat{};
    return ClearCommError(port, &errors, &stat) ? stat.cbInQue : 0;
}

bool WriteByte(char byte) {
    Overlapped o;
    DWORD n = 0;
    if (!WriteFile(port, &byte, 1, nullptr, &o.ov) && GetLastError() != ERROR_IO_PENDING)
        return false;
    return GetOverlappedResult(port, &o.ov, &n, TRUE) && n == 1;
}

bool WaitForInput(DWORD count) {
    for (int i = 0; i < 200 && InputCount() < count; ++i)
        Sleep(10);
    return InputCount() >= count;
}

// With ReadIntervalTimeout MAXDWORD and both read totals 0, a read returns at once with
// whatever has arrived, also nothing.
void ReadWithNothingWaiting() {
    char buffer[16];
    Overlapped o;
    if (!ReadFile(port, buffer, sizeof buffer, nullptr, &o.ov) &&
        GetLastError() != ERROR_IO_PENDING)
        return Report(false, "read with nothing waiting", "refused, " + Error(GetLastError()));
    if (WaitForSingleObject(o.ov.hEvent, 1000) == WAIT_TIMEOUT) {
        o.Cancel();
        return Report(false, "read with nothing waiting", "still pending after 1000 ms");
    }
    DWORD n = 0;
    BOOL done = GetOverlappedResult(port, &o.ov, &n, FALSE);
    Report(done && n == 0, "read with nothing waiting",
           done ? "completed with " + std::to_string(n) + " bytes" : Error(GetLastError()));
}

void ModemStatus() {
    DWORD status = 0;
    if (GetCommModemStatus(port, &status)) return Report(true, "modem status", "read");
    DWORD e = GetLastError();
    // Some Windows drivers of virtual ports have no modem lines either.
    Report(true, "modem status", "refused with " + Error(e) + " (a port without modem lines)");
}

// A wait that is pending stays so until an event of the mask occurs (or the mask changes,
// or it is cancelled).
void PendingWaitStaysPending() {
    SetCommMask(port, EV_RXCHAR);
    PurgeComm(port, PURGE_RXCLEAR);
    DWORD mask = 0;
    Overlapped o;
    if (!WaitCommEvent(port, &mask, &o.ov) && GetLastError() != ERROR_IO_PENDING)
        return Report(false, "idle wait for EV_RXCHAR", "refused, " + Error(GetLastError()));
    DWORD start = GetTickCount();
    if (WaitForSingleObject(o.ov.hEvent, 1000) == WAIT_TIMEOUT) {
        o.Cancel();
        return Report(true, "idle wait for EV_RXCHAR", "pending after 1000 ms");
    }
    DWORD n = 0;
    BOOL done = GetOverlappedResult(port, &o.ov, &n, FALSE);
    DWORD e = GetLastError();
    Report(false, "idle wait for EV_RXCHAR",
           "ended by itself after " + std::to_string(GetTickCount() - start) + " ms, " +
               (done ? "mask " + std::to_string(mask) : Error(e)));
}

// The modem-line kinds on a port without modem lines.
void WaitWithModemKinds() {
    SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_RING);
    DWORD mask = 0;
    Overlapped o;
    if (!WaitCommEvent(port, &mask, &o.ov) && GetLastError() != ERROR_IO_PENDING) {
        DWORD e = GetLastError();
        SetCommMask(port, EV_RXCHAR);
        return Report(true, "wait with the modem-line kinds",
                      "refused at once with " + Error(e) + " (a port without modem lines)");
    }
    o.Cancel();
    SetCommMask(port, EV_RXCHAR);
    Report(true, "wait with the modem-line kinds", "accepted");
}

// EV_RXCHAR tells that a byte arrived: a byte left unread is not reported again.
void UnreadByteReportedOnce() {
    SetCommMask(port, EV_RXCHAR);
    PurgeComm(port, PURGE_RXCLEAR);
    if (!WriteByte('e') || !WaitForInput(1))
        return Report(false, "unread byte", "the echo did not come back");
    DWORD reports = 0;
    for (int i = 0; i < 3; ++i) {
        DWORD mask = 0;
        Overlapped o;
        if (!WaitCommEvent(port, &mask, &o.ov) && GetLastError() != ERROR_IO_PENDING) break;
        if (WaitForSingleObject(o.ov.hEvent, 300) == WAIT_TIMEOUT) {
            o.Cancel();
            break;
        }
        DWORD n = 0;
        if (GetOverlappedResult(port, &o.ov, &n, FALSE) && (mask & EV_RXCHAR)) ++reports;
    }
    PurgeComm(port, PURGE_RXCLEAR);
    Report(reports == 1, "unread byte",
           "reported by " + std::to_string(reports) + " of 3 waits in a row");
}

void SecondOpener(const std::string& name) {
    HANDLE second = CreateFileA(("\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (second == INVALID_HANDLE_VALUE)
        return Report(true, "second opener", "refused, " + Error(GetLastError()));
    CloseHandle(second);
    Report(false, "second opener", "opened the port too");
}

} // namespace

int main(int argc, char** argv) {
    std::string name = argc > 1 ? argv[1] : "COM1";
    if (!Setup(name)) return 2;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    ReadWithNothingWaiting();
    ModemStatus();
    WaitWithModemKinds();
    PendingWaitStaysPending();
    UnreadByteReportedOnce();
    SecondOpener(name);
    CloseHandle(port);
    return differences ? 1 : 0;
}
