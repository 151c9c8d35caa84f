// orvane-update: the desktop updater.
//
//   orvane-update [--port COMn|PATH] [--simulate ID] [--firmware PACKAGE] [FILE]
//
// --simulate starts a simulated receiver on a pseudo-terminal inside this process and links
// to it, so a whole update can be watched without a receiver.
#include "app/sarnel_app.h"
#include "loading/firmware_loading.h"
#include "platform/console.h"
#include "platform/exit_codes.h"
#include "platform/port_argument.h"
#include "platform/port_directory.h"
#include "platform/text.h"
#include "platform/version.h"
#include "sim/receiver.h"
#include "ui/resource_ids.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <optional>

namespace {

// "COM7" names port 7; anything else is a device path, opened exactly as given. False, with
// the reason printed, for a port that cannot be taken.
bool TakePortArgument(const QString& arg, bool allowConsole, orvane::app::AppOptions& options) {
    const auto port = orvane::ParsePortArgument(arg.toStdString());
    if (port.kind == orvane::PortArgument::Kind::Invalid) {
        std::fprintf(stderr, "orvane-update: %s\n", port.error.c_str());
        return false;
    }
    if (port.kind == orvane::PortArgument::Kind::Number) {
        options.port = port.number;
        return true;
    }
    if (orvane::PortDirectory().IsConsole(port.path)) {
        if (!allowConsole) {
            std::fprintf(stderr, "orvane-update: %s\n", orvane::ConsoleRefusal(port.path).c_str());
            return false;
        }
        std::fprintf(stderr, "orvane-update: %s\n", orvane::ConsoleWarning(port.path).c_str());
    }
    // The number only names the device in the title and the Port dialog.
    const int number = orvane::NumberForDevice(port.path);
    if (number == 0) {
        std::fprintf(stderr, "orvane-update: no COM number is free for %s\n", port.path.c_str());
        return false;
    }
    options.port = number;
    options.devicePath = port.path;
    return true;
}

} // namespace

namespace {

QElapsedTimer& SinceStart() {
    static QElapsedTimer timer;
    return timer;
}

// Reports how long the window took to show its first paint, then ends the program.
class FirstPaintProbe : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !m_done) {
            m_done = true;
            std::printf("first paint after %lld ms\n",
                        static_cast<long long>(SinceStart().elapsed()));
            std::fflush(stdout);
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_done = false;
};

// The window's command line. Built twice when help or the version is asked for: then without a
// display, so that `orvane-update --help` works on a machine that has none.
struct CommandLine {
    CommandLine() {
        parser.setApplicationDescription(QStringLiteral(
            "Loads new firmware into a satellite-positioning receiver over a serial line.\n\n"
            "Exit codes (the same table as orvane-update-cli's):\n"
            "  0   the window was closed\n"
            "  1   the window or the simulated receiver could not start\n"
            "  4   the firmware package is refused (the message says why)\n"
            "  64  the command line is wrong"));
        parser.addHelpOption();
        parser.addVersionOption();
        portOption = QCommandLineOption(QStringLiteral("port"),
                                        QStringLiteral("Link to this port: COMn or a device path."),
                                        QStringLiteral("COMn|PATH"));
        simulateOption = QCommandLineOption(
            QStringLiteral("simulate"),
            QStringLiteral(
                "Link to a simulated receiver that reports identifier ID (for example K64U)."),
            QStringLiteral("ID"));
        screenshotOption = QCommandLineOption(QStringLiteral("screenshot"),
                                              QStringLiteral("Save a picture of the window."),
                                              QStringLiteral("FILE"));
        screenshotOption.setFlags(QCommandLineOption::HiddenFromHelp);
        screenshotAfterOption = QCommandLineOption(
            QStringLiteral("screenshot-after"), QStringLiteral("Milliseconds before the picture."),
            QStringLiteral("MS"), QStringLiteral("3000"));
        screenshotAfterOption.setFlags(QCommandLineOption::HiddenFromHelp);
        updateOption =
            QCommandLineOption(QStringLiteral("start-update"),
                               QStringLiteral("Run the Update command once the window is up."));
        updateOption.setFlags(QCommandLineOption::HiddenFromHelp);
        startupOption =
            QCommandLineOption(QStringLiteral("measure-startup"),
                               QStringLiteral("Print the time to the first paint, then exit."));
        startupOption.setFlags(QCommandLineOption::HiddenFromHelp);
        firmwareOption = QCommandLineOption(
            QStringLiteral("firmware"),
            QStringLiteral("Send the firmware of this signed package (a folder with manifest.json) "
                           "in this run, instead of the one loaded last."),
            QStringLiteral("PACKAGE"));
        consoleOption = QCommandLineOption(
            QStringLiteral("allow-console"),
            QStringLiteral("Open a --port that is the system console (a login prompt or the "
                           "kernel's messages are on it). Without it such a port is refused."));
        keyOption = QCommandLineOption(
            QStringLiteral("trusted-key"),
            QStringLiteral("Also trust this minisign public key file for firmware packages."),
            QStringLiteral("FILE"));
        parser.addOptions({portOption, consoleOption, simulateOption, firmwareOption, keyOption,
                           screenshotOption, screenshotAfterOption, updateOption, startupOption});
        parser.addPositionalArgument(QStringLiteral("file"), QStringLiteral("A document to open."),
                                     QStringLiteral("[FILE]"));
    }
    QCommandLineParser parser;
    QCommandLineOption portOption{QStringLiteral("_")};
    QCommandLineOption simulateOption{QStringLiteral("_")};
    QCommandLineOption screenshotOption{QStringLiteral("_")};
    QCommandLineOption screenshotAfterOption{QStringLiteral("_")};
    QCommandLineOption updateOption{QStringLiteral("_")};
    QCommandLineOption startupOption{QStringLiteral("_")};
    QCommandLineOption firmwareOption{QStringLiteral("_")};
    QCommandLineOption keyOption{QStringLiteral("_")};
    QCommandLineOption consoleOption{QStringLiteral("_")};
};

