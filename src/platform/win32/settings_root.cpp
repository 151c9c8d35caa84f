#include "platform/text.h"

#include <cstdlib>
#include <string>

namespace orvane {

// The user's roaming application-data folder (%APPDATA%), where per-user files that are not
// registry values belong.
std::string DefaultSettingsRoot() {
    const wchar_t* appData = _wgetenv(L"APPDATA");
    if (!appData || !*appData)
        return ".";
    const std::wstring wide(appData);
    return ToUtf8(std::u16string(wide.begin(), wide.end()));
}

} // namespace orvane
