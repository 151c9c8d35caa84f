#include "platform/clock.h"

#include <thread>

namespace orvane {

Clock::time_point SteadyClock::Now() const {
    return std::chrono::steady_clock::now();
}

void SteadyClock::Sleep(std::chrono::milliseconds ms) {
    if (ms.count() > 0)
        std::this_thread::sleep_for(ms);
}

SteadyClock& RealClock() {
    static SteadyClock clock;
    return clock;
}

} // namespace orvane
