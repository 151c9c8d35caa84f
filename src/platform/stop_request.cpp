#include "platform/stop_request.h"
#include "platform/stop_request_state.h"

namespace orvane {

namespace detail {
std::atomic<int> g_stopSignal{0};
} // namespace detail

void RequestStop(int signal) {
    int none = 0;
    detail::g_stopSignal.compare_exchange_strong(none, signal == 0 ? kOwnStop : signal,
                                                 std::memory_order_acq_rel);
}

void ClearStopRequest() {
    detail::g_stopSignal.store(0, std::memory_order_release);
}

} // namespace orvane
