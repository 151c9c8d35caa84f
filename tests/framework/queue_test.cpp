// The message queue and timers: ordering across threads, timer periods on a manual clock,
// one-at-a-time dispatch, destroyed windows, and a loop that sleeps when idle.
#include "framework/app.h"
#include "framework/wnd.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using fw::LPARAM;
using fw::LRESULT;
using fw::UINT;
using fw::UINT_PTR;
using fw::WPARAM;

constexpr UINT WM_TEST = fw::WM_USER + 7;
constexpr UINT WM_QUIT_ME = fw::WM_USER + 8;

// A window that writes down what it receives, with the clock time of every tick.
class RecordingWnd : public fw::CWnd {
public:
    struct Tick {
        UINT_PTR id;
        orvane::Clock::time_point at;
    };
    std::vector<WPARAM> posted;
    std::vector<Tick> ticks;
    std::chrono::milliseconds sleepInTick{0};

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_TEST) {
            posted.push_back(wParam);
            return 0;
        }
        if (message == WM_QUIT_ME) {
            fw::PostQuitMessage(static_cast<int>(wParam));
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
    void OnTimer(UINT_PTR id) override {
        auto& clock = fw::AfxGetApp()->GetClock();
        ticks.push_back({id, clock.Now()});
        // The handshake tick blocks the user-interface thread for its delay on this clock.
        clock.Sleep(sleepInTick);
    }
};

class ManualQueueTest : public ::testing::Test {
protected:
    orvane::ManualClock clock;
    fw::CWinApp app{clock};
    RecordingWnd wnd;
    orvane::Clock::time_point start = clock.Now();

    std::vector<std::chrono::milliseconds> TickOffsets() const {
        std::vector<std::chrono::milliseconds> out;
        for (const auto& t : wnd.ticks)
            out.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(t.at - start));
        return out;
    }
};

using Ms = std::vector<std::chrono::milliseconds>;

TEST_F(ManualQueueTest, TimerTicksEvery300msEvenWhenTheTickHandlerSleeps) {
    for (auto sleep : {0ms, 100ms}) {
        SCOPED_TRACE(sleep.count());
        wnd.ticks.clear();
        start = clock.Now();
        wnd.sleepInTick = sleep;
        wnd.SetTimer(2, 300);
        app.RunFor(1000ms);
        EXPECT_EQ(TickOffsets(), (Ms{300ms, 600ms, 900ms}));
        for (const auto& t : wnd.ticks)
            EXPECT_EQ(t.id, 2u);
        wnd.KillTimer(2);
    }
}

TEST_F(ManualQueueTest, WakeHookAndNextTimerLetAnOuterLoopSleepUntilWorkIsDue) {
    std::atomic<int> wakes{0};
    app.SetWakeHook([&] { wakes.fetch_add(1); });
    EXPECT_FALSE(app.TimeUntilNextTimer().has_value());
    wnd.SetTimer(2, 300);
    EXPECT_EQ(wakes.load(), 1); // a timer set may be due sooner than the loop's next wake-up
    EXPECT_EQ(app.TimeUntilNextTimer(), orvane::Clock::duration(300ms));
    clock.Advance(400ms);
    EXPECT_EQ(app.TimeUntilNextTimer(), orvane::Clock::duration::zero()); // overdue: now
    std::thread poster([&] { wnd.PostMessageW(fw::WM_USER + 1, 0, 0); });
    poster.join();
    EXPECT_EQ(wakes.load(), 2); // posts from any thread wake the loop
    wnd.KillTimer(2);
    EXPECT_FALSE(app.TimeUntilNextTimer().has_value());
    app.SetWakeHook(nullptr);
}

TEST_F(ManualQueueTest, SettingARunningTimerAgainRestartsItAndKeepsOne) {
    wnd.SetTimer(2, 300);
    app.RunFor(200ms);
    wnd.SetTimer(2, 300); // at 200 ms: the next tick moves to 500 ms
    app.RunFor(900ms);    // up to 1100 ms
    EXPECT_EQ(TickOffsets(), (Ms{500ms, 800ms, 1100ms}));
}

