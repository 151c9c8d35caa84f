// Reading the tty devices of a Linux machine through libudev.
//
// libudev answers from sysfs, so the USB vendor, product, serial number and strings are there
// even where no udev daemon runs (containers, early boot); the /dev/serial/by-id names come
// from udev's database when it has one, and from the links themselves otherwise.
#include "platform/serial_ports.h"

#include <libudev.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/serial.h>
#include <map>
#include <memory>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>

namespace orvane {

namespace {

namespace fs = std::filesystem;

struct UdevDeleter {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T> using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char* s) {
    return s ? std::string(s) : std::string();
}

std::string Attribute(udev_device* device, const char* name) {
    std::string value = device ? Text(udev_device_get_sysattr_value(device, name)) : std::string();
    while (!value.empty() && (value.back() == '\n' || value.back() == ' '))
        value.pop_back();
    return value;
}

std::vector<std::string> ConsoleNames() {
    std::ifstream in("/sys/class/tty/console/active");
    std::vector<std::string> names;
    std::string name;
    while (in >> name)
        names.push_back(name);
    return names;
}

// The links of /dev/serial/by-id and by-path, by the device they lead to: where udev's
// database is missing, these are the only record of a device's stable names.
std::multimap<std::string, std::string> SerialLinks() {
    std::multimap<std::string, std::string> links;
    for (const char* folder : {"/dev/serial/by-id", "/dev/serial/by-path"}) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            std::error_code target;
            const fs::path resolved = fs::canonical(it->path(), target);
            if (!target)
                links.emplace(resolved.string(), it->path().string());
        }
    }
    return links;
}

// Old kernels show no port type in sysfs: ask the 8250 driver itself. A port that cannot be
// opened (no permission) is given the benefit of the doubt.
int AskUartType(const std::string& devnode) {
    const int fd = ::open(devnode.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    serial_struct info{};
    const int rc = ::ioctl(fd, TIOCGSERIAL, &info);
    ::close(fd);
    if (rc != 0)
        return -1;
    return info.type;
}

} // namespace

bool IsTerminalDevice(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    // Every tty driver names its device numbers here: "serial /dev/ttyS 4 64-111 serial".
    std::ifstream drivers("/proc/tty/drivers");
    if (!drivers)
        return true;
    const unsigned maj = major(st.st_rdev);
    const unsigned min = minor(st.st_rdev);
    std::string line;
    while (std::getline(drivers, line)) {
        std::istringstream fields(line);
        std::string name, node, range;
        unsigned driverMajor = 0;
        if (!(fields >> name >> node >> driverMajor >> range) || driverMajor != maj)
            continue;
        unsigned first = 0, last = 0;
        const auto dash = range.find('-');
        first = static_cast<unsigned>(std::strtoul(range.c_str(), nullptr, 10));
        last = dash == std::string::npos
                   ? first
                   : static_cast<unsigned>(std::strtoul(range.c_str() + dash + 1, nullptr, 10));
        if (min >= first && min <= last)
            return true;
    }
    return false;
}

TtyTree ReadTtyTree() {
    TtyTree tree;
    tree.consoles = ConsoleNames();
    const UdevPtr<udev> context(udev_new());
    if (!context)
        return tree;
    const UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0)
        return tree;
    const auto links = SerialLinks();
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        const char* syspath = udev_list_entry_get_name(entry);
        const UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), syspath));
        if (!device)
            continue;
        TtyNode node;
        node.name = Text(udev_device_get_sysname(device.get()));
        node.devnode = Text(udev_device_get_devnode(device.get()));
        if (const dev_t number = udev_device_get_devnum(device.get()); number != 0)
            node.number = std::to_string(major(number)) + ":" + std::to_string(minor(number));
        if (node.devnode.empty())
            node.devnode = "/dev/" + node.name;
        // A tty backed by hardware (or a USB or Bluetooth device) has a "device" link in
        // sysfs; virtual terminals, pseudo-terminals and console aliases have none.
        std::error_code ec;
        const fs::path deviceLink = fs::path(syspath) / "device";
        node.hasDevice = fs::exists(deviceLink, ec);
        if (node.hasDevice) {
            const fs::path driver = fs::read_symlink(deviceLink / "driver", ec);
            if (!ec)
                node.driver = driver.filename().string();
        }
        const std::string type = Attribute(device.get(), "type");
        if (!type.empty()) {
            node.uartType = std::atoi(type.c_str());
        } else if (node.driver == "serial8250") {
            node.uartType = AskUartType(node.devnode);
        }
        udev_list_entry* link = nullptr;
        udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(device.get())) {
            node.links.push_back(Text(udev_list_entry_get_name(link)));
        }
        const auto [first, last] = links.equal_range(node.devnode);
        for (auto it = first; it != last; ++it) {
            if (std::find(node.links.begin(), node.links.end(), it->second) == node.links.end())
                node.links.push_back(it->second);
        }
        // The parents are owned by the device and go with it.
        if (udev_device* usb =
                udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device")) {
            node.vendorId = Attribute(usb, "idVendor");
            node.productId = Attribute(usb, "idProduct");
            node.serial = Attribute(usb, "serial");
            node.product = Attribute(usb, "product");
            node.manufacturer = Attribute(usb, "manufacturer");
        }
        if (udev_device* interface =
                udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_interface"))
            node.interfaceNumber = Attribute(interface, "bInterfaceNumber");
        tree.nodes.push_back(std::move(node));
    }
    return tree;
}

std::string DeviceNumber(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return {};
    return std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}

std::string ResolvedPath(const std::string& path) {
    if (path.empty())
        return path;
    char buffer[PATH_MAX];
    if (::realpath(path.c_str(), buffer) == nullptr)
        return path;
    return buffer;
}

} // namespace orvane
