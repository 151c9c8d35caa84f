#include "platform/port_directory.h"

#include "platform/settings.h"
#include "platform/text.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
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

namespace {

// Several updaters may number devices at once (station mode starts one per receiver): the
// read-modify-write of the map is held under a lock file next to the store, or two processes
// would give two devices the same number. A crashed holder's lock goes stale after a while.
class StoreLock {
public:
    explicit StoreLock(QSettings& store) {
        const QString file = store.fileName();
        QDir().mkpath(QFileInfo(file).absolutePath());
        // QSettings takes "<file>.lock" itself while it syncs: use a name of our own.
        m_lock = std::make_unique<QLockFile>(file + ".ports-lock");
        m_lock->setStaleLockTime(10000);
        m_lock->tryLock(5000);
        store.sync(); // read what another process may have written meanwhile
    }

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace

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
    const StoreLock storeLock(*store);
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
        const StoreLock storeLock(*store);
        for (const auto& device : m_scanner())
            NumberLocked(*store, device);
        path = store->value(KeyFor(port)).toString().toStdString();
    }
    return path;
}

int CPortDirectory::NumberForDevice(const std::string& path) {
    std::lock_guard lock(m_mutex);
    auto store = Open();
    const StoreLock storeLock(*store);
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
