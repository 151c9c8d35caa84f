#include "platform/open_failure.h"

#include "platform/port_directory.h"
#include "platform/serial_device.h"
#include "platform/win32/text.h"

#include <windows.h>

namespace orvane {

namespace {

// "COM7" for "\\.\COM7": the name the operator knows.
std::string ShownName(const std::string& path) {
    return path.rfind("\\\\.\\", 0) == 0 ? path.substr(4) : path;
}

// Why the device at `path` cannot be opened now, asked of the system by opening it.
int ErrorOfOpening(const std::string& path) {
    const OpenResult opened = OpenSystemSerialDevice(path);
    return opened.device ? 0 : opened.error;
}

} // namespace

std::string DescribeDeviceOpenFailure(const std::string& path, int error) {
    if (path.empty())
        return "no serial device was named";
    if (error == 0)
        error = ErrorOfOpening(path);
    const std::string name = ShownName(path);
    switch (static_cast<DWORD>(error)) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME:
        return "no such device: " + name + " is not present (is the adapter plugged in?)";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        // Windows opens a port for one program at a time and does not say which one has it.
        return name + " is in use by another program (which one, Windows does not say)";
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
        return name + " is not a serial device";
    case 0:
        return name + " cannot be opened";
    default:
        return name + " cannot be opened: " + ErrorText(error);
    }
}

std::string DescribeOpenFailure(int port) {
    const std::string path = DevicePathForPort(port);
    if (path.empty())
        return "no such device: COM" + std::to_string(port) + " is no port number (1 to 255)";
    return DescribeDeviceOpenFailure(path);
}

} // namespace orvane
