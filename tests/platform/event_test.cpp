#include "platform/event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace orvane {
namespace {

using namespace std::chrono_literals;

TEST(ManualResetEventTest, WaitForAnyReturnsLowestSetIndex) {
    struct Case {
        bool first, second, third;
        int expected;
    };
    const Case cases[] = {
        {true, true, true, 0},
        {false, true, true, 1},
        {false, false, true, 2},
        {true, false, false, 0},
        {false, false, false, kWaitTimeout},
    };
    for (const auto& c : cases) {
        ManualResetEvent a, b, e;
        ASSERT_EQ(a.Create(c.first), 0);
        ASSERT_EQ(b.Create(c.second), 0);
        ASSERT_EQ(e.Create(c.third), 0);
        EXPECT_EQ(WaitForAny({&a, &b, &e}, 0ms), c.expected);
        // Manual reset: a successful wait leaves the event set.
        EXPECT_EQ(WaitForAny({&a, &b, &e}, 0ms), c.expected);
    }
}

TEST(ManualResetEventTest, SetFromAnotherThreadEndsAnUnboundedWait) {
    ManualResetEvent stop, other;
    ASSERT_EQ(stop.Create(false), 0);
    ASSERT_EQ(other.Create(false), 0);
    std::thread setter([&] {
        std::this_thread::sleep_for(50ms);
        other.Set();
    });
    EXPECT_EQ(WaitForAny({&stop, &other}, kInfinite), 1);
    setter.join();
}

TEST(ManualResetEventTest, BoundedWaitTimesOut) {
    ManualResetEvent e;
    ASSERT_EQ(e.Create(false), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(e.Wait(60ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);
}

} // namespace
} // namespace orvane
