#include "platform/port_directory.h"
#include "platform/pty.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

class PortDirectoryTest : public ::testing::Test {
protected:
    std::string File() const { return dir.filePath("ports.ini").toStdString(); }
    CPortDirectory::Scanner Devices(std::vector<std::string> list) {
        return [this, list] {
            ++scans;
            return list;
        };
    }

    QTemporaryDir dir;
    int scans = 0;
};

TEST_F(PortDirectoryTest, DevicesGetTheLowestFreeNumberAndKeepIt) {
    ASSERT_TRUE(dir.isValid());
    {
        CPortDirectory ports(File(), Devices({"/dev/ttyUSB0", "/dev/ttyACM0"}));
        EXPECT_EQ(ports.EnumeratePortNames(),
                  (std::vector<std::u16string>{u"\\\\.\\COM1", u"\\\\.\\COM2"}));
        EXPECT_EQ(ports.NumberForDevice("/dev/ttyUSB0"), 1);
        EXPECT_EQ(ports.NumberForDevice("/dev/pts/7"), 3); // a given path is numbered too
    }
    // A number that has come free is the next one given out.
    {
        QSettings store(QString::fromStdString(File()), QSettings::IniFormat);
        store.remove("Ports/COM1");
    }
    // Next run: known devices keep their numbers, whatever order they are found in; the list
    // holds only devices present now, ascending.
    CPortDirectory ports(File(), Devices({"/dev/ttyUSB1", "/dev/ttyACM0"}));
    EXPECT_EQ(ports.EnumeratePortNames(),
              (std::vector<std::u16string>{u"\\\\.\\COM1", u"\\\\.\\COM2"}));
    EXPECT_EQ(ports.DevicePathForPort(1), "/dev/ttyUSB1");
    EXPECT_EQ(ports.DevicePathForPort(2), "/dev/ttyACM0");
    EXPECT_EQ(ports.DevicePathForPort(3), "/dev/pts/7");
    EXPECT_EQ(ports.NumberForDevice("/dev/ttyUSB0"), 4);
}

TEST_F(PortDirectoryTest, UnknownOrOutOfRangeNumbersGiveNoDevice) {
    CPortDirectory ports(File(), Devices({}));
    for (const int n : {-1, 0, 5, 255, 256}) {
        EXPECT_EQ(ports.DevicePathForPort(n), "") << n;
    }
    EXPECT_EQ(ports.NumberForDevice(""), 0);
}

TEST_F(PortDirectoryTest, UnknownNumberLooksForNewDevicesOnce) {
    CPortDirectory ports(File(), Devices({"/dev/ttyUSB3"}));
    EXPECT_EQ(ports.DevicePathForPort(1), "/dev/ttyUSB3");
    EXPECT_EQ(scans, 1);
    EXPECT_EQ(ports.DevicePathForPort(1), "/dev/ttyUSB3");
    EXPECT_EQ(scans, 1); // known numbers need no scan
}

TEST_F(PortDirectoryTest, NoNumberWhenAllAreTaken) {
    CPortDirectory ports(File(), Devices({}));
    for (int n = kFirstPort; n <= kLastPort; ++n)
        ASSERT_EQ(ports.NumberForDevice("/dev/x" + std::to_string(n)), n);
    EXPECT_EQ(ports.NumberForDevice("/dev/one-too-many"), 0);
    EXPECT_EQ(ports.NumberForDevice("/dev/x200"), 200);
}

TEST(PortScanTest, ListsOnlySerialDeviceNames) {
    // Whatever this machine has, nothing but the three device families may appear, and the
    // placeholder ttyS ports of a machine without such hardware are left out.
    for (const auto& path : ScanSerialDevices()) {
        EXPECT_TRUE(path.rfind("/dev/ttyS", 0) == 0 || path.rfind("/dev/ttyUSB", 0) == 0 ||
                    path.rfind("/dev/ttyACM", 0) == 0)
            << path;
    }
}

} // namespace
} // namespace orvane
