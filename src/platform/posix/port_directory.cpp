#include "platform/port_directory.h"

#include "platform/settings.h"
#include "platform/stop_request.h"
#include "platform/text.h"

#include "platform/file_lock.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

namespace orvane {

namespace {

// A device seen again within this time keeps its recorded time, so that listing the ports
// does not rewrite the store every time.
constexpr std::int64_t kSeenResolution = 3600;
// How long a change waits for another process's change to the same store, in slices that give
// way to a stop. The lock is held for milliseconds.
constexpr int kLockWaitMs = 1500;
constexpr int kLockSliceMs = 100;

std::string KeyFor(int port) {
    return "Ports/COM" + std::to_string(port);
}

std::string SeenKeyFor(int port) {
    return "PortsSeen/COM" + std::to_string(port);
}

bool IsValidIdentity(const std::string& identity) {
    if (identity.rfind("usb:", 0) == 0)
        return identity.size() > 4;
    return !IsNeverAPort(identity);
}

std::int64_t SystemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

// Several updaters may number devices at once (station mode starts one per receiver): each
// read-modify-write of the map is held under a lock file next to the store, or two processes
// could give two devices the same number. A change that cannot take the lock is not written.
class CPortDirectory::Transaction {
public:
    explicit Transaction(SettingsStore& store)
        : m_store(store), m_lock(store.FileName() + ".ports-lock") {
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(store.FileName()).parent_path(),
                                            ec);
        m_lock.TryLockFor(kLockWaitMs, kLockSliceMs, [] { return StopRequested(); });
        store.Sync(); // read what another process may have written meanwhile
    }
    bool Held() const { return m_lock.Held(); }
    // Writes the changes; false when they did not reach the file.
    bool Commit() { return Held() && m_store.Sync(); }

private:
    SettingsStore& m_store;
    FileLock m_lock;
};

std::u16string DeviceNameForPort(int port) {
    return FormatText("\\\\.\\COM%d", port);
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
    if (!sources.now)
        sources.now = SystemNow;
    std::lock_guard lock(m_mutex);
    m_sources = std::move(sources);
}

std::unique_ptr<SettingsStore> CPortDirectory::Open() const {
    return m_settingsFile.empty() ? OpenSettingsStore() : OpenSettingsFile(m_settingsFile);
}

std::string CPortDirectory::StoreFile() const {
    return Open()->FileName();
}

bool CPortDirectory::Remembered() const {
    std::lock_guard lock(m_mutex);
    return m_remembered;
}

std::vector<SerialPortInfo> CPortDirectory::Ports() {
    return SerialPortsIn(m_sources.tree());
}

CPortDirectory::Map CPortDirectory::ReadLocked(SettingsStore& store, bool& hasInvalid) const {
    Map map;
    hasInvalid = false;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const auto v = store.Value(KeyFor(n));
        if (!v)
            continue;
        std::string identity = *v;
        if (!IsValidIdentity(identity)) {
            hasInvalid = true;
            continue;
        }
        map[n].identity = std::move(identity);
        map[n].seen = store.Number(SeenKeyFor(n)).value_or(0);
    }
    for (const auto& [n, identity] : m_assigned) {
        for (int k = kFirstPort; k <= kLastPort; ++k) {
            if (k != n && map[k].identity == identity)
                map[k] = {};
        }
        if (map[n].identity != identity)
            map[n] = {identity, 0};
    }
    return map;
}

namespace {

// The numbers the map already has for present ports: first by their identity, then by an
// older name (a path or by-id name stored by an earlier version). 0 for a port without one.
std::vector<int> MatchPresent(const std::array<std::string, kLastPort + 1>& identities,
                              const std::vector<SerialPortInfo>& ports,
                              std::vector<bool>& claimed) {
    std::vector<int> numbers(ports.size(), 0);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const std::string identity = ports[i].Identity();
        for (int n = kFirstPort; n <= kLastPort; ++n) {
            if (!claimed[n] && identities[n] == identity) {
                numbers[i] = n;
                claimed[n] = true;
                break;
            }
        }
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (numbers[i] != 0)
            continue;
        for (int n = kFirstPort; n <= kLastPort; ++n) {
            if (!claimed[n] && !identities[n].empty() && ports[i].Matches(identities[n])) {
                numbers[i] = n;
                claimed[n] = true;
                break;
            }
        }
    }
    return numbers;
}

} // namespace

