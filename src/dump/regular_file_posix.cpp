#include "regular_file.h"

#include <algorithm>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldar {

namespace {

// Non-blocking, so that a FIFO without a reader fails at once instead of waiting for one;
// whatever was opened is judged by its own type before a byte moves.
int OpenForWriting(const std::filesystem::path& file, WriteMode mode, bool followLink,
                   bool& created) {
    const int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW);
    int fd = ::open(file.c_str(), flags | O_CREAT | O_EXCL, 0666);
    created = fd >= 0;
    if (fd < 0 && errno == EEXIST && mode != WriteMode::CreateNew) fd = ::open(file.c_str(), flags);
    return fd;
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool WriteAll(int fd, BytePieces pieces) {
    return std::all_of(pieces.begin(), pieces.end(),
                       [&](std::string_view piece) { return WriteAll(fd, piece); });
}

} // namespace

WriteResult WriteRegularFile(const std::filesystem::path& file, BytePieces pieces, WriteMode mode,
                             bool followLink) {
    bool created = false;
    int fd = OpenForWriting(file, mode, followLink, created);
    if (fd < 0) return WriteResult::NotOpened;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return WriteResult::NotOpened;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    off_t keep = mode == WriteMode::Append ? info.st_size : 0;
    bool ok = (mode != WriteMode::Replace || ::ftruncate(fd, 0) == 0) &&
              ::lseek(fd, keep, SEEK_SET) == keep && WriteAll(fd, pieces);
    // A full disk may leave part of the bytes written: the file goes back to what it was,
    // so that the next append does not join onto half a record.
    if (!ok && !created && ::ftruncate(fd, keep) != 0) {
        // Nothing more can be done about it here; the caller makes its rescue copy.
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok && created) ::unlink(file.c_str());
    return ok ? WriteResult::Written : WriteResult::WriteFailed;
}

bool SyncRegularFile(const std::filesystem::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) return false;
    // A new file's name lives in its folder: without the folder a power cut may lose it.
    const auto parent = file.parent_path();
    int folder = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return false;
    ok = ::fsync(folder) == 0;
    ::close(folder);
    return ok;
}

std::optional<std::string> ReadRegularFile(const std::filesystem::path& file,
                                           std::size_t maxBytes) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::nullopt;
    struct stat info {};
    std::optional<std::string> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        static_cast<std::size_t>(info.st_size) <= maxBytes) {
        // One byte more than allowed tells a file that grew meanwhile.
        std::string text(maxBytes + 1, '\0');
        std::size_t got = 0;
        while (got < text.size()) {
            ssize_t n = ::read(fd, text.data() + got, text.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                got = text.size();
                break;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        if (got <= maxBytes) {
            text.resize(got);
            bytes = std::move(text);
        }
    }
    ::close(fd);
    return bytes;
}

} // namespace veldar
