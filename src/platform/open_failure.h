// Why a serial port could not be opened, in words a technician can act on.
#pragma once

#include <string>

namespace orvane {

// Looks at the device behind COM port `port` and explains why opening it failed: no device
// known or present, permission denied (with what to do about it), not a serial device, or in
// use by another program (naming it where the system can tell).
std::string DescribeOpenFailure(int port);

// The same for a device path; `error` is the errno of the failed open when it is known.
std::string DescribeDeviceOpenFailure(const std::string& path, int error = 0);

// What the system says about a device the user may not open.
struct PermissionFacts {
    std::string path;
    unsigned mode = 0;            // st_mode
    std::string owner;            // the owning user's name
    std::string group;            // the owning group's name
    bool groupIsRoot = false;     // gid 0: joining it is no advice to give
    bool userInGroup = false;     // the group database lists the user in it
    bool sessionHasGroup = false; // this process already has it
};

// The advice for a permission failure. The device's group is named only when it may read and
// write the device; otherwise the owner is named and a udev rule is the way.
std::string PermissionAdvice(const PermissionFacts& facts);

} // namespace orvane
