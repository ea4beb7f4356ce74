// The Windows port list through the system's own calls. Wine's SetupAPI lists no port; its
// SERIALCOMM names the ports it maps (COM1 in CI, without descriptions): the list must still
// hold them. Under Wine the test adds names of its own there (the key is rebuilt at each
// start of Wine's server).
#include "port_list.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>
#include <vector>

namespace veldar {
namespace {

bool OnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Names the test puts into SERIALCOMM for its run, removed after.
class SerialCommNames {
public:
    SerialCommNames() {
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, nullptr,
                            REG_OPTION_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS)
            key = nullptr;
    }
    ~SerialCommNames() {
        for (const auto& value : values)
            RegDeleteValueA(key, value.c_str());
        if (key) RegCloseKey(key);
    }
    bool Add(const std::string& value, const std::string& name) {
        values.push_back(value);
        return key && RegSetValueExA(key, value.c_str(), 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(name.c_str()),
                                     static_cast<DWORD>(name.size() + 1)) == ERROR_SUCCESS;
    }

private:
    HKEY key = nullptr;
    std::vector<std::string> values;
};

const PortInfo* Find(const std::vector<PortInfo>& ports, const std::string& name) {
    for (const auto& port : ports)
        if (port.name == name) return &port;
    return nullptr;
}

TEST(PortListWin32, ListsThePortsTheSystemRegistered) {
    if (!OnWine()) {
        // Whatever this machine has: names only, no printer port.
        for (const auto& port : ListSerialPorts()) {
            EXPECT_FALSE(port.name.empty());
            EXPECT_NE(port.name.substr(0, 3), "LPT");
        }
        return;
    }
    SerialCommNames names;
    ASSERT_TRUE(names.Add("\\Device\\VeldarTest12", "COM12"));
    ASSERT_TRUE(names.Add("\\Device\\VeldarTest3", "COM3"));
    ASSERT_TRUE(names.Add("\\Device\\VeldarTestModem", "CNCA0"));
    ASSERT_TRUE(names.Add("\\Device\\VeldarTestPrinter", "LPT3"));
    const auto ports = ListSerialPorts();

    ASSERT_NE(Find(ports, "COM1"), nullptr);
    EXPECT_EQ(PortDisplayLine(*Find(ports, "COM1")), "COM1");
    ASSERT_NE(Find(ports, "COM3"), nullptr);
    EXPECT_FALSE(Find(ports, "COM3")->outsideComRange);
    ASSERT_NE(Find(ports, "CNCA0"), nullptr);
    EXPECT_TRUE(Find(ports, "CNCA0")->outsideComRange);
    EXPECT_EQ(Find(ports, "LPT3"), nullptr);
    // In the order of their numbers.
    std::size_t com3 = 0, com12 = 0;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (ports[i].name == "COM3") com3 = i;
        if (ports[i].name == "COM12") com12 = i;
    }
    EXPECT_LT(com3, com12);
}

} // namespace
} // namespace veldar
