// Where the program keeps its own files: the settings file, the COMn links, and the
// captures that have no other folder to go to (no destination folder, rescue copies).
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace veldar {

enum class FolderLayout {
    // Beside the executable: a folder the user copies and runs the program from.
    Portable,
    // The user's configuration folder: the program lives in a system folder, shared by
    // every account of the machine.
    Installed,
};

// The layout this build was made for (the CMake option VELDAR_INSTALLED_LAYOUT).
FolderLayout BuiltLayout();

// The folder of the running executable as the system names it: on Linux the bytes of
// /proc/self/exe, whatever they are; `fallback` where the system does not tell (and on
// Windows, where the caller's wide path is exact).
std::filesystem::path ExecutableFolderOf(const std::filesystem::path& fallback);

// One environment variable; nothing when it is unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;
std::optional<std::string> ProcessEnvironment(const char* name);

// The program's folder. Portable: executableFolder. Installed: $XDG_CONFIG_HOME/veldar
// (an absolute XDG_CONFIG_HOME only), else $HOME/.config/veldar (%APPDATA%\veldar on
// Windows), created with its parents when missing; executableFolder when no home is known.
// The layout alone decides: neither the folders' rights (root may write /usr/bin) nor an
// existing settings file in either place changes the answer. A folder that cannot be
// created is still returned; writing there fails later with the program's usual message.
std::filesystem::path ProgramFolder(FolderLayout layout,
                                    const std::filesystem::path& executableFolder,
                                    const EnvironmentLookup& environment = ProcessEnvironment);

} // namespace veldar
