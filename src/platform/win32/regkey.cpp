#include <windows.h>

#include "platform/regkey.h"

#include <cwchar>

namespace orvane {

static_assert(sizeof(RegRoot) == sizeof(HKEY));

namespace {
// The value is read into a buffer of this many bytes: 99 characters and the terminating zero.
constexpr DWORD kValueBytes = 200;
static_assert(kValueBytes / sizeof(wchar_t) == CRegKey::kMaxTextLength + 1);

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}
} // namespace

CRegKey::CRegKey() = default;

CRegKey::~CRegKey() {
    Close();
}

long CRegKey::Create(RegRoot root, std::u16string_view path) {
    Close();
    m_strPath = std::u16string(path);
    HKEY key = nullptr;
    // A key made here lasts. It is the vendor's key, the parent of the window's profile (the
    // language, the recent files, the firmware package): below a volatile key the registry
    // refuses every lasting one, and a new user could store none of them.
    const LONG rc = ::RegCreateKeyExW(root, Wide(m_strPath), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                      KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS)
        m_hKey = key;
    return rc;
}

long CRegKey::ReadString(std::u16string_view valueName, std::u16string& text) {
    text.clear();
    if (m_hKey == nullptr)
        return ERROR_INVALID_HANDLE;
    wchar_t buffer[kValueBytes / sizeof(wchar_t)] = {};
    DWORD bytes = kValueBytes;
    const std::u16string name(valueName);
    // The stored type is not looked at: any value whose bytes fit is read as text.
    const LONG rc = ::RegQueryValueExW(m_hKey, Wide(name), nullptr, nullptr,
                                       reinterpret_cast<BYTE*>(buffer), &bytes);
    if (rc != ERROR_SUCCESS)
        return rc;
    // A value stored without its terminating zero fills the buffer to the end: the text is
    // what comes before the first zero within the bytes read, and at most 99 characters.
    const std::size_t chars = bytes / sizeof(wchar_t);
    std::size_t length = 0;
    while (length < chars && buffer[length] != L'\0')
        ++length;
    if (length > kMaxTextLength)
        return ERROR_MORE_DATA;
    text.assign(reinterpret_cast<const char16_t*>(buffer), length);
    return ERROR_SUCCESS;
}

void CRegKey::Close() {
    if (m_hKey != nullptr)
        ::RegCloseKey(m_hKey);
    m_hKey = nullptr;
}

} // namespace orvane
