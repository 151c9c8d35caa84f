// Who else has a serial device open: Windows does not say. A port is opened for one program
// at a time, so a held port is found by its open failing (access denied), but no system call
// names the program that holds it.
#include "platform/device_holder.h"

namespace orvane {

std::string DeviceHolder::Describe() const {
    return name + " (pid " + std::to_string(pid) + ")";
}

HolderCheck CheckDeviceHolder(const std::string& /*path*/) {
    return {};
}

std::optional<DeviceHolder> FindDeviceHolder(const std::string& /*path*/) {
    return std::nullopt;
}

std::vector<std::optional<DeviceHolder>> FindDeviceHolders(const std::vector<std::string>& paths) {
    return std::vector<std::optional<DeviceHolder>>(paths.size());
}

} // namespace orvane
