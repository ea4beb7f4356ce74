#include "timer_resolution.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <timeapi.h>

namespace veldar {

namespace {

// The program mostly runs without a visible window, and the system may ignore a hidden
// process's timer request unless the process opts out of that throttling. The call exists
// from Windows 11 on; it is looked up so older systems simply skip it.
void KeepTimerResolutionWhenHidden() {
#ifndef PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION
#define PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION 0x4
#endif
    static bool done = false;
    if (done) return;
    done = true;
    using SetInfo = BOOL(WINAPI*)(HANDLE, int, LPVOID, DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto set = kernel ? reinterpret_cast<SetInfo>(reinterpret_cast<void*>(
                            GetProcAddress(kernel, "SetProcessInformation")))
                      : nullptr;
    if (!set) return;
    struct {
        ULONG Version, ControlMask, StateMask;
    } state{1, PROCESS_POWER_THROTTLING_IGNORE_TIMER_RESOLUTION, 0};
    const int ProcessPowerThrottling = 4;
    set(GetCurrentProcess(), ProcessPowerThrottling, &state, sizeof state);
}

} // namespace

FineTimerResolution::FineTimerResolution() {
    KeepTimerResolutionWhenHidden();
    raised_ = timeBeginPeriod(1) == TIMERR_NOERROR;
}

FineTimerResolution::~FineTimerResolution() {
    if (raised_) timeEndPeriod(1);
}

} // namespace veldar
