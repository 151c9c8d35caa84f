// orvane-update-cli against orvane-bootsim: whole updates for every receiver of the catalogue,
// and the ways an update can go wrong on a real line.
#include "cli_test_support.h"

#include <gtest/gtest.h>

#include <csignal>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

using orvane::test::CliRun;
using orvane::test::CliTest;

struct Receiver {
    const char* id;
    int entry;
    bool fast; // switches to 115200 baud
};

class EveryReceiver : public CliTest, public ::testing::WithParamInterface<Receiver> {};

TEST_P(EveryReceiver, UpdatesCompletely) {
    const Receiver r = GetParam();
    const CliRun run = RunCli({"--simulate", r.id, "--simulate-report", ReportPath(), "--timeout",
                               "600", "--no-progress"});
    ASSERT_EQ(run.exitCode, 0) << r.id << "\n" << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("Firmware update complete.")) << r.id;
    // Piped output carries no bar and only the first and the last address line.
    EXPECT_EQ(run.out.count("Address: "), 2) << r.id;
    EXPECT_TRUE(run.out.contains("Address: 0\n")) << r.id;
    EXPECT_FALSE(run.out.contains("\r")) << r.id;
    const QJsonObject report = Report();
    EXPECT_EQ(report["catalogueEntry"].toInt(), r.entry) << r.id;
    EXPECT_EQ(report["speedChanges"].toArray().size(), r.fast ? 1 : 0) << r.id;
    ExpectClean(report, r.id);
}

INSTANTIATE_TEST_SUITE_P(
    Catalogue, EveryReceiver,
    ::testing::Values(
        Receiver{"ZT4H", 1, false}, Receiver{"K37E", 2, false}, Receiver{"1636", 3, false},
        Receiver{"K37J", 4, false}, Receiver{"1738", 5, false}, Receiver{"D37E", 6, false},
        Receiver{"K37U", 7, false}, Receiver{"K64E", 8, false}, Receiver{"K64H", 9, false},
        Receiver{"Q46P", 10, false}, Receiver{"Q46", 11, false}, Receiver{"1130", 12, false},
        Receiver{"K65", 13, false}, Receiver{"K64Y", 14, false}, Receiver{"1135", 15, false},
        Receiver{"K65G", 16, false}, Receiver{"1189", 17, false}, Receiver{"1425", 18, false},
        Receiver{"1522", 19, false}, Receiver{"1122", 20, false}, Receiver{"1129", 21, false},
        Receiver{"76S0", 22, true}, Receiver{"Brisk", 23, false}, Receiver{"K64G", 24, false},
        Receiver{"ZT", 25, false}, Receiver{"K64U", 26, true}, Receiver{"11S2", 20, true},
        Receiver{"11S5", 20, true}, Receiver{"11S9", 21, true}, Receiver{"14S2", 18, true},
        Receiver{"14s5", 18, true}, Receiver{"15S2", 19, true}, Receiver{"15S5", 19, true},
        Receiver{"k37e", 2, false}),
    [](const auto& info) {
        std::string name = info.param.id;
        for (auto& c : name)
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name + "_" + std::to_string(info.index);
    });

