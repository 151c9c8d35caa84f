// Stop requests on Windows come from the console: Ctrl+C, Ctrl+Break, and the console window
// closing (or the user logging off, or the system shutting down).
#include "platform/stop_request.h"
#include "platform/stop_request_state.h"

#include <windows.h>

#include "platform/win32/stop_event.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace orvane {

namespace {
// This process's stop event (made by the station that started it, or here); null before
// InstallStopSignals.
std::atomic<HANDLE> g_stopEvent{nullptr};

// Console events are recorded above the C signal numbers, so both can be told apart; the event
// number itself starts at 0 (Ctrl+C), which would read as "no request".
constexpr int kConsoleEventBase = 0x100;

// After a close, log-off or shut-down event the system ends the process as soon as the
// handler returns, and at the latest after five seconds: wait here, so the program has that
// time to stop its transfer and say what happened.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        RequestStop(kConsoleEventBase + static_cast<int>(event));
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        RequestStop(kConsoleEventBase + static_cast<int>(event));
        ::Sleep(kCloseGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}
} // namespace

void InstallStopSignals() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    if (!g_stopEvent.load(std::memory_order_acquire))
        g_stopEvent.store(
            ::CreateEventW(nullptr, TRUE, FALSE, StopEventName(::GetCurrentProcessId()).c_str()),
            std::memory_order_release);
}

int StopSignal() {
    const int signal = detail::g_stopSignal.load(std::memory_order_acquire);
    if (signal != 0)
        return signal;
    // A station's request counts as a Ctrl+Break, the console's own way of asking a program
    // to stop.
    const HANDLE event = g_stopEvent.load(std::memory_order_acquire);
    if (event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
        RequestStop(kConsoleEventBase + CTRL_BREAK_EVENT);
    return detail::g_stopSignal.load(std::memory_order_acquire);
}

int StopExitCode(int signal) {
    switch (signal) {
    case kConsoleEventBase + CTRL_BREAK_EVENT:
        return 128 + SIGTERM;
    case kConsoleEventBase + CTRL_CLOSE_EVENT:
    case kConsoleEventBase + CTRL_LOGOFF_EVENT:
    case kConsoleEventBase + CTRL_SHUTDOWN_EVENT:
        return 128 + 1; // SIGHUP's number: the terminal went away
    case kConsoleEventBase + CTRL_C_EVENT:
        return 128 + SIGINT;
    default:
        return 128 + (signal > 0 && signal < kConsoleEventBase ? signal : SIGINT);
    }
}

const char* SignalName(int signal) {
    switch (signal) {
    case kConsoleEventBase + CTRL_C_EVENT:
        return "Ctrl+C";
    case kConsoleEventBase + CTRL_BREAK_EVENT:
        return "Ctrl+Break";
    case kConsoleEventBase + CTRL_CLOSE_EVENT:
        return "the console closing";
    case kConsoleEventBase + CTRL_LOGOFF_EVENT:
        return "the user logging off";
    case kConsoleEventBase + CTRL_SHUTDOWN_EVENT:
        return "the system shutting down";
    case SIGINT:
        return "SIGINT";
    case SIGTERM:
        return "SIGTERM";
    default: {
        static thread_local char name[24];
        std::snprintf(name, sizeof name, "signal %d", signal);
        return name;
    }
    }
}

} // namespace orvane
