// The port list on Linux against sysfs trees laid out as the kernel lays them out, and the
// COM names given to listed ports through links in the program's folder.
#include "port_list.h"

#include "port_names.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace veldar {
namespace {

namespace fs = std::filesystem;

class PortListSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("veldar-ports-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
        fs::create_directories(root);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    static void Write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text << "\n";
    }

    // A tty of class/tty: its folder below its device's, the class link and the device
    // link as the kernel makes them; a virtual terminal has no device link.
    void AddTty(const std::string& name, const std::string& device, bool virtualTerminal = false) {
        const fs::path sys = root / "sys";
        const std::string own = device + "/tty/" + name;
        fs::create_directories(sys / own);
        Write(sys / own / "uevent", "MAJOR=4\nMINOR=64\nDEVNAME=" + name);
        fs::create_directories(sys / "class" / "tty");
        fs::create_symlink("../../" + own, sys / "class" / "tty" / name);
        if (!virtualTerminal)
            fs::create_symlink("../../../" + fs::path(device).filename().string(),
                               sys / own / "device");
    }

    // A USB device's attributes; an empty text is an attribute the device does not have.
    void AddUsbDevice(const std::string& path, const std::string& vendor,
                      const std::string& product, const std::string& maker,
                      const std::string& productName, const std::string& serial) {
        const fs::path dir = root / "sys" / path;
        Write(dir / "idVendor", vendor);
        Write(dir / "idProduct", product);
        if (!maker.empty()) Write(dir / "manufacturer", maker);
        if (!productName.empty()) Write(dir / "product", productName);
        if (!serial.empty()) Write(dir / "serial", serial);
    }

    fs::path root;
    static inline int counter = 0;
};

const std::string Hub = "devices/pci0000:00/0000:00:14.0/usb1";