TEST_F(CliTest, UnknownIdentifierEndsWithCode2) {
    const CliRun run = RunCli({"--simulate", "ZZZZ", "--timeout", "30"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.contains("Can't find the version of ZZZZ, please comfirm again!"))
        << run.err.toStdString();
}

TEST_F(CliTest, MissingDeviceEndsWithCode1AndSaysWhy) {
    const CliRun run = RunCli({"--port", "/dev/ttyUSB-not-here", "--timeout", "5"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(run.err.contains("no such device")) << run.err.toStdString();
}

TEST_F(CliTest, PortHeldByAnotherProgramEndsWithCode1NamingIt) {
    // With the advisory lock the updater honours, and without any lock, as a terminal
    // program or a `cat` would hold it.
    for (const bool locked : {true, false}) {
        QProcess sim;
        const QString path = StartSim(sim, {"--id", "K64E"});
        ASSERT_FALSE(path.isEmpty());
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        if (locked) {
            ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        }
        const CliRun run = RunCli({"--port", path, "--timeout", "5"});
        ::close(fd);
        StopSim(sim);
        EXPECT_EQ(run.exitCode, 1) << locked;
        EXPECT_TRUE(run.err.contains("in use by another program: ")) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QStringLiteral("(pid %1)").arg(::getpid())))
            << run.err.toStdString();
        // The simulated receiver holds both ends of its line: it is the line, not a rival.
        EXPECT_FALSE(run.err.contains("orvane-bootsim")) << run.err.toStdString();
    }
}

TEST_F(CliTest, WaitFollowsAReceiverWhosePortGoesAwayWhileHandshaking) {
    // The receiver's USB port goes with it when it is switched off, as the updater asks:
    // with --wait the same device is opened again when it comes back, one line says so, and
    // the update completes; without it the update ends as before.
    for (const bool wait : {true, false}) {
        QTemporaryDir links;
        QProcess sim;
        const QString link = links.filePath("receiver");
        const QString path = StartSim(sim, {"--id", "K64E", "--link", link, "--answer-after", "5",
                                            "--vanish-after", "3", "--vanish-ms", "1500"});
        ASSERT_EQ(path, link);
        QStringList args{"--port", path, "--timeout", "60", "--no-progress"};
        if (wait)
            args << "--wait";
        const CliRun run = RunCli(args);
        StopSim(sim);
        const QJsonObject report = Report();
        if (wait) {
            EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
            EXPECT_EQ(run.out.count("the device is back"), 1) << run.out.toStdString();
            EXPECT_EQ(report["lineReturns"].toInt(), 1);
            ExpectClean(report, "--wait");
        } else {
            EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
            EXPECT_TRUE(run.err.contains("disconnected")) << run.err.toStdString();
        }
    }
}

TEST_F(CliTest, PortNamesThatAreNoPortAndAllWithoutMatchAreRefused) {
    for (const char* typed : {"COM0", "COM256", "COM2x"}) {
        const CliRun run = RunCli({"--port", typed});
        EXPECT_EQ(run.exitCode, 64) << typed;
        EXPECT_TRUE(run.err.contains(QStringLiteral("\"%1\" is not a port").arg(typed)))
            << run.err.toStdString();
    }
    // Not on a terminal, --all would have nobody to ask.
    const CliRun all = RunCli({"--all", "--timeout", "5"});
    EXPECT_EQ(all.exitCode, 64);
    EXPECT_TRUE(all.err.contains("--match")) << all.err.toStdString();
    const CliRun list = RunCli({"--list-ports"});
    EXPECT_EQ(list.exitCode, 0);
    EXPECT_FALSE(list.out.contains("/dev/pts/")) << list.out.toStdString();
}

// A command line the updater does not understand ends it before any port is opened, on one
// line: a port typed without --port must not send the firmware to the stored port instead.
TEST_F(CliTest, WhatTheCommandLineDoesNotSayIsRefusedOnOneLine) {
    const QStringList wrong[] = {
        {"COM3"}, {"--simulate", "K64E", "/dev/ttyUSB0"}, {"--no-such-option"}, {"--port"}};
    for (const QStringList& args : wrong) {
        const CliRun run = RunCli(args, 20000);
        EXPECT_EQ(run.exitCode, 64) << args.join(' ').toStdString();
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_TRUE(run.err.startsWith("error: ")) << run.err.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
    }
}

TEST_F(CliTest, FaultyLinesStillUpdateCompletely) {
    struct Fault {
        QString id;
        QStringList args;
        QStringList cliArgs = {};
    };
    const Fault faults[] = {
        {"1130", {"--noise", "--seed", "3"}},
        {"1130", {"--banner", "7", "--answer-after", "4"}},
        {"1130", {"--split-reply", "--id-suffix", "firmware 2.1"}},
        {"1130", {"--ack-delay", "2"}},
        // Another frame right behind every acknowledgement, its bytes arriving one by one at
        // 115200 baud: the reply path nests, and the frames it splits must still be decoded.
        {"76S0", {"--extra-frame", "1", "--pace"}},
        // The two-stage receiver writes its flash before the completion reply: that silence,
        // longer than the stall limit, is no stall and earns no advice to switch it off.
        {"K64U", {"--completion-delay", "4000"}, {"--stall-timeout", "1"}},
    };
    for (const auto& [id, fault, cliArgs] : faults) {
        QProcess sim;
        const QString path = StartSim(sim, QStringList{"--id", id} + fault);
        ASSERT_FALSE(path.isEmpty());
        const CliRun run =
            RunCli(QStringList{"--port", path, "--timeout", "300", "--no-progress"} + cliArgs);
        StopSim(sim);
        const std::string what = fault.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, 0) << what << run.err.toStdString();
        EXPECT_FALSE(run.err.contains("switch it off") || run.out.contains("switch it off"))
            << what << run.err.toStdString();
        ExpectClean(Report(), what);
    }
}

