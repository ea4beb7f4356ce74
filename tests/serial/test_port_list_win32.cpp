// The Windows port list through the system's own calls. Wine's SetupAPI lists no port, and
// its SERIALCOMM names COM1 and COM2 (without descriptions): the list must still hold them.
#include "port_list.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace veldar {
namespace {

bool OnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(PortListWin32, ListsThePortsTheSystemRegistered) {
    const auto ports = ListSerialPorts();
    for (const auto& port : ports) {
        EXPECT_FALSE(port.name.empty());
        EXPECT_NE(port.name.substr(0, 3), "LPT");
    }
    if (!OnWine()) return;
    ASSERT_GE(ports.size(), 2u);
    EXPECT_EQ(ports[0].name, "COM1");
    EXPECT_EQ(ports[1].name, "COM2");
    EXPECT_FALSE(ports[0].outsideComRange);
    EXPECT_EQ(PortDisplayLine(ports[1]), "COM2");
}

} // namespace
} // namespace veldar
