#include "framework/app.h"

#include "framework/wnd.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace fw {

namespace {
std::atomic<CWinApp*> g_pApp{nullptr};

using WallClock = std::chrono::steady_clock;
} // namespace

CWinApp::CWinApp(orvane::Clock& clock)
    : m_clock(clock), m_manual(dynamic_cast<orvane::ManualClock*>(&clock)) {
    CWinApp* expected = nullptr;
    if (!g_pApp.compare_exchange_strong(expected, this)) {
        // Two queues would split the windows' messages between two loops, one of which never
        // runs; this is a programming error that no caller could recover from.
        std::fputs("fw::CWinApp: a second application object was created\n", stderr);
        std::abort();
    }
}

CWinApp::~CWinApp() {
    CWinApp* expected = this;
    g_pApp.compare_exchange_strong(expected, nullptr);
}

bool CWinApp::Post(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    {
        std::lock_guard lock(m_mutex);
        if (m_posted.size() >= kMaxPostedMessages)
            return false;
        // The mutex orders everything the poster wrote before this call ahead of the handler
        // that runs after the dispatcher takes the message out under the same mutex.
        m_posted.push_back({hwnd, message, wParam, lParam});
    }
    m_wake.notify_one();
    if (m_wakeHook)
        m_wakeHook();
    return true;
}

void CWinApp::PostQuitMessage(int exitCode) {
    {
        std::lock_guard lock(m_mutex);
        m_bQuit = true;
        m_nQuitCode = exitCode;
    }
    m_wake.notify_one();
}

UINT_PTR CWinApp::SetTimer(HWND hwnd, UINT_PTR id, UINT elapseMs) {
    const auto period = std::chrono::milliseconds(std::max(elapseMs, kMinTimerMs));
    const auto due = m_clock.Now() + period;
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_timers.begin(), m_timers.end(),
                               [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
        if (it != m_timers.end()) {
            it->period = period;
            it->due = due;
        } else {
            m_timers.push_back({hwnd, id, period, due, m_nextTimerOrder++});
        }
    }
    if (m_wakeHook)
        m_wakeHook(); // the next due time may have moved closer
    return id;
}

std::optional<orvane::Clock::duration> CWinApp::TimeUntilNextTimer() const {
    std::lock_guard lock(m_mutex);
    const auto next = NextTimerDueLocked();
    if (!next)
        return std::nullopt;
    return std::max(orvane::Clock::duration::zero(), *next - m_clock.Now());
}

bool CWinApp::KillTimer(HWND hwnd, UINT_PTR id) {
    std::lock_guard lock(m_mutex);
    return std::erase_if(m_timers, [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; }) >
           0;
}

bool CWinApp::IsTimerSet(HWND hwnd, UINT_PTR id) const {
    std::lock_guard lock(m_mutex);
    return std::any_of(m_timers.begin(), m_timers.end(),
                       [&](const Timer& t) { return t.hwnd == hwnd && t.id == id; });
}

void CWinApp::ForgetWindow(HWND hwnd) {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_posted, [&](const Posted& p) { return p.hwnd == hwnd; });
    std::erase_if(m_timers, [&](const Timer& t) { return t.hwnd == hwnd; });
}

std::optional<orvane::Clock::time_point> CWinApp::NextTimerDueLocked() const {
    std::optional<orvane::Clock::time_point> next;
    for (const Timer& t : m_timers) {
        if (!next || t.due < *next)
            next = t.due;
    }
    return next;
}

