// The present ports as Windows lists them: the ports class of SetupAPI (what the Device
// Manager shows, with names a technician recognises), then the names the serial drivers
// registered under HARDWARE\DEVICEMAP\SERIALCOMM that SetupAPI did not list (drivers
// without a device of that class; Wine has only these).
#include "port_list.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
// The class and property keys are defined here rather than taken from a library.
#include <initguid.h>
// initguid.h first.
#include <cfgmgr32.h>
#include <devguid.h>
#include <devpkey.h>
#include <setupapi.h>

#include <cwctype>

namespace veldar {

namespace {

// The program's texts are Windows-1252 whatever the system's code page.
std::string Cp1252(const std::wstring& text) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    int size = WideCharToMultiByte(1252, 0, text.data(), length, nullptr, 0, "?", nullptr);
    std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
    if (size > 0) WideCharToMultiByte(1252, 0, text.data(), length, out.data(), size, "?", nullptr);
    return out;
}

// A wide string from a buffer that may or may not end with its zero.
std::wstring FromBuffer(const std::wstring& buffer) {
    return buffer.substr(0, buffer.find(L'\0'));
}

std::wstring RegistryString(HKEY key, const wchar_t* value) {
    DWORD type = 0, bytes = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ || bytes == 0)
        return {};
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &bytes) != ERROR_SUCCESS)
        return {};
    return FromBuffer(buffer);
}

std::wstring DeviceProperty(HDEVINFO devices, SP_DEVINFO_DATA& data, DWORD property) {
    DWORD bytes = 0;
    SetupDiGetDeviceRegistryPropertyW(devices, &data, property, nullptr, nullptr, 0, &bytes);
    if (bytes == 0) return {};
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDeviceRegistryPropertyW(devices, &data, property, nullptr,
                                           reinterpret_cast<BYTE*>(buffer.data()), bytes, nullptr))
        return {};
    return FromBuffer(buffer);
}

// The USB product string as the device reported it ("FT232R USB UART"), Windows 7 on.
std::wstring BusReportedDescription(HDEVINFO devices, SP_DEVINFO_DATA& data) {
    DEVPROPTYPE type = 0;
    DWORD bytes = 0;
    SetupDiGetDevicePropertyW(devices, &data, &DEVPKEY_Device_BusReportedDeviceDesc, &type, nullptr,
                              0, &bytes, 0);
    if (bytes == 0) return {};
    std::wstring buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    if (!SetupDiGetDevicePropertyW(devices, &data, &DEVPKEY_Device_BusReportedDeviceDesc, &type,
                                   reinterpret_cast<BYTE*>(buffer.data()), bytes, nullptr, 0) ||
        type != DEVPROP_TYPE_STRING)
        return {};
    return FromBuffer(buffer);
}

std::wstring InstanceId(HDEVINFO devices, SP_DEVINFO_DATA& data) {
    DWORD size = 0;
    SetupDiGetDeviceInstanceIdW(devices, &data, nullptr, 0, &size);
    if (size == 0) return {};
    std::wstring buffer(size + 1, L'\0');
    if (!SetupDiGetDeviceInstanceIdW(devices, &data, buffer.data(), size, nullptr)) return {};
    return FromBuffer(buffer);
}

std::wstring ParentInstanceId(DEVINST device) {
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS) return {};
    std::wstring buffer(MAX_DEVICE_ID_LEN + 1, L'\0');
    if (CM_Get_Device_IDW(parent, buffer.data(), MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS) return {};
    return FromBuffer(buffer);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if ((a[i] & ~0x20) != (b[i] & ~0x20)) return false;
    return true;
}

bool IsPrinterPort(const std::wstring& name) {
    return name.size() >= 3 && std::towupper(name[0]) == L'L' && std::towupper(name[1]) == L'P' &&
           std::towupper(name[2]) == L'T';
}

// COM1-COM255, the names the port commands take.
bool InComRange(const std::string& name) {
    if (name.size() < 4 || name.size() > 6 || !SameName(name.substr(0, 3), "COM") || name[3] == '0')
        return false;
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        n = n * 10 + (name[i] - '0');
    }
    return n <= 255;
}

// "USB Serial Port (COM3)" without the name the line shows first.
std::string WithoutPortName(const std::string& friendly, const std::string& name) {
    const std::string suffix = " (" + name + ")";
    if (friendly.size() > suffix.size() &&
        SameName(friendly.substr(friendly.size() - suffix.size()), suffix))
        return friendly.substr(0, friendly.size() - suffix.size());
    return friendly;
}

bool Listed(const std::vector<PortInfo>& ports, const std::string& name) {
    for (const auto& port : ports)
        if (SameName(port.name, name)) return true;
    return false;
}

void AddSetupApiPorts(std::vector<PortInfo>& ports) {
    HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) return;
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &data); ++i) {
        HKEY key = SetupDiOpenDevRegKey(devices, &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE) continue;
        const std::wstring portName = RegistryString(key, L"PortName");
        RegCloseKey(key);
        if (portName.empty() || IsPrinterPort(portName)) continue;
        PortInfo port;
        port.name = Cp1252(portName);
        if (Listed(ports, port.name)) continue;
        port.description =
            WithoutPortName(Cp1252(DeviceProperty(devices, data, SPDRP_FRIENDLYNAME)), port.name);
        port.manufacturer = Cp1252(DeviceProperty(devices, data, SPDRP_MFG));
        port.product = Cp1252(BusReportedDescription(devices, data));
        InstanceIdUsb usb = ParseInstanceId(Cp1252(InstanceId(devices, data)));
        if (usb.serialOnParent)
            usb.serialNumber = ParseInstanceId(Cp1252(ParentInstanceId(data.DevInst))).serialNumber;
        port.vendorId = usb.vendorId;
        port.productId = usb.productId;
        port.serialNumber = usb.serialNumber;
        port.outsideComRange = !InComRange(port.name);
        ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(devices);
}

void AddSerialCommPorts(std::vector<PortInfo>& ports) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return;
    for (DWORD i = 0;; ++i) {
        // The longest value name the registry allows.
        std::wstring valueName(16384, L'\0');
        DWORD nameLength = 16384, type = 0, bytes = 0;
        LONG status =
            RegEnumValueW(key, i, valueName.data(), &nameLength, nullptr, &type, nullptr, &bytes);
        if (status == ERROR_NO_MORE_ITEMS) break;
        if (status != ERROR_SUCCESS || type != REG_SZ) continue;
        const std::wstring portName = RegistryString(key, valueName.c_str());
        if (portName.empty() || IsPrinterPort(portName)) continue;
        PortInfo port;
        port.name = Cp1252(portName);
        if (Listed(ports, port.name)) continue;
        port.outsideComRange = !InComRange(port.name);
        ports.push_back(std::move(port));
    }
    RegCloseKey(key);
}

} // namespace

std::vector<PortInfo> ListSerialPorts() {
    std::vector<PortInfo> ports;
    AddSetupApiPorts(ports);
    AddSerialCommPorts(ports);
    SortPortsByName(ports);
    return ports;
}

} // namespace veldar
