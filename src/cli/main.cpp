// orvane-update-cli: runs a firmware update from a terminal or a script.
#include "cli/catalogue_listing.h"
#include "cli/port_trace.h"
#include "cli/ports.h"
#include "cli/runner.h"
#include "cli/simulate.h"
#include "cli/station.h"
#include "firmware/catalogue.h"
#include "firmware/commands.h"
#include "firmware/firmware_set.h"
#include "loading/firmware_loading.h"
#include "platform/command_line.h"
#include "platform/console.h"
#include "platform/host.h"
#include "platform/port_argument.h"
#include "platform/port_directory.h"
#include "platform/program_path.h"
#include "platform/stop_request.h"
#include "platform/text.h"
#include "platform/version.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>

namespace {

const char* kDescription =
    "Loads firmware into a satellite-positioning receiver through its boot loader.\n"
    "\n"
    "Links to the serial port, asks you to switch the receiver off and on, sends the\n"
    "handshake every 300 ms at 9600 baud until the boot loader answers with its\n"
    "identifier, then sends the matching firmware block by block. Every line of the\n"
    "updater's message list is printed as it appears; on a terminal a progress bar\n"
    "shows percent, bytes, blocks per second and the time left.\n"
    "\n"
    "Exit codes:\n"
    "  0    update complete\n"
    "  1    the port cannot be opened or configured, or the device went away\n"
    "  2    the receiver's identifier is not in the catalogue\n"
    "  3    --timeout seconds passed without progress (the message names the block\n"
    "       it waited for)\n"
    "  4    the firmware cannot be used: the package is refused (the message names\n"
    "       the file and what is wrong), the receiver's image is not in the package,\n"
    "       or this build's test images were refused for a device that is not the\n"
    "       simulated receiver\n"
    "  5    a result or report file cannot be written: checked before any receiver\n"
    "       is touched; in station mode also a report lost at the end\n"
    "  6    the transfer began and stopped: no acknowledgement for --stall-timeout\n"
    "       seconds, or the receiver started again as one that cannot be updated\n"
    "       (the message names the last block acknowledged: switch the receiver off\n"
    "       and on and update it again)\n"
    "  7    the device went away during the transfer (the message names the last\n"
    "       block acknowledged)\n"
    "  64   the command line is wrong\n"
    "  70   an internal fault of the updater (the update did not complete)\n"
    "  129, 130, 143\n"
    "       stopped by SIGHUP, SIGINT (Ctrl-C) or SIGTERM (128 + the signal's number):\n"
    "       the port is released, the message names the last block acknowledged, and\n"
    "       the result JSON is written\n"
    "\n"
    "Firmware: --firmware PACKAGE sends the images of a signed firmware package (a\n"
    "folder with manifest.json, the image files and manifest.json.minisig); it is\n"
    "checked completely before the first byte goes out. Without it the build's own\n"
    "firmware is sent: in a build without -DORVANE_FIRMWARE these are test images,\n"
    "which go only to the simulated receiver (--simulate, or orvane-bootsim).\n"
    "\n"
    "Station mode: give --port (or --simulate) several times, or --all, and every\n"
    "receiver is updated at once in its own process, with a progress line each, a\n"
    "summary table and a JSON report per receiver; the exit code is the highest of\n"
    "the failed receivers' codes (0 when all completed, 5 when a report was lost).\n"
    "A port given twice is updated once. --all picks the ports that --match names;\n"
    "without --match it asks on a terminal and refuses elsewhere. A signal stops\n"
    "every receiver's process; the table then shows where each one stood. The\n"
    "processes end with the station even when it is killed.\n"
    "\n"
    "Ports: COM numbers are given only to serial devices found on this machine (never\n"
    "to the system console or a pseudo-terminal) and follow an adapter from socket to\n"
    "socket by its USB serial number; --list-ports shows them. A device path is\n"
    "opened exactly as given.\n"
    "\n"
    "Examples:\n"
    "  orvane-update-cli --port COM3\n"
    "  orvane-update-cli --port /dev/ttyUSB0 --timeout 900\n"
    "  orvane-update-cli --simulate K64U          (a simulated receiver, no hardware)\n"
    "  orvane-update-cli --firmware pkg --port /dev/ttyUSB0   (a signed firmware package)\n"
    "  orvane-update-cli --frame 'SS, B49,B54,'   (the bytes a command text becomes)\n"
    "  orvane-update-cli --port COM3 --port COM4 --port /dev/ttyUSB2   (station mode)\n"
    "  orvane-update-cli --all --match 0403:6001 --timeout 900   (every such adapter)\n"
    "  orvane-update-cli --port /dev/serial/by-id/usb-FTDI_FT232R_A10K5XYZ-if00-port0 --wait";

void PrintFrame(const std::string& text, int frameType) {
    const auto frame =
        orvane::firmware::EncodeFrame(orvane::FromUtf8(text), static_cast<std::uint8_t>(frameType));
    if (frame.empty()) {
        std::printf("(no frame: the text has no two command letters)\n");
        return;
    }
    for (std::size_t i = 0; i < frame.size(); ++i)
        std::printf("%s%02X", i ? " " : "", frame[i]);
    std::printf("\n");
}

// A whole decimal number, nothing else around it.
template <typename Number> bool ParseNumber(const std::string& text, Number& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// A folder name for this run's reports: "station-<date>-<time>" in the current folder, and
// "-2", "-3"... added for a second run in the same second.
std::string NewReportDir() {
    char stamp[64] = "station";
    const std::time_t now = std::time(nullptr);
    if (const std::tm* local = std::localtime(&now))
        std::strftime(stamp, sizeof stamp, "station-%Y%m%d-%H%M%S", local);
    std::string dir = stamp;
    std::error_code ec;
    for (int n = 2; std::filesystem::exists(dir, ec); ++n)
        dir = std::string(stamp) + "-" + std::to_string(n);
    return dir;
}

// What the command line said, as given; the checks come after the parse.
struct Arguments {
    orvane::StandardOptions standard;
    std::vector<std::string> ports, patterns, sims, keys;
    std::string reportDir, resultJson, tracePath, simReport,
        timeoutText = "0", frameText, stallText = "20", completionText = "0", retriesText = "0",
        frameTypeText = "24", package, operatorName;
    const CLI::Option* portOpt = nullptr;
    const CLI::Option* allOpt = nullptr;
    const CLI::Option* matchOpt = nullptr;
    const CLI::Option* waitOpt = nullptr;
    const CLI::Option* reportDirOpt = nullptr;
    const CLI::Option* machineOpt = nullptr;
    const CLI::Option* resultOpt = nullptr;
    const CLI::Option* traceOpt = nullptr;
    const CLI::Option* simulateOpt = nullptr;
    const CLI::Option* simPaceOpt = nullptr;
    const CLI::Option* simReportOpt = nullptr;
    const CLI::Option* repeatOpt = nullptr;
    const CLI::Option* verboseOpt = nullptr;
    const CLI::Option* noBarOpt = nullptr;
    const CLI::Option* quietOpt = nullptr;
    const CLI::Option* listOpt = nullptr;
    const CLI::Option* forgetOpt = nullptr;
    const CLI::Option* catalogueOpt = nullptr;
    const CLI::Option* frameOpt = nullptr;
    const CLI::Option* firmwareOpt = nullptr;
    const CLI::Option* allowPlaceholderOpt = nullptr;
    const CLI::Option* allowConsoleOpt = nullptr;
    const CLI::Option* operatorOpt = nullptr;
};

// The numbers of the command line, checked.
struct Limits {
    long timeout = 0;
    long stall = 0;
    long completion = 0;
    long retries = 0;
};

bool IsSet(const CLI::Option* option) {
    return option->count() > 0;
}

// An option that may be given several times keeps every value; the others keep the last.
CLI::Option* Many(CLI::Option* option) {
    return option->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)->allow_extra_args(false);
}

// Which receivers, and what is written of their run.
void AddPortOptions(CLI::App& parser, Arguments& a) {
    a.portOpt =
        Many(parser.add_option("-p,--port", a.ports,
                               "Serial port: a COM name such as COM3, or a device path such as "
                               "/dev/ttyUSB0. Default: the stored port, as the window uses it."))
            ->type_name("PORT");
    a.allOpt = orvane::AddFlag(
        parser, "--all",
        "Station mode on every serial port found that no other program holds (see --match).");
    a.matchOpt =
        Many(parser.add_option(
                 "--match", a.patterns,
                 "With --all: only the ports whose USB vendor:product (0403:6001), serial "
                 "number or /dev/serial/by-id name part is PATTERN; may be given several times."))
            ->type_name("PATTERN");
    a.waitOpt = orvane::AddFlag(
        parser, "--wait",
        "Wait for a device that is not there yet, and for one that goes away and comes back "
        "while the handshake waits for the receiver (a receiver that switches its USB port off "
        "with it).");
    a.reportDirOpt =
        parser
            .add_option("--report-dir", a.reportDir,
                        "Station mode: write the per-receiver JSON reports to DIR (default: "
                        "station-<date>-<time> in the current folder).")
            ->type_name("DIR");
    a.machineOpt = orvane::AddFlag(
        parser, "--machine",
        "Progress for another program instead of the human output, one line each: "
        "\"progress POS UPPER BLOCKS\" (the progress bar's position and range, blocks sent), "
        "\"line TEXT\" (a line of the message list, control characters escaped) and, at the "
        "end, \"result JSON\" (as --result-json writes it). Station mode reads this.");
    a.resultOpt =
        parser
            .add_option("--result-json", a.resultJson,
                        "Write the result (port and its adapter's identity, identifier, image, "
                        "blocks, start and end time in UTC, host, operator, the key that signed "
                        "the firmware, result) as JSON to FILE; in station mode every "
                        "receiver's result. Refused before any receiver is touched when FILE "
                        "cannot be written.")
            ->type_name("FILE");
    a.operatorOpt = parser
                        .add_option("--operator", a.operatorName,
                                    "Who runs the update, for the records (result JSON, station "
                                    "reports). Default: the login name, e.g. --operator "
                                    "\"J. Doe, line 3\".")
                        ->type_name("NAME");
    a.traceOpt =
        parser
            .add_option("--trace", a.tracePath,
                        "Write every byte sent and received, with its time, its direction and "
                        "the frames it makes, to FILE (- for standard error): one file to send "
                        "to support. In station mode each receiver's trace goes beside its "
                        "report (<receiver>.trace).")
            ->type_name("FILE");
}

// The simulated receiver, and how long the run may wait and try.
void AddRunOptions(CLI::App& parser, Arguments& a) {
    a.simulateOpt =
        Many(parser.add_option("--simulate", a.sims,
                               "Update a simulated receiver that reports identifier ID (for "
                               "example K64U, K64E, 11S2), on a pseudo-terminal inside this "
                               "process."))
            ->type_name("ID");
    a.simPaceOpt =
        orvane::AddFlag(parser, "--simulate-pace",
                        "With --simulate: every byte takes its real wire time at the line speed.");
    a.simReportOpt =
        parser
            .add_option("--simulate-report", a.simReport,
                        "With --simulate: write the simulated receiver's JSON report to FILE.")
            ->type_name("FILE");
    parser
        .add_option("-t,--timeout", a.timeoutText,
                    "Give up with exit code 3 when the update makes no progress for SECONDS: no "
                    "answer from the boot loader to the handshake, or no acknowledgement of the "
                    "block sent (a slow but steady update never times out). Default 0: wait for "
                    "ever, as the window does.")
        ->type_name("SECONDS");
    parser
        .add_option("--stall-timeout", a.stallText,
                    "Once the first block has gone out, end the transfer with exit code 6 when "
                    "the receiver acknowledges nothing for SECONDS: its boot loader never sends "
                    "a block again, so no progress can come. Default 20, well above the pause "
                    "of a boot loader erasing its flash; 0: wait for ever. The wait for the "
                    "two-stage receiver's completion reply is no stall (see "
                    "--completion-timeout).")
        ->type_name("SECONDS");
    parser
        .add_option("--retries", a.retriesText,
                    "After a stall, a device lost or an unknown identifier (noise on the line), "
                    "start again from the handshake up to N times: switch the receiver off and "
                    "on again when asked. Every try is in the result JSON (\"tries\"); the exit "
                    "code is the last try's. Default 0.")
        ->type_name("N");
    a.repeatOpt = orvane::AddFlag(
        parser, "--repeat",
        "Production line: after a receiver, update the next one on the same port (waiting for "
        "it as --wait does), until Ctrl-C or SIGTERM, which end cleanly between receivers "
        "(exit code 0 when every receiver completed, else the highest failed one's). Each "
        "receiver gets its own record (--report-dir: receiver-001.json, ...; --result-json: "
        "all of them) and a summary line at the end. With several ports (station mode) every "
        "port gets a line of its own: COM3-receiver-001.json, ... and COM3.json with all of "
        "them, e.g. --port COM3 --port COM4 --repeat.");
    parser
        .add_option("--completion-timeout", a.completionText,
                    "After the last block of the two-stage receiver, give up with exit code 3 "
                    "when its completion reply has not come within SECONDS (it writes its flash "
                    "meanwhile, which may take minutes). Default 0: wait for it.")
        ->type_name("SECONDS");
}

// The output, the commands that only print, and the firmware.
void AddOtherOptions(CLI::App& parser, Arguments& a) {
    a.verboseOpt = orvane::AddFlag(parser, "--verbose", "Print every block's address line.");
    a.noBarOpt = orvane::AddFlag(parser, "--no-progress", "Do not draw the progress bar.");
    a.quietOpt = orvane::AddFlag(parser, "-q,--quiet",
                                 "Print errors only: no message list, no bar, no notes; the exit "
                                 "code tells the outcome.");
    a.listOpt = orvane::AddFlag(
        parser, "--list-ports",
        "List the serial ports found: COM number, path, /dev/serial/by-id name, USB "
        "vendor:product, serial number, product.");
    a.forgetOpt = orvane::AddFlag(
        parser, "--forget-ports",
        "Take back the COM numbers of devices that are not present now (the devices present "
        "keep theirs), and list the ports.");
    a.catalogueOpt =
        orvane::AddFlag(parser, "--catalogue", "Print the firmware catalogue and exit.");
    a.frameOpt =
        parser
            .add_option("--frame", a.frameText,
                        "Print the frame bytes (hexadecimal) that command TEXT becomes, and exit.")
            ->type_name("TEXT");
    parser.add_option("--frame-type", a.frameTypeText, "Frame type byte for --frame (default 24).")
        ->type_name("N");
    a.firmwareOpt =
        parser
            .add_option("-f,--firmware", a.package,
                        "Send the firmware of the signed package in folder PACKAGE (or its "
                        "manifest.json). Every check is made before the first byte goes out.")
            ->type_name("PACKAGE");
    Many(parser.add_option(
             "--trusted-key", a.keys,
             "Also trust this minisign public key file for --firmware (may be given more than "
             "once). The keys installed in share/orvane-update/keys and in the keys folder of the "
             "user's configuration folder are always trusted."))
        ->type_name("FILE");
    a.allowPlaceholderOpt = orvane::AddFlag(
        parser, "--allow-placeholder-firmware",
        "Bench override: send this build's test images to any device, not only to the simulated "
        "receiver (for orvane-bootsim --device on a null-modem cable). Never use it with a real "
        "receiver.");
    a.allowConsoleOpt = orvane::AddFlag(
        parser, "--allow-console",
        "Open a --port that is the system console (a login prompt or the kernel's messages are "
        "on it, and they see the handshakes). Without it such a port is refused.");
}

// The firmware is settled first: a package that fails a check ends the run before any port
// is opened.
std::optional<int> LoadFirmware(const Arguments& a,
                                std::shared_ptr<const orvane::firmware::FirmwareSet>& firmware) {
    if (!IsSet(a.firmwareOpt))
        return std::nullopt;
    const auto loaded = orvane::app::LoadFirmwarePackage(a.package, a.keys);
    if (!loaded.firmware) {
        std::fprintf(stderr, "error: firmware package refused, nothing sent: %s\n",
                     orvane::EscapeControlsUtf8(loaded.error).c_str());
        return orvane::app::kExitFirmware;
    }
    firmware = loaded.firmware;
    return std::nullopt;
}

// --catalogue, --frame, --forget-ports, --list-ports: a command of its own, and its exit code.
std::optional<int> RunOneOffCommand(const Arguments& a,
                                    const orvane::firmware::FirmwareSet& firmware) {
    if (IsSet(a.catalogueOpt)) {
        std::fputs(orvane::app::CatalogueListing(firmware).c_str(), stdout);
        return 0;
    }
    if (IsSet(a.frameOpt)) {
        int frameType = 0;
        if (!ParseNumber(a.frameTypeText, frameType) || frameType < 0 || frameType > 255) {
            std::fprintf(stderr, "error: --frame-type takes a number from 0 to 255\n");
            return orvane::app::kExitUsage;
        }
        PrintFrame(a.frameText, frameType);
        return 0;
    }
    if (IsSet(a.forgetOpt))
        return orvane::app::ForgetPorts(orvane::PortDirectory(), stdout, stderr);
    if (IsSet(a.listOpt))
        return orvane::app::ListPorts(orvane::PortDirectory(), stdout, stderr);
    return std::nullopt;
}

// The values an update needs, checked; the exit code of the first that is wrong.
std::optional<int> CheckValues(const Arguments& a, Limits& limits) {
    if (IsSet(a.matchOpt) && !IsSet(a.allOpt)) {
        std::fprintf(stderr, "error: --match chooses among the ports of --all\n");
        return 64;
    }
    for (const std::string& port : a.ports) {
        const auto arg = orvane::ParsePortArgument(port);
        if (arg.kind == orvane::PortArgument::Kind::Invalid) {
            std::fprintf(stderr, "error: %s\n", arg.error.c_str());
            return 64;
        }
    }
    if (!ParseNumber(a.timeoutText, limits.timeout) || limits.timeout < 0) {
        std::fprintf(stderr, "error: --timeout takes a number of seconds\n");
        return orvane::app::kExitUsage;
    }
    if (!ParseNumber(a.stallText, limits.stall) || limits.stall < 0 || limits.stall > 86400) {
        std::fprintf(stderr, "error: --stall-timeout takes a number of seconds (0 to 86400)\n");
        return orvane::app::kExitUsage;
    }
    if (!ParseNumber(a.retriesText, limits.retries) || limits.retries < 0 ||
        limits.retries > 1000) {
        std::fprintf(stderr, "error: --retries takes a number from 0 to 1000\n");
        return orvane::app::kExitUsage;
    }
    if (!ParseNumber(a.completionText, limits.completion) || limits.completion < 0) {
        std::fprintf(stderr, "error: --completion-timeout takes a number of seconds\n");
        return orvane::app::kExitUsage;
    }
    return std::nullopt;
}

// --all: the ports --match names (or that a person at the terminal confirms), as jobs.
std::optional<int> AddChosenPorts(const Arguments& a, std::vector<orvane::app::StationJob>& jobs) {
    // Without --match every port found would get handshakes: only a person at a terminal may
    // say yes to that.
    const bool canAsk = orvane::IsTerminal(stdin) && orvane::IsTerminal(stdout);
    if (a.patterns.empty() && !canAsk) {
        std::fprintf(stderr, "error: --all without --match would send handshakes to every port "
                             "found; name the receivers' adapters with --match (vendor:product, "
                             "serial number or by-id name part), or run it on a terminal to "
                             "confirm\n");
        return 64;
    }
    const auto chosen = orvane::app::SelectPorts(orvane::PortDirectory().ListPorts(), a.patterns);
    if (chosen.empty()) {
        std::fprintf(stderr, "error: no serial ports found%s (see --list-ports)\n",
                     a.patterns.empty() ? "" : " that --match names");
        return orvane::app::kExitLinkFailed;
    }
    if (a.patterns.empty() && !orvane::app::ConfirmPorts(chosen, stdin, stdout)) {
        std::printf("Nothing was sent.\n");
        return orvane::app::kExitLinkFailed;
    }
    // The path, not the number, goes to each updater: what the number means is settled here,
    // once.
    for (const auto& p : chosen)
        jobs.push_back({"COM" + std::to_string(p.number), {"--port", p.info.path}, {}});
    return std::nullopt;
}

// The device behind each port, so that one given twice (or as COMn and as its path) is
// updated once.
void FindDevices(std::vector<orvane::app::StationJob>& jobs) {
    for (auto& job : jobs) {
        if (job.args.size() < 2 || job.args[0] != "--port")
            continue;
        std::string device = job.args[1];
        if (int n = 0; device.rfind("COM", 0) == 0 && ParseNumber(device.substr(3), n)) {
            if (const std::string path = orvane::DevicePathForPort(n); !path.empty())
                device = path;
        }
        std::error_code ec;
        const std::filesystem::path canonical = std::filesystem::canonical(device, ec);
        job.device = ec ? device : canonical.string();
    }
}

// What every receiver's updater process is started with, and where the station writes.
orvane::app::StationOptions StationSettings(const Arguments& a, const std::string& self,
                                            const orvane::firmware::FirmwareSet& firmware,
                                            const std::string& resultPath) {
    orvane::app::StationOptions station;
    station.program = orvane::ProgramPath();
    if (station.program.empty())
        station.program = self;
    auto& common = station.commonArgs;
    common.insert(common.end(),
                  {"--timeout", a.timeoutText, "--stall-timeout", a.stallText,
                   "--completion-timeout", a.completionText, "--retries", a.retriesText});
    if (IsSet(a.waitOpt))
        common.push_back("--wait");
    if (IsSet(a.simPaceOpt))
        common.push_back("--simulate-pace");
    if (IsSet(a.firmwareOpt))
        common.insert(common.end(), {"--firmware", a.package});
    for (const std::string& key : a.keys)
        common.insert(common.end(), {"--trusted-key", key});
    if (IsSet(a.allowPlaceholderOpt))
        common.push_back("--allow-placeholder-firmware");
    if (IsSet(a.allowConsoleOpt))
        common.push_back("--allow-console");
    if (IsSet(a.operatorOpt))
        common.insert(common.end(), {"--operator", a.operatorName});
    station.firmware = firmware.Description();
    station.reportDir = IsSet(a.reportDirOpt) ? a.reportDir : NewReportDir();
    station.resultFile = resultPath;
    station.trace = IsSet(a.traceOpt);
    station.repeat = IsSet(a.repeatOpt);
    if (station.repeat)
        common.push_back("--repeat");
    return station;
}

// Several receivers: one updater process each.
int RunStationMode(const Arguments& a, const std::string& self,
                   const orvane::firmware::FirmwareSet& firmware, const std::string& resultPath) {
    std::vector<orvane::app::StationJob> jobs;
    if (IsSet(a.allOpt)) {
        if (const auto failure = AddChosenPorts(a, jobs))
            return *failure;
    }
    const std::vector<std::string> stationPorts =
        IsSet(a.allOpt) ? std::vector<std::string>() : a.ports;
    for (const std::string& port : stationPorts)
        jobs.push_back({port, {"--port", port}, {}});
    for (std::size_t i = 0; i < a.sims.size(); ++i)
        jobs.push_back(
            {"sim" + std::to_string(i + 1) + " " + a.sims[i], {"--simulate", a.sims[i]}, {}});
    FindDevices(jobs);
    return orvane::app::RunStation(jobs, StationSettings(a, self, firmware, resultPath));
}

// The options of a run on one port.
orvane::app::CliOptions
SingleOptions(const Arguments& a, const Limits& limits,
              const std::shared_ptr<const orvane::firmware::FirmwareSet>& firmware) {
    orvane::app::CliOptions options;
    options.operatorName = IsSet(a.operatorOpt) ? a.operatorName : orvane::UserName();
    options.machine = IsSet(a.machineOpt);
    if (options.machine)
        options.progressBar = false;
    options.timeout = std::chrono::seconds(limits.timeout);
    options.stallTimeout = std::chrono::seconds(limits.stall);
    options.completionTimeout = std::chrono::seconds(limits.completion);
    options.retries = static_cast<int>(limits.retries);
    options.verbose = IsSet(a.verboseOpt);
    options.wait = IsSet(a.waitOpt);
    options.quiet = IsSet(a.quietOpt);
    options.progressBar = options.progressBar && !IsSet(a.noBarOpt) && !options.quiet;
    options.firmware = firmware;
    options.allowPlaceholder = IsSet(a.allowPlaceholderOpt);
    options.allowConsole = IsSet(a.allowConsoleOpt);
    return options;
}

// Why an output file named on the command line cannot take its output, or "": the port being
// updated (trace text would go to the receiver), any device or FIFO (a FIFO without a reader
// blocks the open, a device is no record), a folder, a file another output writes too, or a
// link to nothing (writing would make a file wherever the link points, and the link is often
// the leftover of something else; a link to a file is written through).
std::string UnfitOutput(const std::string& path, const std::vector<std::string>& others) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = orvane::PathFromUtf8(path);
    if (fs::is_symlink(file, ec) && !fs::exists(file, ec)) {
        const fs::path target = fs::read_symlink(file, ec);
        return "it is a link to " +
               orvane::app::TerminalText(orvane::FromUtf8(orvane::PathToUtf8(target))) +
               ", which does not exist; name the file itself";
    }
    const fs::file_status status = fs::status(file, ec);
    if (!ec && fs::exists(status) && fs::is_directory(status))
        return "it is a folder";
    if (!ec && fs::exists(status) && !fs::is_regular_file(status))
        return "it is not a file but a device, a FIFO or a socket (the port itself, say)";
    if (orvane::ParsePortArgument(path).kind == orvane::PortArgument::Kind::Number)
        return "it names a serial port";
    const fs::path mine = fs::weakly_canonical(file, ec);
    for (const std::string& other : others) {
        std::error_code otherEc;
        if (!ec && fs::weakly_canonical(orvane::PathFromUtf8(other), otherEc) == mine && !otherEc)
            return "another output of this run is written to the same file";
    }
    return {};
}

