#include "stop_event.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace veldar {

StopEvent::StopEvent() {
#ifdef _WIN32
    handle_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
#else
    int fds[2];
    if (pipe(fds) == 0) {
        for (int fd : fds)
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        readFd_ = fds[0];
        writeFd_ = fds[1];
    }
#endif
}

StopEvent::~StopEvent() {
#ifdef _WIN32
    if (handle_) CloseHandle(handle_);
#else
    if (readFd_ >= 0) close(readFd_);
    if (writeFd_ >= 0) close(writeFd_);
#endif
}

void StopEvent::Set() {
    {
        // Callbacks run under the lock so none runs after its Unsubscribe has returned; they
        // must not wait for anything that a subscriber holds while subscribing.
        std::lock_guard lock(mutex_);
        if (set_.exchange(true)) return;
#ifdef _WIN32
        if (handle_) SetEvent(handle_);
#else
        // One byte, never read: the descriptor stays readable, so the stop stays seen.
        char one = 1;
        if (writeFd_ >= 0) [[maybe_unused]]
            auto n = write(writeFd_, &one, 1);
#endif
        for (auto& [id, onSet] : subscribers_)
            onSet();
    }
    changed_.notify_all();
}

bool StopEvent::WaitFor(std::chrono::milliseconds time) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, time, [this] { return set_.load(); });
}

int StopEvent::Subscribe(std::function<void()> onSet) const {
    std::lock_guard lock(mutex_);
    subscribers_.emplace_back(nextId_, std::move(onSet));
    return nextId_++;
}

void StopEvent::Unsubscribe(int id) const {
    std::lock_guard lock(mutex_);
    std::erase_if(subscribers_, [id](const auto& s) { return s.first == id; });
}

} // namespace veldar
