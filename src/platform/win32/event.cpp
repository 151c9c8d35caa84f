#include "platform/event.h"

#include <windows.h>

#include <vector>

namespace orvane {

namespace {
// WaitForMultipleObjects takes milliseconds, INFINITE for no bound.
DWORD WaitMs(std::chrono::milliseconds timeout) {
    if (timeout.count() < 0)
        return INFINITE;
    return timeout.count() >= static_cast<long long>(INFINITE - 1)
               ? INFINITE - 1
               : static_cast<DWORD>(timeout.count());
}
} // namespace

ManualResetEvent::~ManualResetEvent() {
    Close();
}

int ManualResetEvent::Create(bool initiallySet) {
    Close();
    HANDLE h = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (h == nullptr)
        return static_cast<int>(::GetLastError());
    m_native = h;
    if (initiallySet)
        Set();
    return 0;
}

void ManualResetEvent::Close() {
    std::lock_guard lock(m_mutex);
    if (m_native != kNoEventNative)
        ::CloseHandle(m_native);
    m_native = kNoEventNative;
    m_set.store(false, std::memory_order_release);
}

void ManualResetEvent::Set() {
    std::lock_guard lock(m_mutex);
    if (m_native == kNoEventNative || m_set.load(std::memory_order_relaxed))
        return;
    m_set.store(true, std::memory_order_release);
    ::SetEvent(m_native);
}

void ManualResetEvent::Reset() {
    std::lock_guard lock(m_mutex);
    if (m_native == kNoEventNative || !m_set.load(std::memory_order_relaxed))
        return;
    m_set.store(false, std::memory_order_release);
    ::ResetEvent(m_native);
}

bool ManualResetEvent::Wait(std::chrono::milliseconds timeout) const {
    return WaitForAny({this}, timeout) == 0;
}

int WaitForAny(std::span<const ManualResetEvent* const> events, std::chrono::milliseconds timeout) {
    // The system answers with the lowest index of the signalled objects, which is the order of
    // priority; null events take no place in the wait but keep their index.
    std::vector<HANDLE> handles;
    std::vector<int> indexOf;
    handles.reserve(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i] != nullptr && events[i]->IsValid()) {
            handles.push_back(events[i]->Native());
            indexOf.push_back(static_cast<int>(i));
        }
    }
    if (handles.empty() || handles.size() > MAXIMUM_WAIT_OBJECTS) {
        ::Sleep(WaitMs(timeout));
        return kWaitTimeout;
    }
    // The system's timer may end a wait a little before the bound; the steady clock decides.
    const bool forever = timeout.count() < 0;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        std::chrono::milliseconds left = timeout;
        if (!forever) {
            left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                std::chrono::steady_clock::now());
            if (left.count() < 0)
                left = std::chrono::milliseconds(0);
        }
        const DWORD rc = ::WaitForMultipleObjects(static_cast<DWORD>(handles.size()),
                                                  handles.data(), FALSE, WaitMs(left));
        if (rc >= WAIT_OBJECT_0 && rc < WAIT_OBJECT_0 + handles.size()) {
            // The flags, not the objects, are what Set and Reset keep exact: an object that was
            // reset in between gives way to a lower index that is set.
            for (std::size_t i = 0; i < events.size(); ++i) {
                if (events[i] != nullptr && events[i]->IsSet())
                    return static_cast<int>(i);
            }
            return indexOf[rc - WAIT_OBJECT_0];
        }
        if (rc != WAIT_TIMEOUT || left.count() == 0)
            return kWaitTimeout;
    }
}

} // namespace orvane