// Every output file named, checked before anything is opened (the port included).
std::optional<int> CheckOutputs(const Arguments& a) {
    struct Output {
        const CLI::Option* option;
        const std::string& path;
        const char* what;
    };
    const Output outputs[] = {{a.traceOpt, a.tracePath, "the trace"},
                              {a.resultOpt, a.resultJson, "the result"},
                              {a.simReportOpt, a.simReport, "the simulated receiver's report"}};
    for (const Output& o : outputs) {
        if (!IsSet(o.option) || (o.option == a.traceOpt && o.path == "-"))
            continue;
        std::vector<std::string> others;
        for (const Output& other : outputs)
            if (&other != &o && IsSet(other.option) && other.path != "-")
                others.push_back(other.path);
        if (const std::string why = UnfitOutput(o.path, others); !why.empty()) {
            std::fprintf(stderr, "error: cannot write %s to %s: %s\n", o.what,
                         orvane::app::TerminalText(orvane::FromUtf8(o.path)).c_str(), why.c_str());
            return orvane::app::kExitReportLost;
        }
    }
    return std::nullopt;
}

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// --trace: the trace goes to its file (or standard error), which stays open in traceFile.
std::optional<int> OpenTrace(const Arguments& a, orvane::app::CliOptions& options,
                             FilePtr& traceFile) {
    if (!IsSet(a.traceOpt))
        return std::nullopt;
    const std::string& path = a.tracePath;
    std::FILE* out = stderr;
    if (path != "-") {
        traceFile.reset(orvane::OpenFile(path, "w"));
        if (!traceFile) {
            std::fprintf(stderr, "error: cannot write the trace to %s: %s\n",
                         orvane::app::TerminalText(orvane::FromUtf8(path)).c_str(),
                         std::strerror(errno));
            return orvane::app::kExitReportLost;
        }
        out = traceFile.get();
    }
    options.trace = std::make_shared<orvane::app::PortTrace>(
        out, orvane::app::TerminalText(orvane::FromUtf8(path == "-" ? "standard error" : path)),
        stderr);
    // The lines' times count from here: the header says when that was, on which machine.
    options.trace->Note(std::string("orvane-update-cli ") + orvane::kVersion + ", started " +
                        orvane::UtcTimestamp(std::chrono::system_clock::now()) + " on " +
                        orvane::HostName());
    return std::nullopt;
}

