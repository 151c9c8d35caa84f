// Why a serial port could not be opened, in words a technician can act on.
#pragma once

#include <string>

namespace orvane {

// Looks at the device behind COM port `port` again and explains why opening it failed: no
// device known or present, permission denied (with the group to join), or in use by another
// program (naming it where the system can tell).
std::string DescribeOpenFailure(int port);

// The same for a device path.
std::string DescribeDeviceOpenFailure(const std::string& path);

} // namespace orvane
