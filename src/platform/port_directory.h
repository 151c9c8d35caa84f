// The port directory: COM port numbers 1 to 255 for the serial devices of this machine.
//
// The system names ports by number ("\\.\COM3"); device paths on POSIX are names that change
// when an adapter is plugged in again ("/dev/ttyUSB0" today, "/dev/ttyUSB1" tomorrow). The
// directory gives numbers only to real serial devices found by enumeration (see
// serial_ports.h), and keys each number by the device's stable identity: its USB serial
// number where it has one, else its /dev/serial/by-id name, else its path. So an adapter keeps
// its number across replugs and reboots, and a number never leads to some other device.
//
// The map lives in the settings store, group "Ports", one key per number ("Ports/COM3" =
// "usb:0403:6001:A10K5XYZ:00"), with the time each device was last seen in group "PortsSeen".
// A device gets the lowest free number the first time it is seen. When all 255 are taken, the
// number of the device gone longest is given to the newcomer. Entries that can never be a
// serial port (pseudo-terminals, paths outside /dev: what earlier versions stored for any path
// they were given) are read as free numbers and cleaned out with the next change.
//
// A device path named directly (on the command line, a simulated receiver's pseudo-terminal)
// is opened exactly as named and never through its number. When it is not an enumerated serial
// device it still needs a number for the title and the receive notification: it gets one for
// this process only, which is never stored.
//
// A store that cannot be written changes nothing about which device a number means within one
// process (the numbers are kept in memory as well); the numbers are then only not remembered.
//
// Thread contract: any thread; calls on one directory are serialised internally. Several
// processes may share one store: changes are made under a lock file beside it.
#pragma once

#include "platform/device_holder.h"
#include "platform/serial_ports.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace orvane {

class SettingsStore;

constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;

// Device names in the system's form: "\\.\COM%d". The setup dialog shows them without their
// first four characters.
std::u16string DeviceNameForPort(int port);

// A serial port found now, with its number.
struct NumberedPort {
    int number = 0;
    SerialPortInfo info;
    std::optional<DeviceHolder> holder; // another program that has it open
};

// A number taken back by ForgetAbsent.
struct ForgottenPort {
    int number = 0;
    std::string identity;
};

class CPortDirectory {
public:
    // Where the directory learns about the machine; tests give a tree of their own.
    struct Sources {
        std::function<TtyTree()> tree; // default: ReadTtyTree
        std::function<std::vector<std::optional<DeviceHolder>>(const std::vector<std::string>&)>
            holders;                       // default: FindDeviceHolders
        std::function<std::int64_t()> now; // seconds since the epoch; default: the system clock
    };

    // An empty settings file means the user's settings store.
    explicit CPortDirectory(std::string settingsFile = {}, Sources sources = {});
    ~CPortDirectory();
    CPortDirectory(const CPortDirectory&) = delete;
    CPortDirectory& operator=(const CPortDirectory&) = delete;

    // The serial ports present now, numbered, in ascending number order.
    std::vector<NumberedPort> ListPorts();
    // The same as "\\.\COMn" names, leaving out the ports another program holds, which could
    // not be opened.
    std::vector<std::u16string> EnumeratePortNames();
    // The device a number means now, or "" when the number is unknown, out of range, or its
    // device is not present. An unknown number lets the directory number the devices present
    // first, so a device plugged in since is found.
    std::string DevicePathForPort(int port);
    // The port a number means now, when its device is present.
    std::optional<SerialPortInfo> PortForNumber(int port);
    // The number of a device path: an enumerated serial device's own number (given and stored
    // at first sight), or for anything else a number for this process only. 0 when the path
    // is empty or no number is left. A path whose device appears later (an adapter plugged in
    // while the updater waits) keeps its number, which is then stored as the device's own.
    int NumberForDevice(const std::string& path);
    // What identifies the device at `path` (see SerialPortInfo::Identity); the path itself
    // for a device that is not enumerated.
    std::string IdentityForPath(const std::string& path);
    // The path under which a device with that identity is present now, or "".
    std::string PathForIdentity(const std::string& identity);
    // True when the path leads to a device the system console writes to.
    bool IsConsole(const std::string& path);
    // The serial devices the system console writes to ("/dev/ttyS0"): never listed.
    std::vector<std::string> ConsolePorts();
    // Takes back the numbers of devices that are not present now, and of entries that are no
    // serial device at all. The numbers of present devices stay.
    std::vector<ForgottenPort> ForgetAbsent();
    // False once a change could not be written to the store: numbers then last only as long
    // as this process.
    bool Remembered() const;
    // The store's file, for messages.
    std::string StoreFile() const;

    void SetSources(Sources sources);

private:
    struct Entry {
        std::string identity;
        std::int64_t seen = 0;
    };
    using Map = std::array<Entry, kLastPort + 1>;
    class Transaction;

    std::unique_ptr<SettingsStore> Open() const;
    // The store's map with this process's own numbers laid over it.
    Map ReadLocked(SettingsStore& store, bool& hasInvalid) const;
    // Numbers the present ports, giving new ones where needed; changes go to the store.
    std::vector<NumberedPort> NumberLocked(const std::vector<SerialPortInfo>& ports);
    int FreeNumber(const Map& map, const std::vector<bool>& present) const;
    // The number this process gave to a path of `port` before the device was there, when no
    // stored device has taken it since; 0 otherwise.
    int AdoptedNumber(const Map& map, const std::vector<bool>& claimed, const SerialPortInfo& port);
    std::vector<SerialPortInfo> Ports();

    mutable std::mutex m_mutex;
    std::string m_settingsFile;
    Sources m_sources;
    // Numbers given out by this process: kept so that a store that cannot be written does not
    // change what a number means before the process ends.
    std::map<int, std::string> m_assigned;
    // Numbers of this process for paths that are no enumerated serial device; never stored.
    std::map<int, std::string> m_pathNumbers;
    bool m_remembered = true;
};

// The process-wide directory over the user's settings store.
CPortDirectory& PortDirectory();

std::vector<std::u16string> EnumeratePortNames();
std::string DevicePathForPort(int port);
int NumberForDevice(const std::string& path);

} // namespace orvane
