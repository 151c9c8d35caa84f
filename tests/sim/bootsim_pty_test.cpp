// The simulated receiver on a real pseudo-terminal, in its own thread: the line speed seen
// from the updater's side, the timed options (acknowledgement delay, wire pacing), the stop
// after completion, and the runner's life cycle.
#include "sim/receiver.h"
#include "updater_stub.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace orvane::bootsim {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

speed_t Code(std::uint32_t baud) {
    switch (baud) {
    case 9600:
        return B9600;
    case 38400:
        return B38400;
    case 115200:
        return B115200;
    default:
        return B9600;
    }
}

// The updater's end: the slave side opened raw, as a serial port is.
class PtyStub : public test::UpdaterStub {
public:
    explicit PtyStub(const std::string& path) {
        fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        SetSpeed(baud);
    }
    ~PtyStub() override {
        if (fd >= 0)
            ::close(fd);
    }
    void SetSpeed(std::uint32_t rate) {
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, Code(rate));
        ::cfsetospeed(&t, Code(rate));
        ASSERT_EQ(::tcsetattr(fd, TCSANOW, &t), 0);
    }
    // Writes the frame, then reads until the decoder reports something or the time is up.
    void Send(const std::vector<std::uint8_t>& frame) override {
        if (baud != lineBaud) {
            SetSpeed(baud);
            lineBaud = baud;
        }
        ASSERT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
        const int events = log.Events();
        const auto deadline = Clock::now() + wait;
        while (log.Events() == events && Clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0) {
                std::uint8_t buf[512];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    Receive(buf, static_cast<std::size_t>(n));
            }
        }
    }
    int fd = -1;
    std::uint32_t lineBaud = firmware::kSlowBaud;
    std::chrono::milliseconds wait = 5000ms;
};

Config WithId(const char* id) {
    Config c;
    c.id = id;
    return c;
}

TEST(Pty, HandshakeAnsweredThroughARealPseudoTerminal) {
    SimulatedReceiver sim;
    std::string error;
    const std::string path = sim.Start(WithId("K64E"), &error);
    ASSERT_FALSE(path.empty()) << error;
    EXPECT_TRUE(sim.Running());
    PtyStub u(path);
    ASSERT_GE(u.fd, 0);
    u.Handshake();
    ASSERT_EQ(u.log.identifications.size(), 1u);
    EXPECT_EQ(u.log.identifications[0], "K64E");
    sim.Stop();
    EXPECT_FALSE(sim.Running());
    const SimReport r = sim.Report(); // still there after the stop
    EXPECT_EQ(r.handshakesAnswered, 1u);
    EXPECT_EQ(r.initialBaud, 9600u);
}

TEST(Pty, SpeedSetByTheUpdaterIsTheOneChecked) {
    SimulatedReceiver sim;
    const std::string path = sim.Start(WithId("76S0"));
    ASSERT_FALSE(path.empty());
    PtyStub u(path);
    u.wait = 300ms;
    u.baud = 38400;
    u.Handshake();
    EXPECT_TRUE(u.log.identifications.empty());
    u.wait = 5000ms;
    u.baud = 9600;
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    EXPECT_EQ(u.baud, 115200u);
    EXPECT_EQ(u.Transfer(3), 3);
    const SimReport r = sim.Report();
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].kind, "wrong_speed");
    ASSERT_EQ(r.speedChanges.size(), 2u);
    EXPECT_EQ(r.speedChanges[1].from, 9600u);
    EXPECT_EQ(r.speedChanges[1].to, 115200u);
}

struct Timing {
    const char* name;
    Config config;
    std::uint32_t baud;
    std::chrono::milliseconds atLeast; // from writing the first block to its acknowledgement
};

class Timed : public ::testing::TestWithParam<Timing> {};

TEST_P(Timed, AcknowledgementTakesItsTime) {
    const auto& c = GetParam();
    SimulatedReceiver sim;
    const std::string path = sim.Start(c.config);
    ASSERT_FALSE(path.empty());
    PtyStub u(path);
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    u.baud = c.baud;
    const auto start = Clock::now();
    ASSERT_EQ(u.Transfer(1), 1);
    const auto took = Clock::now() - start;
    EXPECT_EQ(u.log.acks, 1);
    EXPECT_GE(took, c.atLeast);
}

Config Delayed() {
    Config c = WithId("K64E");
    c.ackDelayMs = 150;
    return c;
}
Config Paced() {
    Config c = WithId("K64E");
    c.pace = true;
    return c;
}

