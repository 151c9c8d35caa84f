// Manual-reset events with wait-for-any, the hand-over signals between the serial worker's
// threads.
//
// An event stays set until it is reset. Each event also owns a native object that is signalled
// exactly while the event is set, so a thread can wait for "input on a device OR this event"
// with one system wait (see ISerialDevice::WaitInput): on Linux an eventfd that poll() sees
// readable, on Windows a manual-reset event object.
//
// Thread contract: Set, Reset, IsSet and the waits may be called from any thread at the same
// time. Create/assignment/destruction belong to the owner and must not race with the other
// calls. A default-constructed event is null: setting it does nothing, waiting on it never
// returns through it.
#pragma once

#include <atomic>
#include <chrono>
#include <initializer_list>
#include <mutex>
#include <span>

namespace orvane {

#ifdef _WIN32
using EventNative = void*; // the event object's HANDLE
inline constexpr EventNative kNoEventNative = nullptr;
#else
using EventNative = int; // the eventfd
inline constexpr EventNative kNoEventNative = -1;
#endif

class ManualResetEvent {
public:
    ManualResetEvent() = default;
    ~ManualResetEvent();
    ManualResetEvent(const ManualResetEvent&) = delete;
    ManualResetEvent& operator=(const ManualResetEvent&) = delete;

    // Creates (or re-creates) the event in the given state. Returns 0 or the system's error
    // code of the failure; the event is then null.
    int Create(bool initiallySet);
    void Close();
    bool IsValid() const { return m_native != kNoEventNative; }

    void Set();
    void Reset();
    // Acquire order: what the setter wrote before Set() is visible once this returns true.
    bool IsSet() const { return m_set.load(std::memory_order_acquire); }

    // Waits until the event is set or the time-out passes; a negative time-out waits forever.
    bool Wait(std::chrono::milliseconds timeout) const;

    // The native object that is signalled while the event is set (for poll on Linux, for
    // WaitForMultipleObjects on Windows), or kNoEventNative.
    EventNative Native() const { return m_native; }
#ifndef _WIN32
    int PollFd() const {
        return m_native;
    }
#endif

private:
    EventNative m_native = kNoEventNative;
    std::atomic<bool> m_set{false};
    // Keeps the flag and the descriptor's readiness in step between concurrent Set and Reset.
    std::mutex m_mutex;
};

constexpr int kWaitTimeout = -1;

// Waits until any of the events is set and returns the index of the lowest-numbered set event
// (index order is priority), or kWaitTimeout. A negative time-out waits forever.
int WaitForAny(std::span<const ManualResetEvent* const> events, std::chrono::milliseconds timeout);
inline int WaitForAny(std::initializer_list<const ManualResetEvent*> events,
                      std::chrono::milliseconds timeout) {
    return WaitForAny(std::span<const ManualResetEvent* const>(events.begin(), events.size()),
                      timeout);
}

inline constexpr std::chrono::milliseconds kInfinite{-1};

} // namespace orvane
