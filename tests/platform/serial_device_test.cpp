#include "platform/pty.h"
#include "platform/serial_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

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

TEST(ErrorTextTest, GivesTheSystemsText) {
    EXPECT_EQ(ErrorText(ENOENT), "No such file or directory");
    EXPECT_FALSE(ErrorText(987654).empty());
}

} // namespace
} // namespace orvane
