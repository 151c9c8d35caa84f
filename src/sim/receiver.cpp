#include "sim/receiver.h"

#include <algorithm>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace orvane::bootsim {

namespace {

struct BaudCode {
    std::uint32_t rate;
    speed_t code;
};

constexpr BaudCode kRates[] = {
    {1200, B1200},     {2400, B2400},     {4800, B4800},     {9600, B9600},
    {19200, B19200},   {38400, B38400},   {57600, B57600},   {115200, B115200},
    {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::uint32_t RateOf(speed_t code) {
    for (const auto& r : kRates) {
        if (r.code == code)
            return r.rate;
    }
    return 0;
}

bool CodeOf(std::uint32_t rate, speed_t& code) {
    for (const auto& r : kRates) {
        if (r.rate == rate) {
            code = r.code;
            return true;
        }
    }
    return false;
}

std::string ErrnoText(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

// One start bit, eight data bits, one stop bit.
std::chrono::nanoseconds ByteTime(std::uint32_t baud) {
    return std::chrono::nanoseconds(10'000'000'000LL / baud);
}

} // namespace

SimulatedReceiver::~SimulatedReceiver() {
    Stop();
}

bool SimulatedReceiver::ReadyToStart(std::string* error) {
    if (m_thread.joinable()) {
        if (error)
            *error = "the simulated receiver is already running";
        return false;
    }
    CloseAll();
    return true;
}

std::string SimulatedReceiver::FailStart(const char* what, std::string* error) {
    const int e = errno;
    CloseAll();
    if (error)
        *error = ErrnoText(what, e);
    return {};
}

std::string SimulatedReceiver::Start(const Config& config, std::string* error) {
    if (!ReadyToStart(error))
        return {};
    std::string path = OpenPty(config.linkPath, error);
    if (path.empty()) {
        CloseAll();
        return {};
    }
    m_isDevice = false;
    if (!Launch(config, error))
        return {};
    return path;
}

std::string SimulatedReceiver::OpenPty(const std::string& linkPath, std::string* error) {
    // Closes only what this opened: the runner's wake-up pipe may be in use.
    auto fail = [&](const char* what) {
        const int e = errno;
        for (int* fd : {&m_fd, &m_keepSlave}) {
            if (*fd >= 0)
                ::close(*fd);
            *fd = -1;
        }
        if (error)
            *error = ErrnoText(what, e);
        return std::string();
    };
    m_fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return fail("posix_openpt");
    if (::grantpt(m_fd) != 0 || ::unlockpt(m_fd) != 0)
        return fail("unlockpt");
    std::array<char, 128> name{};
    if (::ptsname_r(m_fd, name.data(), name.size()) != 0)
        return fail("ptsname");
    // Raw line: no echo, no newline translation. The speed stays the line's default until the
    // updater sets one, so an updater that forgets to is caught.
    termios t{};
    if (::tcgetattr(m_fd, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(m_fd, TCSANOW, &t);
    }
    // Holding the slave open ourselves keeps the line up while the updater closes and opens
    // it again, and lets us see how much of our output it has not read yet.
    m_keepSlave = ::open(name.data(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_keepSlave < 0)
        return fail("open slave");
    if (linkPath.empty())
        return name.data();
    // Made under a temporary name and renamed over the link, so the link is never missing
    // or half made while it changes.
    const std::string temporary = linkPath + ".new";
    ::unlink(temporary.c_str());
    if (::symlink(name.data(), temporary.c_str()) != 0 ||
        ::rename(temporary.c_str(), linkPath.c_str()) != 0)
        return fail(linkPath.c_str());
    m_linkPath = linkPath;
    return linkPath;
}

bool SimulatedReceiver::Vanish(const Config& config) {
    for (int* fd : {&m_fd, &m_keepSlave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!config.linkPath.empty())
        ::unlink(config.linkPath.c_str());
    if (!SleepUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(config.vanishMs)))
        return false;
    if (OpenPty(config.linkPath, nullptr).empty())
        return false;
    std::lock_guard lock(m_mutex);
    m_sim = std::make_unique<BootSim>(config); // switched on again: the boot loader starts anew
    ++m_lineReturns;
    return true;
}

std::string SimulatedReceiver::StartOnDevice(const std::string& path, const Config& config,
                                             std::string* error) {
    if (!ReadyToStart(error))
        return {};
    auto fail = [&](const char* what) { return FailStart(what, error); };
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
        return fail(path.c_str());
    ::ioctl(m_fd, TIOCEXCL);
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0)
        return fail("tcgetattr");
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    if (::tcsetattr(m_fd, TCSANOW, &t) != 0)
        return fail("tcsetattr");
    ::tcflush(m_fd, TCIOFLUSH);
    m_deviceBaud = firmware::kSlowBaud;
    m_isDevice = true;
    if (!Launch(config, error))
        return {};
    return path;
}

bool SimulatedReceiver::Launch(const Config& config, std::string* error) {
    if (::pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int e = errno;
        CloseAll();
        if (error)
            *error = ErrnoText("pipe", e);
        return false;
    }
    {
        std::lock_guard lock(m_mutex);
        m_sim = std::make_unique<BootSim>(config);
        m_completed = false;
        m_ended = false;
    }
    m_rxWireEnd = {};
    m_stop.store(false, std::memory_order_relaxed);
    m_running.store(true, std::memory_order_release);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void SimulatedReceiver::Stop() {
    m_stop.store(true, std::memory_order_release);
    if (m_wake[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] const auto n = ::write(m_wake[1], &c, 1);
    }
    // The thread is joined before its descriptors are closed, so it never uses a closed one.
    if (m_thread.joinable())
        m_thread.join();
    CloseAll();
    if (!m_linkPath.empty())
        ::unlink(m_linkPath.c_str());
    m_linkPath.clear();
}

void SimulatedReceiver::CloseAll() {
    for (int* fd : {&m_fd, &m_keepSlave, &m_wake[0], &m_wake[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

bool SimulatedReceiver::WaitForCompletion(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_completed; });
}

bool SimulatedReceiver::WaitForEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_ended; });
}

void SimulatedReceiver::SetFirmware(std::shared_ptr<const firmware::FirmwareSet> firmware) {
    std::lock_guard lock(m_mutex);
    if (m_sim)
        m_sim->SetFirmware(std::move(firmware));
}

SimReport SimulatedReceiver::Report() const {
    std::lock_guard lock(m_mutex);
    SimReport report = m_sim ? m_sim->Report() : SimReport{};
    report.lineReturns = m_lineReturns;
    if (!m_turnaroundUs.empty()) {
        std::vector<std::uint32_t> sorted = m_turnaroundUs;
        std::sort(sorted.begin(), sorted.end());
        auto& t = report.turnaround;
        t.samples = sorted.size();
        t.medianUs = sorted[sorted.size() / 2];
        t.p99Us = sorted[std::min(sorted.size() - 1, sorted.size() * 99 / 100)];
        t.maxUs = sorted.back();
    }
    return report;
}

bool SimulatedReceiver::SleepUntil(std::chrono::steady_clock::time_point deadline) {
    while (!m_stop.load(std::memory_order_acquire)) {
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::nanoseconds::zero())
            return true;
        if (left < std::chrono::milliseconds(2)) {
            // poll cannot wait less than a millisecond; byte pacing at high speeds needs finer.
            std::this_thread::sleep_until(deadline);
            continue;
        }
        pollfd p{m_wake[0], POLLIN, 0};
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        ::poll(&p, 1, static_cast<int>(ms) - 1);
    }
    return false;
}

std::uint32_t SimulatedReceiver::LineBaud() {
    if (m_isDevice)
        return m_deviceBaud;
    // On Linux the master reports the line settings the updater made on the slave.
    termios t{};
    if (::tcgetattr(m_fd, &t) != 0)
        return 0;
    return RateOf(::cfgetospeed(&t));
}

void SimulatedReceiver::SetDeviceBaud(std::uint32_t baud) {
    speed_t code{};
    termios t{};
    if (!CodeOf(baud, code) || ::tcgetattr(m_fd, &t) != 0)
        return;
    // The replies before the change must leave at the old speed.
    ::tcdrain(m_fd);
    ::cfsetispeed(&t, code);
    ::cfsetospeed(&t, code);
    if (::tcsetattr(m_fd, TCSANOW, &t) == 0)
        m_deviceBaud = baud;
}

bool SimulatedReceiver::WriteAll(const std::vector<std::uint8_t>& bytes, bool pace) {
    const std::uint32_t baud = pace ? LineBaud() : 0;
    const auto start = std::chrono::steady_clock::now();
    std::size_t done = 0;
    while (done < bytes.size()) {
        std::size_t chunk = bytes.size() - done;
        if (baud != 0) {
            // Each byte leaves when the one before it would have finished on the wire.
            if (!SleepUntil(start + ByteTime(baud) * static_cast<long>(done)))
                return false;
            chunk = 1;
        }
        const ssize_t n = ::write(m_fd, bytes.data() + done, chunk);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p[2] = {{m_fd, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
        ::poll(p, 2, 100);
        if (m_stop.load(std::memory_order_acquire))
            return false;
    }
    if (baud != 0)
        return SleepUntil(start + ByteTime(baud) * static_cast<long>(bytes.size()));
    return true;
}

void SimulatedReceiver::Run() {
    // Paced bytes leave at deadlines a few microseconds apart; the default timer slack of
    // 50 us would add itself to every acknowledgement and make the line look slower than
    // the wire it stands for.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    Config config;
    {
        std::lock_guard lock(m_mutex);
        config = m_sim->GetConfig();
    }
    std::array<std::uint8_t, 4096> buffer{};
    bool lost = false;
    bool vanished = false;
    while (!m_stop.load(std::memory_order_acquire) && !lost) {
        pollfd p[2] = {{m_fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = ::poll(p, 2, 500);
        if (ready < 0 && errno != EINTR)
            break;
        if (p[1].revents != 0)
            break;
        if ((p[0].revents & POLLIN) == 0) {
            if (p[0].revents & (POLLERR | POLLNVAL))
                lost = true;
            else if (p[0].revents & POLLHUP)
                SleepUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
            continue;
        }
        const ssize_t n = ::read(m_fd, buffer.data(), buffer.size());
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO)
                lost = true;
            continue;
        }
        const auto count = static_cast<std::size_t>(n);
        if (m_ackPending) {
            const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                std::chrono::steady_clock::now() - m_ackSentAt);
            m_ackPending = false;
            std::lock_guard lock(m_mutex);
            m_turnaroundUs.push_back(
                static_cast<std::uint32_t>(std::min<std::int64_t>(us.count(), UINT32_MAX)));
        }
        const std::uint32_t baud = LineBaud();
        if (config.pace && baud != 0) {
            // The bytes came at once through the pseudo-terminal; on a wire the last of them
            // would arrive only now plus their transmission time.
            const auto now = std::chrono::steady_clock::now();
            m_rxWireEnd = std::max(now, m_rxWireEnd) + ByteTime(baud) * static_cast<long>(count);
        }

        std::vector<Outgoing> outs;
        std::uint32_t listening = 0;
        bool completedNow = false;
        bool vanishNow = false;
        {
            std::lock_guard lock(m_mutex);
            const auto before = m_sim->TransfersCompleted();
            outs = m_sim->Feed(buffer.data(), count, baud);
            listening = m_sim->ListeningBaud();
            completedNow = m_sim->TransfersCompleted() != before;
            vanishNow = !vanished && !m_isDevice && config.vanishAfter > 0 &&
                        m_sim->Report().handshakesSeen >= config.vanishAfter;
        }
        if (vanishNow) {
            // Switched off: what it would have answered is never sent.
            vanished = true;
            if (!Vanish(config))
                break;
            continue;
        }
        if (config.pace && !outs.empty() && !SleepUntil(m_rxWireEnd))
            break;
        for (const Outgoing& out : outs) {
            const std::uint32_t delayMs = out.isAck ? config.ackDelayMs : out.delayMs;
            if (delayMs > 0 &&
                !SleepUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(delayMs)))
                break;
            if (!WriteAll(out.bytes, config.pace))
                break;
            if (out.isAck) {
                m_ackSentAt = std::chrono::steady_clock::now();
                m_ackPending = true;
            }
        }
        if (m_isDevice && listening != m_deviceBaud)
            SetDeviceBaud(listening);
        if (completedNow) {
            {
                std::lock_guard lock(m_mutex);
                m_completed = true;
            }
            m_changed.notify_all();
            if (config.exitAfterComplete) {
                // Give the updater the chance to read the last replies before the line goes.
                const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
                while (std::chrono::steady_clock::now() < deadline) {
                    int waiting = 0;
                    if (m_isDevice) {
                        ::tcdrain(m_fd);
                        break;
                    }
                    if (::ioctl(m_keepSlave, FIONREAD, &waiting) != 0 || waiting == 0)
                        break;
                    if (!SleepUntil(std::chrono::steady_clock::now() +
                                    std::chrono::milliseconds(5)))
                        break;
                }
                break;
            }
        }
    }
    m_running.store(false, std::memory_order_release);
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
    }
    m_changed.notify_all();
}

} // namespace orvane::bootsim
