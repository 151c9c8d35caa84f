#include "cli/simulate.h"

#include "sim/receiver.h"

namespace orvane::app {

namespace {
class BootsimReceiver : public RunningSimulator {
public:
    std::string Stop() override {
        receiver.Stop();
        return receiver.ReportJson();
    }
    bootsim::SimulatedReceiver receiver;
};
} // namespace

std::unique_ptr<RunningSimulator>
StartSimulator(const std::string& id, bool pace,
               std::shared_ptr<const firmware::FirmwareSet> firmware, std::string* path,
               std::string* error) {
    auto simulator = std::make_unique<BootsimReceiver>();
    bootsim::Config config;
    config.id = id;
    config.pace = pace;
    config.firmware = std::move(firmware); // the simulated receiver expects exactly these images
    *path = simulator->receiver.Start(config, error);
    if (path->empty())
        return nullptr;
    return simulator;
}

} // namespace orvane::app