// The port to update: the simulated receiver (started here), the one given, or the stored one.
std::optional<int> ChoosePort(const Arguments& a,
                              const std::shared_ptr<const orvane::firmware::FirmwareSet>& firmware,
                              orvane::app::CliOptions& options,
                              std::unique_ptr<orvane::app::RunningSimulator>& simulator) {
    if (IsSet(a.simulateOpt)) {
        std::string path, error;
        simulator = orvane::app::StartSimulator(a.sims.back(), IsSet(a.simPaceOpt), firmware, &path,
                                                &error);
        if (!simulator) {
            std::fprintf(stderr, "error: cannot start the simulated receiver: %s\n", error.c_str());
            return orvane::app::kExitLinkFailed;
        }
        if (options.Chatty())
            std::printf("Simulated receiver \"%s\" on %s\n",
                        orvane::app::TerminalText(orvane::FromUtf8(a.sims.back())).c_str(),
                        path.c_str());
        if (const int code = orvane::app::UseDevicePath(path, options, stderr); code != 0)
            return code;
    } else if (IsSet(a.portOpt)) {
        const int code = orvane::app::UsePortArgument(a.ports.back(), options, stderr);
        if (code != 0)
            return code;
    }
    return std::nullopt;
}

// --repeat: receiver after receiver until a signal. One record per receiver, numbered, in the
// report folder; the result file holds them all.
int RunRepeat(const Arguments& a, const orvane::app::CliOptions& options,
              const std::string& resultPath, orvane::app::RunningSimulator* simulator) {
    const std::string dir = IsSet(a.reportDirOpt) ? a.reportDir : std::string();
    std::error_code ec;
    if (!dir.empty())
        std::filesystem::create_directories(orvane::PathFromUtf8(dir), ec);
    std::string all = "[";
    int code = orvane::app::kExitComplete;
    const auto outcome =
        orvane::app::RunEveryReceiver(options, [&](const orvane::app::CliResult& r, int n) {
            const std::string json = orvane::app::ResultJson(r);
            if (options.machine) {
                // Station mode counts the receivers of this port's line as they end.
                std::printf("result %s\n", json.c_str());
                std::fflush(stdout);
            }
            all += (n > 1 ? ",\n" : "\n") + json;
            if (dir.empty())
                return;
            const std::string file = dir + "/" + orvane::FormatAnsi("receiver-%03d.json", n);
            if (std::string why; !orvane::app::WriteTextFile(file, json + "\n", &why)) {
                std::fprintf(stderr, "error: cannot write %s: %s\n", file.c_str(), why.c_str());
                code = orvane::app::kExitReportLost;
            }
        });
    std::printf("%s%s\n", options.machine ? "line " : "", outcome.summary.c_str());
    if (std::string why;
        !resultPath.empty() && !orvane::app::WriteTextFile(resultPath, all + "\n]\n", &why)) {
        std::fprintf(stderr, "error: cannot write the result to %s: %s\n", resultPath.c_str(),
                     why.c_str());
        code = orvane::app::kExitReportLost;
    }
    if (simulator)
        simulator->Stop();
    return outcome.exitCode != orvane::app::kExitComplete ? outcome.exitCode : code;
}

