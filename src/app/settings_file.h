// The settings file VELDAR.ini: its text form, read and written byte for byte, and the file
// itself, replaced in one step so a failed save never leaves half a file. No Qt here.
#pragma once

#include "com_types.h"

#include <filesystem>
#include <optional>
#include <string>

namespace veldar {

struct Settings {
    int Port = 1;              // the number to open, as read (no range test)
    ByteString DestPath;       // Windows-1252
    bool ViewFile = false;     // [VOIR_DONNEES]
    bool AutoFileName = false; // [NOM_FIC_AUTO]
    bool Overwrite = false;    // [ECRASER_FICHIER]
};

// The settings the file's bytes give, starting from `current`: the port starts at 1 whatever
// `current` says, the folder is kept when the file names none, and an option already ticked
// stays ticked (reading only ticks).
Settings ParseSettings(const ByteString& fileBytes, Settings current = {});

// The ten lines of the file, each ended by CR LF.
ByteString FormatSettings(const std::string& portText, const ByteString& destPath, bool viewFile,
                          bool autoFileName, bool overwrite);

enum class SettingsWrite { Written, Failed };

// Writes the content to a temporary file beside the real one (its name followed by ".tmp"),
// then renames it over the old file. When that temporary file cannot be created, an existing
// file is rewritten in place instead. A link is followed: the file it points to is replaced and
// the link kept; a device (not a regular file) is written to directly. A file marked read-only
// is left alone. On failure the temporary file is removed.
SettingsWrite WriteSettingsFile(const std::filesystem::path& path, const ByteString& content);

inline constexpr char SettingsUnreadable[] = "Impossible de lire le fichier de param\xE8tres";

// The file's bytes, or nullopt when there is no file (a folder of that name counts as none).
// Throws std::runtime_error(SettingsUnreadable) when the file exists but cannot be read.
std::optional<ByteString> ReadSettingsFile(const std::filesystem::path& path);

} // namespace veldar