// A lost acknowledgement: no progress can come. The stall limit ends the transfer naming the
// block and what to do; --timeout, when shorter, ends it first; --stall-timeout 0 waits on.
TEST_F(CliTest, LostAcknowledgementEndsTheTransferNamingTheBlock) {
    struct Case {
        QStringList args;
        int exitCode;
        const char* says;
    };
    const Case cases[] = {
        {{"--stall-timeout", "2"}, 6, "has not acknowledged block 10 (Address: 480) for 2 s"},
        {{"--timeout", "2"}, 3, "block 10 "},
        {{"--stall-timeout", "0", "--timeout", "4"}, 3, "block 10 "},
    };
    for (const Case& c : cases) {
        QProcess sim;
        const QString path = StartSim(sim, {"--id", "K64E", "--drop-ack", "10"});
        ASSERT_FALSE(path.isEmpty());
        const QString result = m_config.filePath("stall.json");
        const CliRun run =
            RunCli(QStringList{"--port", path, "--no-progress", "--result-json", result} + c.args);
        StopSim(sim);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(run.exitCode, c.exitCode) << what << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.says)) << what << run.err.toStdString();
        EXPECT_TRUE(run.err.contains("the last block acknowledged was block 9") ||
                    run.err.contains("The last block acknowledged was block 9"))
            << what << run.err.toStdString();
        const QJsonObject report = Report();
        EXPECT_EQ(report["blocksAccepted"].toInt(), 10) << what;
        EXPECT_TRUE(report["errors"].toArray().isEmpty()) << what;
        QFile f(result);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << what;
        const QJsonObject j = QJsonDocument::fromJson(f.readAll()).object();
        EXPECT_EQ(j["exitCode"].toInt(), c.exitCode) << what;
        EXPECT_EQ(j["blocksAcknowledged"].toInt(), 9) << what;
    }
}

TEST_F(CliTest, CorruptedRepliesEndInADefinedStateWithoutRepeatingABlock) {
    // A corrupted acknowledgement is dropped by the decoder and, stop-and-wait without
    // retransmission, the transfer then waits: the time-out must end it, naming the block,
    // and no block may have been sent twice or out of order up to there.
    for (const char* seed : {"1", "2", "3"}) {
        QProcess sim;
        const QString path =
            StartSim(sim, {"--id", "K64E", "--corrupt-rate", "0.002", "--seed", seed});
        ASSERT_FALSE(path.isEmpty());
        const CliRun run = RunCli({"--port", path, "--timeout", "4", "--no-progress"});
        StopSim(sim);
        const QJsonObject report = Report();
        EXPECT_TRUE(report["errors"].toArray().isEmpty()) << seed;
        EXPECT_GT(report["corruptedBytes"].toInt(), 0) << seed;
        if (run.exitCode == 0) {
            ExpectClean(report, seed);
        } else {
            EXPECT_EQ(run.exitCode, 3) << seed << run.err.toStdString();
            EXPECT_TRUE(run.err.contains("timed out")) << run.err.toStdString();
            EXPECT_LT(report["blocksAccepted"].toInt(), report["expectedBlocks"].toInt());
        }
    }
}

// Another try: a receiver that drops one acknowledgement on the first try only completes on
// the second, alone and in station mode beside two others; the record keeps every try.
TEST_F(CliTest, RetriesStartAgainFromTheHandshake) {
    for (const bool station : {false, true}) {
        QProcess sims[3];
        QStringList args{"--stall-timeout", "2",   "--retries",    "2",
                         "--timeout",       "120", "--no-progress"};
        const int receivers = station ? 3 : 1;
        for (int i = 0; i < receivers; ++i) {
            QStringList sim{"--id", i == 0 ? "K64E" : "11S2"};
            if (i == 0)
                sim << "--drop-ack"
                    << "10";
            const QString path = StartSim(sims[i], sim);
            ASSERT_FALSE(path.isEmpty());
            args << "--port" << path;
        }
        QTemporaryDir reports;
        const QString result = m_config.filePath("retries.json");
        args << (station ? QStringList{"--report-dir", reports.path()}
                         : QStringList{"--result-json", result});
        const CliRun run = RunCli(args);
        for (int i = 0; i < receivers; ++i)
            StopSim(sims[i]);
        EXPECT_EQ(run.exitCode, 0) << station << run.out.toStdString() << run.err.toStdString();
        if (station)
            continue; // every receiver completed: the station's code is 0 only then
        EXPECT_TRUE(run.out.contains("try 2 of 3")) << run.out.toStdString();
        QFile f(result);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QJsonObject j = QJsonDocument::fromJson(f.readAll()).object();
        const QJsonArray tries = j["tries"].toArray();
        ASSERT_EQ(tries.size(), 2);
        EXPECT_EQ(tries[0].toObject()["exitCode"].toInt(), 6);
        EXPECT_EQ(tries[0].toObject()["blocksAcknowledged"].toInt(), 9);
        EXPECT_EQ(tries[1].toObject()["exitCode"].toInt(), 0);
        EXPECT_EQ(j["exitCode"].toInt(), 0);
    }
}

