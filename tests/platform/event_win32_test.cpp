#include "platform/event.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>

namespace orvane {
namespace {

using namespace std::chrono_literals;

// The native object is what the serial device waits on together with the port: it must be
// signalled exactly while the event is set.
TEST(ManualResetEventWin32Test, NativeObjectIsSignalledExactlyWhileSet) {
    ManualResetEvent e;
    ASSERT_EQ(e.Create(true), 0);
    ASSERT_NE(e.Native(), kNoEventNative);
    EXPECT_EQ(::WaitForSingleObject(e.Native(), 0), WAIT_OBJECT_0);
    e.Set(); // a second set must not need a second reset
    e.Reset();
    EXPECT_EQ(::WaitForSingleObject(e.Native(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
    e.Set();
    EXPECT_EQ(::WaitForSingleObject(e.Native(), 0), WAIT_OBJECT_0);
    e.Close();
    EXPECT_FALSE(e.IsValid());
}

TEST(ManualResetEventWin32Test, NullEventsKeepTheirPlaceInTheOrder) {
    ManualResetEvent unset, set, null;
    ASSERT_EQ(unset.Create(false), 0);
    ASSERT_EQ(set.Create(true), 0);
    EXPECT_EQ(WaitForAny({&null, &unset, &set}, 0ms), 2);
    EXPECT_EQ(WaitForAny({&null, nullptr, &unset}, 20ms), kWaitTimeout);
}

} // namespace
} // namespace orvane
