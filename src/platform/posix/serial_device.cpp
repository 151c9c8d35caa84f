// The serial device over POSIX termios.
//
// The descriptor is kept non-blocking for its whole life; the blocking behaviour the worker
// expects (a write that returns within its time-out bound, a read that waits by the read
// time-outs) is made with poll() and deadlines, so no call can hang past its bound and a
// vanished device shows up as POLLHUP/POLLERR/EIO instead of a stuck thread.
#include "platform/serial_device.h"
#include "platform/device_holder.h"
#include "platform/device_kind.h"
#include "platform/serial_ports.h"
#include "platform/serial_tuning.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace orvane {

namespace {

using Steady = std::chrono::steady_clock;

struct BaudEntry {
    std::uint32_t rate;
    speed_t code;
};

constexpr BaudEntry kBaudRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},
#ifdef B460800
    {460800, B460800},   {500000, B500000},   {576000, B576000},   {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
#endif
};

// Mark and space parity need the "stick parity" flag, which not every system has.
#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif

#ifdef CRTSCTS
constexpr tcflag_t kHardwareFlow = CRTSCTS;
#else
constexpr tcflag_t kHardwareFlow = 0;
#endif

bool SpeedFor(std::uint32_t rate, speed_t& code) {
    for (const auto& e : kBaudRates) {
        if (e.rate == rate) {
            code = e.code;
            return true;
        }
    }
    return false;
}

std::uint32_t RateFor(speed_t code) {
    for (const auto& e : kBaudRates) {
        if (e.code == code)
            return e.rate;
    }
    return 0;
}

// Milliseconds until the deadline for poll(); -1 without a deadline, 0 once it has passed.
int MsUntil(const Steady::time_point* deadline) {
    if (deadline == nullptr)
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*deadline - Steady::now()).count();
    if (left <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(left, 1'000'000));
}

constexpr short kFailureEvents = POLLHUP | POLLERR | POLLNVAL;

// What the line was like before the updater took it.
struct FoundLine {
    termios settings{};
    bool hasModemLines = false;
    int modemLines = 0;         // TIOCM_RTS and TIOCM_DTR as found
    bool lowLatencySet = false; // the updater turned the driver's low latency on
};

// A transfer waiting for the line looks at the cancel flag at least this often.
constexpr int kCancelSliceMs = 50;

int Slice(int wait) {
    return wait < 0 || wait > kCancelSliceMs ? kCancelSliceMs : wait;
}

class PosixSerialDevice final : public ISerialDevice {
public:
    PosixSerialDevice(int fd, const FoundLine& found, bool pseudoTerminal)
        : m_fd(fd), m_found(found), m_pseudoTerminal(pseudoTerminal) {}
    ~PosixSerialDevice() override {
        // What has not left by now never will be wanted: dropping it keeps close() from
        // waiting for a line that does not drain (a serial driver waits up to 30 s for it).
        ::tcflush(m_fd, TCOFLUSH);
        // Leave the line as it was found: another program (or the next updater) may rely on
        // its speed, mode and modem lines. A device that has gone takes none of this.
        ::tcsetattr(m_fd, TCSANOW, &m_found.settings);
        if (m_found.lowLatencySet)
            ClearLowLatency(m_fd);
        if (m_found.hasModemLines) {
            for (const int line : {TIOCM_RTS, TIOCM_DTR}) {
                int bit = line;
                ::ioctl(m_fd, (m_found.modemLines & line) ? TIOCMBIS : TIOCMBIC, &bit);
            }
        }
        ::ioctl(m_fd, TIOCNXCL);
        ::close(m_fd);
    }

    void CancelTransfers() override { m_cancelled.store(true, std::memory_order_release); }
    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    int SetTimeouts(const CommTimeouts& timeouts) override {
        std::lock_guard lock(m_mutex);
        m_timeouts = timeouts;
        return 0;
    }

