// What a Windows device instance ID tells about a port, and the menu's line of a port: plain
// functions, run on every platform.
#include "port_list.h"

#include <gtest/gtest.h>

namespace veldar {
namespace {

TEST(PortInstanceId, UsbFtdiBusCompositeAndOthers) {
    struct Case {
        const char* id;
        int vendor, product;
        const char* serial;
        const char* channel;
        bool onParent;
    };
    const Case cases[] = {
        {"USB\\VID_0403&PID_6001\\A50285BI", 0x0403, 0x6001, "A50285BI", "", false},
        // Made up by Windows for a device without a serial number.
        {"USB\\VID_067B&PID_2303\\5&2C6A1B0&0&2", 0x067B, 0x2303, "", "", false},
        {"FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", 0x0403, 0x6001, "A50285BI", "A", false},
        {"FTDIBUS\\VID_0403+PID_6010+FT4ZQX1BB\\0000", 0x0403, 0x6010, "FT4ZQX1B", "B", false},
        {"USB\\VID_2341&PID_8036&MI_00\\6&3A757EAC&0&0000", 0x2341, 0x8036, "", "", true},
        {"usb\\vid_10c4&pid_ea60\\0001", 0x10C4, 0xEA60, "0001", "", false},
        {"ACPI\\PNP0501\\1", -1, -1, "", "", false},
        {"BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1&0&000000000000_0", -1,
         -1, "", "", false},
        {"", -1, -1, "", "", false},
    };
    for (const auto& c : cases) {
        InstanceIdUsb usb = ParseInstanceId(c.id);
        EXPECT_EQ(usb.vendorId, c.vendor) << c.id;
        EXPECT_EQ(usb.productId, c.product) << c.id;
        EXPECT_EQ(usb.serialNumber, c.serial) << c.id;
        EXPECT_EQ(usb.channel, c.channel) << c.id;
        EXPECT_EQ(usb.serialOnParent, c.onParent) << c.id;
    }
}

TEST(PortDisplay, NameDescriptionAndSerialAsFarAsKnown) {
    PortInfo usb;
    usb.name = "/dev/ttyUSB0";
    usb.description = "FTDI FT232R USB UART";
    usb.serialNumber = "A50285BI";
    EXPECT_EQ(PortDisplayLine(usb), "/dev/ttyUSB0 \x97 FTDI FT232R USB UART (A50285BI)");
    usb.comName = "COM3";
    EXPECT_EQ(PortDisplayLine(usb), "COM3 \x97 FTDI FT232R USB UART (A50285BI)");

    PortInfo uart;
    uart.name = "/dev/ttyS0";
    EXPECT_EQ(PortDisplayLine(uart), "/dev/ttyS0");
    uart.comName = "COM1";
    EXPECT_EQ(PortDisplayLine(uart), "COM1 \x97 /dev/ttyS0");

    PortInfo windows;
    windows.name = "COM2";
    EXPECT_EQ(PortDisplayLine(windows), "COM2");
    windows.serialNumber = "0001";
    EXPECT_EQ(PortDisplayLine(windows), "COM2 (0001)");
}

TEST(PortSort, NumbersInNamesComparedAsNumbers) {
    std::vector<PortInfo> ports(5);
    const char* names[] = {"COM10", "/dev/ttyUSB0", "COM2", "COM1", "/dev/ttyACM0"};
    for (std::size_t i = 0; i < ports.size(); ++i)
        ports[i].name = names[i];
    SortPortsByName(ports);
    std::vector<std::string> sorted;
    for (const auto& port : ports)
        sorted.push_back(port.name);
    EXPECT_EQ(sorted,
              (std::vector<std::string>{"/dev/ttyACM0", "/dev/ttyUSB0", "COM1", "COM2", "COM10"}));
}

} // namespace
} // namespace veldar
