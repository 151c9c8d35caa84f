// The command-line updater: the same main window and update view as the desktop updater,
// on the headless back end, with the message list printed as it grows and a progress bar.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::firmware {
class FirmwareSet;
}

namespace orvane::app {

class PortTrace;

// Exit codes of orvane-update-cli.
enum ExitCode : int {
    kExitComplete = 0,   // the completion box was shown
    kExitLinkFailed = 1, // the port could not be opened, or the device went away
    kExitUnknownId = 2,  // the receiver's identifier is not in the catalogue
    kExitTimeout = 3,    // --timeout seconds passed without progress
    kExitFirmware = 4,   // the firmware cannot be used: a package refused, the receiver's image
                         // not in the package, or test images refused for a real device
    kExitReportLost = 5, // a result or report file cannot be written
    kExitUsage = 64,     // the command line is wrong
    kExitInternal = 70,  // a fault of the updater itself (as sysexits' EX_SOFTWARE)
    // Stopped by a signal: 128 + its number (SIGHUP 129, SIGINT 130, SIGTERM 143).
    kExitSignalBase = 128,
    kExitInterrupted = kExitSignalBase + 2,
};

struct CliOptions {
    std::u16string portName; // "COM3"; empty: the stored port
    std::string devicePath;  // a device path named directly: opened exactly as named
    // Waits for a device that is not there yet, and for one that goes away while the
    // handshake waits for the receiver (a receiver that takes its USB port with it when off).
    bool wait = false;
    // Give up after this long without progress (no answer to the handshake, no
    // acknowledgement of the block sent); 0: wait for ever, as the window does.
    std::chrono::seconds timeout{0};
    bool progressBar = true; // a live bar (only on a terminal)
    bool verbose = false;    // every address line, not just first and last
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::function<std::string()> describePort; // "COM3 (/dev/ttyUSB0)" for messages
    // Machine-readable progress for a station-mode parent: "progress POS UPPER BLOCKS" and
    // "line TEXT" lines instead of the human output.
    bool machine = false;
    // The firmware to send (null: what the build carries).
    std::shared_ptr<const firmware::FirmwareSet> firmware;
    // Bench override: the build's test images may go to a device that is not a
    // pseudo-terminal.
    bool allowPlaceholder = false;
    // Every byte on the line and the frames it makes, for a support case (null: no trace).
    std::shared_ptr<PortTrace> trace;
};

struct CliImage {
    std::string name; // "G", "PXA271"
    std::uint32_t length = 0;
    std::string sha256;
};

struct CliResult {
    int exitCode = kExitComplete;
    std::string reason;
    std::string port;                     // "COM3 (/dev/ttyUSB0)"
    std::string identifier;               // as the receiver reported it, after normalisation
    std::string image;                    // "J (K65q/K64q/K640q)", "PXA271+FPGA (K64U)", or ""
    std::string firmware;                 // "placeholder images" or the package's release name
    std::vector<CliImage> images;         // what the receiver's entry sends, with SHA-256
    std::uint64_t blocks = 0;             // blocks sent
    std::uint64_t blocksAcknowledged = 0; // blocks the receiver acknowledged
    std::uint64_t surplusAcks = 0;        // acknowledgements after the end of the image
    int signal = 0;                       // the signal that stopped the run, or 0
    double seconds = 0;
    double transferSeconds = 0; // from the first block to the end
};

// The result as a JSON object (one line), for station mode and scripts.
std::string ResultJson(const CliResult& result);

// Whether a file can be written at path, found out without destroying anything: an existing
// file is opened for appending, a new one is created and removed again. False with the
// reason otherwise.
bool CanWriteFile(const std::string& path, std::string* why);
// Writes text to path (replacing it); false with the reason when it cannot.
bool WriteTextFile(const std::string& path, const std::string& text, std::string* why);

// Text from outside (the receiver, a child process) made safe for a terminal: control
// characters escaped, UTF-8 out.
std::string TerminalText(std::u16string_view text);

// Links to the port, runs the Update command at once and dispatches until the update
// completes, fails or times out.
CliResult RunUpdate(const CliOptions& options);

} // namespace orvane::app