int CPortDirectory::FreeNumber(const Map& map, const std::vector<bool>& claimed) const {
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (map[n].identity.empty() && !claimed[n] && m_pathNumbers.count(n) == 0)
            return n;
    }
    // All taken: the number of the device gone longest comes back.
    int oldest = 0;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (claimed[n] || m_pathNumbers.count(n) != 0)
            continue;
        if (oldest == 0 || map[n].seen < map[oldest].seen)
            oldest = n;
    }
    return oldest;
}

int CPortDirectory::AdoptedNumber(const Map& map, const std::vector<bool>& claimed,
                                  const SerialPortInfo& port) {
    const std::vector<SerialPortInfo> one{port};
    for (auto it = m_pathNumbers.begin(); it != m_pathNumbers.end(); ++it) {
        const int n = it->first;
        if (map[n].identity.empty() && !claimed[n] && FindPort(one, it->second) != nullptr) {
            m_pathNumbers.erase(it);
            return n;
        }
    }
    return 0;
}

std::vector<NumberedPort> CPortDirectory::NumberLocked(const std::vector<SerialPortInfo>& ports) {
    auto store = Open();
    Transaction transaction(*store);
    bool hasInvalid = false;
    Map map = ReadLocked(*store, hasInvalid);
    const std::int64_t now = m_sources.now();

    std::array<std::string, kLastPort + 1> identities;
    for (int n = kFirstPort; n <= kLastPort; ++n)
        identities[n] = map[n].identity;
    std::vector<bool> claimed(kLastPort + 1, false);
    std::vector<int> numbers = MatchPresent(identities, ports, claimed);
    for (std::size_t i = 0; i < ports.size(); ++i) {
        if (numbers[i] != 0)
            continue;
        // A path named while its device was away (--wait on a by-id name) got a number of
        // this process; now that the device is here, that number becomes its own and is
        // stored, so the next new adapter does not get it too.
        int n = AdoptedNumber(map, claimed, ports[i]);
        if (n == 0)
            n = FreeNumber(map, claimed);
        if (n == 0)
            continue;
        numbers[i] = n;
        claimed[n] = true;
        map[n] = {};
    }

    bool changed = hasInvalid;
    std::vector<NumberedPort> result;
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const int n = numbers[i];
        if (n == 0)
            continue;
        const std::string identity = ports[i].Identity();
        if (map[n].identity != identity || now - map[n].seen > kSeenResolution) {
            map[n].identity = identity;
            map[n].seen = now;
            // Without the lock nothing is written, not even by the store's own sync when it
            // closes: the number holds for this process only.
            if (transaction.Held()) {
                store->SetValue(KeyFor(n), identity);
                store->SetValue(SeenKeyFor(n), static_cast<long long>(now));
            }
            changed = true;
        }
        m_assigned[n] = identity;
        result.push_back({n, ports[i], std::nullopt});
    }
    if (changed) {
        if (hasInvalid && transaction.Held()) {
            for (int n = kFirstPort; n <= kLastPort; ++n) {
                const auto v = store->Value(KeyFor(n));
                if (v && !IsValidIdentity(*v)) {
                    store->Remove(KeyFor(n));
                    store->Remove(SeenKeyFor(n));
                }
            }
        }
        if (!transaction.Commit())
            m_remembered = false;
    }
    std::sort(result.begin(), result.end(),
              [](const NumberedPort& a, const NumberedPort& b) { return a.number < b.number; });
    return result;
}

std::vector<NumberedPort> CPortDirectory::ListPorts() {
    std::lock_guard lock(m_mutex);
    std::vector<NumberedPort> ports = NumberLocked(Ports());
    std::vector<std::string> paths;
    paths.reserve(ports.size());
    for (const auto& p : ports)
        paths.push_back(p.info.path);
    const auto holders = m_sources.holders(paths);
    for (std::size_t i = 0; i < ports.size() && i < holders.size(); ++i)
        ports[i].holder = holders[i];
    return ports;
}

std::vector<std::u16string> CPortDirectory::EnumeratePortNames() {
    std::vector<std::u16string> names;
    for (const NumberedPort& p : ListPorts()) {
        if (!p.holder)
            names.push_back(DeviceNameForPort(p.number));
    }
    return names;
}

