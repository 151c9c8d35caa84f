// Finding the serial devices of a Linux machine.
#include "platform/port_directory.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <linux/serial.h>
#include <string_view>
#include <sys/ioctl.h>
#include <system_error>
#include <tuple>
#include <unistd.h>

namespace orvane {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFamilies[] = {"ttyS", "ttyUSB", "ttyACM"};

// "ttyUSB12" → family index and number; false for any other name.
bool ParseName(std::string_view name, int& family, int& number) {
    for (int f = 0; f < static_cast<int>(std::size(kFamilies)); ++f) {
        const auto prefix = kFamilies[f];
        if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
            continue;
        const auto digits = name.substr(prefix.size());
        if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (digits.size() > 6)
            return false;
        family = f;
        number = std::atoi(std::string(digits).c_str());
        return true;
    }
    return false;
}

// Every Linux machine has placeholder ttyS ports; only those with a driver bound to real
// hardware count. The 8250 driver binds the placeholders too, so ask it for the port's type.
bool IsHardwarePort(const std::string& name) {
    std::error_code ec;
    const fs::path driver = fs::path("/sys/class/tty") / name / "device" / "driver";
    if (!fs::exists(driver, ec))
        return false;
    const auto target = fs::read_symlink(driver, ec);
    if (ec || target.filename() != "serial8250")
        return true;
    const std::string dev = "/dev/" + name;
    const int fd = ::open(dev.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN &&
                      (info.port != 0 || info.iomem_base != nullptr);
    ::close(fd);
    return real;
}

} // namespace

std::vector<std::string> ScanSerialDevices() {
    std::vector<std::tuple<int, int, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        int family = 0;
        int number = 0;
        if (!ParseName(name, family, number))
            continue;
        if (kFamilies[family] == "ttyS" && !IsHardwarePort(name))
            continue;
        found.emplace_back(family, number, it->path().string());
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    paths.reserve(found.size());
    for (auto& f : found)
        paths.push_back(std::move(std::get<2>(f)));
    return paths;
}

} // namespace orvane
