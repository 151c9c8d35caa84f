#include "platform/device_holder.h"
#include "platform/open_failure.h"
#include "platform/pty.h"
#include "platform/serial_device.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace orvane {
namespace {

using namespace std::chrono_literals;

class PtyDeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        pty = OpenPtyPair();
        ASSERT_TRUE(pty.IsOpen());
        auto opened = OpenSystemSerialDevice(pty.SlavePath());
        ASSERT_EQ(opened.error, 0);
        device = std::move(opened.device);
    }
    termios MasterView() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.MasterFd(), &t), 0);
        return t;
    }

    PtyPair pty;
    std::unique_ptr<ISerialDevice> device;
};

TEST_F(PtyDeviceTest, LineSettingsReachTheLineAndReadBack) {
    // A pseudo-terminal keeps the speed and the stop bits but forces 8 data bits without
    // parity, so only those two are checked from the far end.
    struct Case {
        std::uint32_t baud;
        std::uint8_t parity, size, stop;
        speed_t speed;
        bool twoStopBits;
    };
    const Case cases[] = {
        {9600, NOPARITY, 8, ONESTOPBIT, B9600, false},
        {115200, EVENPARITY, 7, TWOSTOPBITS, B115200, true},
        {57600, ODDPARITY, 8, ONESTOPBIT, B57600, false},
        {4800, NOPARITY, 5, ONE5STOPBITS, B4800, true},
        {921600, MARKPARITY, 6, ONESTOPBIT, B921600, false},
        {300, SPACEPARITY, 8, TWOSTOPBITS, B300, true},
    };
    for (const auto& c : cases) {
        LineSettings s;
        s.BaudRate = c.baud;
        s.Parity = c.parity;
        s.ByteSize = c.size;
        s.StopBits = c.stop;
        ASSERT_EQ(device->SetState(s), 0) << c.baud;
        const termios t = MasterView();
        EXPECT_EQ(::cfgetospeed(&t), c.speed) << c.baud;
        EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStopBits) << c.baud;
        LineSettings back;
        ASSERT_EQ(device->GetState(back), 0);
        EXPECT_EQ(back.BaudRate, c.baud);
        EXPECT_EQ(back.fRtsControl, RTS_CONTROL_ENABLE);
    }
}

TEST_F(PtyDeviceTest, InvalidLineSettingsAreRefusedAndChangeNothing) {
    LineSettings good;
    ASSERT_EQ(device->SetState(good), 0);
    const auto bad = [](auto change) {
        LineSettings s;
        change(s);
        return s;
    };
    const LineSettings cases[] = {
        bad([](LineSettings& s) { s.BaudRate = 12345; }),
        bad([](LineSettings& s) { s.BaudRate = 0; }),
        bad([](LineSettings& s) { s.ByteSize = 9; }),
        bad([](LineSettings& s) { s.ByteSize = 4; }),
        bad([](LineSettings& s) { s.Parity = 5; }),
        bad([](LineSettings& s) { s.StopBits = ONE5STOPBITS; }), // needs 5 data bits
        bad([](LineSettings& s) { s.StopBits = 3; }),
    };
    for (const auto& s : cases) {
        EXPECT_EQ(device->SetState(s), EINVAL);
        LineSettings back;
        ASSERT_EQ(device->GetState(back), 0);
        EXPECT_EQ(back, good);
    }
}

TEST_F(PtyDeviceTest, SecondOpenOfAHeldDeviceFails) {
    auto second = OpenSystemSerialDevice(pty.SlavePath());
    EXPECT_EQ(second.device, nullptr);
    EXPECT_EQ(second.error, EBUSY);
    device.reset();
    auto third = OpenSystemSerialDevice(pty.SlavePath());
    EXPECT_NE(third.device, nullptr);
}

TEST(SerialDeviceOpenTest, PathsThatAreNoSerialDeviceFail) {
    struct Case {
        const char* path;
        int error;
    };
    const Case cases[] = {
        {"/dev/does-not-exist-orvane", ENOENT}, {"/dev/null", ENOTTY}, {"", ENOENT}};
    // (What the open says of each, and of files, pipes and folders: see below.)
    for (const auto& c : cases) {
        auto opened = OpenSystemSerialDevice(c.path);
        EXPECT_EQ(opened.device, nullptr) << c.path;
        EXPECT_EQ(opened.error, c.error) << c.path;
    }
}

