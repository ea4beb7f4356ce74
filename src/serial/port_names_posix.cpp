#include "port_names.h"

#include <climits>
#include <filesystem>
#include <system_error>

namespace veldar {

namespace {

// The number of "COMn" (any letter case), or -1 when the name has another form.
long ComNumber(const std::string& port) {
    if (port.size() < 4) return -1;
    for (std::size_t i = 0; i < 3; ++i)
        if ((port[i] & ~0x20) != "COM"[i]) return -1;
    long n = 0;
    for (std::size_t i = 3; i < port.size(); ++i) {
        if (port[i] < '0' || port[i] > '9' || n > 1000000) return -1;
        n = n * 10 + (port[i] - '0');
    }
    return n;
}

} // namespace

std::string ResolvePortPath(const std::string& port, const std::string& linkFolder) {
    if (!port.empty() && port.front() == '/') return port;
    long n = ComNumber(port);
    if (n < 0) return "/dev/" + port;
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path link = fs::path(linkFolder) / ("COM" + std::to_string(n));
    if (!linkFolder.empty() && fs::is_symlink(fs::symlink_status(link, ec))) return link.string();
    return "/dev/ttyS" + std::to_string(n - 1);
}

std::string ExecutableFolder() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

} // namespace veldar
