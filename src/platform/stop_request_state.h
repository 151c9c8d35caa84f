// The stop request itself, shared by the portable part of stop_request.h and each system's
// signal or console handling.
#pragma once

#include <atomic>

namespace orvane::detail {

// The first request's number, 0 while none; lock-free, so a signal handler may set it.
extern std::atomic<int> g_stopSignal;
static_assert(std::atomic<int>::is_always_lock_free);

} // namespace orvane::detail
