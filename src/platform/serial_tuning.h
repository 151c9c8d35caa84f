// Driver settings beyond the line settings, applied when a serial device is opened.
//
// POSIX only: on Windows the latency of a USB adapter is its driver's own setting.
#pragma once

namespace orvane {

// Asks the driver to hand received bytes over at once instead of batching them. Refusals
// (pseudo-terminals, drivers without the request) are ignored: the port works as before.
// True when the setting was changed (and so is to be undone at closing).
bool RequestLowLatency(int fd);
// Undoes RequestLowLatency.
void ClearLowLatency(int fd);

} // namespace orvane