    int SetMask(std::uint32_t mask) override {
        std::lock_guard lock(m_mutex);
        m_mask = mask;
        return 0;
    }

    int GetState(LineSettings& settings) override {
        termios t{};
        if (::tcgetattr(m_fd, &t) != 0)
            return errno;
        LineSettings s;
        s.BaudRate = RateFor(::cfgetospeed(&t));
        switch (t.c_cflag & CSIZE) {
        case CS5:
            s.ByteSize = 5;
            break;
        case CS6:
            s.ByteSize = 6;
            break;
        case CS7:
            s.ByteSize = 7;
            break;
        default:
            s.ByteSize = 8;
            break;
        }
        if ((t.c_cflag & PARENB) == 0)
            s.Parity = NOPARITY;
        else if (kStickParity != 0 && (t.c_cflag & kStickParity) != 0)
            s.Parity = (t.c_cflag & PARODD) ? MARKPARITY : SPACEPARITY;
        else
            s.Parity = (t.c_cflag & PARODD) ? ODDPARITY : EVENPARITY;
        if ((t.c_cflag & CSTOPB) == 0)
            s.StopBits = ONESTOPBIT;
        else
            s.StopBits = s.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
        int bits = 0;
        if (::ioctl(m_fd, TIOCMGET, &bits) == 0) {
            s.fRtsControl = (bits & TIOCM_RTS) ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
        } else {
            // Pseudo-terminals have no modem lines: report what was last asked for.
            std::lock_guard lock(m_mutex);
            s.fRtsControl = m_rts;
        }
        settings = s;
        return 0;
    }

