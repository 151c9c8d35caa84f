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
#include <vector>

namespace orvane::ui {

class IPortWorker {
public:
    virtual ~IPortWorker() = default;
    // Hands one frame to the writer; returns when the previous frame has left (bounded).
    // False when the frame was refused and nothing of it will be written; the worker has
    // then told the operator why.
    virtual bool QueueWrite(const std::uint8_t* bytes, int length) = 0;
    // False when the port refused the speed (the worker has shown why); it keeps the old one.
    virtual bool SetBaudRate(int baud) = 0;
    // Moves every unread byte into dest (room for at least 2049 bytes); returns the count.
    virtual int TakeReceived(std::uint8_t* dest) = 0;
    // True once the device has gone away (adapter unplugged, peer closed).
    virtual bool IsLost() const { return false; }
    // Frames so far that did not leave whole (refused, or cut short by the write time-out).
    virtual std::uint64_t WriteFailures() const { return 0; }
    // The device opened, and what identifies it when it comes back under another path
    // (see SerialPortInfo::Identity); empty when the worker does not know.
    virtual std::string DevicePath() const { return {}; }
    virtual std::string Identity() const { return {}; }
    // True when the line is a pseudo-terminal (the simulated receiver), false for a serial
    // line that may lead to a real receiver.
    virtual bool IsPseudoTerminal() const = 0;
};

// Which device a link opens.
struct PortRequest {
    int number = 0;       // the COM number: receive notifications and titles carry it
    std::string path;     // a device path named directly: opened exactly as named
    std::string identity; // a device seen before: opened wherever it is now (reopening)
};

// Why a port could not be opened, in words an operator understands.
struct OpenFailure {
    std::string reason;
};

// Opens the requested device at 9600 8N1 with RTS on, starts the worker's threads and returns
// it, or returns null and fills `failure`. The device is the request's path when it has one,
// else the device of its identity, else the port directory's device for its number.
using PortOpener = std::function<std::unique_ptr<IPortWorker>(
    IMessageTarget* owner, const PortRequest& request, OpenFailure& failure)>;

// The opener of real serial ports (and of any device path named directly).
PortOpener SerialPortOpener();

// Lists the ports found, as device names of the form "\\.\COM3", in ascending order.
using PortLister = std::function<std::vector<std::u16string>()>;
PortLister SystemPortLister();

// A few lines that tell port `port`'s device from the others (path, product, USB vendor and
// product, serial number), for the setup dialog; empty when nothing is known.
using PortDescriber = std::function<std::u16string(int port)>;
PortDescriber SystemPortDescriber();

} // namespace orvane::ui
