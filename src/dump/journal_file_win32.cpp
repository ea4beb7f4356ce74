#include "dump_journal.h"

#include <windows.h>

namespace veldar {

namespace {

// A file on a disk, not a folder, a device or (opened without following) a link.
bool IsRegular(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// One byte far beyond any journal's end, for as long as the handle lives: a recovery's own
// lock fails on it, while the records stay readable (a lock on them would refuse reads).
bool LockMark(HANDLE file) {
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFE;
    at.OffsetHigh = 0x7FFFFFFF;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

} // namespace

bool JournalFile::Create(const std::filesystem::path& file) {
    Close();
    // Shared for reading only: nobody else writes or deletes it while the dump runs.
    HANDLE h =
        CreateFileW(file.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_ = h;
    path_ = file;
    if (!IsRegular(h) || !LockMark(h)) {
        Remove();
        return false;
    }
    return true;
}

JournalFile::Claim JournalFile::Take(const std::filesystem::path& file) {
    Close();
    HANDLE h =
        CreateFileW(file.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? Claim::Held : Claim::Unusable;
    if (!IsRegular(h)) {
        CloseHandle(h);
        return Claim::Unusable;
    }
    if (!LockMark(h)) {
        const bool held = GetLastError() == ERROR_LOCK_VIOLATION;
        CloseHandle(h);
        return held ? Claim::Held : Claim::Unusable;
    }
    handle_ = h;
    path_ = file;
    return Claim::Taken;
}

std::optional<std::string> JournalFile::ReadAll(std::size_t maxBytes) {
    if (!handle_) return std::nullopt;
    HANDLE h = static_cast<HANDLE>(handle_);
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) return std::nullopt;
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return std::nullopt;
        if (n == 0) return bytes;
        bytes.append(buffer, n);
        if (bytes.size() > maxBytes) return std::nullopt;
    }
}

bool JournalFile::Write(std::string_view bytes) {
    if (!handle_) return false;
    while (!bytes.empty()) {
        DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), bytes.data(), chunk, &written, nullptr) ||
            written == 0)
            return false;
        bytes.remove_prefix(written);
    }
    return true;
}

bool JournalFile::Sync() {
    // The folder's entry goes with the file on NTFS.
    return handle_ && FlushFileBuffers(static_cast<HANDLE>(handle_));
}

bool JournalFile::Remove() {
    if (!handle_) return false;
    // Deleted through the open handle: no recovery can take it in between.
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    bool removed = SetFileInformationByHandle(static_cast<HANDLE>(handle_), FileDispositionInfo,
                                              &disposition, sizeof disposition);
    Close();
    return removed;
}

void JournalFile::Close() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool JournalFile::IsOpen() const {
    return handle_ != nullptr;
}

} // namespace veldar
