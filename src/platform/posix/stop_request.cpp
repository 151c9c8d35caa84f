#include "platform/stop_request.h"
#include "platform/stop_request_state.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace orvane {

namespace {
static_assert(std::atomic<int>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

void OnStopSignal(int signal) {
    RequestStop(signal);
}
} // namespace

void InstallStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a blocking call of this thread returns early with EINTR and its loop
    // looks at the request.
    action.sa_flags = 0;
    for (const int s : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGPIPE, &ignore, nullptr);
}

int StopSignal() {
    return detail::g_stopSignal.load(std::memory_order_acquire);
}

int StopExitCode(int signal) {
    return 128 + (signal > 0 ? signal : SIGINT);
}

const char* SignalName(int signal) {
    switch (signal) {
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    case SIGHUP:
        return "SIGHUP";
    default: {
        static thread_local char name[24];
        std::snprintf(name, sizeof name, "signal %d", signal);
        return name;
    }
    }
}

} // namespace orvane
