// The port directory on Windows: the system numbers its ports itself, so a number is simply
// the COM port of that number, and nothing needs storing. A device named otherwise (a
// virtual port driver's own name) gets a number for this process only, as on POSIX.
#include "platform/port_directory.h"
#include "platform/win32/text.h"

#include <windows.h>

#include <algorithm>
#include <charconv>

namespace orvane {

namespace {

constexpr std::string_view kDevicePrefix = "\\\\.\\";

// The COM number of "\\.\COM7" or "COM7" (any case), or 0.
int ComNumber(std::string_view path) {
    if (path.substr(0, kDevicePrefix.size()) == kDevicePrefix)
        path.remove_prefix(kDevicePrefix.size());
    if (path.size() < 4 || (path[0] != 'C' && path[0] != 'c') ||
        (path[1] != 'O' && path[1] != 'o') || (path[2] != 'M' && path[2] != 'm'))
        return 0;
    int number = 0;
    const auto* last = path.data() + path.size();
    const auto [ptr, ec] = std::from_chars(path.data() + 3, last, number);
    if (ec != std::errc{} || ptr != last || number < kFirstPort || number > kLastPort)
        return 0;
    return number;
}

std::string DevicePath(int port) {
    return std::string(kDevicePrefix) + "COM" + std::to_string(port);
}

} // namespace

std::u16string DeviceNameForPort(int port) {
    const std::string name = DevicePath(port);
    return std::u16string(name.begin(), name.end());
}

CPortDirectory::CPortDirectory(std::string settingsFile, Sources sources)
    : m_settingsFile(std::move(settingsFile)) {
    SetSources(std::move(sources));
}

CPortDirectory::~CPortDirectory() = default;

void CPortDirectory::SetSources(Sources sources) {
    if (!sources.tree)
        sources.tree = ReadTtyTree;
    if (!sources.holders)
        sources.holders = FindDeviceHolders;
    std::lock_guard lock(m_mutex);
    m_sources = std::move(sources);
}

std::vector<SerialPortInfo> CPortDirectory::Ports() {
    std::function<TtyTree()> tree;
    {
        std::lock_guard lock(m_mutex);
        tree = m_sources.tree;
    }
    return SerialPortsIn(tree());
}

std::vector<NumberedPort> CPortDirectory::ListPorts() {
    std::vector<NumberedPort> listed;
    for (SerialPortInfo& info : Ports()) {
        const int number = ComNumber(info.path);
        if (number != 0)
            listed.push_back(NumberedPort{number, std::move(info), std::nullopt});
    }
    std::sort(listed.begin(), listed.end(),
              [](const NumberedPort& a, const NumberedPort& b) { return a.number < b.number; });
    return listed;
}

std::vector<std::u16string> CPortDirectory::EnumeratePortNames() {
    // Every number is tried, as the registry does not list every port driver's ports (nor
    // Wine's mapped ones), and a port another program holds cannot be opened and is left out.
    std::vector<std::u16string> names;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const std::wstring device = win32::Wide(DevicePath(n));
        HANDLE h = ::CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        ::CloseHandle(h);
        names.push_back(DeviceNameForPort(n));
    }
    return names;
}

std::string CPortDirectory::DevicePathForPort(int port) {
    if (port < kFirstPort || port > kLastPort)
        return {};
    std::lock_guard lock(m_mutex);
    if (auto it = m_pathNumbers.find(port); it != m_pathNumbers.end())
        return it->second;
    return DevicePath(port);
}

std::optional<SerialPortInfo> CPortDirectory::PortForNumber(int port) {
    for (NumberedPort& p : ListPorts()) {
        if (p.number == port)
            return std::move(p.info);
    }
    return std::nullopt;
}

int CPortDirectory::NumberForDevice(const std::string& path) {
    if (path.empty())
        return 0;
    if (const int number = ComNumber(path); number != 0)
        return number;
    std::lock_guard lock(m_mutex);
    for (const auto& [number, named] : m_pathNumbers) {
        if (named == path)
            return number;
    }
    // The lowest number that no COM port of this machine has and no other name took.
    std::vector<bool> taken(kLastPort + 1, false);
    for (const auto& [number, named] : m_pathNumbers)
        taken[static_cast<std::size_t>(number)] = true;
    for (const TtyNode& node : m_sources.tree().nodes) {
        if (const int number = ComNumber(node.name); number != 0)
            taken[static_cast<std::size_t>(number)] = true;
    }
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (!taken[static_cast<std::size_t>(n)]) {
            m_pathNumbers[n] = path;
            return n;
        }
    }
    return 0;
}

std::string CPortDirectory::IdentityForPath(const std::string& path) {
    const int number = ComNumber(path);
    for (const NumberedPort& p : ListPorts()) {
        if (number != 0 && p.number == number)
            return p.info.Identity();
    }
    return path;
}

std::string CPortDirectory::PathForIdentity(const std::string& identity) {
    if (identity.empty())
        return {};
    for (const NumberedPort& p : ListPorts()) {
        if (p.info.Matches(identity))
            return p.info.path;
    }
    // A port the registry does not list (a mapped or virtual one) is its own identity.
    if (const int number = ComNumber(identity); number != 0)
        return DevicePath(number);
    return {};
}

bool CPortDirectory::IsConsole(const std::string& /*path*/) {
    return false; // Windows writes no console to a serial port
}

std::vector<std::string> CPortDirectory::ConsolePorts() {
    return {};
}

std::vector<ForgottenPort> CPortDirectory::ForgetAbsent() {
    return {}; // nothing is stored: the numbers are the system's
}

bool CPortDirectory::Remembered() const {
    return true;
}

std::string CPortDirectory::StoreFile() const {
    return {};
}

} // namespace orvane
