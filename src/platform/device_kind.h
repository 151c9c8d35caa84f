// What kind of terminal device an open descriptor is: the slave side of a pseudo-terminal (a
// simulated receiver's line) or anything else (a serial line to real hardware).
//
// Thread contract: any thread.
//
// POSIX only: Windows has no descriptors of this kind, and its serial device cannot tell a
// mapped pseudo-terminal from a port (it says false, the safe answer).
#pragma once

namespace orvane {

// True only when the system says for certain that `fd` is a pseudo-terminal's slave side.
bool IsPseudoTerminalSlave(int fd);

} // namespace orvane