// One receiver (with its retries): the result printed for a station, written to the result
// file, and the simulated receiver's report.
int RunOnce(const Arguments& a, const orvane::app::CliOptions& options,
            const std::string& resultPath, orvane::app::RunningSimulator* simulator) {
    const auto result = orvane::app::RunUpdateWithRetries(options);
    int exitCode = result.exitCode;
    const std::string json = orvane::app::ResultJson(result);
    if (options.machine) {
        // The station reads the result here too, so its table is true even when no report
        // file could be written.
        std::printf("result %s\n", json.c_str());
        std::fflush(stdout);
    }
    if (std::string why;
        !resultPath.empty() && !orvane::app::WriteTextFile(resultPath, json + "\n", &why)) {
        std::fprintf(stderr, "error: cannot write the result to %s: %s\n",
                     orvane::app::TerminalText(orvane::FromUtf8(resultPath)).c_str(), why.c_str());
        if (exitCode == orvane::app::kExitComplete)
            exitCode = orvane::app::kExitReportLost;
    }
    if (result.exitCode == orvane::app::kExitComplete && options.Chatty())
        std::printf("Done: %llu blocks in %.1f s.\n",
                    static_cast<unsigned long long>(result.blocks), result.seconds);
    if (simulator) {
        const std::string report = simulator->Stop();
        if (IsSet(a.simReportOpt))
            std::ofstream(orvane::PathFromUtf8(a.simReport)) << report;
    }
    return exitCode;
}

