// The platform's serial device as the port object sees it: one small interface whose
// operations mirror the Windows communications calls. Every operation returns 0 on
// success or the platform's error number (GetLastError on Windows, errno elsewhere), so
// every failure reaches the port object through one path.
#pragma once

#include "com_types.h"
#include "stop_event.h"

#include <cstdint>
#include <memory>
#include <string>

namespace veldar {

// One read or write in flight, owned by the call that issued it (the OVERLAPPED record
// and its completion event on Windows). A record that never issued a request completes
// at once with success and 0 bytes.
class DeviceIo {
public:
    virtual ~DeviceIo() = default;
};

class ComDevice {
public:
    virtual ~ComDevice() = default;

    // Opens the device behind a port name ("COM3"); exclusive: a second opener is refused.
    virtual int Acquire(const std::string& portName) = 0;
    virtual void Release() = 0;
    virtual bool IsAcquired() const = 0;

    virtual int SetupBuffers(std::uint32_t inputSize, std::uint32_t outputSize) = 0;
    virtual int SetState(const Dcb& dcb) = 0;
    virtual int SetTimeouts(const CommTimeouts& timeouts) = 0;
    // PURGE_* flags.
    virtual int Purge(std::uint32_t flags) = 0;
    // Line-error flags (CE_*) since the last call, and the number of received bytes waiting.
    virtual int ClearError(std::uint32_t& errors, std::uint32_t& inputCount) = 0;
    // MS_* flags.
    virtual int GetModemStatus(std::uint32_t& status) = 0;

    virtual std::unique_ptr<DeviceIo> NewIo() = 0;
    // Hands a write to the platform; 0 when accepted (done at once or pending).
    virtual int StartWrite(DeviceIo& io, const std::uint8_t* data, std::uint32_t count) = 0;
    // Issues a read of at most count bytes of what has already arrived into buffer.
    virtual int StartRead(DeviceIo& io, std::uint8_t* buffer, std::uint32_t count) = 0;
    // Waits for the request of io to complete; a write completes when sent or when the
    // write time-out expires (done then tells how many bytes went out).
    virtual int WaitIo(DeviceIo& io, std::uint32_t& done) = 0;

    // Waits until the received bytes not yet read hold byte, for milliseconds at most, or
    // until stop (when given) is set. Nothing is read: bytes that arrive meanwhile are kept
    // for the next read, first in line, within the input size. 0 when the byte is there
    // (found) or the time is up, WaitStopped at a stop, else the platform's error.
    virtual int WaitForInput(std::uint8_t byte, int milliseconds, const StopEvent* stop,
                             bool& found) = 0;

    // Line events (EV_* flags) for the event thread. A new mask forgets the events that
    // occurred before it.
    virtual int SetEventMask(std::uint32_t mask) = 0;
    // Blocks until an event of the mask has occurred since the last report (events then
    // holds every such kind, once each) or until stop is set, which wins when both hold and
    // returns WaitStopped.
    virtual int WaitEvent(std::uint32_t& events, const StopEvent& stop) = 0;
    // How often the waits woke up inside, for diagnostics: an idle line must not wake them.
    virtual std::uint64_t WaitWakeUps() const { return 0; }

    // True when error says the driver lacks the operation (a port without modem lines),
    // which the port treats as lines that are off rather than as a failure.
    virtual bool IsUnsupported(int /*error*/) const { return false; }

    // True when error says the device itself is gone (an unplugged adapter), not that a
    // request was cancelled or timed out: the port is then lost until it comes back.
    virtual bool IsLost(int /*error*/) const { return false; }

    static constexpr int WaitStopped = -1;
    // The wait's own machinery failed (not the line): the event thread must end.
    static constexpr int WaitBroken = -2;
};

// The device of the platform the program was built for (Win32 or POSIX).
std::unique_ptr<ComDevice> CreatePlatformDevice();

// Where port names are resolved on POSIX systems: "COMn" becomes the target of a link
// named COMn in this folder when one exists. Empty means the executable's folder.
// Ignored on Windows.
std::unique_ptr<ComDevice> CreatePlatformDevice(const std::string& linkFolder);

} // namespace veldar
