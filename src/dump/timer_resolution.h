// Fine sleeps for the length of a dump: the poll schedule sleeps 4 or 5 ms at a time, which
// the default Windows timer turns into about 15 ms. Nothing to do elsewhere.
#pragma once

namespace veldar {

class FineTimerResolution {
public:
    FineTimerResolution();
    // Not defaulted: the Windows build ends the fine period here.
    ~FineTimerResolution(); // NOLINT(performance-trivially-destructible)
    FineTimerResolution(const FineTimerResolution&) = delete;
    FineTimerResolution& operator=(const FineTimerResolution&) = delete;

private:
    // Used by the Windows implementation only.
    [[maybe_unused]] bool raised_ = false;
};

} // namespace veldar