// One port: a single run, or --repeat.
int RunSinglePort(const Arguments& a, const Limits& limits,
                  const std::shared_ptr<const orvane::firmware::FirmwareSet>& firmware,
                  const std::string& resultPath) {
    orvane::app::CliOptions options = SingleOptions(a, limits, firmware);
    FilePtr traceFile(nullptr, &std::fclose);
    if (const auto failure = OpenTrace(a, options, traceFile))
        return *failure;
    std::unique_ptr<orvane::app::RunningSimulator> simulator;
    if (const auto failure = ChoosePort(a, firmware, options, simulator))
        return *failure;
    if (options.Chatty())
        std::printf("Firmware: %s\n", orvane::app::FirmwareForTerminal(*firmware).c_str());
    if (IsSet(a.repeatOpt))
        return RunRepeat(a, options, resultPath, simulator.get());
    return RunOnce(a, options, resultPath, simulator.get());
}

} // namespace

int Run(int argc, char** argv) {
    orvane::PrepareConsole();
    const std::vector<std::string> args = orvane::Utf8Arguments(argc, argv);
    std::vector<const char*> argPointers;
    argPointers.reserve(args.size());
    for (const std::string& arg : args)
        argPointers.push_back(arg.c_str());
    CLI::App parser(kDescription, "orvane-update-cli");
    Arguments a;
    a.standard = orvane::SetUpCommandLine(parser);
    AddPortOptions(parser, a);
    AddRunOptions(parser, a);
    AddOtherOptions(parser, a);
    try {
        parser.parse(static_cast<int>(argPointers.size()), argPointers.data());
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "error: %s (see --help)\n", e.what());
        return orvane::app::kExitUsage;
    }
    // From here on a signal is a request to stop: the update ends promptly and says where.
    orvane::InstallStopSignals();
    if (IsSet(a.standard.version)) {
        std::printf("orvane-update-cli %s\n", orvane::kVersion);
        return 0;
    }
    if (IsSet(a.standard.help)) {
        std::printf("%s", parser.help().c_str());
        return 0;
    }
    std::shared_ptr<const orvane::firmware::FirmwareSet> firmware =
        orvane::firmware::BuiltInFirmware();
    if (const auto failure = LoadFirmware(a, firmware))
        return *failure;
    if (const auto done = RunOneOffCommand(a, *firmware))
        return *done;
    Limits limits;
    if (const auto failure = CheckValues(a, limits))
        return *failure;
    if (const auto failure = CheckOutputs(a))
        return *failure;
    // The result is promised before any receiver is touched: a run whose record cannot be
    // kept does not start.
    const std::string resultPath = IsSet(a.resultOpt) ? a.resultJson : std::string();
    if (std::string why; !resultPath.empty() && !orvane::app::CanWriteFile(resultPath, &why)) {
        std::fprintf(stderr, "error: cannot write the result to %s: %s\n",
                     orvane::app::TerminalText(orvane::FromUtf8(resultPath)).c_str(), why.c_str());
        return orvane::app::kExitReportLost;
    }
    const std::size_t portCount = IsSet(a.allOpt) ? 0 : a.ports.size();
    if (IsSet(a.allOpt) || portCount + a.sims.size() > 1)
        return RunStationMode(a, args.front(), *firmware, resultPath);
    return RunSinglePort(a, limits, firmware, resultPath);
}

// What nothing below expects (memory running out, say) still ends with a sentence, not an
// abort: the port is closed by then, and the message says the run did not complete.
int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: internal error: %s; the update did not complete\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "error: internal error; the update did not complete\n");
    }
    return orvane::app::kExitInternal;
}
