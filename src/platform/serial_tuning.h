// Driver settings beyond the line settings, applied when a serial device is opened.
#pragma once

namespace orvane {

// Asks the driver to hand received bytes over at once instead of batching them. Refusals
// (pseudo-terminals, drivers without the request) are ignored: the port works as before.
// True when the setting was changed (and so is to be undone at closing).
bool RequestLowLatency(int fd);
// Undoes RequestLowLatency.
void ClearLowLatency(int fd);

} // namespace orvane
