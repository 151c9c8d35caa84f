// Child processes whose output is read through pipes: the station mode's updater processes.
//
// A child gets the null device as its standard input and one pipe each for its standard output
// and standard error, read here without blocking. It ends when this process ends, however this
// process ends (killed included), so a station never leaves a receiver's process behind.
//
// Per system: POSIX forks and executes, with a pipe that reports a failed exec, and asks the
// kernel to send the child SIGTERM when its parent dies; Windows would create the process
// with anonymous pipes, read them after a look with PeekNamedPipe, and put it in a job object
// that kills its processes when the job's last handle closes.
//
// Thread contract: a ChildProcess belongs to one thread, which calls all its functions and
// WaitForChildren. Start it from a thread that lives as long as the child should (the main
// thread): on Linux the child is told to end when the thread that started it ends.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace orvane {

// How a child ended.
struct ChildExit {
    // True when it ended by itself (returned from main, called exit); false when a signal
    // (POSIX) or Kill ended it.
    bool normal = true;
    // Its exit code when it ended by itself; the signal's number otherwise (POSIX).
    int code = 0;
};

// Whether one of a child's output channels may still bring something.
enum class ChildOutput { Open, Ended };

class ChildProcess {
public:
    ChildProcess();
    // A child still running is killed and waited for.
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` (a path, or a name looked up in PATH) with `args` after its own name.
    // False, with the reason in *error (e.g. "No such file or directory"), when it cannot be
    // started; then nothing runs. A ChildProcess is started once.
    bool Start(const std::string& program, const std::vector<std::string>& args,
               std::string* error);
    bool Started() const;
    // The system's number of the child (POSIX: its pid), 0 before a start.
    long long Id() const;

    // Appends what the child has written to its standard output (standard error) so far,
    // without waiting, at most about a mebibyte a call so that a child that writes without
    // pause cannot hold the caller. Ended once the child (and whatever inherited the pipe)
    // closed it and everything was read.
    ChildOutput ReadOutput(std::string& appended);
    ChildOutput ReadErrors(std::string& appended);

    // Whether the child has ended, without waiting; fills *exit when it has (every later call
    // gives the same answer). What it wrote before it ended can still be read.
    bool TryWait(ChildExit* exit);

    // Asks the child to stop (POSIX: SIGTERM; Windows: a console break event); it may take
    // its time, or ignore it.
    void Terminate();
    // Ends the child at once (POSIX: SIGKILL; Windows: TerminateProcess).
    void Kill();

private:
    struct Impl; // per system
    friend bool WaitForChildren(const std::vector<ChildProcess*>& children, int timeoutMs);
    std::unique_ptr<Impl> m_impl;
};

// Waits up to timeoutMs until one of `children` has output to read or has ended, or a signal
// arrives. Children not started, ended channels and null entries are passed over. True when
// something is ready; false on the time-out or a signal. POSIX polls the pipes, so an end
// shows as the child's channels closing (a child that closed them early is noticed by TryWait
// after the time-out); Windows would wait on the process handles in short slices and look
// into the pipes between them, since anonymous pipes cannot be waited on.
bool WaitForChildren(const std::vector<ChildProcess*>& children, int timeoutMs);

} // namespace orvane
