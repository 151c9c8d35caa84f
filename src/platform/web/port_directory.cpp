// The browser page's port directory: the page has the one port the operator chose in the
// browser, number 1; there is nothing to enumerate and no numbers to keep.
#include "platform/port_directory.h"

namespace orvane {

std::vector<std::u16string> EnumeratePortNames() {
    return {};
}

std::string DevicePathForPort(int) {
    return {};
}

int NumberForDevice(const std::string&) {
    return kFirstPort;
}

} // namespace orvane
