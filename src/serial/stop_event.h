// The stop request of a waiting thread: set once from any thread, it wakes every wait on it
// at once and stays set. On Windows it is a manual-reset event, elsewhere a pipe, so the
// platform's own wait calls can wait on it beside the device.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace veldar {

class StopEvent {
public:
    StopEvent();
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    void Set();
    bool IsSet() const { return set_.load(); }
    // Waits until set or until the time has passed; true when set.
    bool WaitFor(std::chrono::milliseconds time) const;

    // What a platform wait call waits on: a HANDLE on Windows, a readable descriptor
    // elsewhere.
    void* NativeHandle() const { return handle_; }
    int NativeDescriptor() const { return readFd_; }

    // In-memory waits (the virtual line) hear of the stop through a callback.
    int Subscribe(std::function<void()> onSet) const;
    void Unsubscribe(int id) const;

private:
    std::atomic<bool> set_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    mutable std::vector<std::pair<int, std::function<void()>>> subscribers_;
    mutable int nextId_ = 1;
    void* handle_ = nullptr;
    int readFd_ = -1;
    int writeFd_ = -1;
};

} // namespace veldar
