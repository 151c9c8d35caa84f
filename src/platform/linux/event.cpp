#include "platform/event.h"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace orvane {

namespace {
using Steady = std::chrono::steady_clock;

// Milliseconds left until the deadline, for poll(): -1 when waiting forever.
int RemainingMs(bool forever, Steady::time_point deadline) {
    if (forever)
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - Steady::now()).count();
    if (left <= 0)
        return 0;
    return left > 1'000'000 ? 1'000'000 : static_cast<int>(left);
}
} // namespace

ManualResetEvent::~ManualResetEvent() {
    Close();
}

int ManualResetEvent::Create(bool initiallySet) {
    Close();
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0)
        return errno;
    m_native = fd;
    if (initiallySet)
        Set();
    return 0;
}

void ManualResetEvent::Close() {
    std::lock_guard lock(m_mutex);
    if (m_native >= 0)
        ::close(m_native);
    m_native = -1;
    m_set.store(false, std::memory_order_release);
}

void ManualResetEvent::Set() {
    std::lock_guard lock(m_mutex);
    if (m_native < 0 || m_set.load(std::memory_order_relaxed))
        return;
    m_set.store(true, std::memory_order_release);
    const std::uint64_t one = 1;
    // Cannot fail short of a counter overflow, which one pending increment never reaches.
    [[maybe_unused]] const auto n = ::write(m_native, &one, sizeof one);
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(m_mutex);
    if (m_native < 0 || !m_set.load(std::memory_order_relaxed))
        return;
    m_set.store(false, std::memory_order_release);
    std::uint64_t value = 0;
    [[maybe_unused]] const auto n = ::read(m_native, &value, sizeof value);
}

bool ManualResetEvent::Wait(std::chrono::milliseconds timeout) const {
    return WaitForAny({this}, timeout) == 0;
}

int WaitForAny(std::span<const ManualResetEvent* const> events, std::chrono::milliseconds timeout) {
    const bool forever = timeout.count() < 0;
    const auto deadline = Steady::now() + (forever ? std::chrono::milliseconds(0) : timeout);
    std::vector<pollfd> fds;
    fds.reserve(events.size());
    for (const auto* e : events)
        fds.push_back(pollfd{e ? e->PollFd() : -1, POLLIN, 0});
    for (;;) {
        int index = 0;
        for (const auto* e : events) {
            if (e && e->IsSet())
                return index;
            ++index;
        }
        const int wait = RemainingMs(forever, deadline);
        if (!forever && wait == 0)
            return kWaitTimeout;
        const int rc = ::poll(fds.data(), fds.size(), wait);
        if (rc < 0 && errno != EINTR)
            return kWaitTimeout;
        // Readiness is only a hint: the flags decide, in index order, on the next pass.
        if (rc == 0 && !forever && RemainingMs(forever, deadline) == 0) {
            index = 0;
            for (const auto* e : events) {
                if (e && e->IsSet())
                    return index;
                ++index;
            }
            return kWaitTimeout;
        }
    }
}

} // namespace orvane
