// The command-line updater: the same main window and update view as the desktop updater,
// on the headless back end, with the message list printed as it grows and a progress bar.
#pragma once

#include "platform/exit_codes.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::firmware {
class FirmwareSet;
}

namespace orvane::app {

class PortTrace;

// Exit codes: the project's one table.
using orvane::ExitCode;
using enum orvane::ExitCode;

struct CliOptions {
    std::u16string portName; // "COM3"; empty: the stored port
    std::string devicePath;  // a device path named directly: opened exactly as named
    // Waits for a device that is not there yet, and for one that goes away while the
    // handshake waits for the receiver (a receiver that takes its USB port with it when off).
    bool wait = false;
    // Give up after this long without progress (no answer to the handshake, no
    // acknowledgement of the block sent); 0: wait for ever, as the window does.
    std::chrono::seconds timeout{0};
    // Once a block has gone out, silence for this long ends the transfer (0: never).
    std::chrono::seconds stallTimeout{20};
    // After the two-stage receiver's last block, how long its completion reply may take (0: for
    // ever; it writes its flash meanwhile).
    std::chrono::seconds completionTimeout{0};
    // After a stall, a device lost or an unknown identifier, start again from the handshake this
    // many times (RunUpdateWithRetries).
    int retries = 0;
    bool progressBar = true; // a live bar (only on a terminal)
    // Errors only: no list lines, no bar, no notes (--quiet); the exit code tells the rest.
    bool quiet = false;
    bool verbose = false; // every address line, not just first and last
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
    bool allowConsole = false; // --allow-console: the system console may be opened when named
    // Every byte on the line and the frames it makes, for a support case (null: no trace).
    std::shared_ptr<PortTrace> trace;
    // Who runs the update, for the records (--operator; the login name by default).
    std::string operatorName;

    // Whether lines meant for a person go out: neither a station's reader nor --quiet.
    bool Chatty() const { return !machine && !quiet; }
};

// What identifies the adapter a receiver was on, when it is a serial device of this machine.
struct CliPortIdentity {
    std::string byId;          // "/dev/serial/by-id/usb-FTDI_..." (POSIX)
    std::string vendorProduct; // "0403:6001"
    std::string serial;        // the adapter's USB serial number
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
    double transferSeconds = 0;     // from the first block to the end
    std::string startedAt, endedAt; // ISO 8601, UTC
    std::string host;               // the machine's name
    std::string operatorName;       // who ran it
    std::optional<CliPortIdentity> portIdentity;
    std::string signedBy;         // the key id that signed the firmware package; "" for test images
    std::string traceError;       // why --trace stopped before the end, or ""
    bool deviceLost = false;      // the device went away (before or during the transfer)
    std::vector<CliResult> tries; // with --retries: every try, this one last
};

// The result as a JSON object (one line), for station mode and scripts.
std::string ResultJson(const CliResult& result);

// Whether a file can be written at path, found out without destroying anything: an existing
// file is opened for appending, a new one is created and removed again. False with the
// reason otherwise.
bool CanWriteFile(const std::string& path, std::string* why);
// Writes text to an open file and closes it; 0, or the errno of the first failure (a full
// disk shows at the write, the flush or the close, depending on the C library).
int WriteAndClose(std::FILE* file, const std::string& text);
// Writes text to path (replacing it); false with the reason when it cannot.
bool WriteTextFile(const std::string& path, const std::string& text, std::string* why);

// Text from outside (the receiver, a child process) made safe for a terminal: control
// characters escaped, UTF-8 out.
std::string TerminalText(std::u16string_view text);

// Links to the port, runs the Update command at once and dispatches until the update
// completes, fails or times out.
CliResult RunUpdate(const CliOptions& options);
// RunUpdate, and again from the handshake up to options.retries times after a stall, a device
// lost or an unknown identifier; the result is the last try's, with every try in `tries`.
CliResult RunUpdateWithRetries(const CliOptions& options);

// --repeat: one receiver after another on the same port until a signal, each updated as
// RunUpdateWithRetries does. `record` gets each receiver's result as it ends (n from 1).
struct RepeatOutcome {
    std::vector<CliResult> receivers;
    int exitCode = kExitComplete; // see RunEveryReceiver
    std::string summary;          // "3 receivers: 2 done, 1 failed (K64E 2 done; 11S2 1 failed)"
};
// A signal between receivers (none had begun its transfer) ends cleanly: the code is 0 when
// every receiver completed, else the highest failed receiver's. A signal mid-transfer ends as a
// single run does.
RepeatOutcome RunEveryReceiver(const CliOptions& options,
                               const std::function<void(const CliResult&, int n)>& record);

// One receiver of a line, for its summary.
struct ReceiverTally {
    std::string identifier; // empty: it never answered
    int exitCode = kExitComplete;
};
// "3 receivers: 2 done, 1 failed (K64E 2 done; 11S2 1 failed)"
std::string LineSummary(const std::vector<ReceiverTally>& receivers);

} // namespace orvane::app
