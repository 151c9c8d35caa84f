// The serial ports of a Windows machine: the COM names the serial drivers have registered
// under HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, with what SetupAPI knows of each (the friendly
// name, the maker, and for USB adapters the vendor, product, serial number and interface).
#include "platform/serial_ports.h"
#include "platform/win32/text.h"

#include <windows.h>

#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <vector>

namespace orvane {

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

// "COM3" -> true; also accepts "\\.\COM3".
bool IsComName(std::string_view name) {
    if (name.substr(0, 4) == "\\\\.\\")
        name.remove_prefix(4);
    if (name.size() < 4 || Upper(std::string(name.substr(0, 3))) != "COM")
        return false;
    return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The text values of HKLM\HARDWARE\DEVICEMAP\SERIALCOMM: driver's device name -> "COM3".
std::map<std::string, std::string> SerialComm() {
    std::map<std::string, std::string> ports;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ,
                        &key) != ERROR_SUCCESS)
        return ports;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[64];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, i, name, &nameLength, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const std::size_t chars = dataBytes / sizeof(wchar_t);
        std::wstring port(data, std::min<std::size_t>(chars, 64));
        port.resize(std::wcslen(port.c_str()));
        ports[win32::Utf8(std::wstring_view(name, nameLength))] = win32::Utf8(port);
    }
    ::RegCloseKey(key);
    return ports;
}

std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
    wchar_t buffer[512] = {};
    DWORD type = 0;
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &device, property, &type,
                                             reinterpret_cast<BYTE*>(buffer), sizeof buffer - 2,
                                             nullptr))
        return {};
    return win32::Utf8(buffer); // the first string of a multi-string
}

// "VID_0403" -> "0403" from an id such as "USB\VID_0403&PID_6001&MI_00\A10K5XYZ".
std::string Field(const std::string& id, const std::string& name, std::size_t length) {
    const std::size_t at = Upper(id).find(name + "_");
    if (at == std::string::npos || at + name.size() + 1 + length > id.size())
        return {};
    return Upper(id.substr(at + name.size() + 1, length));
}

// What SetupAPI knows of the ports' devices, by COM name.
std::map<std::string, TtyNode> PortDevices() {
    std::map<std::string, TtyNode> found;
    HDEVINFO set = ::SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set == INVALID_HANDLE_VALUE)
        return found;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
        HKEY key = ::SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        wchar_t portName[64] = {};
        DWORD bytes = sizeof portName - 2;
        DWORD type = 0;
        const LONG rc = ::RegQueryValueExW(key, L"PortName", nullptr, &type,
                                           reinterpret_cast<BYTE*>(portName), &bytes);
        ::RegCloseKey(key);
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        const std::string name = win32::Utf8(portName);
        if (!IsComName(name))
            continue; // a printer port (LPT1) or the like
        TtyNode node;
        node.product = Property(set, device, SPDRP_FRIENDLYNAME);
        node.manufacturer = Property(set, device, SPDRP_MFG);
        const std::string hardwareId = Property(set, device, SPDRP_HARDWAREID);
        node.vendorId = Field(hardwareId, "VID", 4);
        node.productId = Field(hardwareId, "PID", 4);
        node.interfaceNumber = Field(hardwareId, "MI", 2);
        // A USB device with a serial number of its own has it as the last part of its
        // instance id ("USB\VID_0403&PID_6001\A10K5XYZ"); without one the system makes up a
        // part with '&' in it, which is no identity.
        wchar_t instance[512] = {};
        if (::SetupDiGetDeviceInstanceIdW(set, &device, instance, 511, nullptr)) {
            const std::string id = win32::Utf8(instance);
            const std::size_t slash = id.rfind('\\');
            if (!node.vendorId.empty() && slash != std::string::npos &&
                id.find('&', slash) == std::string::npos)
                node.serial = id.substr(slash + 1);
        }
        found[Upper(name)] = std::move(node);
    }
    ::SetupDiDestroyDeviceInfoList(set);
    return found;
}

} // namespace

TtyTree ReadTtyTree() {
    TtyTree tree;
    std::map<std::string, TtyNode> devices = PortDevices();
    for (const auto& [driverName, port] : SerialComm()) {
        if (!IsComName(port))
            continue;
        TtyNode node;
        if (auto it = devices.find(Upper(port)); it != devices.end())
            node = it->second;
        node.name = Upper(port);
        node.devnode = "\\\\.\\" + node.name;
        node.hasDevice = true;
        node.driver = driverName; // "\Device\Serial0", "\Device\VCP0"
        tree.nodes.push_back(std::move(node));
    }
    return tree; // Windows has no serial console to keep out
}

bool IsTerminalDevice(const std::string& path) {
    return IsComName(path);
}

// COM ports have no device numbers, and the console is no COM port.
std::string DeviceNumber(const std::string& /*path*/) {
    return {};
}

std::string ResolvedPath(const std::string& path) {
    return path; // COM names lead to no other name
}

} // namespace orvane
