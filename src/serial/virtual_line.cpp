#include "virtual_line.h"

#include "port_errors.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace veldar {

const char* DeviceCallName(DeviceCall call) {
    switch (call) {
    case DeviceCall::Acquire:
        return "Acquire";
    case DeviceCall::Release:
        return "Release";
    case DeviceCall::SetupBuffers:
        return "SetupBuffers";
    case DeviceCall::SetState:
        return "SetState";
    case DeviceCall::SetTimeouts:
        return "SetTimeouts";
    case DeviceCall::Purge:
        return "Purge";
    case DeviceCall::ClearError:
        return "ClearError";
    case DeviceCall::GetModemStatus:
        return "GetModemStatus";
    case DeviceCall::StartWrite:
        return "StartWrite";
    case DeviceCall::StartRead:
        return "StartRead";
    case DeviceCall::WaitIo:
        return "WaitIo";
    case DeviceCall::SetEventMask:
        return "SetEventMask";
    case DeviceCall::WaitEvent:
        return "WaitEvent";
    case DeviceCall::WaitForInput:
        return "WaitForInput";
    }
    return "?";
}

namespace {

struct VirtualIo : DeviceIo {
    int error = 0;
    std::uint32_t done = 0;
};

} // namespace

class VirtualComDevice : public ComDevice {
public:
    VirtualComDevice(std::shared_ptr<VirtualLine> line, VirtualLine::Side side)
        : line_(std::move(line)), side_(side) {}
    ~VirtualComDevice() override { Release(); }

    int Acquire(const std::string& portName) override {
        std::lock_guard lock(line_->mutex_);
        int e = line_->Enter(side_, DeviceCall::Acquire, false);
        auto& end = line_->end(side_);
        if (!e && end.unplugged) e = vline::ErrFileNotFound;
        if (!e && end.acquired) e = vline::ErrAccessDenied;
        if (e) return e;
        end.acquired = true;
        end.name = portName;
        end.input.clear();
        end.eventMask = end.pendingEvents = 0;
        end.rtsHistory.push_back(end.rts);
        owner_ = true;
        return 0;
    }

    void Release() override {
        std::lock_guard lock(line_->mutex_);
        if (!owner_) return;
        line_->end(side_).calls.push_back(DeviceCall::Release);
        owner_ = false;
        line_->end(side_).acquired = false;
        line_->SetLines(side_, false, false);
    }

    bool IsAcquired() const override { return owner_; }

    int SetupBuffers(std::uint32_t, std::uint32_t) override {
        std::lock_guard lock(line_->mutex_);
        return Enter(DeviceCall::SetupBuffers);
    }

