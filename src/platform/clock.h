// The clock every timed wait of the system goes through.
//
// The user-interface thread's delays (the 100 ms before a handshake frame, the 20 ms before
// the first block) and the framework's timers read this clock, so that the headless back end
// can run them on a manual clock in tests: a 300 ms handshake period then costs no wall time
// and never flakes. The serial worker's own threads use real time.
//
// Thread contract: Now() may be called from any thread; Sleep() only blocks the caller.
#pragma once

#include <chrono>

namespace orvane {

class Clock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;

    virtual ~Clock() = default;
    virtual time_point Now() const = 0;
    virtual void Sleep(std::chrono::milliseconds ms) = 0;
};

// Real time: std::chrono::steady_clock and std::this_thread::sleep_for.
class SteadyClock final : public Clock {
public:
    time_point Now() const override;
    void Sleep(std::chrono::milliseconds ms) override;
};

// A clock that only moves when told to. Sleep() advances it at once.
class ManualClock final : public Clock {
public:
    time_point Now() const override { return m_now; }
    void Sleep(std::chrono::milliseconds ms) override { m_now += ms; }
    void Advance(duration d) { m_now += d; }

private:
    time_point m_now{std::chrono::hours(1)};
};

SteadyClock& RealClock();

} // namespace orvane
