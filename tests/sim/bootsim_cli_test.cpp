// The orvane-bootsim program: its help, its option checks, and the report it leaves when it is
// stopped by a signal.
#include "updater_stub.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

TEST(Program, HelpExplainsEveryOptionWithAnExample) {
    QProcess p;
    p.start(ORVANE_BOOTSIM, {"--help"});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    const QString help = QString::fromUtf8(p.readAllStandardOutput()).simplified();
    for (const char* option :
         {"--device", "--id", "--id-suffix", "--split-reply", "--banner", "--answer-after",
          "--drop-ack", "--completion-delay", "--corrupt-rate", "--seed", "--noise", "--ack-delay",
          "--pace", "--exit-after-complete", "--report"}) {
        SCOPED_TRACE(option);
        EXPECT_TRUE(help.contains(QString(option) + " ")) << help.toStdString();
        EXPECT_TRUE(help.contains(QString("e.g. ") + option)) << "no example";
    }
}

class BadValue : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(BadValue, RefusedBeforeTheLineIsOpened) {
    QProcess p;
    p.start(ORVANE_BOOTSIM, {GetParam().first, GetParam().second});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 64);
    EXPECT_FALSE(p.readAllStandardOutput().startsWith("port: "));
}

INSTANTIATE_TEST_SUITE_P(
    Options, BadValue,
    ::testing::Values(std::pair{"--banner", "12"}, std::pair{"--corrupt-rate", "1.5"},
                      std::pair{"--corrupt-rate", "nan"}, std::pair{"--drop-ack", "x"},
                      std::pair{"--answer-after", "-1"}, std::pair{"--seed", "seven"}));

TEST(Program, SigtermWritesTheReport) {
    QTemporaryDir dir;
    const QString report = dir.filePath("report.json");
    QProcess sim;
    sim.start(ORVANE_BOOTSIM, {"--id", "11S2", "--report", report});
    ASSERT_TRUE(sim.waitForReadyRead(10000));
    const QString line = QString::fromUtf8(sim.readLine()).trimmed();
    ASSERT_TRUE(line.startsWith("port: ")) << line.toStdString();
    const std::string path = line.mid(6).toStdString();

    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B9600);
    ::tcsetattr(fd, TCSANOW, &t);
    const auto hs = orvane::firmware::EncodeFrame(orvane::firmware::HandshakeText(), 24);
    ASSERT_EQ(::write(fd, hs.data(), hs.size()), static_cast<ssize_t>(hs.size()));
    pollfd p{fd, POLLIN, 0};
    EXPECT_GT(::poll(&p, 1, 5000), 0);
    ::close(fd);

    sim.terminate();
    ASSERT_TRUE(sim.waitForFinished(10000));
    EXPECT_EQ(sim.exitCode(), 128 + SIGTERM);
    QFile f(report);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
    EXPECT_EQ(o["identifier"].toString(), "11S2");
    EXPECT_EQ(o["handshakesAnswered"].toInt(), 1);
    EXPECT_EQ(o["listeningBaud"].toInt(), 115200);
    EXPECT_FALSE(o["completed"].toBool());
}

} // namespace
