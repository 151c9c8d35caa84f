#include "platform/event.h"

#include <gtest/gtest.h>

#include <poll.h>

namespace orvane {
namespace {

TEST(ManualResetEventPosixTest, ResetClearsStateAndDescriptorReadiness) {
    ManualResetEvent e;
    ASSERT_EQ(e.Create(true), 0);
    e.Set(); // a second set must not need a second reset
    e.Reset();
    EXPECT_FALSE(e.IsSet());
    pollfd p{e.PollFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 0);
    e.Set();
    EXPECT_EQ(::poll(&p, 1, 0), 1);
}

} // namespace
} // namespace orvane
