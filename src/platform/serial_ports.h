// Which serial devices this machine has, and how to tell them apart.
//
// The system's device tree is read in one go (ReadTtyTree, libudev on Linux) into plain
// records; everything that decides what counts as a serial port works on those records, so a
// test can hand in a tree of its own making.
//
// What counts: a tty backed by a device (a UART, a USB adapter, a CDC-ACM receiver, a
// Bluetooth serial link), of any family (ttyS, ttyUSB, ttyACM, ttyAMA, rfcomm, ttyXRUSB, ...).
// What never counts: virtual terminals, pseudo-terminals, on-board UART placeholders with no
// hardware behind them, and the system console, which carries a login prompt or the kernel's
// messages and must not receive handshakes.
//
// Thread contract: free functions without shared state; any thread.
#pragma once

#include <string>
#include <vector>

namespace orvane {

// One tty device as the system's device tree shows it.
struct TtyNode {
    std::string name;       // "ttyUSB0"
    std::string devnode;    // "/dev/ttyUSB0"; empty: "/dev/" + name
    bool hasDevice = false; // backed by a device; false for virtual terminals and aliases
    std::string driver;     // the driver of that device ("ftdi_sio", "cdc_acm", "serial8250")
    // The serial core's port type: 0 means no UART answers behind the port (a placeholder);
    // -1 when the driver does not say.
    int uartType = -1;
    std::vector<std::string> links; // other names: "/dev/serial/by-id/...", ".../by-path/..."
    // Of the USB device behind the port, when there is one.
    std::string vendorId;  // "0403"
    std::string productId; // "6001"
    std::string serial;    // the USB serial number
    std::string product;   // the product string
    std::string manufacturer;
    std::string interfaceNumber; // "00": which port of a multi-port adapter
    std::string number;          // the device number, "4:64"; empty when unknown
};

struct TtyTree {
    std::vector<TtyNode> nodes;
    std::vector<std::string> consoles; // device names the system console writes to ("ttyS0")
};

// Reads the tty devices of this machine and the console's devices.
TtyTree ReadTtyTree();

// A serial port of this machine and what identifies it.
struct SerialPortInfo {
    std::string path; // "/dev/ttyUSB0"
    std::string byId; // "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K5XYZ-if00-port0", or ""
    std::string vendorId, productId, serial, product, manufacturer, interfaceNumber;

    // What stays the same when the device is plugged in again, perhaps under another path:
    // "usb:VID:PID:SERIAL:IF" when the USB device has a serial number, else the by-id name,
    // else the path.
    std::string Identity() const;
    // "0403:6001", or "" for a port that is not on USB.
    std::string VendorProduct() const;
    // True when the identity names this device (any of its three forms).
    bool Matches(const std::string& identity) const;
};

// The serial ports in a tree, the console and placeholders left out, in order of family and
// number (ttyACM0, ttyS0, ttyS1, ttyS10, ttyUSB0, ...).
std::vector<SerialPortInfo> SerialPortsIn(const TtyTree& tree);

// The port of the tree that `path` names (through any of its names), or null.
const SerialPortInfo* FindPort(const std::vector<SerialPortInfo>& ports, const std::string& path);

// True when `path` (or the device it leads to) is a device the system console writes to, or
// the console device itself, whatever name it is given: the device number decides.
bool IsConsoleIn(const TtyTree& tree, const std::string& path);

// True for names that can never be a serial port of this machine whatever the tree says:
// pseudo-terminals, virtual terminals, the controlling terminal and console aliases, paths
// outside /dev. Used to keep such paths out of the port directory's store.
bool IsNeverAPort(const std::string& path);

// True when `path` is a terminal device, told without opening it (opening some character
// devices has effects of its own: a watchdog starts counting). A device whose kind the system
// does not say is given the benefit of the doubt, so the open's own check decides.
bool IsTerminalDevice(const std::string& path);

// The device number of the character device at `path`, "4:64", told without opening it;
// empty for anything else.
std::string DeviceNumber(const std::string& path);

// The path with symbolic links resolved, or the path itself when it cannot be resolved.
std::string ResolvedPath(const std::string& path);

} // namespace orvane
