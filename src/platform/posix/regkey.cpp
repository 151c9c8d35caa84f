#include "platform/regkey.h"

#include "platform/settings.h"
#include "platform/text.h"

#include <algorithm>

namespace orvane {

// The key is a group of the settings store, read when the key is opened.
class CRegKey::Handle {
public:
    Handle(std::unique_ptr<SettingsStore> store, std::string group)
        : store(std::move(store)), group(std::move(group)) {}
    std::unique_ptr<SettingsStore> store;
    std::string group; // "Software/Selvane Works"
};

CRegKey::CRegKey() = default;

CRegKey::~CRegKey() {
    Close();
}

long CRegKey::Create(RegRoot /*root: only the current user's store exists*/,
                     std::u16string_view path) {
    Close();
    m_strPath = std::u16string(path);
    auto store = OpenSettingsStore();
    switch (store->status()) {
    case SettingsStore::Status::NoError:
        break;
    case SettingsStore::Status::AccessError:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_BADDB;
    }
    // "Software\\Selvane Works" → "Software/Selvane Works".
    std::string group = ToUtf8(path);
    std::replace(group.begin(), group.end(), '\\', '/');
    m_hKey = std::make_unique<Handle>(std::move(store), std::move(group));
    return ERROR_SUCCESS;
}

long CRegKey::ReadString(std::u16string_view valueName, std::u16string& text) {
    text.clear();
    if (!m_hKey)
        return ERROR_INVALID_HANDLE;
    const std::string name = ToUtf8(valueName);
    const auto value =
        m_hKey->store->Value(m_hKey->group.empty() ? name : m_hKey->group + "/" + name);
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    const std::u16string wide = FromUtf8(*value);
    if (wide.size() > kMaxTextLength)
        return ERROR_MORE_DATA;
    text = wide;
    return ERROR_SUCCESS;
}

void CRegKey::Close() {
    m_hKey.reset();
}

} // namespace orvane