TEST_F(ManualQueueTest, KillTimerStopsTicksAndReportsWhetherOneRan) {
    wnd.SetTimer(2, 300);
    app.RunFor(650ms);
    EXPECT_TRUE(app.IsTimerSet(wnd.GetSafeHwnd(), 2));
    EXPECT_TRUE(wnd.KillTimer(2));
    EXPECT_FALSE(wnd.KillTimer(2));
    EXPECT_FALSE(app.IsTimerSet(wnd.GetSafeHwnd(), 2));
    app.RunFor(2000ms);
    EXPECT_EQ(TickOffsets(), (Ms{300ms, 600ms}));
}

TEST_F(ManualQueueTest, ALateLoopGetsOneTickNotABurst) {
    wnd.SetTimer(2, 300);
    clock.Advance(1000ms); // three periods pass with nobody dispatching
    int dispatched = 0;
    while (app.PeekAndDispatchOne())
        ++dispatched;
    EXPECT_EQ(dispatched, 1);
    app.RunFor(300ms);
    EXPECT_EQ(TickOffsets(), (Ms{1000ms, 1300ms}));
}

TEST_F(ManualQueueTest, TimersDueTogetherTickInOrderOfCreationAfterPostedMessages) {
    RecordingWnd other;
    other.SetTimer(5, 100);
    wnd.SetTimer(4, 100);
    clock.Advance(100ms);
    wnd.PostMessageW(WM_TEST, 1, 0);
    ASSERT_TRUE(app.PeekAndDispatchOne());
    EXPECT_EQ(wnd.posted, std::vector<WPARAM>{1});
    EXPECT_TRUE(wnd.ticks.empty());
    ASSERT_TRUE(app.PeekAndDispatchOne());
    EXPECT_EQ(other.ticks.size(), 1u);
    ASSERT_TRUE(app.PeekAndDispatchOne());
    EXPECT_EQ(wnd.ticks.size(), 1u);
    EXPECT_FALSE(app.PeekAndDispatchOne());
}

TEST_F(ManualQueueTest, PeekAndDispatchOneDispatchesExactlyOne) {
    EXPECT_FALSE(app.PeekAndDispatchOne());
    for (WPARAM i = 1; i <= 3; ++i)
        ASSERT_TRUE(wnd.PostMessageW(WM_TEST, i, 0));
    EXPECT_TRUE(app.PeekAndDispatchOne());
    EXPECT_EQ(wnd.posted, std::vector<WPARAM>{1});
    EXPECT_EQ(app.PendingMessageCount(), 2u);
    EXPECT_TRUE(app.PeekAndDispatchOne());
    EXPECT_TRUE(app.PeekAndDispatchOne());
    EXPECT_FALSE(app.PeekAndDispatchOne());
    EXPECT_EQ(wnd.posted, (std::vector<WPARAM>{1, 2, 3}));
}

TEST_F(ManualQueueTest, MessagesAndTimersOfADestroyedWindowAreDropped) {
    auto doomed = std::make_unique<RecordingWnd>();
    const fw::HWND doomedHandle = doomed->GetSafeHwnd();
    doomed->PostMessageW(WM_TEST, 1, 0);
    doomed->SetTimer(2, 100);
    wnd.PostMessageW(WM_TEST, 2, 0);

    // Destroyed but alive as an object: nothing more reaches it, posting fails.
    doomed->DestroyWindow();
    EXPECT_FALSE(doomed->IsWindow());
    EXPECT_FALSE(doomed->PostMessageW(WM_TEST, 3, 0));
    EXPECT_FALSE(app.IsTimerSet(doomedHandle, 2));
    app.RunFor(500ms);
    EXPECT_TRUE(doomed->posted.empty());
    EXPECT_TRUE(doomed->ticks.empty());
    EXPECT_EQ(wnd.posted, std::vector<WPARAM>{2});

    // Deleted with a message still queued by handle: the message goes nowhere, and a window
    // created afterwards never receives it.
    auto deleted = std::make_unique<RecordingWnd>();
    const fw::HWND deletedHandle = deleted->GetSafeHwnd();
    deleted->PostMessageW(WM_TEST, 4, 0);
    deleted.reset();
    RecordingWnd newcomer;
    EXPECT_NE(newcomer.GetSafeHwnd(), deletedHandle);
    EXPECT_FALSE(fw::PostMessageW(deletedHandle, WM_TEST, 5, 0));
    EXPECT_FALSE(app.PeekAndDispatchOne());
    EXPECT_TRUE(newcomer.posted.empty());
}

