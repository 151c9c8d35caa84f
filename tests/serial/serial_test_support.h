// Helpers shared by the serial worker's tests: a message target that records posts, a
// message-box capture, and the settings store moved into a temporary folder.
#pragma once

#include "platform/message.h"

#ifndef _WIN32
#include "platform/settings.h"

#include <QTemporaryDir>
#endif

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace orvane::test {

struct Posted {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class RecordingTarget final : public IMessageTarget {
public:
    bool PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) override {
        // A full queue: the next `refuse` posts are turned away.
        if (refuse.load() > 0) {
            --refuse;
            return false;
        }
        {
            std::lock_guard lock(m_mutex);
            m_posted.push_back({message, wParam, lParam});
        }
        m_cv.notify_all();
        return true;
    }
    // Waits until more than `seen` messages have been posted; returns the count.
    std::size_t WaitBeyond(std::size_t seen, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        m_cv.wait_for(lock, timeout, [&] { return m_posted.size() > seen; });
        return m_posted.size();
    }
    std::vector<Posted> Snapshot() {
        std::lock_guard lock(m_mutex);
        return m_posted;
    }

    std::atomic<int> refuse{0};

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Posted> m_posted;
};

struct Box {
    std::u16string text;
    std::u16string caption;
    unsigned style;
};

// Captures message boxes for its lifetime.
class BoxCapture {
public:
    BoxCapture() {
        m_previous = SetMessageBoxHandler([this](IMessageTarget*, std::u16string_view text,
                                                 std::u16string_view caption, unsigned style) {
            std::lock_guard lock(m_mutex);
            m_boxes.push_back({std::u16string(text), std::u16string(caption), style});
            return IDOK;
        });
    }
    ~BoxCapture() { SetMessageBoxHandler(std::move(m_previous)); }
    std::vector<Box> Boxes() {
        std::lock_guard lock(m_mutex);
        return m_boxes;
    }

private:
    std::mutex m_mutex;
    std::vector<Box> m_boxes;
    MessageBoxHandler m_previous;
};

#ifdef _WIN32
// Windows numbers its ports itself: the port directory keeps no store to move aside.
class TempSettings {
public:
    bool IsValid() const { return true; }
};
#else
// Points the user's settings store (and with it the port directory) at a temporary folder.
class TempSettings {
public:
    TempSettings() { SetSettingsFolder(m_dir.path().toStdString()); }
    bool IsValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};
#endif

} // namespace orvane::test
