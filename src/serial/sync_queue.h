// The application's queue of synchronous calls: a worker thread hands a call to the
// user-interface thread and waits until it has run there. The application installs a wake
// hook (it posts an event that makes its loop call RunPending); tests run the queue from
// their own loop. No Qt here.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>

namespace veldar {

class SyncQueue {
public:
    // The one queue of the process.
    static SyncQueue& Application();

    // Called on the worker thread each time a call has been queued.
    void SetWakeHook(std::function<void()> hook);

    // Worker side: queues the call, wakes the user-interface thread and waits until the call
    // has run there. An exception that escaped the call is returned.
    std::exception_ptr Synchronize(std::function<void()> call);
    // Worker side: queues the call without waiting for it.
    void Post(std::function<void()> call);

    // User-interface side: runs every queued call, the ones queued meanwhile included.
    // Returns whether any ran.
    bool RunPending();

    // User-interface side: sleeps until a call is queued, `done` holds (checked whenever
    // Notify is called, under the queue's lock: it must not use the queue), or the time has
    // passed.
    void WaitForWork(std::chrono::milliseconds time, const std::function<bool()>& done);
    // Wakes WaitForWork (a worker that has ended, for instance).
    void Notify();

    bool HasPending() const;

private:
    struct Item {
        std::function<void()> call;
        bool waited = false;
        bool done = false;
        std::exception_ptr error;
    };
    void Queue(Item* item);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Item*> items_;
    std::function<void()> wakeHook_;
};

} // namespace veldar
