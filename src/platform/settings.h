// The per-user settings store: where the updater keeps what Windows would keep in the registry
// (the port number map, "PortOfMonitor", the interface language). It is an INI file in the
// user's configuration folder, "Selvane Works/Orvane Update.ini", in the layout the desktop
// toolkit's own INI settings use, so files written by earlier versions read the same.
//
// The store needs no toolkit: the command-line updater reads and writes it on a machine without
// a desktop. Entries this updater does not know are kept as they were written.
//
// A file is read once per process: every store opened on it later shares what was read, as
// long as the file is the same one (see settings_file.h: a replaced or rewritten file is read
// again), and a write of this process is what the next store starts from. A file larger than
// kMaxSettingsFileBytes, or one that is no regular file, is refused: it is not read and never
// written, the updater runs with its defaults, and standard error says so once per process.
// Reading takes time in proportion to the file's size, so a refused or accepted file alike
// leaves the program free to end on a signal.
//
// Thread contract: one SettingsStore belongs to one thread; open one per use. Each Sync re-reads
// the file, lays this object's changes over it and replaces the file in one step, so processes
// that change different entries do not lose each other's changes. SetSettingsFolder must run
// before other threads use the store.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvane {

inline constexpr const char* kSettingsOrganization = "Selvane Works";
inline constexpr const char* kSettingsApplication = "Orvane Update";

// The largest settings file read: the updater's own entries take a few kilobytes.
inline constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;
// The most that the keys of a file may take once each is written out in full, its section's
// name in front: a file that names a long section once and gives it many keys is refused as
// well, instead of making the store hold that name once for every key.
inline constexpr std::size_t kMaxSettingsKeyBytes = 8 * kMaxSettingsFileBytes;

class SettingsStore {
public:
    // Refused: the file is too large or no regular file (see above); it reads as empty and
    // is not written.
    enum class Status { NoError, AccessError, FormatError, Refused };

    // Reads the file, or takes what this process read of it already; a missing file is an
    // empty store.
    explicit SettingsStore(std::string file);

    const std::string& FileName() const { return m_file; }
    // AccessError once the file could not be read or written; Refused for a file that is
    // not read at all.
    Status status() const { return m_status; }

    // Keys are "Group/Name" ("Ports/COM3"); a key without a group is in the file's
    // [General] section. Values are UTF-8 text.
    bool Contains(std::string_view key) const;
    std::optional<std::string> Value(std::string_view key) const;
    std::string Text(std::string_view key, std::string_view fallback = {}) const;
    // The value as a whole decimal number, or nothing (missing, empty, not a number).
    std::optional<long long> Number(std::string_view key) const;

    void SetValue(std::string_view key, std::string_view value);
    void SetValue(std::string_view key, long long value);
    // Removes the key and every key below it ("Ports" removes "Ports/COM3").
    void Remove(std::string_view key);

    // Re-reads the file and writes this object's changes over it; false (and AccessError or
    // Refused) when they did not reach the file. Without changes, only re-reads. A link is
    // written through to its file, whose permissions stay as they were.
    bool Sync();

    // The file's text for a set of entries, and the entries of a file's text: the layout both
    // ways (exposed for tests).
    struct Entry {
        std::string key;   // "Group/Name", unescaped
        std::string value; // unescaped text
        std::string raw;   // the value as it stood in the file; empty once changed here
    };
    static std::vector<Entry> Parse(std::string_view text);
    static std::string Format(const std::vector<Entry>& entries);

    // The entries by key, as a file holds them; shared between the stores of one file.
    struct Held {
        std::string value;
        std::string raw;
    };
    using Entries = std::map<std::string, Held, std::less<>>;

private:
    struct Change {
        bool remove;
        std::string key;
        std::string value;
    };
    void Load(bool fresh);
    void Apply(const Change& change);
    Entries& Writable();

    std::string m_file;
    Status m_status = Status::NoError;
    std::shared_ptr<const Entries> m_entries; // what was read, until this object changes it
    std::shared_ptr<Entries> m_own;           // this object's copy, once it changed something
    std::vector<Change> m_changes;
};

// Opens the user's settings store.
std::unique_ptr<SettingsStore> OpenSettingsStore();

// Opens the store at an explicit file instead (tests, a portable installation).
std::unique_ptr<SettingsStore> OpenSettingsFile(const std::string& file);

// The folder that holds the user's store ("~/.config/Selvane Works"): the user's
// configuration folder for everything else the updater keeps (trusted keys, for one).
std::string SettingsFolder();

// Moves the user's store into another folder for the rest of the process (tests point it at a
// temporary folder): the store is then "<folder>/Selvane Works/Orvane Update.ini".
void SetSettingsFolder(const std::string& folder);

} // namespace orvane
