// What the receiver link needs from the serial port worker of an open port, so that tests can
// put a scripted receiver in its place.
//
// Thread contract: every operation is called on the user-interface thread.
#pragma once

#include "platform/message.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvane::ui {

class IPortWorker {
public:
    virtual ~IPortWorker() = default;
    // Hands one frame to the writer; returns when the previous frame has left (bounded).
    virtual void QueueWrite(const std::uint8_t* bytes, int length) = 0;
    virtual void SetBaudRate(int baud) = 0;
    // Moves every unread byte into dest (room for at least 2049 bytes); returns the count.
    virtual int TakeReceived(std::uint8_t* dest) = 0;
    // True once the device has gone away (adapter unplugged, peer closed).
    virtual bool IsLost() const { return false; }
};

// Why a port could not be opened, in words an operator understands.
struct OpenFailure {
    std::string reason;
};

// Opens port `port` at 9600 8N1 with RTS on, starts the worker's threads and returns it, or
// returns null and fills `failure`.
using PortOpener = std::function<std::unique_ptr<IPortWorker>(IMessageTarget* owner, int port,
                                                              OpenFailure& failure)>;

// The opener of real serial ports (and pseudo-terminals known to the port directory).
PortOpener SerialPortOpener();

// Lists the ports found, as device names of the form "\\.\COM3", in ascending order.
using PortLister = std::function<std::vector<std::u16string>()>;
PortLister SystemPortLister();

} // namespace orvane::ui
