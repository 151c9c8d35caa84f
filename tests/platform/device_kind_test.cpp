// Which devices count as the simulated receiver's line: only a pseudo-terminal's slave side.
#include "platform/device_kind.h"
#include "platform/pty.h"
#include "platform/serial_device.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace orvane {
namespace {

TEST(DeviceKind, OnlyAPseudoTerminalSlaveIsOne) {
    PtyPair pty = OpenPtyPair();
    ASSERT_TRUE(pty.IsOpen());
    auto opened = OpenSystemSerialDevice(pty.SlavePath());
    ASSERT_EQ(opened.error, 0);
    EXPECT_TRUE(opened.device->IsPseudoTerminal());
    // The master side, a character device that is no terminal, and a plain file are not.
    EXPECT_FALSE(IsPseudoTerminalSlave(pty.MasterFd()));
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(null, 0);
    EXPECT_FALSE(IsPseudoTerminalSlave(null));
    ::close(null);
    const int file = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(file, 0);
    EXPECT_FALSE(IsPseudoTerminalSlave(file));
    ::close(file);
    EXPECT_FALSE(IsPseudoTerminalSlave(-1));
}

} // namespace
} // namespace orvane
