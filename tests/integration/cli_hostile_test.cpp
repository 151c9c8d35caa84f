// orvane-update-cli against peers that misbehave and operators that interrupt: a line that
// stops draining while acknowledgements keep coming, each stop signal in each state, station
// mode stopped or killed, report folders it cannot write, ports given twice, and identifiers
// made to take over the operator's terminal, and a process started in surroundings that
// fail it (closed streams, few descriptors, a full disk, links to nothing).
#include "cli_test_support.h"
#include "firmware/commands.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using orvane::test::CliTest;
using namespace std::chrono_literals;

std::vector<std::uint8_t> ReplyFrame(char c1, char c2, const std::string& payload = {}) {
    std::vector<std::uint8_t> f{'$',
                                '$',
                                static_cast<std::uint8_t>(c1),
                                static_cast<std::uint8_t>(c2),
                                20,
                                static_cast<std::uint8_t>(payload.size())};
    for (const char c : payload)
        f.push_back(static_cast<std::uint8_t>(c));
    f.push_back(orvane::firmware::XorChecksum(f.data() + 2, f.size() - 2));
    f.push_back('\r');
    f.push_back('\n');
    return f;
}

// The receiver's end of a pseudo-terminal, played by a thread of the test.
//   answers:  identifies as K64E when the first handshake frame arrives (false: never answers)
//   drains:   false: after identifying it never reads again, so the updater's frames pile up
//             until the line is full, while acknowledgements keep coming every 5 ms
class HostilePeer {
public:
    HostilePeer(bool answers, bool drains) : m_answers(answers), m_drains(drains) {
        char name[128] = {};
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            return;
        m_path = name;
    }
    // Plays the receiver from now on. Started once the updater runs: a process that forks
    // while it has threads of its own is more than a thread checker will follow.
    void Start() {
        m_thread = std::thread([this] { Run(); });
    }
    ~HostilePeer() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_master);
        ::close(m_slave);
    }
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    const std::string& Path() const { return m_path; }
    // True once the updater's writes have stopped getting through.
    bool Jammed() const { return m_jammed; }

private:
    void Run() {
        bool identified = false;
        std::uint8_t buffer[4096];
        while (!m_stop) {
            if (!identified || m_drains) {
                pollfd p{m_master, POLLIN, 0};
                if (::poll(&p, 1, 5) > 0 && (p.revents & POLLIN) != 0) {
                    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                    if (n > 0 && !identified && m_answers) {
                        Send(ReplyFrame('S', 'S', "K64E"));
                        identified = true;
                    }
                }
                continue;
            }
            // Not reading: the updater's blocks stay in the line, acknowledged all the same.
            Send(ReplyFrame('S', 'X'));
            int queued = 0;
            // The master's unread input is what the updater wrote and nobody took.
            if (::ioctl(m_master, FIONREAD, &queued) == 0 && queued > 2048)
                m_jammed = true;
            std::this_thread::sleep_for(5ms);
        }
    }
    void Send(const std::vector<std::uint8_t>& bytes) {
        // Never blocks: a reply that does not fit is dropped, as on a line nobody reads.
        const int flags = ::fcntl(m_master, F_GETFL);
        ::fcntl(m_master, F_SETFL, flags | O_NONBLOCK);
        [[maybe_unused]] const ssize_t n = ::write(m_master, bytes.data(), bytes.size());
        ::fcntl(m_master, F_SETFL, flags);
    }

    bool m_answers;
    bool m_drains;
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_jammed{false};
    std::thread m_thread;
};

