// The port's event thread: waits for line events on the device and hands each batch to the
// user-interface thread, where DeliverEvents turns it into listener calls and port events.
#pragma once

#include "com_types.h"

#include <cstdint>
#include <memory>
#include <thread>

namespace veldar {

class TCustomComPort;

// The device's event mask for a set of kinds, and back.
std::uint32_t EventMaskOf(TComEvents events);
TComEvents EventsOfMask(std::uint32_t mask);

class TComThread {
public:
    // Sets the device's event mask from the port's Events and starts waiting.
    explicit TComThread(TCustomComPort* port);
    // Stops the thread and waits for its end, running the hand-overs it queued meanwhile.
    // After Abandon, does not wait.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void StopThread();
    // The port is closing from inside this thread's own hand-over, further up the caller's
    // stack: the thread cannot end before that hand-over returns, so nobody waits for it; it
    // ends as soon as the hand-over returns, without touching the device again.
    void Abandon();
    // True while the calling thread is inside this thread's DeliverEvents.
    bool DeliveringOnThisStack() const;
    bool Ended() const;

    // Runs on the user-interface thread during a hand-over.
    void DeliverEvents();
    TComEvents ReportedEvents() const;

    // Completed waits of the loop, for diagnostics (an idle line must not make it grow).
    std::uint64_t Loops() const;

private:
    struct State;
    static void Run(std::shared_ptr<State> state, TCustomComPort* port, TSyncMethod method);
    static void Deliver(State& state, TCustomComPort* port);
    TCustomComPort* port_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace veldar