    int SetState(const Dcb& dcb) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::SetState)) return e;
        line_->end(side_).dcb = dcb;
        unsigned rts = dcb.RtsControl(), dtr = dcb.DtrControl();
        // Enable and handshake raise the line; toggle raises it only while sending.
        line_->SetLines(side_, rts == 1 || rts == 2, dtr == 1 || dtr == 2);
        return 0;
    }

    int SetTimeouts(const CommTimeouts& timeouts) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::SetTimeouts)) return e;
        line_->end(side_).timeouts = timeouts;
        return 0;
    }

    int Purge(std::uint32_t flags) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::Purge)) return e;
        if (flags & win::PURGE_RXCLEAR) line_->end(side_).input.clear();
        return 0;
    }

    int ClearError(std::uint32_t& errors, std::uint32_t& inputCount) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::ClearError)) return e;
        auto& end = line_->end(side_);
        errors = std::exchange(end.lineErrors, 0u);
        inputCount = static_cast<std::uint32_t>(end.input.size());
        return 0;
    }

    int GetModemStatus(std::uint32_t& status) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::GetModemStatus)) return e;
        const auto& self = line_->end(side_);
        if (self.noModemLines) return vline::ErrNotSupported;
        const auto& peer = line_->other(side_);
        status = (peer.rts ? win::MS_CTS_ON : 0) | (peer.dtr ? win::MS_DSR_ON : 0) |
                 (self.ring ? win::MS_RING_ON : 0) | (self.rlsd ? win::MS_RLSD_ON : 0);
        return 0;
    }

    std::unique_ptr<DeviceIo> NewIo() override { return std::make_unique<VirtualIo>(); }

    int StartWrite(DeviceIo& io, const std::uint8_t* data, std::uint32_t count) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::StartWrite)) return e;
        auto& self = line_->end(side_);
        auto& vio = static_cast<VirtualIo&>(io);
        if (self.writeStalled) {
            vio.done = 0;
            return 0;
        }
        auto& peer = line_->other(side_);
        peer.input.append(reinterpret_cast<const char*>(data), count);
        std::uint32_t events = win::EV_RXCHAR;
        if (peer.dcb.EvtChar != 0 && std::memchr(data, peer.dcb.EvtChar, count))
            events |= win::EV_RXFLAG;
        line_->Signal(peer, events);
        line_->Signal(self, win::EV_TXEMPTY);
        vio.done = count;
        return 0;
    }

    int StartRead(DeviceIo& io, std::uint8_t* buffer, std::uint32_t count) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::StartRead)) return e;
        auto& input = line_->end(side_).input;
        auto n = std::min<std::size_t>(count, input.size());
        std::memcpy(buffer, input.data(), n);
        input.erase(0, n);
        static_cast<VirtualIo&>(io).done = static_cast<std::uint32_t>(n);
        return 0;
    }

    int WaitIo(DeviceIo& io, std::uint32_t& done) override {
        // A request completes when it is issued; only a record that carries one is counted.
        auto& vio = static_cast<VirtualIo&>(io);
        done = vio.done;
        return vio.error;
    }

    int SetEventMask(std::uint32_t mask) override {
        std::lock_guard lock(line_->mutex_);
        if (int e = Enter(DeviceCall::SetEventMask)) return e;
        auto& end = line_->end(side_);
        constexpr std::uint32_t modemKinds =
            win::EV_CTS | win::EV_DSR | win::EV_RLSD | win::EV_RING;
        if (end.noModemLines && (mask & modemKinds)) return vline::ErrNotSupported;
        end.eventMask = mask;
        end.pendingEvents = 0;
        line_->changed_.notify_all();
        return 0;
    }

    bool IsUnsupported(int error) const override {
        return error == vline::ErrNotSupported || error == vline::ErrInvalidFunction;
    }

    // Its errors are Windows numbers.
    bool IsLost(int error) const override { return IsLostWindowsError(error); }

    int WaitEvent(std::uint32_t& events, const StopEvent& stop) override {
        // Subscribed before the line's lock is taken: the stop calls back under its own lock.
        VirtualLine* line = line_.get();
        int subscription = stop.Subscribe([line] {
            std::lock_guard lock(line->mutex_);
            line->changed_.notify_all();
        });
        int result = WaitLocked(events, stop);
        stop.Unsubscribe(subscription);
        return result;
    }

    int WaitForInput(std::uint8_t byte, int milliseconds, const StopEvent* stop,
                     bool& found) override {
        found = false;
        VirtualLine* line = line_.get();
        int subscription = stop ? stop->Subscribe([line] {
            std::lock_guard lock(line->mutex_);
            line->changed_.notify_all();
        })
                                : 0;
        int result = WaitForInputLocked(byte, milliseconds, stop, found);
        if (stop) stop->Unsubscribe(subscription);
        return result;
    }

private:
    int WaitLocked(std::uint32_t& events, const StopEvent& stop) {
        std::unique_lock lock(line_->mutex_);
        if (int e = Enter(DeviceCall::WaitEvent)) return e;
        auto& end = line_->end(side_);
        auto ready = [&] { return (end.pendingEvents & end.eventMask) != 0 && !end.eventsHeld; };
        ++end.waiters;
        line_->changed_.notify_all();
        line_->changed_.wait(lock, [&] { return stop.IsSet() || end.unplugged || ready(); });
        --end.waiters;
        if (stop.IsSet()) return WaitStopped;
        if (end.unplugged) return vline::ErrBadCommand;
        events = std::exchange(end.pendingEvents, 0u) & end.eventMask;
        return 0;
    }

    int WaitForInputLocked(std::uint8_t byte, int milliseconds, const StopEvent* stop,
                           bool& found) {
        std::unique_lock lock(line_->mutex_);
        if (int e = Enter(DeviceCall::WaitForInput)) return e;
        auto& end = line_->end(side_);
        auto stopped = [&] { return stop && stop->IsSet(); };
        auto holds = [&] { return end.input.find(static_cast<char>(byte)) != ByteString::npos; };
        line_->changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                 [&] { return stopped() || end.unplugged || holds(); });
        if (stopped()) return WaitStopped;
        if (end.unplugged) return vline::ErrBadCommand;
        found = holds();
        return 0;
    }

    int Enter(DeviceCall call) {
        int e = line_->Enter(side_, call);
        if (!e && !owner_) e = vline::ErrInvalidHandle;
        return e;
    }

    std::shared_ptr<VirtualLine> line_;
    VirtualLine::Side side_;
    bool owner_ = false;
};

std::shared_ptr<VirtualLine> VirtualLine::Create() {
    return std::shared_ptr<VirtualLine>(new VirtualLine());
}

std::unique_ptr<ComDevice> VirtualLine::Device(Side side) {
    return std::make_unique<VirtualComDevice>(shared_from_this(), side);
}