TEST_F(ManualQueueTest, AFullQueueRefusesPostsInsteadOfGrowing) {
    for (std::size_t i = 0; i < fw::CWinApp::kMaxPostedMessages; ++i)
        ASSERT_TRUE(wnd.PostMessageW(WM_TEST, i, 0));
    EXPECT_FALSE(wnd.PostMessageW(WM_TEST, 0, 0));
    ASSERT_TRUE(app.PeekAndDispatchOne());
    EXPECT_TRUE(wnd.PostMessageW(WM_TEST, 0, 0));
}

TEST_F(ManualQueueTest, DestroyingTheMainWindowEndsRun) {
    app.m_pMainWnd = &wnd;
    wnd.PostMessageW(fw::WM_CLOSE, 0, 0); // default close handling destroys the window
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(fw::AfxGetMainWnd(), nullptr);
}

TEST_F(ManualQueueTest, RunForDispatchesPostsMadeByTimerHandlersInOrder) {
    // A handler that posts: the post is handled before the clock moves to the next tick.
    class Chain : public RecordingWnd {
    public:
        std::vector<std::pair<char, orvane::Clock::time_point>> log;
        void OnTimer(UINT_PTR) override {
            log.push_back({'t', fw::AfxGetApp()->GetClock().Now()});
            PostMessageW(WM_TEST, 0, 0);
        }
        LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
            if (m == WM_TEST)
                log.push_back({'p', fw::AfxGetApp()->GetClock().Now()});
            return RecordingWnd::WindowProc(m, w, l);
        }
    } chain;
    chain.SetTimer(1, 300);
    app.RunFor(600ms);
    ASSERT_EQ(chain.log.size(), 4u);
    const char kinds[] = {'t', 'p', 't', 'p'};
    const auto times = {300ms, 300ms, 600ms, 600ms};
    auto it = times.begin();
    for (std::size_t i = 0; i < 4; ++i, ++it) {
        EXPECT_EQ(chain.log[i].first, kinds[i]);
        EXPECT_EQ(chain.log[i].second - start, *it);
    }
}

// ---- real threads and real time ----

class RealQueueTest : public ::testing::Test {
protected:
    fw::CWinApp app{orvane::RealClock()};
    RecordingWnd wnd;
};

TEST_F(RealQueueTest, PostsFromAnotherThreadArriveInOrderAfterTheirData) {
    constexpr std::size_t kCount = 2000;
    // Plain, non-atomic data: the post must publish it (the thread sanitizer checks this).
    std::vector<std::size_t> data(kCount, 0);
    std::vector<std::size_t> seen;
    class Reader : public fw::CWnd {
    public:
        std::vector<std::size_t>* data;
        std::vector<std::size_t>* seen;
        LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
            if (m == WM_TEST) {
                seen->push_back((*data)[w] == w * 3 + 1 ? w : static_cast<std::size_t>(-1));
                return 0;
            }
            return CWnd::WindowProc(m, w, l);
        }
    } reader;
    reader.data = &data;
    reader.seen = &seen;

    std::thread producer([&] {
        for (std::size_t i = 0; i < kCount; ++i) {
            data[i] = i * 3 + 1;
            while (!reader.PostMessageW(WM_TEST, i, 0))
                std::this_thread::yield();
        }
    });
    EXPECT_TRUE(app.RunUntil([&] { return seen.size() == kCount; }, 10s));
    producer.join();
    ASSERT_EQ(seen.size(), kCount);
    for (std::size_t i = 0; i < kCount; ++i)
        ASSERT_EQ(seen[i], i) << "message " << i << " out of order or before its data";
}

TEST_F(RealQueueTest, RunSleepsUntilAPostFromAnotherThreadWakesIt) {
    std::thread poster([&] {
        std::this_thread::sleep_for(200ms);
        wnd.PostMessageW(WM_QUIT_ME, 7, 0);
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(app.Run(), 7);
    const auto waited = std::chrono::steady_clock::now() - before;
    poster.join();
    EXPECT_GE(waited, 150ms);
    // One wake-up for the post; a spinning loop would show thousands.
    EXPECT_LE(app.IdleWakeups(), 3u);
}

TEST_F(RealQueueTest, IdleLoopWakesOnlyForTimerTicks) {
    wnd.SetTimer(1, 50);
    EXPECT_FALSE(app.RunUntil([] { return false; }, 220ms));
    EXPECT_GE(wnd.ticks.size(), 3u);
    EXPECT_LE(wnd.ticks.size(), 5u);
    EXPECT_LE(app.IdleWakeups(), 12u);
}

} // namespace
