// The process-wide port directory and the free functions over it, the same on every system;
// the directory itself is per system (posix/port_directory.cpp, win32/port_directory.cpp).
#include "platform/port_directory.h"

namespace orvane {

CPortDirectory& PortDirectory() {
    static CPortDirectory directory;
    return directory;
}

std::vector<std::u16string> EnumeratePortNames() {
    return PortDirectory().EnumeratePortNames();
}

std::string DevicePathForPort(int port) {
    return PortDirectory().DevicePathForPort(port);
}

int NumberForDevice(const std::string& path) {
    return PortDirectory().NumberForDevice(path);
}

} // namespace orvane
