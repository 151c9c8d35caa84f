// orvane-update-cli: runs a firmware update from a terminal or a script.
#include "app/cli_ports.h"
#include "app/cli_runner.h"
#include "app/cli_station.h"
#include "app/firmware_loading.h"
#include "app/port_trace.h"
#include "bootsim/receiver.h"
#include "firmware/catalogue.h"
#include "firmware/commands.h"
#include "firmware/firmware_set.h"
#include "platform/port_argument.h"
#include "platform/port_directory.h"
#include "platform/stop_request.h"
#include "platform/text.h"
#include "platform/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <unistd.h>

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
    "  64   the command line is wrong\n"
    "  129, 130, 143  stopped by SIGHUP, SIGINT (Ctrl-C), SIGTERM (128 + the signal's\n"
    "       number): the port is released, the message names the last block\n"
    "       acknowledged, and the result JSON is written\n"
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

void PrintCatalogue(const orvane::firmware::FirmwareSet& firmware) {
    std::printf("Firmware: %s\n", firmware.Description().c_str());
    for (const auto& e : firmware.Entries()) {
        std::string ids;
        for (std::size_t i = 0; i < e.IdentifierCount(); ++i)
            ids += (i ? ", " : "") + orvane::ToAnsi(e.identifiers[i]);
        const bool twoStage = e.mode == orvane::firmware::ImageMode::TwoStage;
        const std::string image = twoStage ? "PXA271+FPGA" : std::string(1, e.image);
        std::uint64_t length = 0;
        bool present = true;
        for (const std::string& name : orvane::firmware::FirmwareSet::ImagesOf(e)) {
            const auto* img = firmware.Image(name);
            present = present && img != nullptr;
            length += img ? img->length : 0;
        }
        const char* baud = e.baud == orvane::firmware::BaudRule::Always115200  ? "115200"
                           : e.baud == orvane::firmware::BaudRule::SForm115200 ? "115200 if S form"
                                                                               : "-";
        const std::string size =
            present ? orvane::FormatAnsi("%8llu bytes", static_cast<unsigned long long>(length))
                    : std::string("not in this firmware package");
        std::printf("%2d  %-28s %-22s %-12s %s  %s\n", e.number, ids.c_str(),
                    orvane::ToUtf8(e.displayName).c_str(), image.c_str(), size.c_str(), baud);
    }
}

