#include "platform/serial_tuning.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

namespace orvane {

// USB serial adapters hold received bytes back for their latency timer (16 ms by default on
// the common chips) before handing them over. Every block waits for an acknowledgement, so
// that delay would be paid once per block: 11,394 blocks of the two-stage receiver would wait
// three minutes longer than the wire needs.
bool RequestLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0)
        return false;
    if ((info.flags & ASYNC_LOW_LATENCY) != 0)
        return false;
    info.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &info) == 0;
}

void ClearLowLatency(int fd) {
    serial_struct info{};
    if (::ioctl(fd, TIOCGSERIAL, &info) != 0 || (info.flags & ASYNC_LOW_LATENCY) == 0)
        return;
    info.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &info);
}

} // namespace orvane
