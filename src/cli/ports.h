// The command-line updater's port options: --list-ports, --forget-ports, and the choice of
// ports for --all (--match, or a confirmation on a terminal).
#pragma once

#include "cli/runner.h"
#include "platform/port_directory.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace orvane::app {

// The port table: COM number, path, /dev/serial/by-id name, USB vendor:product, serial number,
// product string, and which other program holds a port.
std::string PortTable(const std::vector<NumberedPort>& ports);

// --list-ports: the table, then what was left out and why. Returns the exit code.
int ListPorts(CPortDirectory& directory, std::FILE* out, std::FILE* err);

// --forget-ports: takes back the numbers of devices not present now. Returns the exit code.
int ForgetPorts(CPortDirectory& directory, std::FILE* out, std::FILE* err);

// True when a --match pattern picks the port: its vendor:product ("0403:6001", any case), its
// serial number, or a part of its /dev/serial/by-id name.
bool PortMatches(const SerialPortInfo& port, const std::string& pattern);

// The ports --all updates: those present and free (not held by another program) that match
// any of the patterns (all of them when there is none).
std::vector<NumberedPort> SelectPorts(const std::vector<NumberedPort>& ports,
                                      const std::vector<std::string>& patterns);

// Shows the ports --all is about to update and asks; true only for an answer of yes.
bool ConfirmPorts(const std::vector<NumberedPort>& ports, std::FILE* in, std::FILE* out);

// The serial device of this machine that has `number` as its own and is at `path` (any path
// may be empty: then the number alone decides); none for a pseudo-terminal or any path that is
// no enumerated device, whose number is only this process's.
std::optional<SerialPortInfo> EnumeratedDevice(int number, const std::string& path);
// What identifies that device's adapter for the records; none when it has nothing to tell.
std::optional<CliPortIdentity> AdapterIdentity(int number, const std::string& path);

// Takes a --port value into the options: a COM name, or a device path (see UseDevicePath).
// Returns 0, or an exit code after the reason went to `err`.
int UsePortArgument(const std::string& text, CliOptions& options, std::FILE* err);

// A device path (named on the command line, or a simulated receiver's): it is opened exactly
// as named, and its number only names it in messages. Warns before the system console.
// Returns 0, or an exit code after the reason went to `err`.
int UseDevicePath(const std::string& path, CliOptions& options, std::FILE* err);

} // namespace orvane::app
