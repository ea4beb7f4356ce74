// The present ports as sysfs shows them. A USB adapter's port:
//   class/tty/ttyUSB0 -> ../../devices/.../1-1/1-1:1.0/ttyUSB0/tty/ttyUSB0
//   class/tty/ttyUSB0/device -> ../../../ttyUSB0 (the driver's port, below the interface)
// a CDC-ACM port's device is the interface itself (.../1-2/1-2:1.0); the USB device above
// the interface holds idVendor, idProduct, manufacturer, product and serial. Virtual
// terminals have no device link; every 8250 driver registers ttyS ports whether a UART
// answers or not, and says "type" 0 for those without one.
#include "port_list.h"

#include <array>
#include <cstdlib>
#include <fstream>

namespace veldar {

namespace fs = std::filesystem;

namespace {

// Code points of the Windows-1252 bytes 0x80-0x9F; the rest of the page is Latin-1.
constexpr std::array<char32_t, 32> High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// The kernel gives USB strings as UTF-8; the program's texts are Windows-1252. What the
// page lacks, and broken UTF-8, becomes '?'.
std::string ToCp1252(const std::string& utf8) {
    std::string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        auto lead = static_cast<unsigned char>(utf8[i++]);
        std::size_t extra = lead < 0x80         ? 0
                            : (lead >> 5) == 6  ? 1
                            : (lead >> 4) == 14 ? 2
                            : (lead >> 3) == 30 ? 3
                                                : 4;
        char32_t c = extra == 0 ? lead : lead & (0x3Fu >> extra);
        bool ok = extra < 4 && i + extra <= utf8.size();
        for (std::size_t k = 0; ok && k < extra; ++k) {
            auto cont = static_cast<unsigned char>(utf8[i + k]);
            ok = (cont & 0xC0) == 0x80;
            c = (c << 6) | (cont & 0x3Fu);
        }
        if (!ok) {
            out += '?';
            continue;
        }
        i += extra;
        char byte = '?';
        if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) byte = static_cast<char>(c);
        for (std::size_t h = 0; h < High.size(); ++h)
            if (High[h] == c) byte = static_cast<char>(0x80 + h);
        out += byte;
    }
    return out;
}

// The first line of a sysfs attribute, without its line end; empty when unreadable.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

int HexAttribute(const fs::path& file) {
    std::string text = Attribute(file);
    if (text.empty()) return -1;
    char* end = nullptr;
    long n = std::strtol(text.c_str(), &end, 16);
    return (*end != '\0' || n < 0 || n > 0xFFFF) ? -1 : static_cast<int>(n);
}

// The device node's name: DEVNAME of the uevent (a driver may put it in a subfolder),
// else the entry's own.
std::string DeviceNode(const fs::path& entry, const std::string& name) {
    std::ifstream in(entry / "uevent");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("DEVNAME=", 0) == 0 && line.size() > 8) return "/dev/" + line.substr(8);
    return "/dev/" + name;
}

void ReadUsb(const fs::path& device, const fs::path& top, PortInfo& port) {
    std::error_code ec;
    std::string interfaceName;
    for (fs::path dir = device; !dir.empty() && dir != top && dir != dir.parent_path();
         dir = dir.parent_path()) {
        if (interfaceName.empty() && fs::exists(dir / "bInterfaceNumber", ec))
            interfaceName = Attribute(dir / "interface");
        if (!fs::exists(dir / "idVendor", ec)) continue;
        port.vendorId = HexAttribute(dir / "idVendor");
        port.productId = HexAttribute(dir / "idProduct");
        port.manufacturer = ToCp1252(Attribute(dir / "manufacturer"));
        port.product = ToCp1252(Attribute(dir / "product"));
        port.serialNumber = ToCp1252(Attribute(dir / "serial"));
        break;
    }
    const std::string& maker = port.manufacturer;
    const std::string& product = port.product;
    if (!maker.empty() && !product.empty() && product.rfind(maker, 0) != 0)
        port.description = maker + " " + product;
    else if (!product.empty())
        port.description = product;
    else
        port.description = ToCp1252(interfaceName);
}

// The by-id link whose target is the tty's node (udev makes them "../../ttyUSB0").
std::string ByIdLink(const fs::path& byIdRoot, const std::string& node) {
    std::error_code ec;
    std::string found;
    fs::directory_iterator it(byIdRoot, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        std::error_code linkError;
        fs::path target = fs::read_symlink(it->path(), linkError);
        if (linkError || target.filename() != fs::path(node).filename()) continue;
        // The first in name order, so that the answer does not depend on the folder's.
        if (found.empty() || it->path().string() < found) found = it->path().string();
    }
    return found;
}

} // namespace

std::vector<PortInfo> ListSerialPorts(const fs::path& sysfsRoot, const fs::path& byIdRoot) {
    std::vector<PortInfo> ports;
    std::error_code ec;
    const fs::path top = fs::weakly_canonical(sysfsRoot / "devices", ec);
    fs::directory_iterator it(sysfsRoot / "class" / "tty", ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        std::error_code deviceError;
        fs::path device = fs::canonical(entry / "device", deviceError);
        if (deviceError) continue;
        if (name.rfind("ttyS", 0) == 0 && Attribute(entry / "type") == "0") continue;
        PortInfo port;
        port.name = DeviceNode(entry, name);
        ReadUsb(device, top, port);
        port.byIdPath = ByIdLink(byIdRoot, port.name);
        ports.push_back(std::move(port));
    }
    SortPortsByName(ports);
    return ports;
}

} // namespace veldar