std::optional<SerialPortInfo> CPortDirectory::PortForNumber(int port) {
    if (port < kFirstPort || port > kLastPort)
        return std::nullopt;
    std::lock_guard lock(m_mutex);
    for (NumberedPort& p : NumberLocked(Ports())) {
        if (p.number == port)
            return std::move(p.info);
    }
    return std::nullopt;
}

std::string CPortDirectory::DevicePathForPort(int port) {
    {
        std::lock_guard lock(m_mutex);
        if (const auto it = m_pathNumbers.find(port); it != m_pathNumbers.end())
            return it->second;
    }
    const auto info = PortForNumber(port);
    return info ? info->path : std::string();
}

int CPortDirectory::NumberForDevice(const std::string& path) {
    if (path.empty())
        return 0;
    std::lock_guard lock(m_mutex);
    const std::vector<SerialPortInfo> ports = Ports();
    if (const SerialPortInfo* port = FindPort(ports, path)) {
        for (const NumberedPort& p : NumberLocked(ports)) {
            if (p.info.path == port->path)
                return p.number;
        }
        return 0;
    }
    for (const auto& [n, known] : m_pathNumbers) {
        if (known == path)
            return n;
    }
    // Not a serial device of this machine (a pseudo-terminal, say): a number that nothing
    // else has, for this process only. The devices present are numbered first, so that it
    // takes none of theirs.
    NumberLocked(ports);
    auto store = Open();
    bool hasInvalid = false;
    const Map map = ReadLocked(*store, hasInvalid);
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (map[n].identity.empty() && m_pathNumbers.count(n) == 0) {
            m_pathNumbers[n] = path;
            return n;
        }
    }
    return 0;
}

std::string CPortDirectory::IdentityForPath(const std::string& path) {
    std::lock_guard lock(m_mutex);
    const std::vector<SerialPortInfo> ports = Ports();
    if (const SerialPortInfo* port = FindPort(ports, path))
        return port->Identity();
    return path;
}

std::string CPortDirectory::PathForIdentity(const std::string& identity) {
    if (identity.empty())
        return {};
    std::lock_guard lock(m_mutex);
    for (const SerialPortInfo& p : Ports()) {
        if (p.Matches(identity))
            return p.path;
    }
    // A path that is no enumerated device (a pseudo-terminal, a link to one) is itself.
    std::error_code ec;
    if (identity.front() == '/' && std::filesystem::exists(identity, ec))
        return identity;
    return {};
}

bool CPortDirectory::IsConsole(const std::string& path) {
    std::lock_guard lock(m_mutex);
    return IsConsoleIn(m_sources.tree(), path);
}

std::vector<std::string> CPortDirectory::ConsolePorts() {
    std::lock_guard lock(m_mutex);
    const TtyTree tree = m_sources.tree();
    std::vector<std::string> paths;
    for (const TtyNode& n : tree.nodes) {
        if (n.hasDevice && n.uartType != 0 &&
            std::find(tree.consoles.begin(), tree.consoles.end(), n.name) != tree.consoles.end())
            paths.push_back(n.devnode.empty() ? "/dev/" + n.name : n.devnode);
    }
    return paths;
}

std::vector<ForgottenPort> CPortDirectory::ForgetAbsent() {
    std::lock_guard lock(m_mutex);
    const std::vector<SerialPortInfo> ports = Ports();
    auto store = Open();
    Transaction transaction(*store);
    std::array<std::string, kLastPort + 1> identities;
    std::vector<ForgottenPort> forgotten;
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        const auto v = store->Value(KeyFor(n));
        if (!v)
            continue;
        identities[n] = *v;
        if (!IsValidIdentity(identities[n])) {
            forgotten.push_back({n, identities[n]});
            identities[n].clear();
        }
    }
    std::vector<bool> claimed(kLastPort + 1, false);
    MatchPresent(identities, ports, claimed);
    for (int n = kFirstPort; n <= kLastPort; ++n) {
        if (!identities[n].empty() && !claimed[n])
            forgotten.push_back({n, identities[n]});
    }
    std::sort(forgotten.begin(), forgotten.end(),
              [](const ForgottenPort& a, const ForgottenPort& b) { return a.number < b.number; });
    for (const ForgottenPort& f : forgotten) {
        if (transaction.Held()) {
            store->Remove(KeyFor(f.number));
            store->Remove(SeenKeyFor(f.number));
        }
        m_assigned.erase(f.number);
    }
    if (!forgotten.empty() && !transaction.Commit())
        m_remembered = false;
    return forgotten;
}

} // namespace orvane