// A production line: three receivers one after the other on the same link, then Ctrl-C while
// the updater waits for a fourth. Three records, a summary, exit code 0.
TEST_F(CliTest, RepeatUpdatesTheNextReceiverUntilStopped) {
    const QString link = m_config.filePath("line");
    QTemporaryDir reports;
    QProcess cli;
    cli.setProcessEnvironment(Env());
    cli.start(ORVANE_CLI, {"--port", link, "--repeat", "--wait", "--no-progress", "--report-dir",
                           reports.path(), "--timeout", "120"});
    ASSERT_TRUE(cli.waitForStarted());
    QString out;
    for (int n = 1; n <= 3; ++n) {
        QProcess sim;
        ASSERT_FALSE(StartSim(sim, {"--id", n == 2 ? "11S2" : "K64E", "--link", link,
                                    "--exit-after-complete"})
                         .isEmpty());
        ASSERT_TRUE(sim.waitForFinished(60000)) << n; // the receiver took a whole transfer
        const QString done = QString("Receiver %1 done").arg(n);
        while (!out.contains(done) && cli.waitForReadyRead(30000))
            out += QString::fromUtf8(cli.readAllStandardOutput());
        ASSERT_TRUE(out.contains(done)) << out.toStdString();
    }
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(20000));
    out += QString::fromUtf8(cli.readAllStandardOutput());
    EXPECT_EQ(cli.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("3 receivers: 3 done, 0 failed (1122 1 done; K64E 2 done)"))
        << out.toStdString();
    for (const char* name : {"receiver-001.json", "receiver-002.json", "receiver-003.json"}) {
        QFile f(QDir(reports.path()).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name;
        EXPECT_EQ(QJsonDocument::fromJson(f.readAll()).object()["exitCode"].toInt(), 0) << name;
    }
    EXPECT_FALSE(QFile::exists(QDir(reports.path()).filePath("receiver-004.json")));
}

// Station mode with --repeat: a line of receivers on each port, two each, then Ctrl-C while
// both wait for the next. A record per receiver, one summary over all, exit code 0.
TEST_F(CliTest, StationRepeatRunsALineOfReceiversOnEveryPort) {
    const QString links[] = {m_config.filePath("lineA"), m_config.filePath("lineB")};
    QTemporaryDir reports;
    QProcess cli;
    cli.setProcessEnvironment(Env());
    cli.start(ORVANE_CLI, {"--port", links[0], "--port", links[1], "--repeat", "--wait",
                           "--report-dir", reports.path(), "--timeout", "120"});
    ASSERT_TRUE(cli.waitForStarted());
    QString out;
    for (int n = 1; n <= 2; ++n) {
        QProcess sims[2];
        for (int i = 0; i < 2; ++i)
            ASSERT_FALSE(StartSim(sims[i], {"--id", i == 0 ? "K64E" : "1636", "--link", links[i],
                                            "--exit-after-complete"})
                             .isEmpty());
        for (auto& sim : sims)
            ASSERT_TRUE(sim.waitForFinished(60000)) << n;
        const QString done = QString("receiver %1: complete").arg(n);
        while (out.count(done) < 2 && cli.waitForReadyRead(30000))
            out += QString::fromUtf8(cli.readAllStandardOutput());
        ASSERT_EQ(out.count(done), 2) << out.toStdString();
    }
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(20000));
    out += QString::fromUtf8(cli.readAllStandardOutput());
    EXPECT_EQ(cli.exitCode(), 0) << out.toStdString();
    EXPECT_TRUE(out.contains("4 receivers: 4 done, 0 failed (1636 2 done; K64E 2 done)"))
        << out.toStdString();
    const QStringList records =
        QDir(reports.path()).entryList({"*-receiver-*.json"}, QDir::Files, QDir::Name);
    ASSERT_EQ(records.size(), 4) << records.join(' ').toStdString();
    for (const QString& name : records) {
        QFile f(QDir(reports.path()).filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(QJsonDocument::fromJson(f.readAll()).object()["exitCode"].toInt(-1), 0)
            << name.toStdString();
    }
}

