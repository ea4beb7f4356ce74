#include "dump_journal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldar {

namespace {

bool IsRegular(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

bool JournalFile::Create(const std::filesystem::path& file) {
    Close();
    // O_EXCL never follows a link in the name, not even a dangling one.
    int fd =
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) return false;
    // A recovery that took the file between its creation and this lock has removed it.
    if (!IsRegular(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = file;
    folderSynced_ = false;
    return true;
}

JournalFile::Claim JournalFile::Take(const std::filesystem::path& file) {
    Close();
    // Non-blocking: a FIFO of that name must not hold the start-up.
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return Claim::Unusable;
    if (!IsRegular(fd)) {
        ::close(fd);
        return Claim::Unusable;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        return held ? Claim::Held : Claim::Unusable;
    }
    fd_ = fd;
    path_ = file;
    return Claim::Taken;
}

std::optional<std::string> JournalFile::ReadAll(std::size_t maxBytes) {
    if (fd_ < 0 || ::lseek(fd_, 0, SEEK_SET) != 0) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return bytes;
        bytes.append(buffer, static_cast<std::size_t>(n));
        if (bytes.size() > maxBytes) return std::nullopt;
    }
}

bool JournalFile::Write(std::string_view bytes) {
    if (fd_ < 0) return false;
    while (!bytes.empty()) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool JournalFile::Sync() {
    if (fd_ < 0) return false;
    bool ok = ::fdatasync(fd_) == 0;
    // The file's name in its folder, once: without it a power cut could lose the whole file.
    if (ok && !folderSynced_) {
        int folder = ::open(path_.parent_path().empty() ? "." : path_.parent_path().c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folderSynced_ = folder >= 0 && ::fsync(folder) == 0;
        if (folder >= 0) ::close(folder);
    }
    return ok;
}

bool JournalFile::Remove() {
    if (fd_ < 0) return false;
    // Removed while still locked: no recovery can take it in between.
    bool removed = ::unlink(path_.c_str()) == 0;
    Close();
    return removed;
}

void JournalFile::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool JournalFile::IsOpen() const {
    return fd_ >= 0;
}

} // namespace veldar
