#include <windows.h>

#include "platform/profile.h"
#include "platform/text.h"

#include <cstdint>
#include <string>
#include <vector>

// The profile in the registry, as the framework keeps a program's profile: one subkey per
// section below HKEY_CURRENT_USER\Software\<registry key>\<application>, numbers as REG_DWORD,
// texts as REG_SZ. The keys are lasting ones: the language chosen today is the one of the next
// start, after a restart too.

namespace orvane {

namespace {

// Longer texts are not the profile's; a value claiming more is not read.
constexpr DWORD kLongestText = 64 * 1024;

const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

struct StoredValue {
    std::wstring name;
    DWORD type = 0;
    std::vector<BYTE> data;
};

// Earlier versions of the updater made the vendor's key volatile when they read the port
// setting, and until the next restart the registry refuses every lasting key below it: none of
// the profile could be stored. Such a key has no subkeys (the profile's were refused); its
// values, if any, were set from outside (the port name). It is made again, lasting, with the
// same values. A volatile key with subkeys is left as it is.
bool MakeLasting(const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, W(path), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    DWORD subkeys = 0, values = 0, longestName = 0, longestData = 0;
    LSTATUS status = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                      &values, &longestName, &longestData, nullptr, nullptr);
    std::vector<StoredValue> kept;
    for (DWORD i = 0; status == ERROR_SUCCESS && subkeys == 0 && i < values; ++i) {
        StoredValue value;
        value.name.assign(longestName + 1, L'\0');
        value.data.resize(longestData);
        DWORD nameLength = longestName + 1;
        DWORD size = longestData;
        status = RegEnumValueW(key, i, value.name.data(), &nameLength, nullptr, &value.type,
                               value.data.data(), &size);
        value.name.resize(nameLength);
        value.data.resize(size);
        kept.push_back(std::move(value));
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || subkeys != 0 ||
        RegDeleteKeyW(HKEY_CURRENT_USER, W(path)) != ERROR_SUCCESS)
        return false;
    HKEY made = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, W(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_SET_VALUE, nullptr, &made, nullptr) != ERROR_SUCCESS)
        return false;
    bool restored = true;
    for (const StoredValue& value : kept)
        restored = RegSetValueExW(made, value.name.c_str(), 0, value.type, value.data.data(),
                                  static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS &&
                   restored;
    RegCloseKey(made);
    return restored;
}

class RegistryProfile final : public IProfile {
public:
    RegistryProfile(std::u16string_view registryKey, std::u16string_view application)
        : m_vendor(u"Software\\" + std::u16string(registryKey)),
          m_root(m_vendor + u"\\" + std::u16string(application)) {}

    std::optional<long long> Number(std::string_view key) const override {
        const auto [section, entry] = Split(key);
        DWORD type = 0;
        std::uint64_t value = 0;
        DWORD size = sizeof(value);
        if (RegGetValueW(HKEY_CURRENT_USER, W(m_root + section), W(entry),
                         RRF_RT_REG_DWORD | RRF_RT_REG_QWORD, &type, &value,
                         &size) != ERROR_SUCCESS)
            return std::nullopt;
        if (type == REG_DWORD)
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        return static_cast<long long>(value);
    }

    std::string Text(std::string_view key) const override {
        const auto [section, entry] = Split(key);
        // RegGetValueW terminates the text itself, also when the stored one is not.
        DWORD size = 0;
        if (RegGetValueW(HKEY_CURRENT_USER, W(m_root + section), W(entry), RRF_RT_REG_SZ, nullptr,
                         nullptr, &size) != ERROR_SUCCESS ||
            size == 0 || size > kLongestText)
            return {};
        std::vector<char16_t> text(size / sizeof(char16_t) + 1, u'\0');
        DWORD got = static_cast<DWORD>(text.size() * sizeof(char16_t));
        if (RegGetValueW(HKEY_CURRENT_USER, W(m_root + section), W(entry), RRF_RT_REG_SZ, nullptr,
                         text.data(), &got) != ERROR_SUCCESS)
            return {};
        return ToUtf8(std::u16string(text.data()));
    }

    void SetValue(std::string_view key, long long value) override {
        if (value >= INT32_MIN && value <= INT32_MAX) {
            const auto dword = static_cast<DWORD>(static_cast<std::int32_t>(value));
            Write(key, REG_DWORD, &dword, sizeof(dword));
        } else {
            const auto qword = static_cast<std::uint64_t>(value);
            Write(key, REG_QWORD, &qword, sizeof(qword));
        }
    }

    void SetValue(std::string_view key, std::string_view text) override {
        const std::u16string wide = FromUtf8(text);
        Write(key, REG_SZ, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
    }

    void RemoveSection(std::string_view section) override {
        const LSTATUS status =
            RegDeleteTreeW(HKEY_CURRENT_USER, W(m_root + u"\\" + FromUtf8(section)));
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            m_failed = true;
    }

    // Every change is stored when made; this tells whether one was not.
    bool Sync() override { return !m_failed; }

private:
    // "section/entry" as the subkey path below the profile key ("\section") and the value name.
    std::pair<std::u16string, std::u16string> Split(std::string_view key) const {
        const auto slash = key.rfind('/');
        if (slash == std::string_view::npos)
            return {u"", FromUtf8(key)};
        std::u16string section = u"\\" + FromUtf8(key.substr(0, slash));
        for (char16_t& c : section)
            if (c == u'/')
                c = u'\\';
        return {section, FromUtf8(key.substr(slash + 1))};
    }

    void Write(std::string_view key, DWORD type, const void* data, std::size_t size) {
        const auto [section, entry] = Split(key);
        const std::u16string path = m_root + section;
        HKEY handle = nullptr;
        LSTATUS status =
            RegCreateKeyExW(HKEY_CURRENT_USER, W(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &handle, nullptr);
        if (status == ERROR_CHILD_MUST_BE_VOLATILE && MakeLasting(m_vendor))
            status =
                RegCreateKeyExW(HKEY_CURRENT_USER, W(path), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                KEY_SET_VALUE, nullptr, &handle, nullptr);
        if (status != ERROR_SUCCESS) {
            m_failed = true;
            return;
        }
        if (RegSetValueExW(handle, W(entry), 0, type, static_cast<const BYTE*>(data),
                           static_cast<DWORD>(size)) != ERROR_SUCCESS)
            m_failed = true;
        RegCloseKey(handle);
    }

    std::u16string m_vendor; // Software\<registry key>
    std::u16string m_root;   // the vendor's key\<application>
    bool m_failed = false;
};

} // namespace

std::unique_ptr<IProfile> OpenProfile(std::u16string_view registryKey,
                                      std::u16string_view application) {
    return std::make_unique<RegistryProfile>(registryKey, application);
}

} // namespace orvane
