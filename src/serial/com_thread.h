// The port's event thread: waits for line events on the device and hands each batch to the
// user-interface thread, where DeliverEvents turns it into listener calls and port events.
#pragma once

#include "com_types.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

namespace veldar {

class TCustomComPort;

// The device's event mask for a set of kinds, and back.
std::uint32_t EventMaskOf(TComEvents events);
TComEvents EventsOfMask(std::uint32_t mask);

class TComThread {
public:
    // Sets the device's event mask from the port's Events and starts waiting. A driver
    // without modem lines that refuses their kinds gets a mask of the other kinds; any other
    // refusal raises EComPort code 21.
    explicit TComThread(TCustomComPort* port);
    // Finish, then the thread's end.
    ~TComThread();
    TComThread(const TComThread&) = delete;
    TComThread& operator=(const TComThread&) = delete;

    void StopThread();
    // Asks the thread to end and waits until it has, running the hand-overs it queued
    // meanwhile. Called from inside the thread's own hand-over (further up the caller's
    // stack) it cannot wait, since the thread waits for that hand-over to return: the
    // thread is then abandoned and ends as soon as the hand-over returns, without touching
    // the device again.
    void Finish();
    bool Ended() const;

    // Runs on the user-interface thread during a hand-over.
    void DeliverEvents();
    TComEvents ReportedEvents() const;

    // Completed waits of the loop, for diagnostics (an idle line must not make it grow).
    std::uint64_t Loops() const;

private:
    struct State;
    bool DeliveringOnThisStack() const;
    static void Run(std::shared_ptr<State> state, TCustomComPort* port, TSyncMethod method);
    static void Deliver(State& state, TCustomComPort* port);
    // Runs call on the user-interface thread (or here, without hand-over); what it threw.
    static std::exception_ptr HandOver(TSyncMethod method, const std::function<void()>& call);
    TCustomComPort* port_;
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace veldar
