#include "platform/host.h"

#include <array>
#include <cstdio>

namespace orvane {

std::string UtcTimestamp(std::chrono::system_clock::time_point when) {
    const auto ms = std::chrono::floor<std::chrono::milliseconds>(when.time_since_epoch());
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::system_clock::time_point(std::chrono::floor<std::chrono::seconds>(ms)));
    std::tm utc{};
    if (!UtcCalendar(seconds, utc))
        return {};
    std::array<char, 80> text{}; // room for any year the calendar gives
    std::snprintf(text.data(), text.size(), "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, static_cast<int>(ms.count() % 1000));
    return text.data();
}

} // namespace orvane
