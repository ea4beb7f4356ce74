#include "regular_file.h"

#include <algorithm>

#include <windows.h>

namespace veldar {

namespace {

// A file on a disk, not a folder, a device or (opened without following) a link.
bool IsRegularFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    return GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

bool CutTo(HANDLE file, LONGLONG length) {
    LARGE_INTEGER at{};
    at.QuadPart = length;
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool WriteAll(HANDLE file, BytePieces pieces) {
    return std::all_of(pieces.begin(), pieces.end(),
                       [&](std::string_view piece) { return WriteAll(file, piece); });
}

} // namespace

WriteResult WriteRegularFile(const std::filesystem::path& file, BytePieces pieces, WriteMode mode,
                             bool followLink) {
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, flags,
                           nullptr);
    const bool created = h != INVALID_HANDLE_VALUE;
    if (!created && GetLastError() == ERROR_FILE_EXISTS && mode != WriteMode::CreateNew)
        h = CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags,
                        nullptr);
    if (h == INVALID_HANDLE_VALUE) return WriteResult::NotOpened;
    LARGE_INTEGER size{};
    if (!IsRegularFile(h) || !GetFileSizeEx(h, &size)) {
        CloseHandle(h);
        if (created) DeleteFileW(file.c_str());
        return WriteResult::NotOpened;
    }
    const LONGLONG keep = mode == WriteMode::Append ? size.QuadPart : 0;
    bool ok = CutTo(h, keep) && WriteAll(h, pieces);
    // A full disk may leave part of the bytes written: the file goes back to what it was.
    if (!ok && !created) CutTo(h, keep);
    ok = CloseHandle(h) && ok;
    if (!ok && created) DeleteFileW(file.c_str());
    return ok ? WriteResult::Written : WriteResult::WriteFailed;
}

bool SyncRegularFile(const std::filesystem::path& file) {
    HANDLE h =
        CreateFileW(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    // NTFS keeps the folder's entry with the file: no folder to flush.
    bool ok = IsRegularFile(h) && FlushFileBuffers(h);
    CloseHandle(h);
    return ok;
}

std::optional<std::string> ReadRegularFile(const std::filesystem::path& file,
                                           std::size_t maxBytes) {
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return std::nullopt;
    std::optional<std::string> bytes;
    LARGE_INTEGER size{};
    if (IsRegularFile(h) && GetFileSizeEx(h, &size) &&
        static_cast<unsigned long long>(size.QuadPart) <= maxBytes) {
        // One byte more than allowed tells a file that grew meanwhile.
        std::string text(maxBytes + 1, '\0');
        std::size_t got = 0;
        DWORD n = 0;
        bool failed = false;
        while (got < text.size()) {
            if (!ReadFile(h, text.data() + got, static_cast<DWORD>(text.size() - got), &n,
                          nullptr)) {
                failed = true;
                break;
            }
            if (n == 0) break;
            got += n;
        }
        if (!failed && got <= maxBytes) {
            text.resize(got);
            bytes = std::move(text);
        }
    }
    CloseHandle(h);
    return bytes;
}

} // namespace veldar