TEST_F(CliTest, ReceiverGoneMidTransferEndsWithCode7AndTheAdvice) {
    // --wait waits only while handshaking: a transfer cut short ends the update.
    for (const bool wait : {false, true}) {
        QProcess sim;
        const QString path = StartSim(sim, {"--id", "K64E", "--ack-delay", "20"});
        ASSERT_FALSE(path.isEmpty());
        QProcess cli;
        cli.setProcessEnvironment(Env());
        QStringList args{"--port", path, "--timeout", "60", "--no-progress"};
        if (wait)
            args << "--wait";
        cli.start(ORVANE_CLI, args);
        ASSERT_TRUE(cli.waitForStarted());
        // Into the transfer (the first block's address printed), however slow the machine:
        // a receiver gone while handshaking is waited for with --wait, which is not this case.
        QString out;
        while (!out.contains("Address: ") && cli.waitForReadyRead(30000))
            out += QString::fromUtf8(cli.readAllStandardOutput());
        ASSERT_TRUE(out.contains("Address: ")) << wait;
        ::usleep(300 * 1000);
        sim.kill();
        sim.waitForFinished();
        ASSERT_TRUE(cli.waitForFinished(20000));
        EXPECT_EQ(cli.exitCode(), 7) << wait;
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        EXPECT_TRUE(err.contains("disconnected")) << err.toStdString();
        EXPECT_TRUE(err.contains("The last block acknowledged was block ")) << err.toStdString();
        EXPECT_TRUE(err.contains("may be left without firmware")) << err.toStdString();
    }
}

