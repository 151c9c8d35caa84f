#include "platform/serial_ports.h"
#include "platform/text.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <tuple>

namespace orvane {

namespace {

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "ttyUSB12" -> ("ttyUSB", 12); a name without a number sorts before the numbered ones.
std::pair<std::string, long> FamilyAndNumber(const std::string& name) {
    std::size_t end = name.size();
    while (end > 0 && name[end - 1] >= '0' && name[end - 1] <= '9')
        --end;
    const std::string digits = name.substr(end);
    long number = -1;
    if (!digits.empty() && digits.size() < 10)
        number = std::strtol(digits.c_str(), nullptr, 10);
    return {name.substr(0, end), number};
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string SerialPortInfo::Identity() const {
    if (!vendorId.empty() && !serial.empty())
        return "usb:" + vendorId + ":" + productId + ":" + serial + ":" + interfaceNumber;
    if (!byId.empty())
        return byId;
    return path;
}

std::string SerialPortInfo::VendorProduct() const {
    if (vendorId.empty() && productId.empty())
        return {};
    return vendorId + ":" + productId;
}

bool SerialPortInfo::Matches(const std::string& identity) const {
    if (identity.empty())
        return false;
    return identity == Identity() || identity == path || (!byId.empty() && identity == byId);
}

std::vector<SerialPortInfo> SerialPortsIn(const TtyTree& tree) {
    std::vector<std::pair<std::pair<std::string, long>, SerialPortInfo>> found;
    for (const TtyNode& n : tree.nodes) {
        if (!n.hasDevice || n.uartType == 0 || n.name.empty())
            continue;
        if (std::find(tree.consoles.begin(), tree.consoles.end(), n.name) != tree.consoles.end())
            continue;
        SerialPortInfo info;
        info.path = n.devnode.empty() ? "/dev/" + n.name : n.devnode;
        for (const std::string& link : n.links) {
            if (StartsWith(link, "/dev/serial/by-id/")) {
                info.byId = link;
                break;
            }
        }
        info.vendorId = n.vendorId;
        info.productId = n.productId;
        info.serial = n.serial;
        info.product = n.product;
        info.manufacturer = n.manufacturer;
        info.interfaceNumber = n.interfaceNumber;
        found.emplace_back(FamilyAndNumber(n.name), std::move(info));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SerialPortInfo> ports;
    ports.reserve(found.size());
    for (auto& f : found)
        ports.push_back(std::move(f.second));
    return ports;
}

const SerialPortInfo* FindPort(const std::vector<SerialPortInfo>& ports, const std::string& path) {
    if (path.empty())
        return nullptr;
    const std::string resolved = ResolvedPath(path);
    for (const SerialPortInfo& p : ports) {
        if (p.path == path || p.path == resolved || (!p.byId.empty() && p.byId == path))
            return &p;
    }
    return nullptr;
}

bool IsConsoleIn(const TtyTree& tree, const std::string& path) {
    if (path.empty())
        return false;
    // A device node may have any name (a copy made with mknod, a link in a folder of its
    // own): what it is shows in its number. 5:1 is /dev/console, wherever the console goes.
    const std::string number = DeviceNumber(path);
    if (number == "5:1")
        return true;
    const std::string resolved = ResolvedPath(path);
    for (const TtyNode& n : tree.nodes) {
        if (std::find(tree.consoles.begin(), tree.consoles.end(), n.name) == tree.consoles.end())
            continue;
        const std::string devnode = n.devnode.empty() ? "/dev/" + n.name : n.devnode;
        if (devnode == path || devnode == resolved ||
            std::find(n.links.begin(), n.links.end(), path) != n.links.end() ||
            (!number.empty() && n.number == number))
            return true;
    }
    // A console device the tree did not list is still recognised by its name.
    const std::string name = NameOf(resolved);
    return StartsWith(resolved, "/dev/") &&
           std::find(tree.consoles.begin(), tree.consoles.end(), name) != tree.consoles.end();
}

bool IsNeverAPort(const std::string& path) {
    if (!StartsWith(path, "/dev/") || path.find("/../") != std::string::npos ||
        path.find("/./") != std::string::npos)
        return true;
    const std::string_view rest = std::string_view(path).substr(5);
    if (StartsWith(rest, "pts/") || rest == "ptmx" || rest == "tty" || rest == "console" ||
        StartsWith(rest, "pty") || StartsWith(rest, "vc/"))
        return true;
    // Virtual terminals: tty0 .. tty63.
    if (StartsWith(rest, "tty") && AllDigits(rest.substr(3)))
        return true;
    // Old-style pseudo-terminal slaves: ttyp0 .. ttyef.
    if (rest.size() == 5 && StartsWith(rest, "tty") &&
        ((rest[3] >= 'p' && rest[3] <= 'z') || (rest[3] >= 'a' && rest[3] <= 'e')) &&
        ((rest[4] >= '0' && rest[4] <= '9') || (rest[4] >= 'a' && rest[4] <= 'f')))
        return true;
    return false;
}

} // namespace orvane
