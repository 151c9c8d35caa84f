// The exit codes of every program of the project: the updaters (command line and both
// windows) and the simulated receiver. One table, so that a script reading a code never has to
// ask which program it ran; each program uses the codes that can happen to it.
#pragma once

namespace orvane {

enum ExitCode : int {
    kExitComplete = 0,       // the update is complete (the simulated receiver: it took a whole
                             // transfer without an error); a window closed normally
    kExitLinkFailed = 1,     // the port cannot be opened or configured, or the device went away;
                             // a window or the simulated receiver could not start
    kExitUnknownId = 2,      // the receiver's identifier is not in the catalogue
    kExitTimeout = 3,        // --timeout seconds passed without progress
    kExitFirmware = 4,       // the firmware cannot be used: a package refused, the receiver's image
                             // not in the package, or test images refused for a real device
    kExitReportLost = 5,     // a result or report file cannot be written
    kExitStalled = 6,        // the transfer began and stopped: no acknowledgement within the stall
                             // limit, or the receiver started again as one that cannot be updated
    kExitLostInTransfer = 7, // the device went away during the transfer
    kExitUsage = 64,         // the command line is wrong (as sysexits' EX_USAGE)
    kExitInternal = 70,      // a fault of the program itself (as sysexits' EX_SOFTWARE)
    // Stopped by a signal: 128 + its number (SIGHUP 129, SIGINT 130, SIGTERM 143).
    kExitSignalBase = 128,
    kExitInterrupted = kExitSignalBase + 2,
};

} // namespace orvane