    int SetState(const LineSettings& s) override {
        speed_t speed{};
        if (!SpeedFor(s.BaudRate, speed) || s.ByteSize < 5 || s.ByteSize > 8 ||
            s.Parity > SPACEPARITY || s.StopBits > TWOSTOPBITS ||
            (s.StopBits == ONE5STOPBITS && s.ByteSize != 5) ||
            ((s.Parity == MARKPARITY || s.Parity == SPACEPARITY) && kStickParity == 0) ||
            s.fRtsControl > RTS_CONTROL_ENABLE)
            return EINVAL;
        termios t{};
        if (::tcgetattr(m_fd, &t) != 0)
            return errno;
        t.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | kStickParity);
        constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
        t.c_cflag |= kSizes[s.ByteSize - 5];
        switch (s.Parity) {
        case ODDPARITY:
            t.c_cflag |= PARENB | PARODD;
            break;
        case EVENPARITY:
            t.c_cflag |= PARENB;
            break;
        case MARKPARITY:
            t.c_cflag |= PARENB | PARODD | kStickParity;
            break;
        case SPACEPARITY:
            t.c_cflag |= PARENB | kStickParity;
            break;
        default:
            break;
        }
        if (s.StopBits != ONESTOPBIT)
            t.c_cflag |= CSTOPB;
        if (::cfsetispeed(&t, speed) != 0 || ::cfsetospeed(&t, speed) != 0)
            return errno;
        if (::tcsetattr(m_fd, TCSANOW, &t) != 0)
            return errno;
        int rts = TIOCM_RTS;
        const unsigned long request = s.fRtsControl == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC;
        if (::ioctl(m_fd, request, &rts) != 0 && errno != ENOTTY && errno != EINVAL)
            return errno;
        std::lock_guard lock(m_mutex);
        m_rts = s.fRtsControl;
        return 0;
    }

    int Purge() override { return ::tcflush(m_fd, TCIOFLUSH) == 0 ? 0 : errno; }

    int Drain(std::chrono::milliseconds bound) override {
        // tcdrain() has no bound, and a stuck adapter would hold the caller for ever: wait for
        // the output queue to empty by polling its count, then let tcdrain() wait for the
        // driver's last character, which is then a matter of one character time.
        const Steady::time_point deadline = Steady::now() + bound;
        for (;;) {
            int queued = 0;
            if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0)
                return errno;
            if (queued <= 0)
                break;
            if (Steady::now() >= deadline)
                return ETIMEDOUT;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        while (::tcdrain(m_fd) != 0) {
            if (errno != EINTR)
                return errno;
        }
        return 0;
    }

    int ClearErrors(std::size_t& waitingInput) override {
        int n = 0;
        if (::ioctl(m_fd, FIONREAD, &n) != 0)
            return errno;
        waitingInput = n > 0 ? static_cast<std::size_t>(n) : 0;
        return 0;
    }

    IoResult Read(std::uint8_t* buffer, std::size_t length) override {
        CommTimeouts to;
        {
            std::lock_guard lock(m_mutex);
            to = m_timeouts;
        }
        IoResult result;
        const auto start = Steady::now();
        const std::uint64_t total =
            std::uint64_t{to.ReadTotalTimeoutMultiplier} * length + to.ReadTotalTimeoutConstant;
        const Steady::time_point totalDeadline = start + std::chrono::milliseconds(total);
        Steady::time_point lastByte = start;
        while (result.count < length) {
            const ssize_t r = ::read(m_fd, buffer + result.count, length - result.count);
            if (r > 0) {
                result.count += static_cast<std::size_t>(r);
                lastByte = Steady::now();
                continue;
            }
            if (r == 0) { // end of file on a terminal: the other side has hung up
                result.error = EIO;
                return result;
            }
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                result.error = errno;
                return result;
            }
            // Nothing waiting: wait by the time-outs.
            Steady::time_point deadline{};
            bool bounded = false;
            if (total != 0) {
                deadline = totalDeadline;
                bounded = true;
            }
            if (to.ReadIntervalTimeout != 0 && result.count > 0) {
                const auto quiet = lastByte + std::chrono::milliseconds(to.ReadIntervalTimeout);
                deadline = bounded ? std::min(deadline, quiet) : quiet;
                bounded = true;
            }
            const int wait = MsUntil(bounded ? &deadline : nullptr);
            if (wait == 0)
                return result;
            if (Cancelled()) {
                result.error = ECANCELED;
                return result;
            }
            pollfd p{m_fd, POLLIN, 0};
            const int rc = ::poll(&p, 1, Slice(wait));
            if (rc < 0 && errno != EINTR) {
                result.error = errno;
                return result;
            }
            if (rc > 0 && (p.revents & POLLIN) == 0 && (p.revents & kFailureEvents) != 0) {
                result.error = EIO;
                return result;
            }
        }
        return result;
    }

    IoResult Write(const std::uint8_t* bytes, std::size_t length) override {
        CommTimeouts to;
        {
            std::lock_guard lock(m_mutex);
            to = m_timeouts;
        }
        const std::uint64_t total =
            std::uint64_t{to.WriteTotalTimeoutMultiplier} * length + to.WriteTotalTimeoutConstant;
        const Steady::time_point deadline = Steady::now() + std::chrono::milliseconds(total);
        IoResult result;
        while (result.count < length) {
            const ssize_t r = ::write(m_fd, bytes + result.count, length - result.count);
            if (r > 0) {
                result.count += static_cast<std::size_t>(r);
                continue;
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
                result.error = errno;
                return result;
            }
            const int wait = MsUntil(total != 0 ? &deadline : nullptr);
            if (wait == 0) {
                result.error = ETIMEDOUT;
                return result;
            }
            if (Cancelled()) {
                result.error = ECANCELED;
                return result;
            }
            pollfd p{m_fd, POLLOUT, 0};
            const int rc = ::poll(&p, 1, Slice(wait));
            if (rc < 0 && errno != EINTR) {
                result.error = errno;
                return result;
            }
            if (rc > 0 && (p.revents & kFailureEvents) != 0) {
                result.error = EIO;
                return result;
            }
        }
        return result;
    }

    WaitResult WaitInput(const ManualResetEvent& wake, std::chrono::milliseconds timeout) override {
        const bool forever = timeout.count() < 0;
        const Steady::time_point deadline = Steady::now() + timeout;
        for (;;) {
            if (wake.IsSet())
                return WaitResult::Woken;
            const int wait = MsUntil(forever ? nullptr : &deadline);
            if (wait == 0)
                return WaitResult::Timeout;
            std::array<pollfd, 2> p{pollfd{m_fd, POLLIN, 0}, pollfd{wake.PollFd(), POLLIN, 0}};
            const int rc = ::poll(p.data(), p.size(), wait);
            if (rc < 0) {
                if (errno == EINTR)
                    continue;
                return WaitResult::Lost;
            }
            if (wake.IsSet())
                return WaitResult::Woken;
            const short revents = p[0].revents;
            if ((revents & POLLNVAL) != 0)
                return WaitResult::Lost;
            if ((revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
                // A hung-up terminal also reads as "readable"; only waiting bytes count.
                std::size_t waiting = 0;
                if (ClearErrors(waiting) != 0)
                    return WaitResult::Lost;
                if (waiting > 0)
                    return WaitResult::Readable;
                if ((revents & (POLLHUP | POLLERR)) != 0)
                    return WaitResult::Lost;
                return WaitResult::Readable;
            }
        }
    }

    bool IsPseudoTerminal() const override { return m_pseudoTerminal; }

private:
    bool Cancelled() const { return m_cancelled.load(std::memory_order_acquire); }

    const int m_fd;
    const FoundLine m_found;
    const bool m_pseudoTerminal;
    std::atomic<bool> m_cancelled{false};
    std::mutex m_mutex; // guards the three fields below
    CommTimeouts m_timeouts;
    std::uint32_t m_mask = 0;
    std::uint8_t m_rts = RTS_CONTROL_ENABLE;
};