QJsonObject ReadJson(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

struct StopCase {
    const char* name;
    int signal;        // 0: the time-out ends the run
    bool answers;      // the peer identifies (else: the handshake never gets an answer)
    const char* where; // what the message says of the state at the stop
};

class StopTest : public CliTest, public ::testing::WithParamInterface<StopCase> {};

// Whatever the line does, a signal (or the time-out) ends the run promptly, saying where the
// update stood, with the result JSON written and a documented exit code.
TEST_P(StopTest, EndsPromptlyWithAnHonestRecord) {
    const StopCase c = GetParam();
    HostilePeer peer(c.answers, /*drains=*/false);
    ASSERT_FALSE(peer.Path().empty());
    const QString result = m_config.filePath("result.json");
    QProcess cli;
    cli.setProcessEnvironment(Env());
    cli.start(ORVANE_CLI, {"--port", QString::fromStdString(peer.Path()), "--timeout",
                           c.signal == 0 ? "2" : "0", "--no-progress", "--result-json", result});
    ASSERT_TRUE(cli.waitForStarted());
    peer.Start();
    QElapsedTimer clock;
    clock.start();
    if (c.signal != 0) {
        // Stop it once the line has jammed (or, without an answer, while it handshakes).
        while (c.answers && !peer.Jammed() && clock.elapsed() < 20000)
            QThread::msleep(20);
        ASSERT_TRUE(!c.answers || peer.Jammed()) << c.name;
        QThread::msleep(300);
        clock.restart();
        ::kill(static_cast<pid_t>(cli.processId()), c.signal);
    }
    // Far more than it needs (well under a second): only a hang fails here.
    ASSERT_TRUE(cli.waitForFinished(15000)) << c.name;
    std::printf("[ measured ] %s: ended %lld ms after the %s\n", c.name,
                static_cast<long long>(clock.elapsed()), c.signal ? "signal" : "start");
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    EXPECT_EQ(cli.exitStatus(), QProcess::NormalExit) << c.name;
    EXPECT_EQ(cli.exitCode(), c.signal == 0 ? 3 : 128 + c.signal) << c.name << err.toStdString();
    EXPECT_TRUE(err.contains(c.where)) << c.name << "\n" << err.toStdString();
    const QJsonObject json = ReadJson(result);
    EXPECT_EQ(json["exitCode"].toInt(), cli.exitCode()) << c.name;
    EXPECT_FALSE(json["reason"].toString().isEmpty()) << c.name;
    if (c.signal != 0) {
        EXPECT_EQ(json["result"].toString(), "interrupted") << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    HostileLine, StopTest,
    ::testing::Values(
        StopCase{"timeout_jammed", 0, true, "without progress"},
        StopCase{"timeout_no_answer", 0, false, "no answer from the receiver's boot loader"},
        StopCase{"sigint_jammed", SIGINT, true, "stopped by SIGINT during the transfer"},
        StopCase{"sigterm_jammed", SIGTERM, true, "stopped by SIGTERM during the transfer"},
        StopCase{"sighup_jammed", SIGHUP, true, "stopped by SIGHUP during the transfer"},
        StopCase{"sigterm_handshaking", SIGTERM, false, "before the transfer began"}),
    [](const auto& info) { return std::string(info.param.name); });

// The processes whose parent is `pid`.
std::set<pid_t> ChildrenOf(pid_t pid) {
    std::set<pid_t> children;
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t candidate = entry.toInt(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(candidate));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QString text = QString::fromUtf8(stat.readAll());
        // "pid (name) state ppid ...": the name may hold blanks, so count from its end.
        const QStringList rest = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest[1].toInt() == pid)
            children.insert(candidate);
    }
    return children;
}

// Alive and not a zombie (a zombie has ended; only its parent has not collected it yet).
bool Running(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QString text = QString::fromUtf8(stat.readAll());
    return !text.mid(text.lastIndexOf(')') + 2).startsWith('Z');
}

struct StationStop {
    const char* name;
    int signal;
};

class StationStopTest : public CliTest, public ::testing::WithParamInterface<StationStop> {};

