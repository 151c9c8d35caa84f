#include "platform/pty.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

namespace orvane {

PtyPair::~PtyPair() {
    CloseMaster();
}

PtyPair::PtyPair(PtyPair&& other) noexcept
    : m_master(std::exchange(other.m_master, -1)), m_slavePath(std::move(other.m_slavePath)) {}

PtyPair& PtyPair::operator=(PtyPair&& other) noexcept {
    if (this != &other) {
        CloseMaster();
        m_master = std::exchange(other.m_master, -1);
        m_slavePath = std::move(other.m_slavePath);
    }
    return *this;
}

void PtyPair::CloseMaster() {
    if (m_master >= 0)
        ::close(m_master);
    m_master = -1;
}

PtyPair OpenPtyPair(int* error) {
    PtyPair pair;
    auto fail = [&](int fd) {
        if (error)
            *error = errno;
        if (fd >= 0)
            ::close(fd);
        return PtyPair{};
    };
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(fd);
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0)
        return fail(fd);
    std::array<char, 128> name{};
    if (::ptsname_r(fd, name.data(), name.size()) != 0)
        return fail(fd);
    // The line's settings live with the pair; start raw so no echo or newline translation
    // touches the bytes before the slave is configured.
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
    }
    pair.m_master = fd;
    pair.m_slavePath = name.data();
    if (error)
        *error = 0;
    return pair;
}

} // namespace orvane
