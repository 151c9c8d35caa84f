// The window updater's per-user profile: the interface language, the recent files and the
// firmware package loaded last, as numbers and texts named "section/entry". On Windows it lives
// in the registry below HKEY_CURRENT_USER\Software\<registry key>\<application>, where the
// framework keeps a program's profile, one subkey per section; elsewhere in the settings file.
//
// Thread contract: user-interface thread. Each Open gives an object of its own.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {

class IProfile {
public:
    virtual ~IProfile() = default;
    // A stored number; none when the value is absent or not a number.
    virtual std::optional<long long> Number(std::string_view key) const = 0;
    // A stored text (UTF-8); empty when absent or not a text.
    virtual std::string Text(std::string_view key) const = 0;
    virtual void SetValue(std::string_view key, long long value) = 0;
    virtual void SetValue(std::string_view key, std::string_view text) = 0;
    // Removes a whole section and everything in it.
    virtual void RemoveSection(std::string_view section) = 0;
    // Makes the changes lasting; false when any of them could not be stored.
    virtual bool Sync() = 0;
};

// The profile of `application` under `registryKey` (both as the framework names them).
std::unique_ptr<IProfile> OpenProfile(std::u16string_view registryKey,
                                      std::u16string_view application);

} // namespace orvane
