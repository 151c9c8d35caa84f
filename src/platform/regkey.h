// CRegKey: a small key of the settings store, opened for one read, the way the updater reads
// its "PortOfMonitor" setting. The store is the per-user settings file (settings.h); a key path
// such as "Software\\Selvane Works" is a group of that file, its backslashes turned into the
// store's separators, and a value is a key inside the group.
//
// Creating a key writes nothing: a group exists in the store only while it holds values, so a
// key that Create makes for a read leaves no trace behind.
//
// On Windows the key is the registry's own (win32/regkey.cpp), below HKEY_CURRENT_USER. A key
// that Create makes there is a lasting one: "Software\\Selvane Works" is also the parent of the
// window's profile, and the registry allows no lasting key below a volatile one.
//
// The root and the result codes are the system's names. Where <windows.h> is included before
// this header they are its own (the same values); otherwise they are declared here.
//
// Thread contract: one CRegKey belongs to one thread. GetPortOfMonitor may be called from any
// thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#ifdef _WIN32
struct HKEY__; // the system's key handle, HKEY
#endif

namespace orvane {

#ifdef _WIN32
using RegRoot = ::HKEY__*;
#ifndef HKEY_CURRENT_USER
inline const RegRoot HKEY_CURRENT_USER =
    reinterpret_cast<RegRoot>(static_cast<std::intptr_t>(static_cast<std::int32_t>(0x80000001)));
#endif
#else
enum class RegRoot { CurrentUser };
inline constexpr RegRoot HKEY_CURRENT_USER = RegRoot::CurrentUser;
#endif

#ifndef ERROR_SUCCESS
constexpr long ERROR_SUCCESS = 0;
#endif
#ifndef ERROR_FILE_NOT_FOUND
constexpr long ERROR_FILE_NOT_FOUND = 2;
#endif
#ifndef ERROR_ACCESS_DENIED
constexpr long ERROR_ACCESS_DENIED = 5;
#endif
#ifndef ERROR_INVALID_HANDLE
constexpr long ERROR_INVALID_HANDLE = 6;
#endif
#ifndef ERROR_MORE_DATA
constexpr long ERROR_MORE_DATA = 234;
#endif
#ifndef ERROR_BADDB
constexpr long ERROR_BADDB = 1009;
#endif

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
#ifdef _WIN32
    ::HKEY__* m_hKey = nullptr;
#else
    class Handle; // the group of the settings store the key stands for
    std::unique_ptr<Handle> m_hKey;
#endif
};

// The stored port name ("COM3"), or the empty text when the key or value is missing or the
// value is too long.
std::u16string GetPortOfMonitor();

} // namespace orvane
