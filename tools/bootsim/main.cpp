// orvane-bootsim: a simulated receiver boot loader on a pseudo-terminal or a serial port.
//
// Prints "port: PATH" as the first line, answers until interrupted (or until the transfer
// completed, when asked), then writes its report.

#include "bootsim/receiver.h"
#include "firmware/package.h"
#include "platform/version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>

namespace {

using orvane::bootsim::Config;
using orvane::bootsim::SimulatedReceiver;

bool ParseUnsigned(const QString& text, std::uint32_t& value) {
    bool ok = false;
    const qulonglong v = text.toULongLong(&ok);
    if (!ok || v > 0xFFFFFFFFull)
        return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

bool WriteReport(const QString& path, const std::string& json) {
    if (path.isEmpty())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(json.data(), static_cast<qint64>(json.size())) ==
           static_cast<qint64>(json.size());
}

} // namespace

int main(int argc, char* argv[]) {
    // SIGINT and SIGTERM are taken synchronously by the main thread below; blocking them
    // before any thread starts keeps every other thread out of their way.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("orvane-bootsim");
    QCoreApplication::setApplicationVersion(QString::fromLatin1(orvane::kVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "A simulated receiver boot loader. It creates a pseudo-terminal (or opens --device), "
        "prints the path the updater opens as \"port: PATH\", answers the handshake with its "
        "identifier, checks and acknowledges every block, sends the completion reply of the "
        "two-stage receiver, and writes a JSON report at the end.\n\n"
        "Example:\n"
        "  orvane-bootsim --id 11S2 --banner 2 --report /tmp/report.json\n"
        "  then point the updater at the path printed after \"port: \".");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption device(
        "device",
        "Answer on this serial device instead of a new pseudo-terminal, e.g. "
        "--device /dev/ttyUSB1 at one end of a null-modem cable.",
        "PATH");
    const QCommandLineOption id("id",
                                "Identifier reported by the boot loader: model name, board "
                                "identifier or S form, e.g. --id K64E, --id 1636, --id 11S2. An "
                                "identifier the catalogue lacks (--id ZZZZ) is answered too. "
                                "Default K64U.",
                                "ID", "K64U");
    const QCommandLineOption idSuffix(
        "id-suffix", "Text sent after the identifier and a blank, e.g. --id-suffix \"V2.1 OK\".",
        "TEXT");
    const QCommandLineOption split(
        "split-reply", "Send the identification reply as continuation frames of 55 bytes and a "
                       "closing frame (a short reply is filled with blanks), e.g. --split-reply.");
    const QCommandLineOption banner(
        "banner",
        "Print \"BootVer: 1.DIGIT\" CR LF at power-on, before the first answer, e.g. "
        "--banner 2.",
        "DIGIT");
    const QCommandLineOption answerAfter(
        "answer-after",
        "Answer the handshake only from the Nth one on, like a receiver switched "
        "on late, e.g. --answer-after 5.",
        "N", "1");
    const QCommandLineOption dropAck(
        "drop-ack", "Do not send the Nth block acknowledgement, e.g. --drop-ack 10.", "N");
    const QCommandLineOption corrupt(
        "corrupt-rate", "Change each reply byte with this probability, e.g. --corrupt-rate 0.01.",
        "R");
    const QCommandLineOption seed(
        "seed", "Seed for --corrupt-rate and --noise, e.g. --seed 7. Default 1.", "S", "1");
    const QCommandLineOption noise(
        "noise", "Put bytes the updater must skip (stray bytes, banner lines) before replies, "
                 "e.g. --noise.");
    const QCommandLineOption ackDelay(
        "ack-delay",
        "Wait this many milliseconds before each block acknowledgement, e.g. "
        "--ack-delay 50.",
        "MS");
    const QCommandLineOption pace(
        "pace", "Let every byte received and sent take its wire time at the line speed (10 bits "
                "a byte), so a transfer lasts as long as on a cable, e.g. --pace.");
    const QCommandLineOption exitAfter(
        "exit-after-complete", "Exit once the transfer is complete, e.g. --exit-after-complete.");
    const QCommandLineOption link(
        "link",
        "Make a symbolic link at PATH that leads to the pseudo-terminal (and follows "
        "it when --vanish-after brings a new one), and print PATH as the port, e.g. "
        "--link /tmp/receiver.",
        "PATH");
    const QCommandLineOption vanishAfter(
        "vanish-after",
        "After the Nth handshake the line goes away, as the USB port of a receiver switched "
        "off goes with it, and comes back after --vanish-ms as a new pseudo-terminal behind "
        "--link with the boot loader started afresh, e.g. --vanish-after 3 --answer-after 5.",
        "N");
    const QCommandLineOption vanishMs(
        "vanish-ms", "How long the line stays away with --vanish-after. Default 1000.", "MS",
        "1000");
    const QCommandLineOption report(
        "report",
        "Write the JSON report to FILE at exit (also on SIGINT and SIGTERM), e.g. "
        "--report /tmp/report.json.",
        "FILE");
    const QCommandLineOption firmware(
        "firmware",
        "Expect the images of this firmware package (a folder with manifest.json) instead of "
        "the build's own, e.g. --firmware pkg. The receiver checks every length, SHA-256 and "
        "record layout, but not the signature: that is the updater's business.",
        "PACKAGE");
    parser.addOptions({device, id, idSuffix, split, banner, answerAfter, dropAck, corrupt, seed,
                       noise, ackDelay, pace, exitAfter, link, vanishAfter, vanishMs, report,
                       firmware});
    parser.process(app);

    Config config;
    config.id = parser.value(id).toStdString();
    config.idSuffix = parser.value(idSuffix).toStdString();
    config.splitReply = parser.isSet(split);
    config.noise = parser.isSet(noise);
    config.pace = parser.isSet(pace);
    config.exitAfterComplete = parser.isSet(exitAfter);
    auto bad = [](const char* what) {
        std::fprintf(stderr, "orvane-bootsim: invalid value for --%s\n", what);
        return 2;
    };
    if (parser.isSet(banner)) {
        std::uint32_t digit = 0;
        if (!ParseUnsigned(parser.value(banner), digit) || digit > 9)
            return bad("banner");
        config.bannerVersion = static_cast<int>(digit);
    }
    if (!ParseUnsigned(parser.value(answerAfter), config.answerAfter))
        return bad("answer-after");
    if (parser.isSet(dropAck) && !ParseUnsigned(parser.value(dropAck), config.dropAck))
        return bad("drop-ack");
    if (parser.isSet(ackDelay) && !ParseUnsigned(parser.value(ackDelay), config.ackDelayMs))
        return bad("ack-delay");
    config.linkPath = parser.value(link).toStdString();
    if (parser.isSet(vanishAfter) && !ParseUnsigned(parser.value(vanishAfter), config.vanishAfter))
        return bad("vanish-after");
    if (!ParseUnsigned(parser.value(vanishMs), config.vanishMs))
        return bad("vanish-ms");
    if (config.vanishAfter > 0 && (config.linkPath.empty() || parser.isSet(device))) {
        std::fprintf(stderr, "orvane-bootsim: --vanish-after needs --link (and no --device)\n");
        return 2;
    }
    if (parser.isSet(corrupt)) {
        bool ok = false;
        config.corruptRate = parser.value(corrupt).toDouble(&ok);
        if (!ok || config.corruptRate < 0 || config.corruptRate > 1)
            return bad("corrupt-rate");
    }
    {
        bool ok = false;
        config.seed = parser.value(seed).toULongLong(&ok);
        if (!ok)
            return bad("seed");
    }

    if (parser.isSet(firmware)) {
        const auto loaded = orvane::firmware::LoadPackage(parser.value(firmware).toStdString(), {},
                                                          /*checkSignature=*/false);
        if (!loaded.firmware) {
            std::fprintf(stderr, "orvane-bootsim: %s\n", loaded.error.c_str());
            return 2;
        }
        config.firmware = loaded.firmware;
    }

    SimulatedReceiver receiver;
    std::string error;
    const std::string path =
        parser.isSet(device)
            ? receiver.StartOnDevice(parser.value(device).toStdString(), config, &error)
            : receiver.Start(config, &error);
    if (path.empty()) {
        std::fprintf(stderr, "orvane-bootsim: %s\n", error.c_str());
        return 1;
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
    const QString reportPath = parser.value(report);
    if (!WriteReport(reportPath, orvane::bootsim::ToJson(result)))
        std::fprintf(stderr, "orvane-bootsim: cannot write %s\n", qPrintable(reportPath));
    std::fprintf(stderr, "orvane-bootsim: %s, %u of %u blocks, %zu errors\n",
                 result.completed ? "transfer complete" : "transfer not complete",
                 result.blocksAccepted, result.expectedBlocks,
                 result.errors.size() + result.errorsOmitted);
    if (signal != 0)
        return 128 + signal;
    return result.completed && result.errors.empty() ? 0 : 1;
}
