#include "instance_lock.h"

#include "regular_file.h"

#include <string>
#include <windows.h>

namespace veldar {

namespace {

HANDLE AsHandle(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// A file on a disk, not a folder, a device or (opened without following) a link.
bool IsRegularFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

void WriteOwner(HANDLE file) {
    char host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof host;
    GetComputerNameA(host, &size);
    const std::string owner =
        std::to_string(GetCurrentProcessId()) + "\r\n" + host + "\r\nveldar\r\n";
    DWORD written = 0;
    // Only for people who look: the lock itself is the unshared handle.
    if (SetEndOfFile(file))
        WriteFile(file, owner.data(), static_cast<DWORD>(owner.size()), &written, nullptr);
}

DWORD Attributes(const std::filesystem::path& file) {
    return GetFileAttributesW(file.c_str());
}

} // namespace

InstanceLock::~InstanceLock() {
    if (handle_ < 0) return;
    CloseHandle(AsHandle(handle_));
    DeleteFileW(file_.c_str());
}

InstanceLock::State InstanceLock::Take() {
    // Shared with nobody: the handle of a running program refuses every other open, and the
    // system closes it when that program ends, however it ends.
    HANDLE h = CreateFileW(file_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) return State::HeldByLive;
        return Attributes(file_) == INVALID_FILE_ATTRIBUTES ? State::Unwritable : State::NotTakable;
    }
    if (!IsRegularFile(h)) {
        CloseHandle(h);
        return State::NotTakable;
    }
    WriteOwner(h);
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return State::Taken;
}

bool LeaveShowRequest(const std::filesystem::path& file) {
    const DWORD attributes = Attributes(file);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        DeleteFileW(file.c_str());
    return WriteRegularFile(file, std::string_view{}, WriteMode::CreateNew, false) ==
           WriteResult::Written;
}

bool ShowRequestWaiting(const std::filesystem::path& file) {
    const DWORD attributes = Attributes(file);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool TakeShowRequestFile(const std::filesystem::path& file) {
    return ShowRequestWaiting(file) && DeleteFileW(file.c_str());
}

} // namespace veldar
