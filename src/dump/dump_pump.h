// The time and the events a dump runs in: the window's event loop and clock, a terminal's,
// or a test's virtual ones.
#pragma once

#include "com_port.h"
#include "local_time.h"

#include <functional>

namespace veldar {

class DumpPump {
public:
    virtual ~DumpPump() = default;

    virtual void Sleep(int milliseconds) = 0;
    // A poll step of the dump: waits milliseconds, or less when the port's unread input
    // already holds a record's end (CR). Messages are not run meanwhile.
    virtual void WaitForLineEnd(TCustomComPort& port, int milliseconds) = 0;
    // Runs the pending window messages (and port hand-overs), without waiting.
    virtual void ProcessMessages() = 0;
    // Waits for the next event (a message, a port hand-over, a quit request) and runs it.
    virtual void WaitForEvent() = 0;
    virtual LocalTime Now() = 0;
    // The program is quitting: a running dump saves what it has and returns at once.
    virtual bool StopRequested() const = 0;
};

// WaitForLineEnd in a clock of one's own: passTime(0) first (what was just sent is heard),
// then the time passes a millisecond at a time, and the step ends at the first millisecond
// at which the CR is there.
inline void WaitForLineEndInSteps(TCustomComPort& port, int milliseconds,
                                  const std::function<void(int)>& passTime) {
    passTime(0);
    for (int passed = 0; passed < milliseconds && !port.WaitForInput('\r', 0); ++passed)
        passTime(1);
}

} // namespace veldar
