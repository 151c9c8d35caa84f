#include "platform/port_directory.h"

#include "platform/settings.h"
#include "platform/text.h"

#include <QSettings>
#include <QString>
#include <algorithm>
#include <array>
#include <set>

namespace orvane {

namespace {

QString KeyFor(int port) {
    return QStringLiteral("Ports/COM%1").arg(port);
}

// Every number in use and its device, read once per call.
std::array<std::string, kLastPort + 1> ReadMap(QSettings& store) {
    std::array<std::string, kLastPort + 1> map;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const QVariant v = store.value(KeyFor(n));
        if (v.isValid())
            map[n] = v.toString().toStdString();
    }
    return map;
}

} // namespace

std::u16string DeviceNameForPort(int port) {
    return FormatText("\\\\.\\COM%d", port);
}

CPortDirectory::CPortDirectory(std::string settingsFile, Scanner scanner)
    : m_settingsFile(std::move(settingsFile)), m_scanner(std::move(scanner)) {}

CPortDirectory::~CPortDirectory() = default;

void CPortDirectory::SetScanner(Scanner scanner) {
    std::lock_guard lock(m_mutex);
    m_scanner = std::move(scanner);
}

std::unique_ptr<QSettings> CPortDirectory::Open() const {
    return m_settingsFile.empty() ? OpenSettingsStore() : OpenSettingsFile(m_settingsFile);
}

int CPortDirectory::NumberLocked(QSettings& store, const std::string& path) {
    if (path.empty())
        return 0;
    const auto map = ReadMap(store);
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (map[n] == path)
            return n;
    }
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (map[n].empty()) {
            store.setValue(KeyFor(n), QString::fromStdString(path));
            store.sync();
            return n;
        }
    }
    return 0;
}

std::vector<std::u16string> CPortDirectory::EnumeratePortNames() {
    std::lock_guard lock(m_mutex);
    const auto devices = m_scanner ? m_scanner() : std::vector<std::string>{};
    auto store = Open();
    std::set<int> numbers;
    for (const auto& path : devices) {
        if (const int n = NumberLocked(*store, path); n != 0)
            numbers.insert(n);
    }
    std::vector<std::u16string> names;
    names.reserve(numbers.size());
    for (const int n : numbers)
        names.push_back(DeviceNameForPort(n));
    return names;
}

std::string CPortDirectory::DevicePathForPort(int port) {
    if (port < kFirstPort || port > kLastPort)
        return {};
    std::lock_guard lock(m_mutex);
    auto store = Open();
    std::string path = store->value(KeyFor(port)).toString().toStdString();
    if (path.empty() && m_scanner) {
        for (const auto& device : m_scanner())
            NumberLocked(*store, device);
        path = store->value(KeyFor(port)).toString().toStdString();
    }
    return path;
}

int CPortDirectory::NumberForDevice(const std::string& path) {
    std::lock_guard lock(m_mutex);
    auto store = Open();
    return NumberLocked(*store, path);
}

CPortDirectory& PortDirectory() {
    static CPortDirectory directory;
    return directory;
}

std::vector<std::u16string> EnumeratePortNames() {
    return PortDirectory().EnumeratePortNames();
}
std::string DevicePathForPort(int port) {
    return PortDirectory().DevicePathForPort(port);
}
int NumberForDevice(const std::string& path) {
    return PortDirectory().NumberForDevice(path);
}

} // namespace orvane
