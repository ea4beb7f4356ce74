// Capture file names: the trimming of typed and received names, and the rules that keep a
// name the device sent from leaving the destination folder or naming a device.
#pragma once

#include <string>

namespace veldar {

// Without leading and trailing blanks: the space and every control character (0 to 32).
std::string TrimBlanks(const std::string& text);

// The trimmed name made safe for a file name: path separators, drive colons, control
// characters and the characters Windows refuses (* ? " < > |) become "_"; "." and ".."
// give an empty name (no name); a name Windows reserves for a device gets "_" in front.
// Ordinary names are unchanged.
std::string SafeFileName(const std::string& name);

} // namespace veldar
