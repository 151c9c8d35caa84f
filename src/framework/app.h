// The application object and its message queue: posted messages, timers and the loops that
// dispatch them.
//
// One application exists per process. It is created on the user-interface thread, and that
// thread is the one that dispatches: every handler of every window runs on it. Timers are
// measured on the injected clock, so the handshake timer of the update can run on a
// ManualClock in tests without costing wall time.
//
// Thread contract: Post() (reached through CWnd::PostMessageW or fw::PostMessageW) may be
// called from any thread while the application exists; it wakes a waiting loop. Every other
// member is for the user-interface thread only.
#pragma once

#include "framework/types.h"
#include "platform/clock.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace fw {

class CWnd;

class CWinApp {
public:
    // Windows refuses posts to a full queue rather than grow it without bound; so do we. A
    // reader thread whose consumer hangs then sees PostMessageW fail instead of eating memory.
    static constexpr std::size_t kMaxPostedMessages = 10000;
    // The shortest timer period, as on Windows: a period of 0 would otherwise spin.
    static constexpr UINT kMinTimerMs = 10;

    explicit CWinApp(orvane::Clock& clock = orvane::RealClock());
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up and shut-down hooks for the system's application class.
    virtual bool InitInstance() { return true; }
    virtual int ExitInstance() { return 0; }

    orvane::Clock& GetClock() const { return m_clock; }

    // The title message boxes show when they are given no caption.
    void SetAppName(std::u16string name) { m_strAppName = std::move(name); }
    const std::u16string& GetAppName() const { return m_strAppName; }

    // The main window (not owned). Destroying it ends Run() with exit code 0.
    CWnd* m_pMainWnd = nullptr;

    // Queues a message for hwnd. Fails when the queue is full or the window no longer exists.
    // Any thread.
    bool Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    // Ends Run() with the given code before it dispatches its next message.
    void PostQuitMessage(int exitCode);

    // Timers by (window, id). Setting an existing id restarts it with the new period.
    UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs);
    bool KillTimer(HWND hwnd, UINT_PTR id);
    bool IsTimerSet(HWND hwnd, UINT_PTR id) const;
    // Drops every posted message and timer of a window; called when it is destroyed.
    void ForgetWindow(HWND hwnd);

    // A back end that runs its own event loop (Qt) is told through this hook whenever a
    // message is posted (from any thread) or a timer is set, so that it can pump the queue
    // and schedule a wake-up for the next timer instead of polling. Set it on the
    // user-interface thread before any other thread may post; the hook itself must be safe
    // to call from any thread.
    void SetWakeHook(std::function<void()> hook) { m_wakeHook = std::move(hook); }
    // How long until the next timer is due (zero when one is due now), or none.
    std::optional<orvane::Clock::duration> TimeUntilNextTimer() const;

    // Dispatches one waiting message: the oldest posted one, or else the timer that has been
    // due longest. Returns false when nothing was waiting. Never waits.
    bool PeekAndDispatchOne();

    // Dispatches until PostQuitMessage; returns its code. When nothing waits it sleeps until
    // the next timer is due or a message is posted. On a ManualClock time does not move by
    // itself, so only posts (and timers already due) wake it.
    int Run();

    // Dispatches until done() holds or maxWait of wall time has passed; returns done(). Timers
    // fire when due on the injected clock; a ManualClock is never moved here.
    bool RunUntil(const std::function<bool()>& done, orvane::Clock::duration maxWait);

    // Lets `span` of clock time pass while dispatching. On a ManualClock the clock is advanced
    // from one due timer to the next, dispatching each tick and the posted messages in order,
    // deterministically. On a real clock it simply runs for that long.
    void RunFor(orvane::Clock::duration span);

    // How often an idle loop woke from its wait; lets tests prove the loop does not spin.
    std::uint64_t IdleWakeups() const;
    std::size_t PendingMessageCount() const;

private:
    struct Posted {
        HWND hwnd;
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    struct Timer {
        HWND hwnd;
        UINT_PTR id;
        orvane::Clock::duration period;
        orvane::Clock::time_point due;
        std::uint64_t order; // breaks ties between timers due at the same instant
    };

    std::optional<orvane::Clock::time_point> NextTimerDueLocked() const;
    // Sleeps until there is work, the wall deadline passes, or (if wakeOnQuit) quit is asked.
    void WaitForWork(std::optional<std::chrono::steady_clock::time_point> deadline,
                     bool wakeOnQuit);

    orvane::Clock& m_clock;
    orvane::ManualClock* m_manual; // the same clock when it is a manual one, else null
    std::u16string m_strAppName;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Posted> m_posted;
    std::vector<Timer> m_timers;
    std::uint64_t m_nextTimerOrder = 0;
    bool m_bQuit = false;
    int m_nQuitCode = 0;
    std::uint64_t m_nIdleWakeups = 0;
    std::function<void()> m_wakeHook;
};

// The application of this process, or null before it is created.
CWinApp* AfxGetApp();
// The application's main window, or null.
CWnd* AfxGetMainWnd();
// Ends the application's Run() loop; does nothing without an application.
void PostQuitMessage(int exitCode);
// Posts to a window by handle; false when there is no application or the window is gone.
// Any thread.
bool PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace fw
