// orvane-bootsim: a simulated receiver boot loader on a pseudo-terminal or a serial port.
//
// Prints "port: PATH" as the first line, answers until interrupted (or until the transfer
// completed, when asked), then writes its report.

#include "firmware/package.h"
#include "platform/command_line.h"
#include "platform/exit_codes.h"
#include "platform/version.h"
#include "sim/receiver.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <pthread.h>

namespace {

using orvane::bootsim::Config;
using orvane::bootsim::SimulatedReceiver;

// A decimal number, all of the text, nothing else.
bool ParseUnsigned(const std::string& text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

bool ParseUnsigned(const std::string& text, std::uint32_t& value) {
    std::uint64_t v = 0;
    if (!ParseUnsigned(text, v) || v > 0xFFFFFFFFull)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

bool ParseProbability(const std::string& text, double& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() && std::isfinite(value) && value >= 0 &&
           value <= 1;
}

bool WriteReport(const std::string& path, const std::string& json) {
    if (path.empty())
        return true;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << json;
    file.close();
    return !file.fail();
}

// What the command line said, as given; the checks come after the parse.
struct Options {
    std::string device, id = "K64U", idSuffix, banner, answerAfter = "1", dropAck, corrupt,
                        seed = "1", ackDelay, completionDelay, extraFrame, link, vanishAfter,
                        vanishMs = "1000", report, firmware;
    const CLI::Option* deviceOpt = nullptr;
    const CLI::Option* split = nullptr;
    const CLI::Option* bannerOpt = nullptr;
    const CLI::Option* dropAckOpt = nullptr;
    const CLI::Option* extraFrameOpt = nullptr;
    const CLI::Option* completionDelayOpt = nullptr;
    const CLI::Option* corruptOpt = nullptr;
    const CLI::Option* noise = nullptr;
    const CLI::Option* ackDelayOpt = nullptr;
    const CLI::Option* pace = nullptr;
    const CLI::Option* exitAfter = nullptr;
    const CLI::Option* vanishAfterOpt = nullptr;
    const CLI::Option* firmwareOpt = nullptr;
};

const char* kDescription =
    "A simulated receiver boot loader. It creates a pseudo-terminal (or opens --device),\n"
    "prints the path the updater opens as \"port: PATH\", answers the handshake with its\n"
    "identifier, checks and acknowledges every block, sends the completion reply of the\n"
    "two-stage receiver, and writes a JSON report at the end.\n\n"
    "Example:\n"
    "  orvane-bootsim --id 11S2 --banner 2 --report /tmp/report.json\n"
    "  then point the updater at the path printed after \"port: \".\n\n"
    "Exit codes (the same table as orvane-update-cli's):\n"
    "  0   a whole transfer was taken without an error\n"
    "  1   the line could not be made or opened, or the transfer is not complete\n"
    "  4   the --firmware package cannot be read\n"
    "  64  the command line is wrong\n"
    "  130, 143  stopped by SIGINT, SIGTERM (the report is written)";

// The line and what the boot loader says on it.
void AddReplyOptions(CLI::App& parser, Options& o) {
    o.deviceOpt =
        parser
            .add_option("--device", o.device,
                        "Answer on this serial device instead of a new pseudo-terminal, e.g. "
                        "--device /dev/ttyUSB1 at one end of a null-modem cable.")
            ->type_name("PATH");
    parser
        .add_option("--id", o.id,
                    "Identifier reported by the boot loader: model name, board "
                    "identifier or S form, e.g. --id K64E, --id 1636, --id 11S2. An "
                    "identifier the catalogue lacks (--id ZZZZ) is answered too. "
                    "Default K64U.")
        ->type_name("ID");
    parser
        .add_option("--id-suffix", o.idSuffix,
                    "Text sent after the identifier and a blank, e.g. --id-suffix \"V2.1 OK\".")
        ->type_name("TEXT");
    o.split =
        orvane::AddFlag(parser, "--split-reply",
                        "Send the identification reply as continuation frames of 55 bytes and a "
                        "closing frame (a short reply is filled with blanks), e.g. --split-reply.");
    o.bannerOpt =
        parser
            .add_option("--banner", o.banner,
                        "Print \"BootVer: 1.DIGIT\" CR LF at power-on, before the first answer, "
                        "e.g. --banner 2.")
            ->type_name("DIGIT");
    parser
        .add_option("--answer-after", o.answerAfter,
                    "Answer the handshake only from the Nth one on, like a receiver switched "
                    "on late, e.g. --answer-after 5.")
        ->type_name("N");
}

// The faults a real line and a real receiver show, and the line's pace.
void AddFaultOptions(CLI::App& parser, Options& o) {
    o.dropAckOpt = parser
                       .add_option("--drop-ack", o.dropAck,
                                   "Do not send the Nth block acknowledgement, e.g. --drop-ack 10.")
                       ->type_name("N");
    o.extraFrameOpt =
        parser
            .add_option("--extra-frame", o.extraFrame,
                        "Send another frame (\"ST\", \"SV\", \"SC\" in turn) right behind "
                        "every Nth block acknowledgement, e.g. --extra-frame 1.")
            ->type_name("N");
    o.corruptOpt =
        parser
            .add_option("--corrupt-rate", o.corrupt,
                        "Change each reply byte with this probability, e.g. --corrupt-rate 0.01.")
            ->type_name("R");
    parser
        .add_option("--seed", o.seed,
                    "Seed for --corrupt-rate and --noise, e.g. --seed 7. Default 1.")
        ->type_name("S");
    o.noise = orvane::AddFlag(
        parser, "--noise",
        "Put bytes the updater must skip (stray bytes, banner lines) before replies, "
        "e.g. --noise.");
    o.ackDelayOpt = parser
                        .add_option("--ack-delay", o.ackDelay,
                                    "Wait this many milliseconds before each block "
                                    "acknowledgement, e.g. --ack-delay 50.")
                        ->type_name("MS");
    o.completionDelayOpt =
        parser
            .add_option("--completion-delay", o.completionDelay,
                        "Wait this many milliseconds after the last block's acknowledgement "
                        "before the two-stage receiver's completion reply, as a receiver "
                        "writing its flash does, e.g. --completion-delay 60000.")
            ->type_name("MS");
    o.pace = orvane::AddFlag(
        parser, "--pace",
        "Let every byte received and sent take its wire time at the line speed (10 bits "
        "a byte), so a transfer lasts as long as on a cable, e.g. --pace.");
}

// How the run ends, where the line is found, and what is expected on it.
void AddRunOptions(CLI::App& parser, Options& o) {
    o.exitAfter =
        orvane::AddFlag(parser, "--exit-after-complete",
                        "Exit once the transfer is complete, e.g. --exit-after-complete.");
    parser
        .add_option("--link", o.link,
                    "Make a symbolic link at PATH that leads to the pseudo-terminal (and follows "
                    "it when --vanish-after brings a new one), and print PATH as the port, e.g. "
                    "--link /tmp/receiver.")
        ->type_name("PATH");
    o.vanishAfterOpt =
        parser
            .add_option("--vanish-after", o.vanishAfter,
                        "After the Nth handshake the line goes away, as the USB port of a "
                        "receiver switched off goes with it, and comes back after --vanish-ms as "
                        "a new pseudo-terminal behind --link with the boot loader started "
                        "afresh, e.g. --vanish-after 3 --answer-after 5.")
            ->type_name("N");
    parser
        .add_option("--vanish-ms", o.vanishMs,
                    "How long the line stays away with --vanish-after. Default 1000.")
        ->type_name("MS");
    parser
        .add_option("--report", o.report,
                    "Write the JSON report to FILE at exit (also on SIGINT and SIGTERM), e.g. "
                    "--report /tmp/report.json.")
        ->type_name("FILE");
    o.firmwareOpt =
        parser
            .add_option("--firmware", o.firmware,
                        "Expect the images of this firmware package (a folder with "
                        "manifest.json) instead of the build's own, e.g. --firmware pkg. The "
                        "receiver checks every length, SHA-256 and record layout, but not the "
                        "signature: that is the updater's business.")
            ->type_name("PACKAGE");
}

// The receiver's configuration from the options, checked in the order they are listed; the
// exit code when a value is wrong or the firmware package cannot be read.
std::optional<int> MakeConfig(const Options& o, Config& config) {
    config.id = o.id;
    config.idSuffix = o.idSuffix;
    config.splitReply = o.split->count() > 0;
    config.noise = o.noise->count() > 0;
    config.pace = o.pace->count() > 0;
    config.exitAfterComplete = o.exitAfter->count() > 0;
    auto bad = [](const char* what) {
        std::fprintf(stderr, "orvane-bootsim: invalid value for --%s\n", what);
        return orvane::kExitUsage;
    };
    if (o.bannerOpt->count() > 0) {
        std::uint32_t digit = 0;
        if (!ParseUnsigned(o.banner, digit) || digit > 9)
            return bad("banner");
        config.bannerVersion = static_cast<int>(digit);
    }
    if (!ParseUnsigned(o.answerAfter, config.answerAfter))
        return bad("answer-after");
    if (o.dropAckOpt->count() > 0 && !ParseUnsigned(o.dropAck, config.dropAck))
        return bad("drop-ack");
    if (o.extraFrameOpt->count() > 0 && !ParseUnsigned(o.extraFrame, config.extraFrameEvery))
        return bad("extra-frame");
    if (o.ackDelayOpt->count() > 0 && !ParseUnsigned(o.ackDelay, config.ackDelayMs))
        return bad("ack-delay");
    if (o.completionDelayOpt->count() > 0 &&
        !ParseUnsigned(o.completionDelay, config.completionDelayMs))
        return bad("completion-delay");
    config.linkPath = o.link;
    if (o.vanishAfterOpt->count() > 0 && !ParseUnsigned(o.vanishAfter, config.vanishAfter))
        return bad("vanish-after");
    if (!ParseUnsigned(o.vanishMs, config.vanishMs))
        return bad("vanish-ms");
    if (config.vanishAfter > 0 && (config.linkPath.empty() || o.deviceOpt->count() > 0)) {
        std::fprintf(stderr, "orvane-bootsim: --vanish-after needs --link (and no --device)\n");
        return orvane::kExitUsage;
    }
    if (o.corruptOpt->count() > 0 && !ParseProbability(o.corrupt, config.corruptRate))
        return bad("corrupt-rate");
    if (!ParseUnsigned(o.seed, config.seed))
        return bad("seed");

    if (o.firmwareOpt->count() > 0) {
        const auto loaded = orvane::firmware::LoadPackage(o.firmware, {}, /*checkSignature=*/false);
        if (!loaded.firmware) {
            std::fprintf(stderr, "orvane-bootsim: %s\n", loaded.error.c_str());
            return orvane::kExitFirmware;
        }
        config.firmware = loaded.firmware;
    }
    return std::nullopt;
}

// Answers on the line until a stop signal (or the end of the transfer, when asked), then
// writes the report; the exit code says how the transfer went.
int Serve(const Options& o, const Config& config, const sigset_t& stopSignals) {
    SimulatedReceiver receiver;
    std::string error;
    const std::string path = o.deviceOpt->count() > 0
                                 ? receiver.StartOnDevice(o.device, config, &error)
                                 : receiver.Start(config, &error);
    if (path.empty()) {
        std::fprintf(stderr, "orvane-bootsim: %s\n", error.c_str());
        return orvane::kExitLinkFailed;
    }
    std::printf("port: %s\n", path.c_str());
    std::fflush(stdout);

    int signal = 0;
    while (signal == 0 && receiver.Running()) {
        const timespec tick{0, 100'000'000};
        const int s = sigtimedwait(&stopSignals, nullptr, &tick);
        if (s > 0)
            signal = s;
    }
    receiver.Stop();

    const auto result = receiver.Report();
    if (!WriteReport(o.report, orvane::bootsim::ToJson(result)))
        std::fprintf(stderr, "orvane-bootsim: cannot write %s\n", o.report.c_str());
    std::fprintf(stderr, "orvane-bootsim: %s, %u of %u blocks, %zu errors\n",
                 result.completed ? "transfer complete" : "transfer not complete",
                 result.blocksAccepted, result.expectedBlocks,
                 result.errors.size() + result.errorsOmitted);
    if (signal != 0)
        return orvane::kExitSignalBase + signal;
    return result.completed && result.errors.empty() ? orvane::kExitComplete
                                                     : orvane::kExitLinkFailed;
}

} // namespace

int Run(int argc, char* argv[]) {
    // SIGINT and SIGTERM are taken synchronously by the main thread (Serve); blocking them
    // before any thread starts keeps every other thread out of their way.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CLI::App parser(kDescription, "orvane-bootsim");
    const orvane::StandardOptions standard = orvane::SetUpCommandLine(parser);
    Options options;
    AddReplyOptions(parser, options);
    AddFaultOptions(parser, options);
    AddRunOptions(parser, options);
    try {
        parser.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "orvane-bootsim: %s\n", e.what());
        return orvane::kExitUsage;
    }
    if (standard.version->count() > 0) {
        std::printf("orvane-bootsim %s\n", orvane::kVersion);
        return 0;
    }
    if (standard.help->count() > 0) {
        std::printf("%s", parser.help().c_str());
        return 0;
    }
    Config config;
    if (const auto failure = MakeConfig(options, config))
        return *failure;
    return Serve(options, config, stopSignals);
}

int main(int argc, char* argv[]) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvane-bootsim: internal error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "orvane-bootsim: internal error\n");
    }
    return orvane::kExitInternal;
}
