// A stop asked of the whole process: by a signal (SIGINT, SIGTERM, SIGHUP) in the
// command-line updater, on Windows by a console event (Ctrl+C, Ctrl+Break, the console window
// closing, log-off, shut-down), or by a test.
//
// The request is one atomic number, so a signal handler can make it. Everything that may wait
// long on the user-interface thread (a queued frame waiting for the previous one to leave, the
// command-line updater's loop) looks at it at least every 100 ms and gives up early, so a
// signal always ends the program promptly, whatever the line or the receiver is doing.
//
// Thread contract: every function may be called from any thread; RequestStop also from a
// signal handler.
#pragma once

namespace orvane {

// Installs handlers for SIGINT, SIGTERM and SIGHUP that record the signal (the first one
// wins), and ignores SIGPIPE: a closed output then fails a write instead of ending the
// process before it has said what happened and written its result. On Windows: a console
// control handler that records the console event the same way.
void InstallStopSignals();

// The signal that asked to stop (or the number given to RequestStop), 0 while none has.
int StopSignal();
inline bool StopRequested() {
    return StopSignal() != 0;
}

// The number a stop of the program's own (a time-out) is recorded with.
constexpr int kOwnStop = -1;

// Records a stop (a signal's number, or kOwnStop); a later request does not replace the first.
void RequestStop(int signal);
// Forgets the request (tests).
void ClearStopRequest();

// The exit code of a program stopped by this request, as a shell reports a signal's:
// 128 + the signal's number (130 for SIGINT). On Windows the console events take the codes of
// their POSIX counterparts, so scripts read the same codes on both systems: Ctrl+C 130,
// Ctrl+Break (and a station's stop) 143, the console closing, log-off and shut-down 129.
// A stop of the program's own (or none) reads as SIGINT's.
int StopExitCode(int signal);

// "SIGINT", "SIGTERM", "SIGHUP" (on Windows also "Ctrl+C", "Ctrl+Break", "the console
// closing", ...), or "signal N".
const char* SignalName(int signal);

} // namespace orvane
