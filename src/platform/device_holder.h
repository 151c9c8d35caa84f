// Who else has a serial device open.
//
// A program that holds the receiver's port (a terminal program, a `cat`, a modem manager
// probing it) eats the boot loader's answers, and most such programs take no lock that the
// updater could see. The system's process table shows them all the same: every process's open
// descriptors are looked at, and so are the UUCP lock files that older terminal programs
// leave in /var/lock.
//
// A process that holds both ends of a pseudo-terminal is the line's far end keeping it up (a
// simulated receiver), not a rival, and is not counted. Neither is this process.
//
// Processes of other users can only be seen by a privileged caller; the exclusive open and
// the advisory lock still keep out those that cooperate.
//
// Thread contract: free functions without shared state; any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace orvane {

struct DeviceHolder {
    std::string name; // the program's name, "minicom"
    long pid = 0;

    // "minicom (pid 1234)"
    std::string Describe() const;
};

// What a look at the process table found for one device: the holder, or nobody, or, when
// the table could not be read (this process may open no more files), that it is not known.
// A holder is named only when it is certain: a guess would send the user after a program
// that does not hold the line.
struct HolderCheck {
    std::optional<DeviceHolder> holder;
    int error = 0; // errno of what kept the look from being made; 0 when it was made
};

HolderCheck CheckDeviceHolder(const std::string& path);

// The first other process found holding the device at `path` open; nothing when none is
// found, the path is not a character device, or it cannot be told.
std::optional<DeviceHolder> FindDeviceHolder(const std::string& path);

// The same for several devices at once, with one look at the process table.
std::vector<std::optional<DeviceHolder>> FindDeviceHolders(const std::vector<std::string>& paths);

} // namespace orvane
