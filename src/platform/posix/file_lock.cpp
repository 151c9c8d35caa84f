#include "platform/file_lock.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace orvane {

FileLock::FileLock(std::string path) : m_path(std::move(path)) {}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

bool FileLock::TryLockFor(int waitMs, int sliceMs, const std::function<bool()>& stop) {
    if (m_held)
        return true;
    if (m_fd < 0)
        m_fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (m_fd < 0)
        return false; // an unwritable folder: nobody can take it, nothing will be written
    for (int waited = 0;; waited += sliceMs) {
        if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
            return m_held = true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (waited >= waitMs || (stop && stop()))
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
    }
}

} // namespace orvane
