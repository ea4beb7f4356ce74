// The test as the user-interface thread: runs the hand-over queue as the application's
// event loop would.
#pragma once

#include "sync_queue.h"

#include <chrono>
#include <functional>

namespace veldar::test {

// Runs hand-overs until cond holds; false when 5 s passed first.
inline bool PumpUntil(const std::function<bool()>& cond) {
    using namespace std::chrono_literals;
    auto& queue = SyncQueue::Application();
    auto deadline = std::chrono::steady_clock::now() + 5s;
    while (true) {
        queue.RunPending();
        if (cond()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        queue.WaitForWork(10ms, [] { return false; });
    }
}

// Runs hand-overs for a while, for checks that nothing more comes.
inline void PumpFor(std::chrono::milliseconds time) {
    auto& queue = SyncQueue::Application();
    auto end = std::chrono::steady_clock::now() + time;
    while (std::chrono::steady_clock::now() < end) {
        queue.RunPending();
        queue.WaitForWork(std::chrono::milliseconds(10), [] { return false; });
    }
}

} // namespace veldar::test
