#include "platform/stop_request.h"

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

} // namespace
} // namespace orvane
