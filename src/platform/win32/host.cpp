#include "platform/host.h"
#include "platform/text.h"

#include <windows.h>

#include <array>
#include <ctime>

namespace orvane {

std::string HostName() {
    std::array<wchar_t, 256> name{};
    DWORD size = static_cast<DWORD>(name.size());
    if (!GetComputerNameExW(ComputerNameDnsHostname, name.data(), &size))
        return {};
    return ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(name.data()), size));
}

std::string UserName() {
    std::array<wchar_t, 257> name{};
    DWORD size = static_cast<DWORD>(name.size());
    if (!GetUserNameW(name.data(), &size) || size == 0)
        return {};
    // The size counts the closing null.
    return ToUtf8(std::u16string(reinterpret_cast<const char16_t*>(name.data()), size - 1));
}

bool UtcCalendar(std::time_t seconds, std::tm& utc) {
    return gmtime_s(&utc, &seconds) == 0;
}

} // namespace orvane
