// The settings file VELDAR.ini: its text form, read and written byte for byte, and the file
// itself, replaced in one step so a failed save never leaves half a file. No Qt here.
#pragma once

#include "com_types.h"
#include "save_choices.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace veldar {

struct Settings {
    int Port = 1;        // the number to open, as read (no range test)
    SaveChoices Choices; // see FormatSettings for the folder's bytes in the file
};

// The settings the file's bytes give, starting from `current`: the port starts at 1 whatever
// `current` says, the folder is kept when the file names none, and a choice already ticked
// stays ticked (reading only ticks).
Settings ParseSettings(const ByteString& fileBytes, Settings current = {});

// The lines of the file, each ended by CR LF: the port, the folder, then each tick. The
// folder's line holds, on Linux, the path's own bytes; on Windows the path in the system's
// ANSI code page when it can be written there (and does not read as UTF-8), otherwise in
// UTF-8. Read back, valid UTF-8 with bytes above 127 is UTF-8 and anything else ANSI: every
// folder round-trips, and files written in ANSI read as they always did.
ByteString FormatSettings(const std::string& portText, const SaveChoices& choices);

enum class SettingsWrite { Written, Failed };

// Writes the content to a temporary file beside the real one (its name followed by ".tmp"),
// then renames it over the old file. When that temporary file cannot be created, an existing
// file is rewritten in place instead. A link is followed: the file it points to is replaced and
// the link kept. Only a regular file is written: a FIFO, a device or a file marked read-only
// is left alone and the write fails. A regular file that cannot be read as settings (larger
// than MaxSettingsFileSize, failing reads) is first renamed to its name followed by
// ".illisible" (then ".illisible2"...); the write fails when it cannot be. On failure the
// temporary file is removed.
SettingsWrite WriteSettingsFile(const std::filesystem::path& path, const ByteString& content);

// Ten short lines need far less; a larger file is no settings file of this program.
inline constexpr std::size_t MaxSettingsFileSize = std::size_t{64} * 1024;

// The file's bytes, or nullopt when there is no file (a folder of that name counts as none).
// Throws std::runtime_error(texts::SettingsUnreadable) when the file exists but cannot be read:
// also when it is not a regular file (a FIFO, a device) or is larger than
// MaxSettingsFileSize. A link to a regular file is read.
std::optional<ByteString> ReadSettingsFile(const std::filesystem::path& path);

} // namespace veldar