bool CWinApp::PeekAndDispatchOne() {
    for (;;) {
        Posted msg{};
        {
            std::lock_guard lock(m_mutex);
            if (!m_posted.empty()) {
                msg = m_posted.front();
                m_posted.pop_front();
            } else {
                // Timer ticks are not queued: a due timer yields one WM_TIMER when the queue
                // is otherwise empty, and restarts its period from now, so a late loop gets
                // one tick rather than a burst.
                const auto now = m_clock.Now();
                Timer* best = nullptr;
                for (Timer& t : m_timers) {
                    if (t.due <= now && (!best || t.due < best->due ||
                                         (t.due == best->due && t.order < best->order)))
                        best = &t;
                }
                if (!best)
                    return false;
                best->due = now + best->period;
                msg = {best->hwnd, WM_TIMER, static_cast<WPARAM>(best->id), 0};
            }
        }
        // A window destroyed after the post (or in a race with it) gets nothing; the message
        // is dropped and the next one is looked at.
        if (CWnd* wnd = detail::FindWindow(msg.hwnd)) {
            wnd->WindowProc(msg.message, msg.wParam, msg.lParam);
            return true;
        }
    }
}

void CWinApp::WaitForWork(std::optional<WallClock::time_point> deadline, bool wakeOnQuit) {
    std::unique_lock lock(m_mutex);
    auto ready = [&] { return !m_posted.empty() || (wakeOnQuit && m_bQuit); };
    if (ready())
        return;
    if (auto due = NextTimerDueLocked(); due && !m_manual) {
        const auto now = m_clock.Now();
        if (*due <= now)
            return;
        const auto timerWall = WallClock::now() + (*due - now);
        if (!deadline || timerWall < *deadline)
            deadline = timerWall;
    } else if (due && *due <= m_clock.Now()) {
        return;
    }
    if (deadline)
        m_wake.wait_until(lock, *deadline, ready);
    else
        m_wake.wait(lock, ready);
    ++m_nIdleWakeups;
}

int CWinApp::Run() {
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_bQuit) {
                m_bQuit = false;
                return m_nQuitCode;
            }
        }
        if (!PeekAndDispatchOne())
            WaitForWork(std::nullopt, true);
    }
}

bool CWinApp::RunUntil(const std::function<bool()>& done, orvane::Clock::duration maxWait) {
    const auto deadline = WallClock::now() + maxWait;
    for (;;) {
        if (done())
            return true;
        // The deadline holds while messages keep coming too: a peer that floods the line
        // must not keep the caller from looking at its own conditions (a stop, a time-out).
        if (WallClock::now() >= deadline)
            return done();
        if (PeekAndDispatchOne())
            continue;
        WaitForWork(deadline, false);
    }
}

void CWinApp::RunFor(orvane::Clock::duration span) {
    if (!m_manual) {
        RunUntil([] { return false; }, span);
        return;
    }
    const auto end = m_manual->Now() + span;
    for (;;) {
        while (PeekAndDispatchOne()) {
        }
        std::optional<orvane::Clock::time_point> next;
        {
            std::lock_guard lock(m_mutex);
            next = NextTimerDueLocked();
        }
        const auto now = m_manual->Now();
        if (!next || *next > end) {
            if (now < end)
                m_manual->Advance(end - now);
            while (PeekAndDispatchOne()) {
            }
            return;
        }
        // A handler may have slept the manual clock past the next tick; never move it back.
        if (*next > now)
            m_manual->Advance(*next - now);
    }
}

std::uint64_t CWinApp::IdleWakeups() const {
    std::lock_guard lock(m_mutex);
    return m_nIdleWakeups;
}

std::size_t CWinApp::PendingMessageCount() const {
    std::lock_guard lock(m_mutex);
    return m_posted.size();
}

CWinApp* AfxGetApp() {
    return g_pApp.load(std::memory_order_acquire);
}

CWnd* AfxGetMainWnd() {
    CWinApp* app = AfxGetApp();
    return app ? app->m_pMainWnd : nullptr;
}

void PostQuitMessage(int exitCode) {
    if (CWinApp* app = AfxGetApp())
        app->PostQuitMessage(exitCode);
}

bool PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return false;
    // Refuse posts to a window that is already gone, as Windows does for a stale handle. A
    // window destroyed right after this check is caught again at dispatch.
    if (!detail::IsLiveHandle(hwnd))
        return false;
    return app->Post(hwnd, message, wParam, lParam);
}

} // namespace fw
