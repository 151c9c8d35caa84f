// An exclusive lock between processes on a lock file beside a store, held while the object
// lives. The system releases it when its holder ends, however it ends, so a killed holder
// never leaves a stale lock behind.
#pragma once

#include <functional>
#include <string>

namespace orvane {

class FileLock {
public:
    explicit FileLock(std::string path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Tries to take the lock for up to waitMs, in slices of sliceMs, giving up early once
    // stop() says so. True when held.
    bool TryLockFor(int waitMs, int sliceMs, const std::function<bool()>& stop);
    bool Held() const { return m_held; }

private:
    std::string m_path;
    int m_fd = -1;
    bool m_held = false;
};

} // namespace orvane
