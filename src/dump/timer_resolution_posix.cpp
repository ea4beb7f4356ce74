#include "timer_resolution.h"

namespace veldar {

// POSIX sleeps are fine-grained already.
FineTimerResolution::FineTimerResolution() = default;
FineTimerResolution::~FineTimerResolution() = default;

} // namespace veldar
