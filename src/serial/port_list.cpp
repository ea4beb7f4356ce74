#include "port_list.h"

#include <algorithm>
#include <cctype>

namespace veldar {

namespace {

// The parts of an ID between separators.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string::size_type start = 0;
    for (;;) {
        auto end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    for (std::size_t i = 0; prefix[i] != '\0'; ++i)
        if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) !=
                                    static_cast<unsigned char>(prefix[i]))
            return false;
    return true;
}

// The four hexadecimal digits after "VID_" or "PID_", -1 when they are not there.
int HexNumber(const std::string& token) {
    if (token.size() != 8) return -1;
    int n = 0;
    for (std::size_t i = 4; i < 8; ++i) {
        int c = std::toupper(static_cast<unsigned char>(token[i]));
        int digit = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
        if (digit < 0) return -1;
        n = n * 16 + digit;
    }
    return n;
}

void ReadNumbers(const std::vector<std::string>& tokens, InstanceIdUsb& usb) {
    for (const auto& token : tokens) {
        if (StartsWithNoCase(token, "VID_")) usb.vendorId = HexNumber(token);
        if (StartsWithNoCase(token, "PID_")) usb.productId = HexNumber(token);
        if (StartsWithNoCase(token, "MI_")) usb.serialOnParent = true;
    }
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

InstanceIdUsb ParseInstanceId(const std::string& instanceId) {
    InstanceIdUsb usb;
    auto parts = Split(instanceId, '\\');
    if (parts.size() < 3) return usb;
    if (StartsWithNoCase(parts[0], "FTDIBUS") && parts[0].size() == 7) {
        // The driver's own bus: numbers and serial in one part joined by '+'.
        auto tokens = Split(parts[1], '+');
        ReadNumbers(tokens, usb);
        if (tokens.size() >= 3 && tokens[2].size() > 1 &&
            tokens[2].find('&') == std::string::npos) {
            usb.serialNumber = tokens[2].substr(0, tokens[2].size() - 1);
            usb.channel = tokens[2].substr(tokens[2].size() - 1);
        }
        return usb;
    }
    if (!StartsWithNoCase(parts[0], "USB") || parts[0].size() != 3) return usb;
    ReadNumbers(Split(parts[1], '&'), usb);
    if (!usb.serialOnParent && parts[2].find('&') == std::string::npos) usb.serialNumber = parts[2];
    return usb;
}

void SortPortsByName(std::vector<PortInfo>& ports) {
    auto less = [](const std::string& a, const std::string& b) {
        std::size_t i = 0, j = 0;
        while (i < a.size() && j < b.size()) {
            if (IsDigit(a[i]) && IsDigit(b[j])) {
                std::size_t i2 = i, j2 = j;
                while (i2 < a.size() && a[i2] == '0')
                    ++i2;
                while (j2 < b.size() && b[j2] == '0')
                    ++j2;
                std::size_t ie = i2, je = j2;
                while (ie < a.size() && IsDigit(a[ie]))
                    ++ie;
                while (je < b.size() && IsDigit(b[je]))
                    ++je;
                if (ie - i2 != je - j2) return ie - i2 < je - j2;
                int c = a.compare(i2, ie - i2, b, j2, je - j2);
                if (c != 0) return c < 0;
                i = ie;
                j = je;
            } else {
                if (a[i] != b[j]) return a[i] < b[j];
                ++i;
                ++j;
            }
        }
        return a.size() - i < b.size() - j;
    };
    std::stable_sort(ports.begin(), ports.end(),
                     [&](const PortInfo& x, const PortInfo& y) { return less(x.name, y.name); });
}

std::string PortDisplayLine(const PortInfo& port) {
    std::string head = port.comName.empty() ? port.name : port.comName;
    std::string description = port.description;
    // A COM name alone would hide which device a link reaches.
    if (description.empty() && head != port.name) description = port.name;
    std::string line = head;
    if (!description.empty()) line += " \x97 " + description;
    if (!port.serialNumber.empty()) line += " (" + port.serialNumber + ")";
    return line;
}

} // namespace veldar
