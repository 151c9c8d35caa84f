#include "platform/device_kind.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace orvane {

namespace {
// Linux numbers the slave sides of its pseudo-terminals (/dev/pts/N) with character-device
// majors 136 to 143 (UNIX98_PTY_SLAVE_MAJOR and the seven after it).
constexpr unsigned kFirstPtySlaveMajor = 136;
constexpr unsigned kLastPtySlaveMajor = 143;
} // namespace

bool IsPseudoTerminalSlave(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned major = ::major(st.st_rdev);
    return major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor;
}

} // namespace orvane
