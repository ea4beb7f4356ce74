#include "sync_queue.h"

#include <memory>

namespace veldar {

SyncQueue& SyncQueue::Application() {
    // Never destroyed: a thread left to end by itself may still notify it at exit.
    static SyncQueue* queue = new SyncQueue;
    return *queue;
}

void SyncQueue::SetWakeHook(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    wakeHook_ = std::move(hook);
}

void SyncQueue::Queue(Item* item) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        items_.push_back(item);
        hook = wakeHook_;
    }
    changed_.notify_all();
    if (hook) hook();
}

std::exception_ptr SyncQueue::Synchronize(std::function<void()> call) {
    Item item;
    item.call = std::move(call);
    item.waited = true;
    Queue(&item);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return item.done; });
    return item.error;
}

void SyncQueue::Post(std::function<void()> call) {
    auto* item = new Item;
    item->call = std::move(call);
    Queue(item);
}

bool SyncQueue::RunPending() {
    bool ran = false;
    while (true) {
        Item* item;
        {
            std::lock_guard lock(mutex_);
            if (items_.empty()) return ran;
            item = items_.front();
            items_.pop_front();
        }
        ran = true;
        std::exception_ptr error;
        try {
            item->call();
        } catch (...) {
            error = std::current_exception();
        }
        if (!item->waited) {
            // Nobody waits for a posted call; its exception has nowhere to go.
            delete item;
            continue;
        }
        {
            std::lock_guard lock(mutex_);
            item->error = error;
            item->done = true;
        }
        changed_.notify_all();
    }
}

void SyncQueue::WaitForWork(std::chrono::milliseconds time, const std::function<bool()>& done) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, time, [&] { return !items_.empty() || done(); });
}

void SyncQueue::Notify() {
    // Taking the lock orders the notifier's change before a waiter's check of `done`.
    { std::lock_guard lock(mutex_); }
    changed_.notify_all();
}

bool SyncQueue::HasPending() const {
    std::lock_guard lock(mutex_);
    return !items_.empty();
}

} // namespace veldar
