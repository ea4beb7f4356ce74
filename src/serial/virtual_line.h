// An in-memory serial line: two ends joined like a null-modem cable. Bytes written at one
// end wait in the other end's input queue; this end's RTS and DTR are the other end's CTS
// and DSR; RLSD, ring and line errors are set by hand. Every platform call is recorded and
// any call can be made to fail, so tests can see exactly what the port object asked for.
// Safe to use from several threads.
#pragma once

#include "com_device.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace veldar {

enum class DeviceCall {
    Acquire,
    Release,
    SetupBuffers,
    SetState,
    SetTimeouts,
    Purge,
    ClearError,
    GetModemStatus,
    StartWrite,
    StartRead,
    WaitIo,
    SetEventMask,
    WaitEvent,
    WaitForInput,
};
const char* DeviceCallName(DeviceCall call);

// Windows error numbers the virtual device answers with.
namespace vline {
inline constexpr int ErrInvalidFunction = 1;
inline constexpr int ErrFileNotFound = 2;
inline constexpr int ErrAccessDenied = 5;
inline constexpr int ErrInvalidHandle = 6;
inline constexpr int ErrBadCommand = 22;
// Both of these mean the driver lacks the operation.
inline constexpr int ErrNotSupported = 50;
} // namespace vline

class VirtualLine : public std::enable_shared_from_this<VirtualLine> {
public:
    enum Side { A = 0, B = 1 };

    static std::shared_ptr<VirtualLine> Create();

    // A device on one end; it is the platform device of a port object or of a simulator.
    std::unique_ptr<ComDevice> Device(Side side);

    // --- what the ends did ---
    std::vector<DeviceCall> Calls(Side side) const;
    int CallCount(Side side, DeviceCall call) const;
    void ClearCalls();
    // The port name of the last acquire at this end.
    std::string AcquiredName(Side side) const;
    bool IsAcquired(Side side) const;
    Dcb LastState(Side side) const;
    CommTimeouts LastTimeouts(Side side) const;
    std::uint32_t EventMask(Side side) const;
    bool Rts(Side side) const;
    bool Dtr(Side side) const;
    // Every RTS level this end's line took, in order (starting with the level at acquire).
    std::vector<bool> RtsHistory(Side side) const;
    // Bytes waiting in this end's input queue.
    std::size_t InputCount(Side side) const;

    // --- what the test does to the line ---
    // Bytes arrive at this end as if the other end had sent them.
    void Deliver(Side side, const ByteString& bytes);
    // Takes every byte waiting at this end.
    ByteString TakeInput(Side side);
    void SetRlsd(Side side, bool on);
    void SetRing(Side side, bool on);
    void InjectErrors(Side side, std::uint32_t ceFlags);
    // Makes a call at this end fail with error, `times` times (negative: until cleared).
    void FailCall(Side side, DeviceCall call, int error, int times = -1);
    void ClearFailures();
    // Writes at this end stop going out: they complete sending nothing, as after a write
    // time-out with a line held back.
    void SetWriteStalled(Side side, bool stalled);
    // While held, waits at this end do not return: events pile up and come as one batch.
    void SetEventsHeld(Side side, bool held);
    // Waits until a thread waits for events at this end with nothing to report; false when
    // that did not happen within the limit.
    bool WaitIdle(Side side, std::chrono::milliseconds limit) const;
    // The cable is pulled: every call at this end fails and no acquire succeeds.
    void SetUnplugged(Side side, bool unplugged);
    // A driver without modem lines at this end (some virtual COM drivers): the modem status
    // and an event mask with modem-line kinds are refused as not supported.
    void SetNoModemLines(Side side, bool none);

private:
    friend class VirtualComDevice;
    struct End {
        bool acquired = false;
        std::string name;
        Dcb dcb;
        CommTimeouts timeouts;
        bool rts = false;
        bool dtr = false;
        bool rlsd = false;
        bool ring = false;
        std::vector<bool> rtsHistory;
        ByteString input;
        std::uint32_t lineErrors = 0;
        std::uint32_t eventMask = 0;
        std::uint32_t pendingEvents = 0;
        bool eventsHeld = false;
        int waiters = 0;
        bool writeStalled = false;
        bool unplugged = false;
        bool noModemLines = false;
        std::vector<DeviceCall> calls;
        std::map<DeviceCall, std::pair<int, int>> failures; // call -> (error, times left)
    };

    VirtualLine() = default;
    End& end(Side side) { return ends_[side]; }
    const End& end(Side side) const { return ends_[side]; }
    End& other(Side side) { return ends_[1 - side]; }
    // Records the call and returns the error it must fail with, or 0. Lock held.
    int Enter(Side side, DeviceCall call, bool needsDevice = true);
    void Signal(End& e, std::uint32_t events);
    void SetLines(Side side, bool rts, bool dtr);

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    End ends_[2];
};

} // namespace veldar
