// The time and the events a dump runs in: the window's event loop and clock, a terminal's,
// or a test's virtual ones.
#pragma once

#include "local_time.h"

namespace veldar {

class DumpPump {
public:
    virtual ~DumpPump() = default;

    virtual void Sleep(int milliseconds) = 0;
    // Runs the pending window messages (and port hand-overs), without waiting.
    virtual void ProcessMessages() = 0;
    // Waits for the next event (a message, a port hand-over, a quit request) and runs it.
    virtual void WaitForEvent() = 0;
    virtual LocalTime Now() = 0;
    // The program is quitting: a running dump saves what it has and returns at once.
    virtual bool StopRequested() const = 0;
};

} // namespace veldar