void PrintFrame(const QString& text, int frameType) {
    const auto frame =
        orvane::firmware::EncodeFrame(text.toStdU16String(), static_cast<std::uint8_t>(frameType));
    if (frame.empty()) {
        std::printf("(no frame: the text has no two command letters)\n");
        return;
    }
    for (std::size_t i = 0; i < frame.size(); ++i)
        std::printf("%s%02X", i ? " " : "", frame[i]);
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication qapp(argc, argv);
    QCoreApplication::setApplicationName("orvane-update-cli");
    QCoreApplication::setApplicationVersion(QString::fromLatin1(orvane::kVersion));
    QCommandLineParser parser;
    parser.setApplicationDescription(kDescription);
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOpt(
        "port",
        "Serial port: a COM name such as COM3, or a device path such as /dev/ttyUSB0. "
        "Default: the stored port, as the window uses it.",
        "port");
    const QCommandLineOption allOpt(
        "all", "Station mode on every serial port found that no other program holds (see "
               "--match).");
    const QCommandLineOption matchOpt(
        "match",
        "With --all: only the ports whose USB vendor:product (0403:6001), serial number or "
        "/dev/serial/by-id name part is PATTERN; may be given several times.",
        "PATTERN");
    const QCommandLineOption waitOpt(
        "wait", "Wait for a device that is not there yet, and for one that goes away and "
                "comes back while the handshake waits for the receiver (a receiver that "
                "switches its USB port off with it).");
    const QCommandLineOption reportDirOpt(
        "report-dir",
        "Station mode: write the per-receiver JSON reports to DIR (default: "
        "station-<date>-<time> in the current folder).",
        "DIR");
    const QCommandLineOption machineOpt(
        "machine",
        "Progress for another program instead of the human output, one line each: "
        "\"progress POS UPPER BLOCKS\" (the progress bar's position and range, blocks sent), "
        "\"line TEXT\" (a line of the message list, control characters escaped) and, at "
        "the end, \"result JSON\" (as --result-json writes it). Station mode reads this.");
    const QCommandLineOption resultOpt("result-json",
                                       "Write the result (port, identifier, image, blocks, "
                                       "duration, result) as JSON to FILE; in station mode "
                                       "every receiver's result. Refused before any receiver "
                                       "is touched when FILE cannot be written.",
                                       "FILE");
    const QCommandLineOption traceOpt(
        "trace",
        "Write every byte sent and received, with its time, its direction and the frames it "
        "makes, to FILE (- for standard error): one file to send to support. In station mode "
        "each receiver's trace goes beside its report (<receiver>.trace).",
        "FILE");
    const QCommandLineOption simulateOpt(
        "simulate",
        "Update a simulated receiver that reports identifier ID (for example K64U, K64E, "
        "11S2), on a pseudo-terminal inside this process.",
        "ID");
    const QCommandLineOption simPaceOpt(
        "simulate-pace", "With --simulate: every byte takes its real wire time at the line speed.");
    const QCommandLineOption simReportOpt(
        "simulate-report", "With --simulate: write the simulated receiver's JSON report to FILE.",
        "FILE");
    const QCommandLineOption timeoutOpt(
        "timeout",
        "Give up with exit code 3 when the update makes no progress for SECONDS: no "
        "answer from the boot loader to the handshake, or no acknowledgement of the "
        "block sent (a slow but steady update never times out). Default 0: wait for "
        "ever, as the window does.",
        "SECONDS", "0");
    const QCommandLineOption verboseOpt("verbose", "Print every block's address line.");
    const QCommandLineOption noBarOpt("no-progress", "Do not draw the progress bar.");
    const QCommandLineOption listOpt(
        "list-ports", "List the serial ports found: COM number, path, /dev/serial/by-id name, "
                      "USB vendor:product, serial number, product.");
    const QCommandLineOption forgetOpt(
        "forget-ports", "Take back the COM numbers of devices that are not present now (the "
                        "devices present keep theirs), and list the ports.");
    const QCommandLineOption catalogueOpt("catalogue", "Print the firmware catalogue and exit.");
    const QCommandLineOption frameOpt(
        "frame", "Print the frame bytes (hexadecimal) that command TEXT becomes, and exit.",
        "TEXT");
    const QCommandLineOption frameTypeOpt("frame-type", "Frame type byte for --frame (default 24).",
                                          "N", "24");
    const QCommandLineOption firmwareOpt(
        "firmware",
        "Send the firmware of the signed package in folder PACKAGE (or its manifest.json). "
        "Every check is made before the first byte goes out.",
        "PACKAGE");
    const QCommandLineOption keyOpt(
        "trusted-key",
        "Also trust this minisign public key file for --firmware (may be given more than "
        "once). The keys installed in share/orvane-update/keys and in the keys folder of the "
        "user's configuration folder are always trusted.",
        "FILE");
    const QCommandLineOption allowPlaceholderOpt(
        "allow-placeholder-firmware",
        "Bench override: send this build's test images to any device, not only to the "
        "simulated receiver (for orvane-bootsim --device on a null-modem cable). Never use it "
        "with a real receiver.");
    parser.addOptions({portOpt,      allOpt,       matchOpt,
                       waitOpt,      reportDirOpt, machineOpt,
                       resultOpt,    simulateOpt,  simPaceOpt,
                       simReportOpt, timeoutOpt,   verboseOpt,
                       noBarOpt,     listOpt,      forgetOpt,
                       catalogueOpt, frameOpt,     frameTypeOpt,
                       firmwareOpt,  keyOpt,       allowPlaceholderOpt,
                       traceOpt});
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "error: %s\n\n%s", qPrintable(parser.errorText()),
                     qPrintable(parser.helpText()));
        return orvane::app::kExitUsage;
    }
    // From here on a signal is a request to stop: the update ends promptly and says where.
    orvane::InstallStopSignals();
    if (parser.isSet("version")) {
        std::printf("orvane-update-cli %s\n", orvane::kVersion);
        return 0;
    }
    if (parser.isSet("help")) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    // The firmware is settled first: a package that fails a check ends the run before any
    // port is opened.
    std::shared_ptr<const orvane::firmware::FirmwareSet> firmware =
        orvane::firmware::BuiltInFirmware();
    std::vector<std::string> keyFiles;
    for (const QString& key : parser.values(keyOpt))
        keyFiles.push_back(key.toStdString());
    if (parser.isSet(firmwareOpt)) {
        const auto loaded =
            orvane::app::LoadFirmwarePackage(parser.value(firmwareOpt).toStdString(), keyFiles);
        if (!loaded.firmware) {
            std::fprintf(stderr, "error: firmware package refused, nothing sent: %s\n",
                         loaded.error.c_str());
            return orvane::app::kExitFirmware;
        }
        firmware = loaded.firmware;
    }
    if (parser.isSet(catalogueOpt)) {
        PrintCatalogue(*firmware);
        return 0;
    }
    if (parser.isSet(frameOpt)) {
        bool typeOk = false;
        const int frameType = parser.value(frameTypeOpt).toInt(&typeOk);
        if (!typeOk || frameType < 0 || frameType > 255) {
            std::fprintf(stderr, "error: --frame-type takes a number from 0 to 255\n");
            return orvane::app::kExitUsage;
        }
        PrintFrame(parser.value(frameOpt), frameType);
        return 0;
    }
    if (parser.isSet(forgetOpt))
        return orvane::app::ForgetPorts(orvane::PortDirectory(), stdout, stderr);
    if (parser.isSet(listOpt))
        return orvane::app::ListPorts(orvane::PortDirectory(), stdout, stderr);
    if (parser.isSet(matchOpt) && !parser.isSet(allOpt)) {
        std::fprintf(stderr, "error: --match chooses among the ports of --all\n");
        return 64;
    }
    for (const QString& port : parser.values(portOpt)) {
        const auto arg = orvane::ParsePortArgument(port.toStdString());
        if (arg.kind == orvane::PortArgument::Kind::Invalid) {
            std::fprintf(stderr, "error: %s\n", arg.error.c_str());
            return 64;
        }
    }
    bool ok = true;
    const long timeout = parser.value(timeoutOpt).toLong(&ok);
    if (!ok || timeout < 0) {
        std::fprintf(stderr, "error: --timeout takes a number of seconds\n");
        return orvane::app::kExitUsage;
    }
    // The result is promised before any receiver is touched: a run whose record cannot be
    // kept does not start.
    const std::string resultPath =
        parser.isSet(resultOpt) ? parser.value(resultOpt).toStdString() : std::string();
    if (std::string why; !resultPath.empty() && !orvane::app::CanWriteFile(resultPath, &why)) {
        std::fprintf(stderr, "error: cannot write the result to %s: %s\n",
                     orvane::app::TerminalText(orvane::FromUtf8(resultPath)).c_str(), why.c_str());
        return orvane::app::kExitReportLost;
    }

    // Several receivers: one updater process each.
    const QStringList ports = parser.isSet(allOpt) ? QStringList() : parser.values(portOpt);
    const QStringList sims = parser.values(simulateOpt);
    if (parser.isSet(allOpt) || ports.size() + sims.size() > 1) {
        std::vector<orvane::app::StationJob> jobs;
        if (parser.isSet(allOpt)) {
            std::vector<std::string> patterns;
            for (const QString& m : parser.values(matchOpt))
                patterns.push_back(m.toStdString());
            // Without --match every port found would get handshakes: only a person at a
            // terminal may say yes to that.
            const bool canAsk = ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
            if (patterns.empty() && !canAsk) {
                std::fprintf(stderr,
                             "error: --all without --match would send handshakes to every port "
                             "found; name the receivers' adapters with --match (vendor:product, "
                             "serial number or by-id name part), or run it on a terminal to "
                             "confirm\n");
                return 64;
            }
            const auto chosen =
                orvane::app::SelectPorts(orvane::PortDirectory().ListPorts(), patterns);
            if (chosen.empty()) {
                std::fprintf(stderr, "error: no serial ports found%s (see --list-ports)\n",
                             patterns.empty() ? "" : " that --match names");
                return orvane::app::kExitLinkFailed;
            }
            if (patterns.empty() && !orvane::app::ConfirmPorts(chosen, stdin, stdout)) {
                std::printf("Nothing was sent.\n");
                return orvane::app::kExitLinkFailed;
            }
            // The path, not the number, goes to each updater: what the number means is
            // settled here, once.
            for (const auto& p : chosen)
                jobs.push_back({QStringLiteral("COM%1").arg(p.number),
                                {"--port", QString::fromStdString(p.info.path)},
                                {}});
        }
        for (const QString& port : ports)
            jobs.push_back({port, {"--port", port}, {}});
        for (int i = 0; i < sims.size(); ++i)
            jobs.push_back(
                {QStringLiteral("sim%1 %2").arg(i + 1).arg(sims[i]), {"--simulate", sims[i]}, {}});
        // The device behind each port, so that one given twice (or as COMn and as its path)
        // is updated once.
        for (auto& job : jobs) {
            if (job.args.value(0) != "--port")
                continue;
            QString device = job.args.value(1);
            if (device.startsWith("COM")) {
                bool numbered = false;
                const int n = device.mid(3).toInt(&numbered);
                const std::string path = numbered ? orvane::DevicePathForPort(n) : std::string();
                if (!path.empty())
                    device = QString::fromStdString(path);
            }
            const QString canonical = QFileInfo(device).canonicalFilePath();
            job.device = canonical.isEmpty() ? device : canonical;
        }
        orvane::app::StationOptions station;
        station.program = QCoreApplication::applicationFilePath();
        station.commonArgs << "--timeout" << parser.value(timeoutOpt);
        if (parser.isSet(waitOpt))
            station.commonArgs << "--wait";
        if (parser.isSet(simPaceOpt))
            station.commonArgs << "--simulate-pace";
        if (parser.isSet(firmwareOpt))
            station.commonArgs << "--firmware" << parser.value(firmwareOpt);
        for (const QString& key : parser.values(keyOpt))
            station.commonArgs << "--trusted-key" << key;
        if (parser.isSet(allowPlaceholderOpt))
            station.commonArgs << "--allow-placeholder-firmware";
        station.firmware = QString::fromStdString(firmware->Description());
        if (parser.isSet(reportDirOpt)) {
            station.reportDir = parser.value(reportDirOpt);
        } else {
            // A folder of this run's own: a second run in the same second gets "-2".
            const QString stamp =
                "station-" + QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss");
            station.reportDir = stamp;
            for (int n = 2; QFileInfo::exists(station.reportDir); ++n)
                station.reportDir = QStringLiteral("%1-%2").arg(stamp).arg(n);
        }
        station.resultFile = QString::fromStdString(resultPath);
        station.trace = parser.isSet(traceOpt);
        return orvane::app::RunStation(jobs, station);
    }

    orvane::app::CliOptions options;
    options.machine = parser.isSet(machineOpt);
    if (options.machine)
        options.progressBar = false;
    options.timeout = std::chrono::seconds(timeout);
    options.verbose = parser.isSet(verboseOpt);
    options.wait = parser.isSet(waitOpt);
    options.progressBar = options.progressBar && !parser.isSet(noBarOpt);
    options.firmware = firmware;
    options.allowPlaceholder = parser.isSet(allowPlaceholderOpt);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile(nullptr, &std::fclose);
    if (parser.isSet(traceOpt)) {
        const std::string path = parser.value(traceOpt).toStdString();
        std::FILE* out = stderr;
        if (path != "-") {
            traceFile.reset(std::fopen(path.c_str(), "w"));
            if (!traceFile) {
                std::fprintf(stderr, "error: cannot write the trace to %s: %s\n",
                             orvane::app::TerminalText(orvane::FromUtf8(path)).c_str(),
                             std::strerror(errno));
                return orvane::app::kExitReportLost;
            }
            out = traceFile.get();
        }
        options.trace = std::make_shared<orvane::app::PortTrace>(out);
        options.trace->Note(std::string("orvane-update-cli ") + orvane::kVersion);
    }

    orvane::bootsim::SimulatedReceiver simulator;
    if (parser.isSet(simulateOpt)) {
        orvane::bootsim::Config config;
        config.id = parser.value(simulateOpt).toStdString();
        config.pace = parser.isSet(simPaceOpt);
        config.firmware = firmware; // the simulated receiver expects exactly these images
        std::string error;
        const std::string path = simulator.Start(config, &error);
        if (path.empty()) {
            std::fprintf(stderr, "error: cannot start the simulated receiver: %s\n", error.c_str());
            return orvane::app::kExitLinkFailed;
        }
        if (!parser.isSet(machineOpt))
            std::printf("Simulated receiver \"%s\" on %s\n",
                        orvane::app::TerminalText(orvane::FromUtf8(config.id)).c_str(),
                        path.c_str());
        if (const int code = orvane::app::UseDevicePath(path, options, stderr); code != 0)
            return code;
    } else if (parser.isSet(portOpt)) {
        const int code =
            orvane::app::UsePortArgument(parser.value(portOpt).toStdString(), options, stderr);
        if (code != 0)
            return code;
    }

    if (!options.machine)
        std::printf("Firmware: %s\n", firmware->Description().c_str());
    const auto result = orvane::app::RunUpdate(options);
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
    if (result.exitCode == orvane::app::kExitComplete && !options.machine)
        std::printf("Done: %llu blocks in %.1f s.\n",
                    static_cast<unsigned long long>(result.blocks), result.seconds);
    if (parser.isSet(simulateOpt)) {
        simulator.Stop();
        if (parser.isSet(simReportOpt)) {
            std::ofstream(parser.value(simReportOpt).toStdString()) << simulator.ReportJson();
        }
    }
    return exitCode;
}
