#include "config_location.h"

#include <cstdlib>
#include <system_error>
#ifndef _WIN32
#include <climits>
#include <unistd.h>
#endif

namespace veldar {

FolderLayout BuiltLayout() {
#if VELDAR_INSTALLED_LAYOUT
    return FolderLayout::Installed;
#else
    return FolderLayout::Portable;
#endif
}

std::filesystem::path ExecutableFolderOf(const std::filesystem::path& fallback) {
#ifdef _WIN32
    return fallback;
#else
    // Read as bytes: a decoded name would lose those of a folder that is not UTF-8.
    char exe[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof exe) return fallback;
    return std::filesystem::path(std::string(exe, static_cast<std::size_t>(length))).parent_path();
#endif
}

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

namespace {

// The user's base folder for configuration files, empty when none is known.
std::filesystem::path UserConfigBase(const EnvironmentLookup& environment) {
    namespace fs = std::filesystem;
    auto absolute = [&](const char* name) -> fs::path {
        std::optional<std::string> value = environment(name);
        // A relative value is invalid for these variables: it would depend on the
        // working folder of whoever started the program.
        if (!value || value->empty() || !fs::path(*value).is_absolute()) return {};
        return fs::path(*value);
    };
#ifdef _WIN32
    return absolute("APPDATA");
#else
    if (fs::path xdg = absolute("XDG_CONFIG_HOME"); !xdg.empty()) return xdg;
    if (fs::path home = absolute("HOME"); !home.empty()) return home / ".config";
    return {};
#endif
}

} // namespace

std::filesystem::path ProgramFolder(FolderLayout layout,
                                    const std::filesystem::path& executableFolder,
                                    const EnvironmentLookup& environment) {
    if (layout == FolderLayout::Portable) return executableFolder;
    std::filesystem::path base = UserConfigBase(environment);
    if (base.empty()) return executableFolder;
    std::filesystem::path folder = base / "veldar";
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

} // namespace veldar