void SetNames() {
    QCoreApplication::setApplicationName(QStringLiteral("orvane-update"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(orvane::kVersion));
}

bool WantsHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-h" || a == "--help" || a == "-?" || a == "--help-all" || a == "-v" ||
            a == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    orvane::PrepareConsole();
    if (WantsHelpOrVersion(argc, argv)) {
        QCoreApplication core(argc, argv);
        SetNames();
        CommandLine cl;
        cl.parser.process(core); // prints and ends the program
        return 0;
    }
    SinceStart().start();
    QApplication qapp(argc, argv);
    SetNames();
    CommandLine cl;
    QCommandLineParser& parser = cl.parser;
    const QCommandLineOption& portOption = cl.portOption;
    const QCommandLineOption& simulateOption = cl.simulateOption;
    const QCommandLineOption& screenshotOption = cl.screenshotOption;
    const QCommandLineOption& screenshotAfterOption = cl.screenshotAfterOption;
    const QCommandLineOption& updateOption = cl.updateOption;
    const QCommandLineOption& startupOption = cl.startupOption;
    const QCommandLineOption& firmwareOption = cl.firmwareOption;
    const QCommandLineOption& keyOption = cl.keyOption;
    // Qt's own handling of a wrong command line ends with 1, which the window means for "could
    // not start": the usage code is the one every program of the project uses.
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "orvane-update: %s (see --help)\n",
                     parser.errorText().toLocal8Bit().constData());
        return orvane::kExitUsage;
    }

    orvane::app::AppOptions options;
    for (const QString& key : parser.values(keyOption))
        options.trustedKeys.push_back(key.toStdString());
    if (parser.isSet(firmwareOption)) {
        const auto loaded = orvane::app::LoadFirmwarePackage(
            parser.value(firmwareOption).toStdString(), options.trustedKeys);
        if (!loaded.firmware) {
            std::fprintf(stderr, "orvane-update: firmware package refused: %s\n",
                         loaded.error.c_str());
            return orvane::kExitFirmware;
        }
        options.firmware = loaded.firmware;
    }
    if (parser.isSet(portOption) &&
        !TakePortArgument(parser.value(portOption), parser.isSet(cl.consoleOption), options))
        return orvane::kExitUsage;

    std::unique_ptr<orvane::bootsim::SimulatedReceiver> simulated;
    if (parser.isSet(simulateOption)) {
        orvane::bootsim::Config config;
        config.id = parser.value(simulateOption).toStdString();
        simulated = std::make_unique<orvane::bootsim::SimulatedReceiver>();
        std::string error;
        const std::string path = simulated->Start(config, &error);
        const int port = path.empty() ? 0 : orvane::NumberForDevice(path);
        if (port == 0) {
            std::fprintf(stderr, "orvane-update: the simulated receiver did not start: %s\n",
                         error.c_str());
            return orvane::kExitLinkFailed;
        }
        options.port = port;
        options.devicePath = path;
        // The simulated receiver expects whatever firmware the window sends.
        options.onFirmwareChanged = [sim = simulated.get()](const auto& firmware) {
            sim->SetFirmware(firmware);
        };
        std::fprintf(stderr, "orvane-update: simulated receiver %s on %s (COM%d)\n",
                     config.id.c_str(), path.c_str(), port);
    }
    if (const QStringList files = parser.positionalArguments(); !files.isEmpty())
        options.documentPath = files.first().toStdU16String();

    orvane::app::CSarnelApp app(std::move(options));
    if (!app.InitInstance()) {
        app.ExitInstance();
        return orvane::kExitLinkFailed;
    }
    if (parser.isSet(updateOption))
        QTimer::singleShot(300, &qapp,
                           [&app] { app.Backend()->RunCommand(orvane::ui::ID_UPDATE); });
    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        QTimer::singleShot(parser.value(screenshotAfterOption).toInt(), &qapp, [&app, file] {
            if (QMainWindow* w = app.Backend()->Window()) {
                // The whole screen area of the window, decorations included when there are any.
                const QRect r = w->frameGeometry();
                QPixmap shot = w->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
                if (shot.isNull())
                    shot = w->grab();
                shot.save(file);
            }
        });
    }
    if (parser.isSet(startupOption)) {
        qapp.installEventFilter(new FirstPaintProbe(&qapp)); // the first widget painted
    }
    const int code = QApplication::exec();
    app.ExitInstance();
    return code;
}
