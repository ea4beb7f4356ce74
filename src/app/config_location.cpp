#include "config_location.h"

#include <cstdlib>
#include <system_error>

namespace veldar {

FolderLayout BuiltLayout() {
#if VELDAR_INSTALLED_LAYOUT
    return FolderLayout::Installed;
#else
    return FolderLayout::Portable;
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
