// Who ran an update, where and when: for the records a production line keeps.
#pragma once

#include <chrono>
#include <ctime>
#include <string>

namespace orvane {

// This machine's name; "" when the system does not say.
std::string HostName();
// The name the user logged in with; "" when the system does not say.
std::string UserName();
// A moment as ISO 8601 in UTC to the millisecond: "2026-12-10T03:41:07.250Z".
std::string UtcTimestamp(std::chrono::system_clock::time_point when);
// The calendar time in UTC of a moment; false when the system cannot tell it.
bool UtcCalendar(std::time_t seconds, std::tm& utc);

} // namespace orvane
