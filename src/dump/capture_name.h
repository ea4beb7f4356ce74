// Capture file names: the trimming of typed and received names, and the rules that keep a
// name the device sent from leaving the destination folder or naming a device.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace veldar {

// Without leading and trailing blanks: the space and every control character (0 to 32).
std::string TrimBlanks(const std::string& text);

// The trimmed name made safe for a file name: path separators, drive colons, control
// characters and the characters Windows refuses (* ? " < > |) become "_"; "." and ".."
// give an empty name (no name); a name Windows reserves for a device gets "_" in front.
// Ordinary names are unchanged.
std::string SafeFileName(const std::string& name);

// The longest name, in bytes of UTF-8, that Linux folders take. Windows counts 255 UTF-16
// units, never fewer than the UTF-8 bytes of the same name: a name within this bound also
// fits there, and on a share that a Linux server provides.
inline constexpr std::size_t MaxFileNameLength = 255;

// The Windows-1252 name cut from its end, a character at a time, until the name followed by
// the suffix takes at most MaxFileNameLength bytes of UTF-8.
std::string FittedFileName(const std::string& name, std::string_view suffix);

} // namespace veldar
