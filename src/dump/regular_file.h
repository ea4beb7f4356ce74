// Reading and writing files that must be plain files: a capture or the settings file is never
// a FIFO (opening one could block for good), a device (reading one may never end) or, for a
// capture, a link in the file's own name (it would write outside the chosen folder). Folders
// on the way may be links. A failed write leaves no debris behind.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace veldar {

enum class WriteMode {
    CreateNew, // only a file that does not exist yet
    Replace,   // created, or emptied first
    Append,    // created, or extended at its end
};

enum class WriteResult {
    Written,
    NotOpened,   // nothing was touched: no such folder, a name that is not a regular file...
    WriteFailed, // opened, but the bytes did not all go: nothing of them is left
};

// Bytes in pieces, written one after the other as if joined.
using BytePieces = std::span<const std::string_view>;

// Writes the bytes, given in pieces written one after the other, and hands them to the system. A
// link in the file's own name is followed only with followLink. After a failed write a file this
// call created is removed again and an existing one is cut back to the length it had once opened
// (emptied when replaced).
WriteResult WriteRegularFile(const std::filesystem::path& file, BytePieces pieces, WriteMode mode,
                             bool followLink);
inline WriteResult WriteRegularFile(const std::filesystem::path& file, std::string_view bytes,
                                    WriteMode mode, bool followLink) {
    return WriteRegularFile(file, BytePieces(&bytes, 1), mode, followLink);
}

// Hands a written regular file's data to the disk (never through a link in its own name), and
// on POSIX its folder's entry too; false when either could not be done.
bool SyncRegularFile(const std::filesystem::path& file);

// The bytes of a regular file (a link to one counts) of at most maxBytes; nullopt for
// anything else, a larger file, or an input/output error. Never blocks on a FIFO.
std::optional<std::string> ReadRegularFile(const std::filesystem::path& file, std::size_t maxBytes);

} // namespace veldar
