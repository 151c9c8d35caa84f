#include "platform/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/prctl.h>
#endif

namespace orvane {

namespace {

// Most bytes one ReadOutput/ReadErrors call takes.
constexpr std::size_t kReadLimit = 1 << 20;

// A descriptor closed with its owner.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Close(); }
    Fd(Fd&& other) noexcept : m_fd(other.Release()) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Close();
            m_fd = other.Release();
        }
        return *this;
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;

    int Get() const { return m_fd; }
    bool IsOpen() const { return m_fd >= 0; }
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool MakePipe(Fd& readEnd, Fd& writeEnd) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd = Fd(fds[0]);
    writeEnd = Fd(fds[1]);
    return true;
}

// In the child, between fork and exec (async-signal-safe calls only): the kernel sends it
// SIGTERM when the thread that started it ends, however it ends, and a parent already gone
// (killed in between) takes its child with it.
#ifdef __linux__
void EndWithParent(pid_t parent) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::_exit(128 + SIGTERM);
}
#else
void EndWithParent(pid_t) {}
#endif

// In the child: signals as a program started from a shell finds them, not as this process
// has set them (the station ignores SIGPIPE and may block signals).
void ResetSignals() {
    struct sigaction def {};
    def.sa_handler = SIG_DFL;
    sigemptyset(&def.sa_mask);
    for (const int s : {SIGPIPE, SIGINT, SIGTERM, SIGHUP})
        ::sigaction(s, &def, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Reads what is there without waiting; closes the descriptor at its end.
ChildOutput Drain(Fd& fd, std::string& appended) {
    char buffer[65536];
    std::size_t taken = 0;
    while (fd.IsOpen() && taken < kReadLimit) {
        const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
        if (n > 0) {
            appended.append(buffer, static_cast<std::size_t>(n));
            taken += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return ChildOutput::Open;
        } else {
            fd.Close(); // the end, or an error that no later read would mend
        }
    }
    return fd.IsOpen() ? ChildOutput::Open : ChildOutput::Ended;
}

} // namespace

struct ChildProcess::Impl {
    pid_t pid = 0;
    Fd out;
    Fd err;
    bool reaped = false;
    ChildExit exit;
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess() {
    if (!m_impl || m_impl->pid <= 0 || m_impl->reaped)
        return;
    ::kill(m_impl->pid, SIGKILL);
    while (::waitpid(m_impl->pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         std::string* error) {
    const auto fail = [error](int code) {
        if (error)
            *error = std::strerror(code);
        return false;
    };
    if (!m_impl)
        m_impl = std::make_unique<Impl>();
    if (m_impl->pid != 0)
        return fail(EBUSY);

    // Everything the child needs is made before the fork: after it only async-signal-safe
    // calls are allowed (another thread may hold the allocator's lock).
    std::vector<std::string> argStrings;
    argStrings.reserve(args.size() + 1);
    argStrings.push_back(program);
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(argStrings.size() + 1);
    for (std::string& a : argStrings)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    Fd outRead, outWrite, errRead, errWrite, execRead, execWrite;
    if (!MakePipe(outRead, outWrite) || !MakePipe(errRead, errWrite) ||
        !MakePipe(execRead, execWrite))
        return fail(errno);
    Fd null(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!null.IsOpen())
        return fail(errno);

    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0)
        return fail(errno);
    if (pid == 0) {
        EndWithParent(parent);
        ResetSignals();
        // dup2 clears close-on-exec on the copies: only these three reach the program.
        if (::dup2(null.Get(), STDIN_FILENO) >= 0 && ::dup2(outWrite.Get(), STDOUT_FILENO) >= 0 &&
            ::dup2(errWrite.Get(), STDERR_FILENO) >= 0)
            ::execvp(argv[0], argv.data());
        // The exec failed: the parent learns why through the pipe that closes on a good exec.
        const int code = errno;
        [[maybe_unused]] const ssize_t n = ::write(execWrite.Get(), &code, sizeof code);
        ::_exit(127);
    }

    execWrite.Close();
    outWrite.Close();
    errWrite.Close();
    int code = 0;
    ssize_t n;
    while ((n = ::read(execRead.Get(), &code, sizeof code)) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof code)) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return fail(code);
    }
    ::fcntl(outRead.Get(), F_SETFL, ::fcntl(outRead.Get(), F_GETFL) | O_NONBLOCK);
    ::fcntl(errRead.Get(), F_SETFL, ::fcntl(errRead.Get(), F_GETFL) | O_NONBLOCK);
    m_impl->pid = pid;
    m_impl->out = std::move(outRead);
    m_impl->err = std::move(errRead);
    return true;
}

bool ChildProcess::Started() const {
    return m_impl && m_impl->pid > 0;
}

long long ChildProcess::Id() const {
    return m_impl ? m_impl->pid : 0;
}

ChildOutput ChildProcess::ReadOutput(std::string& appended) {
    return m_impl ? Drain(m_impl->out, appended) : ChildOutput::Ended;
}

ChildOutput ChildProcess::ReadErrors(std::string& appended) {
    return m_impl ? Drain(m_impl->err, appended) : ChildOutput::Ended;
}

bool ChildProcess::TryWait(ChildExit* exit) {
    if (!Started())
        return false;
    if (!m_impl->reaped) {
        int status = 0;
        pid_t r;
        while ((r = ::waitpid(m_impl->pid, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (r == 0)
            return false;
        m_impl->reaped = true;
        if (r < 0) {
            // Reaped elsewhere (SIGCHLD ignored): its end is known, its code is not.
            m_impl->exit = {false, 0};
        } else if (WIFEXITED(status)) {
            m_impl->exit = {true, WEXITSTATUS(status)};
        } else {
            m_impl->exit = {false, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
        }
    }
    if (exit)
        *exit = m_impl->exit;
    return true;
}

void ChildProcess::Terminate() {
    // Once reaped, the number may belong to another process.
    if (Started() && !m_impl->reaped)
        ::kill(m_impl->pid, SIGTERM);
}

void ChildProcess::Kill() {
    if (Started() && !m_impl->reaped)
        ::kill(m_impl->pid, SIGKILL);
}

bool WaitForChildren(const std::vector<ChildProcess*>& children, int timeoutMs) {
    std::vector<pollfd> fds;
    for (ChildProcess* child : children) {
        if (!child || !child->Started())
            continue;
        const ChildProcess::Impl& impl = *child->m_impl;
        for (const Fd* fd : {&impl.out, &impl.err})
            if (fd->IsOpen())
                fds.push_back({fd->Get(), POLLIN, 0});
    }
    const int ready = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? 0 : timeoutMs);
    return ready > 0;
}

} // namespace orvane
