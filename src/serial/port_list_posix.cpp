// COM names for the listed ports on POSIX systems: the links of the program's folder, read
// as ResolvePortPath reads them, and new links for ports that no name reaches yet.
#include "port_list.h"

#include <algorithm>
#include <map>

namespace veldar {

namespace fs = std::filesystem;

namespace {

constexpr int LastComNumber = 255;

// The n of an entry named exactly "COMn" (as ResolvePortPath builds the link's name), or 0.
int ComNumber(const std::string& entry) {
    if (entry.size() < 4 || entry.size() > 9 || entry.compare(0, 3, "COM") != 0 || entry[3] == '0')
        return 0;
    int n = 0;
    for (std::size_t i = 3; i < entry.size(); ++i) {
        if (entry[i] < '0' || entry[i] > '9') return 0;
        n = n * 10 + (entry[i] - '0');
    }
    return n;
}

// The links named COMn in folder, by n.
std::map<int, fs::path> ComLinks(const fs::path& folder) {
    std::map<int, fs::path> links;
    std::error_code ec;
    fs::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        int n = ComNumber(it->path().filename().string());
        std::error_code statusError;
        if (n > 0 && fs::is_symlink(it->symlink_status(statusError))) links[n] = it->path();
    }
    return links;
}

bool SameDevice(const fs::path& a, const fs::path& b) {
    if (a.lexically_normal() == b.lexically_normal()) return true;
    std::error_code ec;
    return fs::equivalent(a, b, ec) && !ec;
}

// The k of a built-in port /dev/ttySk, which COM(k+1) names without a link; -1 for others.
int DefaultTtyNumber(const std::string& device) {
    const std::string prefix = "/dev/ttyS";
    const std::string digits = device.substr(std::min(device.size(), prefix.size()));
    if (device.rfind(prefix, 0) != 0 || digits.empty() || digits.size() > 3) return -1;
    int k = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return -1;
        k = k * 10 + (c - '0');
    }
    return std::to_string(k) == digits ? k : -1;
}

std::string LinkedName(const std::map<int, fs::path>& links, const PortInfo& port) {
    int found = 0;
    for (const auto& [n, link] : links)
        if (SameDevice(link, port.name)) {
            found = n;
            break;
        }
    int tty = DefaultTtyNumber(port.name);
    if (tty >= 0 && links.count(tty + 1) == 0 && (found == 0 || tty + 1 < found)) found = tty + 1;
    return found > 0 ? "COM" + std::to_string(found) : std::string();
}

} // namespace

std::string LinkedComName(const fs::path& folder, const PortInfo& port) {
    return LinkedName(ComLinks(folder), port);
}

void NameLinkedPorts(const fs::path& folder, std::vector<PortInfo>& ports) {
    const auto links = ComLinks(folder);
    for (auto& port : ports)
        port.comName = LinkedName(links, port);
}

std::string ComNameFor(const fs::path& folder, const std::vector<PortInfo>& listed,
                       const PortInfo& chosen, std::error_code& ec) {
    ec.clear();
    std::string name = LinkedComName(folder, chosen);
    if (!name.empty()) return name;
    const fs::path target = chosen.byIdPath.empty() ? chosen.name : chosen.byIdPath;
    for (int n = 1; n <= LastComNumber; ++n) {
        // COMn without a link is /dev/ttyS(n-1): a listed one keeps its name.
        bool taken = false;
        for (const auto& port : listed)
            taken = taken || port.name == "/dev/ttyS" + std::to_string(n - 1);
        if (taken) continue;
        const fs::path link = folder / ("COM" + std::to_string(n));
        std::error_code statusError;
        if (fs::exists(fs::symlink_status(link, statusError))) continue;
        fs::create_symlink(target, link, ec);
        // Made meanwhile by someone else: theirs, never replaced.
        if (ec == std::errc::file_exists) continue;
        if (ec) return {};
        return "COM" + std::to_string(n);
    }
    ec = std::make_error_code(std::errc::file_exists);
    return {};
}

} // namespace veldar
