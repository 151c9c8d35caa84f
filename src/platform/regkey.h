// CRegKey: a small key of the settings store, opened for one read, the way the updater reads
// its "PortOfMonitor" setting. The store is the per-user settings file (settings.h); a key path
// such as "Software\\Selvane Works" is a group of that file, its backslashes turned into the
// store's separators, and a value is a key inside the group.
//
// Creating a key writes nothing: a group exists in the store only while it holds values, so a
// key that Create makes for a read leaves no trace behind.
//
// Thread contract: one CRegKey belongs to one thread. GetPortOfMonitor may be called from any
// thread.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace orvane {

enum class RegRoot { CurrentUser };
inline constexpr RegRoot HKEY_CURRENT_USER = RegRoot::CurrentUser;

constexpr long ERROR_SUCCESS = 0;
constexpr long ERROR_FILE_NOT_FOUND = 2;
constexpr long ERROR_ACCESS_DENIED = 5;
constexpr long ERROR_INVALID_HANDLE = 6;
constexpr long ERROR_MORE_DATA = 234;
constexpr long ERROR_BADDB = 1009;

class CRegKey {
public:
    CRegKey();
    virtual ~CRegKey();
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens (or creates) the key below the root; 0 for success.
    long Create(RegRoot root, std::u16string_view path);
    // Reads a text value. The value must fit, with its terminating zero, in 200 bytes of
    // UTF-16 (99 characters); on any failure the text is empty.
    long ReadString(std::u16string_view valueName, std::u16string& text);
    void Close();

    // The largest text ReadString returns.
    static constexpr std::size_t kMaxTextLength = 99;

private:
    std::u16string m_strPath;
    class Handle; // the open key, as each system has it
    std::unique_ptr<Handle> m_hKey;
};

// The stored port name ("COM3"), or the empty text when the key or value is missing or the
// value is too long.
std::u16string GetPortOfMonitor();

} // namespace orvane
