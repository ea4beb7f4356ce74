// The program's texts are Windows-1252 bytes, as the device and the settings file have
// them; they become Unicode only where they meet the user interface or the file system.
#pragma once

#include <string>

namespace veldar {

// Windows-1252 bytes to UTF-8. The five bytes the code page leaves undefined map to the
// C1 control characters of the same value, so nothing is lost.
std::string Cp1252ToUtf8(const std::string& bytes);

// UTF-8 to Windows-1252; characters the code page lacks (and broken UTF-8) become '?'.
std::string Utf8ToCp1252(const std::string& utf8);

} // namespace veldar
