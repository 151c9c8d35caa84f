// The browser page has no serial devices of its own: the page chooses its port with the
// browser and hands the frame a port of its own (src/web). These defaults open nothing.
#include "ui/port_worker.h"

namespace orvane::ui {

PortOpener SerialPortOpener() {
    return [](IMessageTarget*, const PortRequest&, OpenFailure& failure) {
        failure.reason = "this build opens no serial devices: the page chooses its port";
        return std::unique_ptr<IPortWorker>();
    };
}

PortLister SystemPortLister() {
    return [] { return std::vector<std::u16string>(); };
}

PortDescriber SystemPortDescriber() {
    return [](int) { return std::u16string(); };
}

} // namespace orvane::ui
