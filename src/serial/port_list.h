// The serial ports present on this computer, so that a port can be chosen by what is
// plugged in rather than by a number found elsewhere.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace veldar {

// One present port. Texts are Windows-1252 bytes, empty where the platform does not tell.
struct PortInfo {
    // What the port object opens: "COM3" on Windows, "/dev/ttyUSB0" on Linux.
    std::string name;
    // Windows: the friendly name without its " (COMn)"; Linux: maker and product, or the
    // USB interface's own name.
    std::string description;
    // USB numbers, -1 for a port that is no USB device or whose numbers are unknown.
    int vendorId = -1;
    int productId = -1;
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    // Windows: a name other than COM1-COM255 (a modem's, a virtual driver's), which the
    // port commands are not made for: the menu shows it greyed.
    bool outsideComRange = false;
    // Linux: the /dev/serial/by-id link that leads to the port, which keeps its name
    // wherever the adapter is plugged in.
    std::string byIdPath;
    // Linux: the COMn name that already leads to the port (NameLinkedPorts).
    std::string comName;
};

// Every present serial port, sorted by name (numbers in the name compared as numbers).
// Windows: the ports class of SetupAPI, then the names of HARDWARE\DEVICEMAP\SERIALCOMM
// that it did not list; LPTn skipped. Linux: sysfsRoot/class/tty entries with a device,
// built-in UARTs of unknown type (ttyS with type 0) skipped, the USB numbers and texts from
// the USB device above the port, byIdPath from the links of byIdRoot.
#ifdef _WIN32
std::vector<PortInfo> ListSerialPorts();
#else
std::vector<PortInfo> ListSerialPorts(const std::filesystem::path& sysfsRoot = "/sys",
                                      const std::filesystem::path& byIdRoot = "/dev/serial/by-id");
#endif

// Sorts by name, the numbers within names compared as numbers (COM2 before COM10).
void SortPortsByName(std::vector<PortInfo>& ports);

// The menu's line for a port: "COM3 \x97 FTDI FT232R USB UART (A50285BI)" (0x97 is the
// Windows-1252 dash), shortened to what is known: "COM1", "/dev/ttyS0", "COM1 \x97
// /dev/ttyS0" (Linux, a COM name and nothing else).
std::string PortDisplayLine(const PortInfo& port);

// What a Windows device instance ID tells about a USB port.
struct InstanceIdUsb {
    int vendorId = -1;
    int productId = -1;
    std::string serialNumber;
    // FTDI's own driver: the letter of the chip's channel it appends to the serial.
    std::string channel;
    // A function of a composite device (MI_nn): the serial is in the parent's ID.
    bool serialOnParent = false;
};

// "USB\VID_0403&PID_6001\A50285BI": numbers and serial; a last part holding '&' was made
// up by Windows and is no serial. "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000": serial plus
// channel letter. "USB\VID_2341&PID_8036&MI_00\6&3A757EAC&0&0000": serialOnParent.
// Other IDs (ACPI\PNP0501\1) give nothing.
InstanceIdUsb ParseInstanceId(const std::string& instanceId);

#ifndef _WIN32
// The COMn name through which a port name reaches the port, as ResolvePortPath reads it:
// a link named COMn in folder whose target is the same device, or the default
// /dev/ttyS(n-1) where folder holds no link COMn. The lowest n wins; empty when none.
std::string LinkedComName(const std::filesystem::path& folder, const PortInfo& port);

// Sets the comName of every listed port.
void NameLinkedPorts(const std::filesystem::path& folder, std::vector<PortInfo>& ports);

// The COMn name for the chosen port: the one that already leads to it, or a new link COMn
// in folder for the lowest n (1-255) that has no COMn entry and whose /dev/ttyS(n-1) is no
// listed port, to the port's by-id link when it has one (the name then follows the
// adapter), else to its device. Never changes or removes an entry of folder. Empty, with
// ec set, when no link could be made.
std::string ComNameFor(const std::filesystem::path& folder, const std::vector<PortInfo>& listed,
                       const PortInfo& chosen, std::error_code& ec);
#endif

} // namespace veldar