TEST_F(PortListSysfs, SysfsUsbAdaptersAcmAndBuiltInUarts) {
    // The root hub has numbers and a serial of its own, which no port below it may take.
    AddUsbDevice(Hub, "1d6b", "0002", "Linux 6.1.0 xhci-hcd", "xHCI Host Controller",
                 "0000:00:14.0");
    // FTDI adapter: the usb-serial port folder between the interface and the tty.
    AddUsbDevice(Hub + "/1-1", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
    Write(root / "sys" / Hub / "1-1/1-1:1.0/bInterfaceNumber", "00");
    AddTty("ttyUSB0", Hub + "/1-1/1-1:1.0/ttyUSB0");
    // An adapter without serial number, whose maker is not plain ASCII.
    AddUsbDevice(Hub + "/1-3", "067b", "2303", "\xC3\x89lectronique Dupont",
                 "USB-Serial Controller", "");
    Write(root / "sys" / Hub / "1-3/1-3:1.0/bInterfaceNumber", "00");
    AddTty("ttyUSB1", Hub + "/1-3/1-3:1.0/ttyUSB1");
    // CDC-ACM: the tty's device is the interface itself.
    AddUsbDevice(Hub + "/1-2", "0483", "5740", "STMicroelectronics", "STM32 Virtual ComPort",
                 "6D8E3C5A5057");
    Write(root / "sys" / Hub / "1-2/1-2:1.0/bInterfaceNumber", "00");
    AddTty("ttyACM0", Hub + "/1-2/1-2:1.0");
    // Built-in UARTs: one that answers (16550A), one that the driver registered without a
    // chip (type 0); a virtual terminal without device.
    AddTty("ttyS0", "devices/pnp0/00:00/00:00:0/00:00:0.0");
    Write(root / "sys/devices/pnp0/00:00/00:00:0/00:00:0.0/tty/ttyS0/type", "4");
    AddTty("ttyS1", "devices/platform/serial8250/serial8250:0/serial8250:0.1");
    Write(root / "sys/devices/platform/serial8250/serial8250:0/serial8250:0.1/tty/ttyS1/type", "0");
    AddTty("tty0", "devices/virtual", true);
    fs::create_directories(root / "by-id");
    fs::create_symlink("../../ttyUSB0",
                       root / "by-id" / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    fs::create_symlink("../../ttyACM0",
                       root / "by-id" /
                           "usb-STMicroelectronics_STM32_Virtual_ComPort_6D8E3C5A5057-if00");

    auto ports = ListSerialPorts(root / "sys", root / "by-id");
    ASSERT_EQ(ports.size(), 4u);
    const PortInfo& acm = ports[0];
    EXPECT_EQ(acm.name, "/dev/ttyACM0");
    EXPECT_EQ(acm.vendorId, 0x0483);
    EXPECT_EQ(acm.productId, 0x5740);
    EXPECT_EQ(acm.description, "STMicroelectronics STM32 Virtual ComPort");
    EXPECT_EQ(acm.serialNumber, "6D8E3C5A5057");
    EXPECT_EQ(
        acm.byIdPath,
        (root / "by-id/usb-STMicroelectronics_STM32_Virtual_ComPort_6D8E3C5A5057-if00").string());

    const PortInfo& uart = ports[1];
    EXPECT_EQ(uart.name, "/dev/ttyS0");
    EXPECT_EQ(uart.vendorId, -1);
    EXPECT_EQ(uart.description, "");
    EXPECT_EQ(uart.byIdPath, "");

    const PortInfo& ftdi = ports[2];
    EXPECT_EQ(ftdi.name, "/dev/ttyUSB0");
    EXPECT_EQ(ftdi.vendorId, 0x0403);
    EXPECT_EQ(ftdi.productId, 0x6001);
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.product, "FT232R USB UART");
    EXPECT_EQ(ftdi.serialNumber, "A50285BI");
    EXPECT_EQ(ftdi.byIdPath,
              (root / "by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0").string());
    EXPECT_EQ(PortDisplayLine(ftdi), "/dev/ttyUSB0 \x97 FTDI FT232R USB UART (A50285BI)");

    const PortInfo& noSerial = ports[3];
    EXPECT_EQ(noSerial.name, "/dev/ttyUSB1");
    EXPECT_EQ(noSerial.vendorId, 0x067B);
    EXPECT_EQ(noSerial.serialNumber, "");
    EXPECT_EQ(noSerial.description, "\xC9lectronique Dupont USB-Serial Controller");
    EXPECT_EQ(noSerial.byIdPath, "");
}

TEST_F(PortListSysfs, SysfsWithoutTtyClassListsNothing) {
    EXPECT_TRUE(ListSerialPorts(root / "none", root / "none").empty());
}

// The listed ports of the link tests: an adapter with a by-id link, a CDC-ACM device without
// one, and the built-in /dev/ttyS0 (which COM1 names without a link).
class PortComLinks : public PortListSysfs {
protected:
    void SetUp() override {
        PortListSysfs::SetUp();
        folder = root / "program";
        fs::create_directories(folder);
        Write(root / "dev" / "ttyUSB0", "");
        Write(root / "dev" / "ttyACM0", "");
        fs::create_directories(root / "by-id");
        fs::create_symlink("../dev/ttyUSB0", root / "by-id" / "usb-FTDI_A50285BI-if00-port0");
        usb.name = (root / "dev" / "ttyUSB0").string();
        usb.byIdPath = (root / "by-id" / "usb-FTDI_A50285BI-if00-port0").string();
        acm.name = (root / "dev" / "ttyACM0").string();
        uart.name = "/dev/ttyS0";
        listed = {acm, uart, usb};
    }

    fs::path folder;
    PortInfo usb, acm, uart;
    std::vector<PortInfo> listed;
};

TEST_F(PortComLinks, GivenToTheByIdLinkThenReused) {
    std::error_code ec;
    EXPECT_EQ(ComNameFor(folder, listed, usb, ec), "COM2");
    EXPECT_FALSE(ec);
    EXPECT_EQ(fs::read_symlink(folder / "COM2"), usb.byIdPath);
    // The port object reaches the adapter under that name.
    EXPECT_TRUE(fs::equivalent(ResolvePortPath("COM2", folder.string()), usb.name));

    EXPECT_EQ(ComNameFor(folder, listed, usb, ec), "COM2");
    EXPECT_EQ(ComNameFor(folder, listed, uart, ec), "COM1");
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder / "COM1")));
    // Without a by-id link: the device itself.
    EXPECT_EQ(ComNameFor(folder, listed, acm, ec), "COM3");
    EXPECT_EQ(fs::read_symlink(folder / "COM3"), acm.name);

    NameLinkedPorts(folder, listed);
    EXPECT_EQ(listed[0].comName, "COM3");
    EXPECT_EQ(listed[1].comName, "COM1");
    EXPECT_EQ(listed[2].comName, "COM2");
}

TEST_F(PortComLinks, UsersEntriesKeptAndTheirLinksUsed) {
    // A link to an adapter that is away, a folder, a file, and the user's own name for the
    // CDC-ACM device through its device path.
    fs::create_symlink("/dev/ttyUSB7", folder / "COM2");
    fs::create_directories(folder / "COM3");
    Write(folder / "COM4", "");
    fs::create_symlink(acm.name, folder / "COM7");

    EXPECT_EQ(LinkedComName(folder, acm), "COM7");
    EXPECT_EQ(LinkedComName(folder, usb), "");
    std::error_code ec;
    EXPECT_EQ(ComNameFor(folder, listed, acm, ec), "COM7");
    EXPECT_EQ(ComNameFor(folder, listed, usb, ec), "COM5");
    EXPECT_EQ(fs::read_symlink(folder / "COM2"), "/dev/ttyUSB7");
    EXPECT_TRUE(fs::is_directory(fs::symlink_status(folder / "COM3")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder / "COM4")));
    EXPECT_EQ(fs::read_symlink(folder / "COM7"), acm.name);

    // A user's link named COM1 moves the built-in UART's default name away.
    fs::create_symlink(usb.byIdPath, folder / "COM1");
    EXPECT_EQ(LinkedComName(folder, uart), "");
    EXPECT_EQ(LinkedComName(folder, usb), "COM1");
}

TEST_F(PortComLinks, NoLinkWhereTheFolderIsAFile) {
    Write(root / "file", "");
    std::error_code ec;
    EXPECT_EQ(ComNameFor(root / "file", listed, usb, ec), "");
    EXPECT_TRUE(ec);
}

} // namespace
} // namespace veldar
