#include "platform/regkey.h"

#include "platform/settings.h"

#include <QSettings>
#include <QString>

namespace orvane {

namespace {
QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()),
                   static_cast<qsizetype>(text.size()));
}

// "Software\\Selvane Works" → "Software/Selvane Works".
QString GroupFor(std::u16string_view path) {
    QString group = ToQString(path);
    group.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return group;
}
} // namespace

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
    case QSettings::NoError:
        break;
    case QSettings::AccessError:
        return ERROR_ACCESS_DENIED;
    default:
        return ERROR_BADDB;
    }
    store->beginGroup(GroupFor(path));
    m_hKey = std::move(store);
    return ERROR_SUCCESS;
}

long CRegKey::ReadString(std::u16string_view valueName, std::u16string& text) {
    text.clear();
    if (!m_hKey)
        return ERROR_INVALID_HANDLE;
    const QString name = ToQString(valueName);
    if (!m_hKey->contains(name))
        return ERROR_FILE_NOT_FOUND;
    const QString value = m_hKey->value(name).toString();
    if (static_cast<std::size_t>(value.size()) > kMaxTextLength)
        return ERROR_MORE_DATA;
    text.assign(reinterpret_cast<const char16_t*>(value.utf16()),
                static_cast<std::size_t>(value.size()));
    return ERROR_SUCCESS;
}

void CRegKey::Close() {
    m_hKey.reset();
}

std::u16string GetPortOfMonitor() {
    CRegKey key;
    std::u16string text;
    if (key.Create(HKEY_CURRENT_USER, u"Software\\Selvane Works") != ERROR_SUCCESS)
        return text;
    key.ReadString(u"PortOfMonitor", text);
    return text;
}

} // namespace orvane
