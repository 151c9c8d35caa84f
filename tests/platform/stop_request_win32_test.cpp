#include <windows.h>

#include "platform/stop_request.h"
#include "platform/win32/stop_event.h"

#include <gtest/gtest.h>

#include <csignal>

namespace orvane {
namespace {

TEST(StopRequestWin32, FirstRequestWinsUntilClearedAndIsNamed) {
    ClearStopRequest();
    InstallStopSignals();
    EXPECT_FALSE(StopRequested());
    RequestStop(SIGTERM);
    RequestStop(SIGINT);
    EXPECT_EQ(StopSignal(), SIGTERM);
    EXPECT_STREQ(SignalName(StopSignal()), "SIGTERM");
    ClearStopRequest();
    RequestStop(0);
    EXPECT_EQ(StopSignal(), kOwnStop);
    ClearStopRequest();
    EXPECT_STREQ(SignalName(99), "signal 99");
}

// A station asks one of its updaters to stop through the updater's stop event: it reads as a
// Ctrl+Break, and the program ends with SIGTERM's code, as on Linux.
TEST(StopRequestWin32, TheStationsStopEventIsAStopRequest) {
    ClearStopRequest();
    InstallStopSignals();
    HANDLE event =
        OpenEventW(EVENT_MODIFY_STATE, FALSE, StopEventName(GetCurrentProcessId()).c_str());
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(StopRequested());
    ASSERT_TRUE(SetEvent(event));
    EXPECT_TRUE(StopRequested());
    EXPECT_STREQ(SignalName(StopSignal()), "Ctrl+Break");
    EXPECT_EQ(StopExitCode(StopSignal()), 143);
    ResetEvent(event);
    CloseHandle(event);
    ClearStopRequest();
}

TEST(StopRequestWin32, ExitCodesAreThoseOfThePosixSignals) {
    EXPECT_EQ(StopExitCode(SIGINT), 130);
    EXPECT_EQ(StopExitCode(SIGTERM), 143);
    EXPECT_EQ(StopExitCode(kOwnStop), 130);
    EXPECT_EQ(StopExitCode(0), 130);
}

} // namespace
} // namespace orvane