// Paced at 9600 baud: a 142-byte block and the 9-byte reply are 151 bytes of 10 bits each,
// 157.3 ms on a cable. The simulator paces what it has read in chunks, so the clock it starts
// from may lag the first byte by a fraction of a millisecond: the bound leaves it 5 %.
INSTANTIATE_TEST_SUITE_P(Options, Timed,
                         ::testing::Values(Timing{"ackDelay", Delayed(), 9600, 150ms},
                                           Timing{"pace", Paced(), 9600, 150ms}),
                         [](const auto& info) { return std::string(info.param.name); });

class AfterComplete : public ::testing::TestWithParam<bool> {};

TEST_P(AfterComplete, RunnerEndsOnlyWhenAskedAndOnlyOnceTheLastReplyIsRead) {
    Config c = WithId("ZT");
    c.exitAfterComplete = GetParam();
    SimulatedReceiver sim;
    const std::string path = sim.Start(c);
    ASSERT_FALSE(path.empty());
    PtyStub u(path);
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    EXPECT_EQ(u.Transfer(), 434);
    EXPECT_EQ(u.log.acks, 434);
    EXPECT_TRUE(sim.WaitForCompletion(5s));
    EXPECT_EQ(sim.WaitForEnd(GetParam() ? 5s : 200ms), GetParam());
    EXPECT_EQ(sim.Running(), !GetParam());
    EXPECT_TRUE(sim.Report().completed);
}

INSTANTIATE_TEST_SUITE_P(ExitOption, AfterComplete, ::testing::Bool());

TEST(Pty, StartTwiceRefusedAndStopIsIdempotent) {
    SimulatedReceiver sim;
    ASSERT_FALSE(sim.Start(WithId("K64E")).empty());
    std::string error;
    EXPECT_TRUE(sim.Start(WithId("K64E"), &error).empty());
    EXPECT_FALSE(error.empty());
    sim.Stop();
    sim.Stop();
    // A stopped receiver can be started again, on a new line.
    const std::string again = sim.Start(WithId("K37E"));
    ASSERT_FALSE(again.empty());
    PtyStub u(again);
    u.Handshake();
    ASSERT_EQ(u.log.identifications.size(), 1u);
    EXPECT_EQ(u.log.identifications[0], "K37E");
}

TEST(Pty, ReportReadableWhileTheTransferRuns) {
    SimulatedReceiver sim;
    const std::string path = sim.Start(WithId("K64E"));
    PtyStub u(path);
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    for (int i = 0; i < 20; ++i) {
        u.Transfer(5);
        const SimReport r = sim.Report();
        EXPECT_EQ(r.blocksAccepted, static_cast<std::uint32_t>(5 * (i + 1)));
    }
}

// A pseudo-terminal's slave stands in for a serial device here: the test plays the updater on
// the master side and sees, through the master, the speed the simulation sets on its port.
TEST(Device, PortFollowsTheSpeedTheBootLoaderListensAt) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
    auto lineSpeed = [&] {
        termios t{};
        ::tcgetattr(master, &t);
        return ::cfgetospeed(&t);
    };
    {
        SimulatedReceiver sim;
        std::string error;
        ASSERT_EQ(sim.StartOnDevice(name, WithId("76S0"), &error), name) << error;
        EXPECT_EQ(lineSpeed(), B9600);
        test::ReplyLog log;
        firmware::CTolvarenFormat decoder;
        const auto hs = firmware::EncodeFrame(firmware::HandshakeText(), 24);
        ASSERT_EQ(::write(master, hs.data(), hs.size()), static_cast<ssize_t>(hs.size()));
        const auto deadline = Clock::now() + 5s;
        while (log.identifications.empty() && Clock::now() < deadline) {
            pollfd p{master, POLLIN, 0};
            std::uint8_t buf[64];
            if (::poll(&p, 1, 10) > 0) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                for (ssize_t i = 0; i < n; ++i) {
                    if (decoder.PutByte(buf[i]))
                        decoder.HandleReply(log);
                }
            }
        }
        ASSERT_EQ(log.identifications.size(), 1u);
        const auto until = Clock::now() + 5s;
        while (lineSpeed() != B115200 && Clock::now() < until)
            std::this_thread::sleep_for(5ms);
        EXPECT_EQ(lineSpeed(), B115200) << "the port stays at the handshake speed";
        sim.Stop();
    }
    ::close(master);
}

TEST(Device, OpenFailureIsReported) {
    SimulatedReceiver sim;
    std::string error;
    EXPECT_TRUE(sim.StartOnDevice("/nonexistent/tty", WithId("K64E"), &error).empty());
    EXPECT_NE(error.find("/nonexistent/tty"), std::string::npos);
    EXPECT_FALSE(sim.Running());
}

} // namespace
} // namespace orvane::bootsim
