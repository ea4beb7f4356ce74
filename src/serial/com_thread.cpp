#include "com_thread.h"

#include "com_port.h"
#include "stop_event.h"
#include "sync_queue.h"

#include <array>
#include <atomic>
#include <vector>

namespace veldar {

namespace {

// TComEvent ordinal -> platform mask bit.
constexpr std::array<std::uint32_t, 10> MaskBits = {
    win::EV_RXCHAR, win::EV_TXEMPTY, win::EV_RXFLAG, win::EV_RING, win::EV_BREAK,
    win::EV_CTS,    win::EV_DSR,     win::EV_ERR,    win::EV_RLSD, win::EV_RX80FULL};

// A device that refuses or fails the wait (an unplugged adapter) is retried after this
// pause, so the loop never spins; a stop request still ends the pause at once.
constexpr std::chrono::milliseconds FailedWaitBackoff{300};

constexpr std::uint32_t ModemLineKinds = win::EV_CTS | win::EV_DSR | win::EV_RLSD | win::EV_RING;

} // namespace

std::uint32_t EventMaskOf(TComEvents events) {
    std::uint32_t mask = 0;
    for (std::size_t i = 0; i < MaskBits.size(); ++i)
        if (events.Contains(static_cast<TComEvent>(i))) mask |= MaskBits[i];
    return mask;
}

TComEvents EventsOfMask(std::uint32_t mask) {
    TComEvents events;
    for (std::size_t i = 0; i < MaskBits.size(); ++i)
        if (mask & MaskBits[i]) events.Include(static_cast<TComEvent>(i));
    return events;
}

struct TComThread::State {
    veldar::StopEvent StopEvent;
    std::atomic<std::uint32_t> Reported{0};
    std::atomic<bool> Ended{false};
    std::atomic<bool> Abandoned{false};
    std::atomic<bool> Delivering{false};
    std::atomic<std::thread::id> DeliveringThread;
    std::atomic<std::uint64_t> Loops{0};
};

namespace {

// Marks a hand-over in progress on this thread, so a close from inside it knows not to wait.
template <typename State> struct DeliveringMarker {
    State& s;
    explicit DeliveringMarker(State& st) : s(st) {
        s.DeliveringThread = std::this_thread::get_id();
        s.Delivering = true;
    }
    ~DeliveringMarker() { s.Delivering = false; }
    DeliveringMarker(const DeliveringMarker&) = delete;
    DeliveringMarker& operator=(const DeliveringMarker&) = delete;
};

} // namespace

TComThread::TComThread(TCustomComPort* port) : port_(port), state_(std::make_shared<State>()) {
    // The mask is set before the thread waits, so nothing that happens from now on is missed.
    ComDevice& device = port->Device();
    const std::uint32_t mask = EventMaskOf(port->Events());
    int e = device.SetEventMask(mask);
    // A driver without modem lines may refuse their kinds; the others are still worth
    // watching.
    if (e && device.IsUnsupported(e) && (mask & ModemLineKinds))
        e = device.SetEventMask(mask & ~ModemLineKinds);
    if (e) throw EComPort(CError_WaitFailed, e);
    thread_ = std::thread(&TComThread::Run, state_, port, port->SyncMethod());
}

TComThread::~TComThread() {
    Finish();
    // Abandoned threads that are still inside their hand-over end by themselves.
    if (state_->Ended)
        thread_.join();
    else
        thread_.detach();
}

void TComThread::StopThread() {
    state_->StopEvent.Set();
    std::this_thread::yield();
}

void TComThread::Finish() {
    if (DeliveringOnThisStack()) state_->Abandoned = true;
    StopThread();
    if (state_->Abandoned) return;
    auto& queue = SyncQueue::Application();
    auto ended = [this] { return state_->Ended.load(); };
    // A hand-over run here may abandon the thread; it ends when that hand-over returns.
    while (!ended()) {
        queue.RunPending();
        queue.WaitForWork(std::chrono::milliseconds(1000), ended);
    }
}

bool TComThread::DeliveringOnThisStack() const {
    return state_->Delivering && state_->DeliveringThread == std::this_thread::get_id();
}

bool TComThread::Ended() const {
    return state_->Ended;
}

TComEvents TComThread::ReportedEvents() const {
    return TComEvents::FromBits(state_->Reported.load());
}

std::uint64_t TComThread::Loops() const {
    return state_->Loops;
}

void TComThread::Run(std::shared_ptr<State> state, TCustomComPort* port, TSyncMethod method) {
    ComDevice& device = port->Device();
    auto end = [&] {
        state->Ended = true;
        SyncQueue::Application().Notify();
    };
    while (true) {
        std::uint32_t mask = 0;
        int e = device.WaitEvent(mask, state->StopEvent);
        ++state->Loops;
        // A broken wait cannot be retried: the thread's own means of waiting are gone. It
        // ends as a stop does.
        if (e == ComDevice::WaitStopped || e == ComDevice::WaitBroken) break;
        if (e != 0 && device.IsLost(e)) {
            // The device is gone: waiting again cannot bring it back. The port hears of it
            // once and its owner closes it; the device is not touched again from here.
            HandOver(method, [&] {
                DeliveringMarker marker(*state);
                port->DeliverLost(e);
            });
            end();
            return;
        }
        if (e != 0) {
            if (state->StopEvent.WaitFor(FailedWaitBackoff)) break;
            continue;
        }
        TComEvents kinds = EventsOfMask(mask);
        if (kinds.Empty()) continue;
        state->Reported = kinds.Bits();
        std::exception_ptr error = HandOver(method, [&] { Deliver(*state, port); });
        if (state->Abandoned) {
            // The port was closed inside the hand-over and its device released.
            end();
            return;
        }
        if (error) {
            // A handler's failure ends delivery silently; the mask stays and nothing is
            // discarded.
            end();
            return;
        }
    }
    device.SetEventMask(0);
    device.Purge(win::PURGE_TXCLEAR | win::PURGE_RXCLEAR);
    end();
}

std::exception_ptr TComThread::HandOver(TSyncMethod method, const std::function<void()>& call) {
    if (method != smNone) return SyncQueue::Application().Synchronize(call);
    try {
        call();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

void TComThread::DeliverEvents() {
    Deliver(*state_, port_);
}

// Static, and only the shared state is touched after the handlers: a close inside a handler
// frees the thread object.
void TComThread::Deliver(State& state, TCustomComPort* port) {
    DeliveringMarker marker(state);
    port->DeliverEvents(TComEvents::FromBits(state.Reported.load()));
}

} // namespace veldar