// Raw, 8-bit clean, receiver on, modem-control lines ignored, no flow control; reads return
// what is there.
int MakeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        return errno;
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~kHardwareFlow;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &t) == 0 ? 0 : errno;
}

} // namespace

OpenResult OpenSystemSerialDevice(const std::string& path) {
    OpenResult result;
    if (path.empty()) {
        result.error = ENOENT;
        return result;
    }
    // Only a character device can be a serial line; a pipe or a file is not even opened.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        result.error = errno;
        return result;
    }
    if (!S_ISCHR(st.st_mode) || !IsTerminalDevice(path)) {
        result.error = ENOTTY;
        return result;
    }
    // Another program that has the line open would eat the receiver's answers, whatever lock
    // it does or does not take.
    // When that cannot be told (no descriptors left to read the process table with), the line
    // is not opened either: the failure says which of the two it was.
    if (const HolderCheck check = CheckDeviceHolder(path); check.holder || check.error != 0) {
        result.error = check.holder ? EBUSY : check.error;
        return result;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        result.error = errno;
        return result;
    }
    bool exclusive = false;
    auto fail = [&](int error) {
        if (exclusive)
            ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        result.error = error;
        return std::move(result);
    };
    if (!::isatty(fd))
        return fail(ENOTTY);
    // The advisory lock keeps out every cooperating program (and a second open in this one);
    // TIOCEXCL keeps out the rest, except privileged ones.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    exclusive = ::ioctl(fd, TIOCEXCL) == 0;
    FoundLine found;
    if (::tcgetattr(fd, &found.settings) != 0)
        return fail(errno);
    found.hasModemLines = ::ioctl(fd, TIOCMGET, &found.modemLines) == 0;
    if (const int error = MakeRaw(fd); error != 0)
        return fail(error);
    found.lowLatencySet = RequestLowLatency(fd);
    result.device = std::make_unique<PosixSerialDevice>(fd, found, IsPseudoTerminalSlave(fd));
    return result;
}

} // namespace orvane
