#include <windows.h>

#include "platform/child_process.h"
#include "platform/stop_request.h"
#include "platform/system_error.h"
#include "platform/text.h"
#include "platform/win32/stop_event.h"
#include "platform/win32/text.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace orvane {

namespace {

// Most bytes one ReadOutput/ReadErrors call takes.
constexpr DWORD kReadLimit = 1 << 20;
constexpr int kPollSliceMs = 20;
// The pipes' buffer: a child that writes much between two looks need not wait for each one.
constexpr DWORD kPipeBuffer = 64 * 1024;

// One argument as the child's C run-time splits its command line: quoted when it has blanks,
// tabs or quotes (or is empty); backslashes doubled only before a quote.
void AppendArgument(std::wstring& line, const std::wstring& arg) {
    if (!line.empty())
        line += L' ';
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        line += arg;
        return;
    }
    line += L'"';
    std::size_t backslashes = 0;
    for (const wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"')
            line.append(backslashes * 2 + 1, L'\\');
        else
            line.append(backslashes, L'\\');
        backslashes = 0;
        line += c;
    }
    line.append(backslashes * 2, L'\\');
    line += L'"';
}

// Every child joins one job whose last handle is this process's: when the station ends,
// however it ends, the system ends its receivers' processes.
HANDLE StationJob() {
    static HANDLE job = [] {
        HANDLE h = CreateJobObjectW(nullptr, nullptr);
        if (h) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
            limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            SetInformationJobObject(h, JobObjectExtendedLimitInformation, &limits, sizeof limits);
        }
        return h;
    }();
    return job;
}

void CloseIf(HANDLE& h) {
    if (h && h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    h = nullptr;
}

} // namespace

struct ChildProcess::Impl {
    HANDLE process = nullptr;
    HANDLE out = nullptr;
    HANDLE err = nullptr;
    HANDLE stop = nullptr; // the child's stop event
    DWORD id = 0;
    bool ended = false;
    bool killed = false;
    ChildExit exit;

    ~Impl() {
        if (process && !ended) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
        }
        CloseIf(process);
        CloseIf(out);
        CloseIf(err);
        CloseIf(stop);
    }

    // Whether a pipe has bytes waiting, or has ended (closed and emptied).
    static bool Ready(HANDLE pipe) {
        if (!pipe)
            return false;
        DWORD available = 0;
        if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
            return true; // broken: the writer is gone, which is news too
        return available > 0;
    }

    // Takes what the pipe holds, and what arrives meanwhile, up to the limit of one call.
    static ChildOutput Read(HANDLE& pipe, std::string& appended) {
        if (!pipe)
            return ChildOutput::Ended;
        DWORD taken = 0;
        while (taken < kReadLimit) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
                CloseIf(pipe);
                return ChildOutput::Ended;
            }
            if (available == 0)
                break;
            const DWORD want = (std::min)(available, kReadLimit - taken);
            const std::size_t before = appended.size();
            appended.resize(before + want);
            DWORD got = 0;
            if (!ReadFile(pipe, appended.data() + before, want, &got, nullptr)) {
                appended.resize(before);
                CloseIf(pipe);
                return ChildOutput::Ended;
            }
            appended.resize(before + got);
            taken += got;
        }
        return ChildOutput::Open;
    }
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&& other) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept = default;

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args,
                         std::string* error) {
    auto fail = [&](DWORD code) {
        if (error)
            *error = ErrorText(static_cast<int>(code));
        return false;
    };
    if (m_impl)
        return fail(ERROR_ALREADY_EXISTS);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    if (!CreatePipe(&outRead, &outWrite, &inherit, kPipeBuffer))
        return fail(GetLastError());
    if (!CreatePipe(&errRead, &errWrite, &inherit, kPipeBuffer)) {
        const DWORD code = GetLastError();
        CloseIf(outRead);
        CloseIf(outWrite);
        return fail(code);
    }
    // Only the child's ends are inherited.
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);

    std::wstring line;
    AppendArgument(line, win32::Wide(program));
    for (const std::string& arg : args)
        AppendArgument(line, win32::Wide(arg));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    PROCESS_INFORMATION info{};
    // Its own process group, so that a break event can be sent to it alone; suspended until
    // it is in the job, so that not even its first instruction runs outside it.
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                        CREATE_NEW_PROCESS_GROUP | CREATE_SUSPENDED, nullptr,
                                        nullptr, &startup, &info);
    const DWORD code = GetLastError();
    CloseIf(outWrite);
    CloseIf(errWrite);
    CloseIf(nul);
    if (!started) {
        CloseIf(outRead);
        CloseIf(errRead);
        return fail(code);
    }
    if (HANDLE job = StationJob())
        AssignProcessToJobObject(job, info.hProcess);
    // Made before the child runs, so that a stop asked at once is not lost; the child opens
    // the same event by its name when it installs its stop handling.
    HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, StopEventName(info.dwProcessId).c_str());
    ResumeThread(info.hThread);
    CloseHandle(info.hThread);
    m_impl = std::make_unique<Impl>();
    m_impl->stop = stop;
    m_impl->process = info.hProcess;
    m_impl->id = info.dwProcessId;
    m_impl->out = outRead;
    m_impl->err = errRead;
    return true;
}

bool ChildProcess::Started() const {
    return m_impl != nullptr;
}

long long ChildProcess::Id() const {
    return m_impl ? static_cast<long long>(m_impl->id) : 0;
}

ChildOutput ChildProcess::ReadOutput(std::string& appended) {
    return m_impl ? Impl::Read(m_impl->out, appended) : ChildOutput::Ended;
}

ChildOutput ChildProcess::ReadErrors(std::string& appended) {
    return m_impl ? Impl::Read(m_impl->err, appended) : ChildOutput::Ended;
}

bool ChildProcess::TryWait(ChildExit* exit) {
    if (!m_impl)
        return false;
    if (!m_impl->ended) {
        if (WaitForSingleObject(m_impl->process, 0) != WAIT_OBJECT_0)
            return false;
        DWORD code = 0;
        GetExitCodeProcess(m_impl->process, &code);
        m_impl->ended = true;
        m_impl->exit =
            m_impl->killed ? ChildExit{false, 9} : ChildExit{true, static_cast<int>(code)};
    }
    if (exit)
        *exit = m_impl->exit;
    return true;
}

void ChildProcess::Terminate() {
    if (!m_impl || m_impl->ended)
        return;
    if (m_impl->stop)
        SetEvent(m_impl->stop);
    GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, m_impl->id);
}

void ChildProcess::Kill() {
    if (m_impl && !m_impl->ended && TerminateProcess(m_impl->process, 1))
        m_impl->killed = true;
}

bool WaitForChildren(const std::vector<ChildProcess*>& children, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        for (ChildProcess* child : children) {
            if (!child || !child->m_impl)
                continue;
            ChildProcess::Impl& c = *child->m_impl;
            if (ChildProcess::Impl::Ready(c.out) || ChildProcess::Impl::Ready(c.err))
                return true;
        }
        if (StopRequested() || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollSliceMs));
    }
}

} // namespace orvane
