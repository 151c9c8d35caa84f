#include "cli/simulate.h"

namespace orvane::app {

std::unique_ptr<RunningSimulator>
StartSimulator(const std::string& /*id*/, bool /*pace*/,
               std::shared_ptr<const firmware::FirmwareSet> /*firmware*/, std::string* path,
               std::string* error) {
    path->clear();
    if (error)
        *error = "the simulated receiver needs a pseudo-terminal, which Windows does not have; "
                 "run orvane-bootsim on a Linux machine and connect to it with a null-modem "
                 "cable (then --port COMn --allow-placeholder-firmware)";
    return nullptr;
}

} // namespace orvane::app
