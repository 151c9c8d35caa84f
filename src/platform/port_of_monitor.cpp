// The stored port, read through CRegKey the same way on every system (the registry on
// Windows, the settings store elsewhere).
#include "platform/regkey.h"

namespace orvane {

std::u16string GetPortOfMonitor() {
    CRegKey key;
    std::u16string text;
    if (key.Create(HKEY_CURRENT_USER, u"Software\\Selvane Works") != ERROR_SUCCESS)
        return text;
    key.ReadString(u"PortOfMonitor", text);
    return text;
}

} // namespace orvane