// A station stopped (or killed) in the middle leaves no receiver's process behind; stopped by
// a signal it says where each receiver stood and writes every report.
TEST_P(StationStopTest, LeavesNoProcessBehind) {
    const StationStop c = GetParam();
    QTemporaryDir reports;
    QProcess station;
    station.setProcessEnvironment(Env());
    station.start(ORVANE_CLI, {"--simulate", "K64E", "--simulate", "K37E", "--simulate-pace",
                               "--report-dir", reports.path()});
    ASSERT_TRUE(station.waitForStarted());
    const auto pid = static_cast<pid_t>(station.processId());
    std::set<pid_t> children;
    QElapsedTimer clock;
    clock.start();
    while (children.size() < 2 && clock.elapsed() < 20000) {
        QThread::msleep(100);
        children = ChildrenOf(pid);
    }
    ASSERT_EQ(children.size(), 2u) << c.name;
    QThread::msleep(1500); // well into the handshake or the first blocks
    ::kill(pid, c.signal);
    ASSERT_TRUE(station.waitForFinished(15000)) << c.name;
    clock.restart();
    bool anyLeft = true;
    while (anyLeft && clock.elapsed() < 10000) {
        anyLeft = false;
        for (const pid_t child : children)
            anyLeft = anyLeft || Running(child);
        if (anyLeft)
            QThread::msleep(50);
    }
    EXPECT_FALSE(anyLeft) << c.name << ": a receiver's process outlived the station";
    if (c.signal == SIGKILL)
        return;
    const QString out = QString::fromUtf8(station.readAllStandardOutput());
    EXPECT_EQ(station.exitCode(), 128 + c.signal) << c.name << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("Stopped by SIG"))) << out.toStdString();
    EXPECT_EQ(QDir(reports.path()).entryList({"*.json"}, QDir::Files).size(), 2) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Signals, StationStopTest,
                         ::testing::Values(StationStop{"sigterm", SIGTERM},
                                           StationStop{"sighup", SIGHUP},
                                           StationStop{"sigint", SIGINT},
                                           StationStop{"sigkill", SIGKILL}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, StationRefusesAReportPlaceItCannotWriteBeforeTouchingAReceiver) {
    QTemporaryDir dir;
    QFile file(dir.filePath("a-file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    struct Place {
        QStringList args;
    };
    const Place places[] = {
        {{"--report-dir", file.fileName()}},                        // a file, not a folder
        {{"--report-dir", file.fileName() + "/below"}},             // below a file
        {{"--result-json", dir.filePath("no/such/folder/r.json")}}, // a folder that is not there
    };
    for (const Place& p : places) {
        const auto run =
            RunCli(QStringList{"--simulate", "K64E", "--simulate", "K37E"} + p.args, 60000);
        EXPECT_EQ(run.exitCode, 5)
            << p.args.join(' ').toStdString() << run.out.toStdString() << run.err.toStdString();
        EXPECT_FALSE(run.out.contains("Address:")) << p.args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("cannot")) << run.err.toStdString();
    }
}

// An output file that is no file, or the port itself, or another output's file: refused before
// the port is opened, at once (a FIFO without a reader would block the open for ever), and the
// receiver on the port gets nothing.
TEST_F(CliTest, OutputsThatAreNoFileAreRefusedBeforeThePortOpens) {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    QProcess sim;
    const QString port = StartSim(sim, {"--id", "K64E"});
    ASSERT_FALSE(port.isEmpty());
    const QString same = dir.filePath("same");
    const QStringList cases[] = {
        {"--trace", port},                        // the receiver's own line
        {"--result-json", "/dev/null"},           // a device
        {"--trace", fifo},                        // a FIFO nobody reads
        {"--result-json", dir.path()},            // a folder
        {"--trace", same, "--result-json", same}, // one file for two outputs
    };
    for (const QStringList& args : cases) {
        const auto run = RunCli(QStringList{"--port", port, "-t", "5"} + args, 20000);
        EXPECT_EQ(run.exitCode, 5) << args.join(' ').toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.startsWith("error: cannot write")) << run.err.toStdString();
    }
    StopSim(sim);
    EXPECT_EQ(Report()["handshakesSeen"].toInt(), 0);
    EXPECT_EQ(Report()["strayBytes"].toInt(), 0);
}

