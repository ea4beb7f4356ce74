#include "instance_lock.h"

#include "regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldar {

namespace {

void WriteOwner(int fd) {
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    const std::string owner = std::to_string(::getpid()) + "\n" + host + "\nveldar\n";
    if (::ftruncate(fd, 0) != 0) return;
    // Only for people who look: the lock itself is the system's.
    [[maybe_unused]] auto written = ::pwrite(fd, owner.data(), owner.size(), 0);
}

} // namespace

InstanceLock::~InstanceLock() {
    if (handle_ < 0) return;
    // Removed while still held: a start that opened it meanwhile sees the name gone.
    ::unlink(file_.c_str());
    ::close(static_cast<int>(handle_));
}

InstanceLock::State InstanceLock::Take() {
    // A program that quits removes its file between another's open and lock: a few tries.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd =
            ::open(file_.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd < 0) {
            struct stat named {};
            return ::lstat(file_.c_str(), &named) == 0 ? State::NotTakable : State::Unwritable;
        }
        struct stat opened {};
        if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            ::close(fd);
            return State::NotTakable;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            if (error == EWOULDBLOCK) return State::HeldByLive;
            // A file system without locks: nothing can tell a second VELDAR here.
            return State::NotTakable;
        }
        struct stat named {};
        if (::lstat(file_.c_str(), &named) != 0 || named.st_dev != opened.st_dev ||
            named.st_ino != opened.st_ino) {
            ::close(fd);
            continue;
        }
        WriteOwner(fd);
        handle_ = fd;
        return State::Taken;
    }
    return State::NotTakable;
}

bool LeaveShowRequest(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(file, ec)))
        ::unlink(file.c_str());
    return WriteRegularFile(file, std::string_view{}, WriteMode::CreateNew, false) ==
           WriteResult::Written;
}

bool ShowRequestWaiting(const std::filesystem::path& file) {
    struct stat info {};
    return ::lstat(file.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool TakeShowRequestFile(const std::filesystem::path& file) {
    return ShowRequestWaiting(file) && ::unlink(file.c_str()) == 0;
}

} // namespace veldar
