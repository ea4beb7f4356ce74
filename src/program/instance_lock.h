// The lock file of one folder's VELDAR and the request file beside it, without Qt. The lock
// is held through the system (an advisory lock on POSIX, an unshared handle on Windows), so it
// ends with its program however that ends: a file no program holds is stale whatever it says
// (empty after a power cut, garbage, a dead process, another machine's name). Neither file is
// ever opened through a link, and opening one never blocks (a FIFO of that name).
#pragma once

#include <cstdint>
#include <filesystem>

namespace veldar {

class InstanceLock {
public:
    enum class State {
        Taken,      // this program holds the lock
        HeldByLive, // a running program holds it
        NotTakable, // something in the way: a folder, a FIFO, a link, a file without rights...
        Unwritable, // nothing there, and no file can be made (a read-only folder)
    };

    explicit InstanceLock(std::filesystem::path file) : file_(std::move(file)) {}
    // A lock taken is released and its file removed.
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Creates the file or takes a stale one over, and writes this process's number and
    // machine into it for whoever looks.
    State Take();

    const std::filesystem::path& File() const { return file_; }

private:
    std::filesystem::path file_;
    // The open lock file (a descriptor, or a HANDLE on Windows); -1 while none is held.
    std::intptr_t handle_ = -1;
};

// The request a later start leaves for the first: whatever is in the file's name that is not
// a folder (a link, a FIFO, an old request) is removed, then a new empty regular file is made
// there. False when no new file could be made.
bool LeaveShowRequest(const std::filesystem::path& file);

// Whether something other than a folder is in the request's name; a link is not followed.
bool ShowRequestWaiting(const std::filesystem::path& file);

// Removes the request (a link itself, never its target); true when there was one to remove.
bool TakeShowRequestFile(const std::filesystem::path& file);

} // namespace veldar