int VirtualLine::Enter(Side side, DeviceCall call, bool needsDevice) {
    auto& e = end(side);
    e.calls.push_back(call);
    if (needsDevice && e.unplugged) return vline::ErrBadCommand;
    auto it = e.failures.find(call);
    if (it == e.failures.end()) return 0;
    auto& [error, times] = it->second;
    int result = error;
    if (times > 0 && --times == 0) e.failures.erase(it);
    return result;
}

void VirtualLine::Signal(End& e, std::uint32_t events) {
    e.pendingEvents |= events & e.eventMask;
    changed_.notify_all();
}

void VirtualLine::SetLines(Side side, bool rts, bool dtr) {
    auto& self = end(side);
    auto& peer = other(side);
    std::uint32_t peerEvents = 0;
    if (self.rts != rts) peerEvents |= win::EV_CTS;
    if (self.dtr != dtr) peerEvents |= win::EV_DSR;
    if (self.rts != rts) self.rtsHistory.push_back(rts);
    self.rts = rts;
    self.dtr = dtr;
    if (peerEvents) Signal(peer, peerEvents);
}

std::vector<DeviceCall> VirtualLine::Calls(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).calls;
}

int VirtualLine::CallCount(Side side, DeviceCall call) const {
    std::lock_guard lock(mutex_);
    const auto& calls = end(side).calls;
    return static_cast<int>(std::count(calls.begin(), calls.end(), call));
}

void VirtualLine::ClearCalls() {
    std::lock_guard lock(mutex_);
    for (auto& e : ends_)
        e.calls.clear();
}

std::string VirtualLine::AcquiredName(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).name;
}

bool VirtualLine::IsAcquired(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).acquired;
}

Dcb VirtualLine::LastState(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).dcb;
}

CommTimeouts VirtualLine::LastTimeouts(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).timeouts;
}

std::uint32_t VirtualLine::EventMask(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).eventMask;
}

bool VirtualLine::Rts(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).rts;
}

bool VirtualLine::Dtr(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).dtr;
}

std::vector<bool> VirtualLine::RtsHistory(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).rtsHistory;
}

std::size_t VirtualLine::InputCount(Side side) const {
    std::lock_guard lock(mutex_);
    return end(side).input.size();
}

void VirtualLine::Deliver(Side side, const ByteString& bytes) {
    std::lock_guard lock(mutex_);
    end(side).input += bytes;
    Signal(end(side), win::EV_RXCHAR);
}

ByteString VirtualLine::TakeInput(Side side) {
    std::lock_guard lock(mutex_);
    return std::exchange(end(side).input, ByteString());
}

void VirtualLine::SetRlsd(Side side, bool on) {
    std::lock_guard lock(mutex_);
    if (std::exchange(end(side).rlsd, on) != on) Signal(end(side), win::EV_RLSD);
}

void VirtualLine::SetRing(Side side, bool on) {
    std::lock_guard lock(mutex_);
    if (std::exchange(end(side).ring, on) != on && on) Signal(end(side), win::EV_RING);
}

void VirtualLine::InjectErrors(Side side, std::uint32_t ceFlags) {
    std::lock_guard lock(mutex_);
    end(side).lineErrors |= ceFlags;
    std::uint32_t events = win::EV_ERR;
    if (ceFlags & win::CE_BREAK) events |= win::EV_BREAK;
    Signal(end(side), events);
}

void VirtualLine::FailCall(Side side, DeviceCall call, int error, int times) {
    std::lock_guard lock(mutex_);
    end(side).failures[call] = {error, times};
}

void VirtualLine::ClearFailures() {
    std::lock_guard lock(mutex_);
    for (auto& e : ends_)
        e.failures.clear();
}

void VirtualLine::SetWriteStalled(Side side, bool stalled) {
    std::lock_guard lock(mutex_);
    end(side).writeStalled = stalled;
}

void VirtualLine::SetEventsHeld(Side side, bool held) {
    std::lock_guard lock(mutex_);
    end(side).eventsHeld = held;
    changed_.notify_all();
}

bool VirtualLine::WaitIdle(Side side, std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    const End& e = end(side);
    return changed_.wait_for(lock, limit, [&] {
        return e.waiters > 0 && ((e.pendingEvents & e.eventMask) == 0 || e.eventsHeld);
    });
}

void VirtualLine::SetNoModemLines(Side side, bool none) {
    std::lock_guard lock(mutex_);
    end(side).noModemLines = none;
}

void VirtualLine::SetUnplugged(Side side, bool unplugged) {
    std::lock_guard lock(mutex_);
    end(side).unplugged = unplugged;
    changed_.notify_all();
}

} // namespace veldar