TEST_F(PtyDeviceTest, BytesCountedAndReadInOrder) {
    const std::uint8_t sent[] = {0x24, 0x24, 0x00, 0xFF, 0x0D, 0x0A, 0x11, 0x13};
    ASSERT_EQ(::write(pty.MasterFd(), sent, sizeof sent), static_cast<ssize_t>(sizeof sent));
    ManualResetEvent wake;
    ASSERT_EQ(wake.Create(false), 0);
    ASSERT_EQ(device->WaitInput(wake, 1000ms), WaitResult::Readable);
    std::size_t waiting = 0;
    for (int i = 0; i < 100 && waiting < sizeof sent; ++i) {
        ASSERT_EQ(device->ClearErrors(waiting), 0);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(waiting, sizeof sent);
    std::uint8_t got[sizeof sent] = {};
    const IoResult r = device->Read(got, sizeof got);
    EXPECT_EQ(r.error, 0);
    ASSERT_EQ(r.count, sizeof sent);
    EXPECT_TRUE(std::equal(std::begin(sent), std::end(sent), got)); // raw: no translation
}

TEST_F(PtyDeviceTest, WakeUpWinsOverWaitingInput) {
    ASSERT_EQ(::write(pty.MasterFd(), "x", 1), 1);
    ManualResetEvent wake;
    ASSERT_EQ(wake.Create(true), 0);
    EXPECT_EQ(device->WaitInput(wake, 1000ms), WaitResult::Woken);
    wake.Reset();
    EXPECT_EQ(device->WaitInput(wake, 1000ms), WaitResult::Readable);
}

TEST_F(PtyDeviceTest, WriteReturnsWithinItsBoundWhenTheLineDoesNotDrain) {
    CommTimeouts to;
    to.WriteTotalTimeoutConstant = 200;
    ASSERT_EQ(device->SetTimeouts(to), 0);
    std::vector<std::uint8_t> big(256 * 1024, 0x55); // far more than the pty buffers
    const auto start = std::chrono::steady_clock::now();
    const IoResult r = device->Write(big.data(), big.size());
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(r.error, ETIMEDOUT);
    EXPECT_LT(r.count, big.size());
    EXPECT_GE(took, 190ms);
    EXPECT_LT(took, 1500ms);
}

TEST_F(PtyDeviceTest, HangUpIsReportedAsLost) {
    pty.CloseMaster();
    ManualResetEvent wake;
    ASSERT_EQ(wake.Create(false), 0);
    EXPECT_EQ(device->WaitInput(wake, 1000ms), WaitResult::Lost);
    std::size_t waiting = 0;
    EXPECT_TRUE(IsDeviceLost(device->ClearErrors(waiting)));
    const std::uint8_t b = 1;
    EXPECT_TRUE(IsDeviceLost(device->Write(&b, 1).error));
}

// Another program with the device open on its standard input, as a terminal program or a
// `cat` would have it: no lock of any kind.
class Holder {
public:
    // `program` is "sleep" or a path that leads to it under another name.
    explicit Holder(const std::string& path, std::string program = "sleep") {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, path.c_str(), O_RDWR | O_NOCTTY, 0);
        char seconds[] = "30";
        char* argv[] = {program.data(), seconds, nullptr};
        m_ok = posix_spawnp(&m_pid, program.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        // Until the child has opened the device it is not a holder yet.
        for (int i = 0; m_ok && i < 200 && !FindDeviceHolder(path); ++i)
            std::this_thread::sleep_for(10ms);
    }
    ~Holder() {
        if (m_ok) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Holder(const Holder&) = delete;
    Holder& operator=(const Holder&) = delete;
    bool Ok() const { return m_ok; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = 0;
    bool m_ok = false;
};

TEST_F(PtyDeviceTest, ADeviceAnotherProgramHoldsIsRefusedNamingTheHolder) {
    device.reset();
    // A name longer than the 15 bytes the kernel keeps is still given whole: another updater
    // is "orvane-update-cli", not "orvane-update-c".
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string longName = dir.path().toStdString() + "/orvane-update-cli";
    ASSERT_EQ(::symlink("/bin/sleep", longName.c_str()), 0);
    const struct {
        std::string program, name;
    } cases[] = {{"sleep", "sleep"}, {longName, "orvane-update-cli"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.program);
        const Holder holder(pty.SlavePath(), c.program);
        ASSERT_TRUE(holder.Ok());
        const auto found = FindDeviceHolder(pty.SlavePath());
        ASSERT_TRUE(found);
        EXPECT_EQ(found->pid, holder.Pid());
        EXPECT_EQ(found->name, c.name);
        auto opened = OpenSystemSerialDevice(pty.SlavePath());
        EXPECT_EQ(opened.device, nullptr);
        EXPECT_EQ(opened.error, EBUSY);
        const std::string why = DescribeDeviceOpenFailure(pty.SlavePath(), opened.error);
        EXPECT_NE(why.find("in use by another program: " + c.name + " (pid " +
                           std::to_string(holder.Pid()) + ")"),
                  std::string::npos)
            << why;
    }
}

TEST(DeviceHolderTest, TheLinesOwnFarEndIsNoHolder) {
    // A child that holds both ends of a pseudo-terminal (a simulated receiver keeping its line
    // up) is the line itself, not a rival; this process is not counted either.
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            ::_exit(1);
        const char* name = ::ptsname(master);
        const int slave = ::open(name, O_RDWR | O_NOCTTY);
        if (slave < 0)
            ::_exit(1);
        [[maybe_unused]] const auto n = ::write(pipeFds[1], name, std::strlen(name) + 1);
        ::pause();
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char name[128] = {};
    ASSERT_GT(::read(pipeFds[0], name, sizeof name - 1), 0);
    ::close(pipeFds[0]);
    const std::string path = name;
    EXPECT_FALSE(FindDeviceHolder(path));
    const int mine = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(mine, 0);
    EXPECT_FALSE(FindDeviceHolder(path)); // ourselves
    {
        const Holder rival(path);
        ASSERT_TRUE(rival.Ok());
        const auto found = FindDeviceHolder(path);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->pid, rival.Pid());
    }
    ::close(mine);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

TEST_F(PtyDeviceTest, LineSettingsAsFoundAreRestoredAtClose) {
    device.reset();
    // A line somebody left in cooked mode at 4800 baud with echo, as a terminal would be.
    termios before = MasterView();
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= ICRNL;
    before.c_oflag |= OPOST | ONLCR;
    ::cfsetispeed(&before, B4800);
    ::cfsetospeed(&before, B4800);
    ASSERT_EQ(::tcsetattr(pty.MasterFd(), TCSANOW, &before), 0);
    before = MasterView();
    {
        auto opened = OpenSystemSerialDevice(pty.SlavePath());
        ASSERT_NE(opened.device, nullptr);
        LineSettings s;
        s.BaudRate = 115200;
        ASSERT_EQ(opened.device->SetState(s), 0);
        const termios during = MasterView();
        EXPECT_EQ(during.c_lflag & (ICANON | ECHO), 0u); // raw while in use
        EXPECT_EQ(::cfgetospeed(&during), static_cast<speed_t>(B115200));
    }
    const termios after = MasterView();
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(::cfgetospeed(&after), static_cast<speed_t>(B4800));
}

TEST(SerialDeviceOpenTest, WhatIsNoSerialDeviceIsSaidSoAndNeverOpened) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string file = dir.filePath("firmware.bin").toStdString();
    const std::string fifo = dir.filePath("fifo").toStdString();
    const std::string folder = dir.path().toStdString();
    ::close(::open(file.c_str(), O_CREAT | O_WRONLY, 0600));
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    struct Case {
        std::string path;
        const char* what;
    };
    const Case cases[] = {{file, "a regular file"},
                          {fifo, "a pipe"},
                          {folder, "a folder"},
                          {"/dev/null", "a character device that is no terminal"}};
    for (const auto& c : cases) {
        auto opened = OpenSystemSerialDevice(c.path);
        EXPECT_EQ(opened.device, nullptr) << c.path;
        EXPECT_EQ(opened.error, ENOTTY) << c.path;
        EXPECT_EQ(DescribeDeviceOpenFailure(c.path, opened.error),
                  c.path + " is not a serial device (it is " + c.what + ")");
    }
    EXPECT_NE(DescribeDeviceOpenFailure("/dev/ttyUSB-not-here", ENOENT).find("no such device"),
              std::string::npos);
}

TEST(OpenFailureTest, PermissionAdviceNamesTheGroupOnlyWhenItGrantsReadAndWrite) {
    struct Case {
        unsigned mode;
        const char* group;
        bool root;
        bool listed, inSession;
        const char* expected; // a part of the advice
        const char* never;    // what it must not say
    };
    const Case cases[] = {
        {S_IFCHR | 0660, "dialout", false, false, false, "join the group 'dialout'", "udev"},
        {S_IFCHR | 0660, "dialout", false, true, false, "log out and in again", "usermod"},
        {S_IFCHR | 0660, "dialout", false, true, true, "ask the machine's administrator",
         "usermod"},
        {S_IFCHR | 0640, "dialout", false, false, false, "udev rule", "join the group"},
        {S_IFCHR | 0600, "tty", false, false, false, "only root may open it", "join"},
        {S_IFCHR | 0660, "root", true, false, false, "udev rule", "join"},
    };
    for (const auto& c : cases) {
        PermissionFacts f;
        f.path = "/dev/ttyUSB0";
        f.mode = c.mode;
        f.owner = "root";
        f.group = c.group;
        f.groupIsRoot = c.root;
        f.userInGroup = c.listed;
        f.sessionHasGroup = c.inSession;
        const std::string advice = PermissionAdvice(f);
        EXPECT_NE(advice.find(c.expected), std::string::npos) << advice;
        EXPECT_EQ(advice.find(c.never), std::string::npos) << advice;
        EXPECT_EQ(advice.rfind("permission denied on /dev/ttyUSB0", 0), 0u) << advice;
    }
}

TEST(ErrorTextTest, GivesTheSystemsText) {
    EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
    EXPECT_FALSE(ErrorText(987654).empty());
}

} // namespace
} // namespace orvane
