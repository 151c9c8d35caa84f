// The simulated receiver behind --simulate: a boot loader answering on a pseudo-terminal in
// this process, for trying the updater without hardware.
#pragma once

#include "firmware/firmware_set.h"

#include <memory>
#include <string>

namespace orvane::app {

class RunningSimulator {
public:
    virtual ~RunningSimulator() = default;
    // Stops answering; returns the receiver's JSON report.
    virtual std::string Stop() = 0;
};

// Starts a receiver that reports `id` and expects `firmware`; *path gets the device the
// updater opens. Null, with the reason in *error, when it cannot start (or where the system
// has no pseudo-terminals). It answers until the returned object is gone.
std::unique_ptr<RunningSimulator>
StartSimulator(const std::string& id, bool pace,
               std::shared_ptr<const firmware::FirmwareSet> firmware, std::string* path,
               std::string* error);

} // namespace orvane::app
