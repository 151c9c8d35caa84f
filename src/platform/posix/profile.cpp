#include "platform/profile.h"
#include "platform/settings.h"

// Without a registry the profile is the user's settings file, where the rest of the updater's
// settings are too; its name already says whose they are.

namespace orvane {

namespace {

class SettingsProfile final : public IProfile {
public:
    SettingsProfile() : m_store(OpenSettingsStore()) {}
    std::optional<long long> Number(std::string_view key) const override {
        return m_store->Number(key);
    }
    std::string Text(std::string_view key) const override { return m_store->Text(key); }
    void SetValue(std::string_view key, long long value) override { m_store->SetValue(key, value); }
    void SetValue(std::string_view key, std::string_view text) override {
        m_store->SetValue(key, text);
    }
    void RemoveSection(std::string_view section) override { m_store->Remove(section); }
    bool Sync() override { return m_store->Sync(); }

private:
    std::unique_ptr<SettingsStore> m_store;
};

} // namespace

std::unique_ptr<IProfile> OpenProfile(std::u16string_view, std::u16string_view) {
    return std::make_unique<SettingsProfile>();
}

} // namespace orvane
