#include "platform/open_failure.h"
#include "platform/port_directory.h"
#include "platform/serial_device.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

namespace orvane {
namespace {

TEST(OpenFailureWin32, MissingPortsAndOtherDevicesAreToldApart) {
    char folder[MAX_PATH] = {};
    ASSERT_GT(::GetTempPathA(MAX_PATH, folder), 0u);
    const std::string file = std::string(folder) + "orvane-not-a-port.txt";
    std::ofstream(file) << "x";
    struct Case {
        std::string path;
        std::string described; // the start of the explanation
    };
    const Case cases[] = {
        {"\\\\.\\COM201", "no such device: COM201 is not present"},
        {"COM202", "no such device: COM202 is not present"},
        {"\\\\.\\NoSuchDevice", "no such device: NoSuchDevice is not present"},
        {file, file + " cannot be opened: "},
    };
    for (const Case& c : cases) {
        const OpenResult opened = OpenSystemSerialDevice(c.path);
        EXPECT_FALSE(opened.device) << c.path;
        EXPECT_NE(opened.error, 0) << c.path;
        EXPECT_EQ(DescribeDeviceOpenFailure(c.path, opened.error).rfind(c.described, 0), 0u)
            << DescribeDeviceOpenFailure(c.path, opened.error);
        // Asked without the error, it finds the same.
        EXPECT_EQ(DescribeDeviceOpenFailure(c.path),
                  DescribeDeviceOpenFailure(c.path, opened.error));
    }
    std::remove(file.c_str());
    EXPECT_EQ(DescribeOpenFailure(203), "no such device: COM203 is not present (is the adapter "
                                        "plugged in?)");
    EXPECT_EQ(DescribeOpenFailure(0), "no such device: COM0 is no port number (1 to 255)");
    EXPECT_EQ(DescribeDeviceOpenFailure(""), "no serial device was named");
}

TEST(OpenFailureWin32, SystemTextsComeWithoutTheirLineBreak) {
    for (const int code : {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER}) {
        const std::string text = ErrorText(code);
        EXPECT_FALSE(text.empty()) << code;
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos) << text;
    }
    EXPECT_EQ(ErrorText(0x3FFFFFF0), "Unknown error 1073741808");
    EXPECT_TRUE(IsDeviceLost(ERROR_DEVICE_REMOVED));
    EXPECT_FALSE(IsDeviceLost(ERROR_TIMEOUT));
    EXPECT_FALSE(IsDeviceLost(kErrorCancelled));
}

TEST(PortDirectoryWin32, NumbersAreTheSystemsOwn) {
    EXPECT_EQ(DevicePathForPort(7), "\\\\.\\COM7");
    EXPECT_EQ(DevicePathForPort(0), "");
    EXPECT_EQ(DevicePathForPort(256), "");
    EXPECT_EQ(DeviceNameForPort(12), u"\\\\.\\COM12");
    EXPECT_EQ(NumberForDevice("\\\\.\\COM9"), 9);
    EXPECT_EQ(NumberForDevice("com31"), 31);
    // Another name gets a number of this process, and keeps it; the number leads back to it.
    const int other = NumberForDevice("\\\\.\\CNCA0");
    EXPECT_GT(other, 0);
    EXPECT_EQ(NumberForDevice("\\\\.\\CNCA0"), other);
    EXPECT_EQ(DevicePathForPort(other), "\\\\.\\CNCA0");
    // Nothing the system cannot open is listed.
    const auto names = EnumeratePortNames();
    EXPECT_EQ(std::find(names.begin(), names.end(), u"\\\\.\\COM201"), names.end());
}

} // namespace
} // namespace orvane
