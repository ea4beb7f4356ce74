// Port names on POSIX systems: the program names ports "COMn" as on Windows.
#pragma once

#include <string>

namespace veldar {

// "COMn" is the target of a link named COMn in linkFolder when one exists, otherwise
// /dev/ttyS(n-1). A name that starts with '/' is a path already; any other name is looked
// up in /dev.
std::string ResolvePortPath(const std::string& port, const std::string& linkFolder);

// The folder of the running executable (empty when it cannot be found).
std::string ExecutableFolder();

} // namespace veldar
