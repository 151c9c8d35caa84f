#include "platform/stop_request.h"

#include <gtest/gtest.h>

#include <csignal>

namespace orvane {
namespace {

TEST(StopRequest, FirstSignalWinsUntilCleared) {
    ClearStopRequest();
    EXPECT_FALSE(StopRequested());
    InstallStopSignals();
    std::raise(SIGHUP);
    std::raise(SIGTERM);
    EXPECT_EQ(StopSignal(), SIGHUP);
    EXPECT_STREQ(SignalName(StopSignal()), "SIGHUP");
    ClearStopRequest();
    RequestStop(kOwnStop);
    EXPECT_EQ(StopSignal(), kOwnStop);
    ClearStopRequest();
    std::signal(SIGHUP, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

TEST(StopRequest, ExitCodesAreAShellsForTheSignal) {
    EXPECT_EQ(StopExitCode(SIGHUP), 129);
    EXPECT_EQ(StopExitCode(SIGINT), 130);
    EXPECT_EQ(StopExitCode(SIGTERM), 143);
    EXPECT_EQ(StopExitCode(kOwnStop), 130);
}

} // namespace
} // namespace orvane