TEST_F(CliTest, StationModeUpdatesSeveralReceiversAtOnce) {
    QTemporaryDir reports;
    const CliRun run =
        RunCli({"--simulate", "K64E", "--simulate", "11S2", "--simulate", "1636", "--simulate",
                "ZZZZ", "--simulate", "K37E", "--timeout", "300", "--report-dir", reports.path()});
    // One receiver is unknown to the catalogue: the run fails with its code.
    EXPECT_EQ(run.exitCode, 2) << run.out.toStdString() << run.err.toStdString();
    struct Expect {
        const char* file;
        const char* identifier;
        const char* result;
        int blocks;
    };
    const Expect expected[] = {{"sim1_K64E.json", "K64E", "complete", 576},
                               {"sim2_11S2.json", "1122", "complete", 2514},
                               {"sim3_1636.json", "1636", "complete", 568},
                               {"sim4_ZZZZ.json", "ZZZZ", "unknown identifier", 0},
                               {"sim5_K37E.json", "K37E", "complete", 448}};
    for (const Expect& e : expected) {
        QFile f(QDir(reports.path()).filePath(e.file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << e.file;
        const QJsonObject j = QJsonDocument::fromJson(f.readAll()).object();
        EXPECT_EQ(j["identifier"].toString().toStdString(), e.identifier) << e.file;
        EXPECT_EQ(j["result"].toString().toStdString(), e.result) << e.file;
        EXPECT_EQ(j["blocks"].toInt(), e.blocks) << e.file;
        EXPECT_FALSE(j["port"].toString().isEmpty()) << e.file;
        EXPECT_TRUE(run.out.contains(QString::fromUtf8(e.identifier))) << e.file;
    }
}

} // namespace

namespace {

// One exit-code table: a wrong command line ends every program with 64, before anything is
// opened, and every program's help gives its codes.
TEST_F(CliTest, EveryProgramEndsAWrongCommandLineWith64) {
    struct Call {
        QString path;
        QStringList args;
    };
    const Call calls[] = {
        {ORVANE_CLI, {"--port", "COM0"}},    {ORVANE_CLI, {"--bogus"}},
        {ORVANE_BOOTSIM, {"--bogus"}},       {ORVANE_BOOTSIM, {"--drop-ack", "x"}},
#ifdef ORVANE_WINDOW
        {ORVANE_WINDOW, {"--port", "COM0"}}, {ORVANE_WINDOW, {"--bogus"}},
#endif
    };
    for (const Call& c : calls) {
        const std::string what = (c.path + " " + c.args.join(' ')).toStdString();
        QProcess run;
        auto env = Env();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        run.setProcessEnvironment(env);
        run.start(c.path, c.args);
        ASSERT_TRUE(run.waitForFinished(20000)) << what;
        EXPECT_EQ(run.exitCode(), 64) << what;
        run.start(c.path, {"--help"});
        ASSERT_TRUE(run.waitForFinished(20000)) << what;
        EXPECT_TRUE(run.readAllStandardOutput().contains("\n  64 ")) << what;
    }
}

// One version for the three programs and the record; the window answers --help and --version
// on a machine without a display.
TEST_F(CliTest, EveryProgramSaysTheSameVersion) {
    const auto cli = RunCli({"--version"});
    ASSERT_EQ(cli.exitCode, 0);
    const QString version = cli.out.trimmed().section(' ', 1);
    EXPECT_FALSE(version.isEmpty());
    EXPECT_EQ(RunCli({"-V"}).out, cli.out); // as most tools spell it; -v stays for old scripts
    EXPECT_EQ(RunCli({"-v"}).out, cli.out);
    struct Program {
        QString path;
        QString name;
    };
    const Program programs[] = {{ORVANE_BOOTSIM, "orvane-bootsim"},
#ifdef ORVANE_WINDOW
                                {ORVANE_WINDOW, "orvane-update"}
#endif
    };
    for (const Program& p : programs) {
        QProcess run;
        auto env = Env();
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
        run.setProcessEnvironment(env);
        for (const char* option : {"--version", "--help"}) {
            run.start(p.path, {option});
            ASSERT_TRUE(run.waitForFinished(20000)) << option;
            EXPECT_EQ(run.exitCode(), 0) << p.name.toStdString() << " " << option;
            const QString out = QString::fromUtf8(run.readAllStandardOutput());
            if (QString(option) == "--version")
                EXPECT_EQ(out.trimmed(), p.name + " " + version);
            else
                EXPECT_TRUE(out.contains("Usage:")) << out.toStdString();
        }
    }
    const QString result = m_config.filePath("r.json");
    RunCli({"--simulate", "ZZZZ", "--timeout", "20", "--result-json", result});
    QFile f(result);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(QJsonDocument::fromJson(f.readAll()).object()["version"].toString(), version);
}

// --quiet: nothing on standard output, whatever the outcome; an error still says why.
TEST_F(CliTest, QuietPrintsErrorsOnly) {
    struct Case {
        QString id;
        int exitCode;
        bool error;
    };
    for (const Case& c : {Case{"K37E", 0, false}, Case{"ZZZZ", 2, true}}) {
        const CliRun run = RunCli({"-q", "--simulate", c.id, "-t", "30"});
        EXPECT_EQ(run.exitCode, c.exitCode) << c.id.toStdString();
        EXPECT_EQ(run.out, "") << c.id.toStdString();
        EXPECT_EQ(run.err.startsWith("error: "), c.error) << run.err.toStdString();
    }
}

TEST_F(CliTest, TraceHoldsEveryFrameBothWays) {
    const QString trace = m_config.filePath("line.trace");
    const auto run = RunCli({"--simulate", "K37E", "--no-progress", "--trace", trace});
    ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
    QFile f(trace);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains(QRegularExpression("TX frame SS type 24, 2 bytes: \"16\"")));
    EXPECT_TRUE(text.contains("RX frame SS type 20, 4 bytes: \"K37E\""));
    // Every block out and every acknowledgement in: 448 of each for K37E.
    EXPECT_EQ(text.count(QRegularExpression("TX frame SX type 2[45], 133 bytes")), 448);
    EXPECT_EQ(text.count("RX frame SX type 20, 0 bytes"), 448);
    EXPECT_TRUE(text.contains("-- speed 9600 baud"));
    // A trace that cannot be written is refused before a receiver is touched.
    const auto refused =
        RunCli({"--simulate", "K37E", "--trace", m_config.filePath("no/such/folder/t")});
    EXPECT_EQ(refused.exitCode, 5);
    EXPECT_FALSE(refused.out.contains("Address:"));
}

} // namespace