// Each run ends with a true record of what happened, or refuses before the port opens.
TEST_F(CliTest, HostileSurroundingsEndBoundedWithATrueRecord) {
    QTemporaryDir dir;
    const QString trace = dir.filePath("run.trace");
    const QString result = dir.filePath("result.json");
    const QString real = dir.filePath("real.json");
    const QString link = dir.filePath("link.json");
    auto limit = [](int resource, rlim_t value) {
        return [resource, value] {
            std::signal(SIGXFSZ, SIG_IGN); // a write past the size limit fails instead
            const rlimit r{value, value};
            ::setrlimit(resource, &r);
        };
    };
    struct Row {
        const char* name;
        QStringList args; // "PORT" is the simulated receiver's line
        std::function<void()> child;
        std::function<void()> before;
        std::function<void(const orvane::test::CliRun&)> check;
    };
    const Row rows[] = {
        {"standard output closed: nothing printed lands in the trace",
         {"--port", "PORT", "--trace", trace},
         [] { ::close(1); },
         {},
         [&](const auto& run) {
             EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
             QFile f(trace);
             ASSERT_TRUE(f.open(QIODevice::ReadOnly));
             const QString text = QString::fromUtf8(f.readAll());
             EXPECT_FALSE(text.contains("Firmware:") || text.contains("Done:"))
                 << text.left(400).toStdString();
         }},
        {"ten descriptors: cannot tell, not \"in use\"",
         {"--port", "PORT"},
         limit(RLIMIT_NOFILE, 10),
         {},
         [&](const auto& run) {
             EXPECT_EQ(run.exitCode, 1);
             EXPECT_TRUE(run.err.contains("cannot tell whether")) << run.err.toStdString();
             EXPECT_FALSE(run.err.contains("(pid ")) << run.err.toStdString(); // no holder named
         }},
        {"trace on a full disk: said once, in the record too, the update goes on",
         {"--port", "PORT", "--trace", trace, "--result-json", result},
         limit(RLIMIT_FSIZE, 4096),
         {},
         [&](const auto& run) {
             EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
             EXPECT_EQ(run.err.count("the trace could not be written"), 1) << run.err.toStdString();
             EXPECT_FALSE(ReadJson(result)["traceError"].toString().isEmpty());
         }},
        {"result on a full disk: the record is lost, and the exit code says so",
         {"--port", "PORT", "--result-json", result},
         limit(RLIMIT_FSIZE, 64),
         {},
         [&](const auto& run) {
             EXPECT_EQ(run.exitCode, 5);
             EXPECT_TRUE(run.err.contains("cannot write the result")) << run.err.toStdString();
         }},
        {"result path a link to nothing: refused, nothing made where it points",
         {"--port", "PORT", "--result-json", link},
         {},
         [&] { QFile::link(dir.filePath("gone/away.json"), link); },
         [&](const auto& run) {
             EXPECT_EQ(run.exitCode, 5);
             EXPECT_TRUE(run.err.contains("does not exist")) << run.err.toStdString();
             EXPECT_TRUE(QFileInfo(link).isSymLink());
             EXPECT_FALSE(QDir(dir.filePath("gone")).exists());
         }},
        {"station result through a link: the link stays, its file takes the record and keeps "
         "its mode",
         {"--simulate", "K64E", "--simulate", "K64E", "--result-json", link, "--report-dir",
          dir.filePath("reports")},
         {},
         [&] {
             QFile f(real);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.close();
             ::chmod(real.toLocal8Bit().constData(), 0600);
             QFile::link(real, link);
         },
         [&](const auto& run) {
             EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
             EXPECT_TRUE(QFileInfo(link).isSymLink());
             EXPECT_EQ(ReadJson(real)["receivers"].toArray().size(), 2);
             struct stat st {};
             ASSERT_EQ(::stat(real.toLocal8Bit().constData(), &st), 0);
             EXPECT_EQ(st.st_mode & 0777, 0600u);
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
        // The sanitizers' own runtime needs descriptors (a pipe to tell readable memory): with
        // ten it reports faults that are not there.
        if (row.child && std::string_view(row.name).starts_with("ten descriptors"))
            continue;
#endif
        for (const QString& f : {trace, result, real, link})
            QFile::remove(f);
        if (row.before)
            row.before();
        QProcess sim;
        const QString port = StartSim(sim, {"--id", "K64E"});
        ASSERT_FALSE(port.isEmpty());
        QStringList args = row.args;
        args.replaceInStrings(QRegularExpression("^PORT$"), port);
        const auto run = RunCli(args + QStringList{"-t", "30", "--no-progress"}, 60000, row.child);
        StopSim(sim);
        row.check(run);
    }
}

TEST_F(CliTest, APortGivenTwiceIsUpdatedOnce) {
    QProcess sim;
    const QString port = StartSim(sim, {"--id", "K37E", "--exit-after-complete"});
    ASSERT_FALSE(port.isEmpty());
    QTemporaryDir reports;
    const auto run = RunCli(
        {"--port", port, "--port", port, "--timeout", "120", "--report-dir", reports.path()});
    sim.waitForFinished(30000); // it ends by itself once complete; slow under a sanitizer
    StopSim(sim);
    EXPECT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_EQ(QDir(reports.path()).entryList({"*.json"}, QDir::Files).size(), 1);
    ExpectClean(Report(), "twice");
}

// What the receiver sends reaches the operator's terminal only with its control characters
// shown as text, and UTF-8 exactly once encoded.
TEST_F(CliTest, HostileIdentifiersCannotCommandTheTerminal) {
    struct Id {
        const char* name;
        std::string id;
        const char* shown; // how the printed message renders it
    };
    const Id ids[] = {
        {"window title and clear screen", "\x1b]0;pwned\x07\x1b[2JK64E",
         "\\x1B]0;pwned\\x07\\x1B[2JK64E"},
        {"hidden cursor and concealed text", "\x1b[?25l\x1b[8mZZ", "\\x1B[?25l\\x1B[8mZZ"},
        {"direction override", "\u202eK64E", "\\u202EK64E"},
        {"UTF-8", "\u63a5\u6536\u673a", "\u63a5\u6536\u673a"},
    };
    for (const Id& i : ids) {
        QProcess sim;
        const QString port = StartSim(sim, {"--id", QString::fromStdString(i.id)});
        ASSERT_FALSE(port.isEmpty()) << i.name;
        const QString result = m_config.filePath("result.json");
        const auto run =
            RunCli({"--port", port, "--timeout", "20", "--no-progress", "--result-json", result});
        StopSim(sim);
        EXPECT_EQ(run.exitCode, 2) << i.name << run.err.toStdString();
        const QString all = run.out + run.err;
        for (const QChar c : all) {
            const bool control = (c.unicode() < 0x20 && c != '\n') || c.unicode() == 0x7F ||
                                 (c.unicode() >= 0x202A && c.unicode() <= 0x202E);
            EXPECT_FALSE(control) << i.name << ": U+" << std::hex
                                  << static_cast<unsigned>(c.unicode());
        }
        EXPECT_TRUE(all.contains(QString::fromStdString(i.shown))) << i.name << "\n"
                                                                   << all.toStdString();
        // The record keeps the identifier as the receiver sent it.
        EXPECT_EQ(ReadJson(result)["identifier"].toString().toStdString(), i.id) << i.name;
    }
}

TEST_F(CliTest, AFrameTypeThatIsNoNumberIsAUsageError) {
    for (const char* type : {"abc", "256", "-1", "12x"}) {
        const auto run = RunCli({"--frame", "SS", "--frame-type", type});
        EXPECT_EQ(run.exitCode, 64) << type;
        EXPECT_TRUE(run.out.isEmpty()) << type << ": " << run.out.toStdString();
    }
}

} // namespace
