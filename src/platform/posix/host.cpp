#include "platform/host.h"

#include <pwd.h>
#include <unistd.h>

#include <array>
#include <ctime>

namespace orvane {

std::string HostName() {
    std::array<char, 256> name{};
    if (::gethostname(name.data(), name.size() - 1) != 0)
        return {};
    return name.data();
}

std::string UserName() {
    // The account of the process, not $USER, which any caller may set to anything.
    std::array<char, 4096> buffer{};
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_name)
        return found->pw_name;
    return {};
}

bool UtcCalendar(std::time_t seconds, std::tm& utc) {
    return ::gmtime_r(&seconds, &utc) != nullptr;
}

} // namespace orvane
