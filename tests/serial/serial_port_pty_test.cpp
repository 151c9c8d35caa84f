// The worker against a pseudo-terminal: the master side plays the receiver.
#include "serial/serial_port.h"
#include "serial_test_support.h"

#include "platform/port_directory.h"
#include "platform/pty.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <ctime>
#include <numeric>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace orvane {
namespace {

using namespace std::chrono_literals;

// Exposes the ring positions, so a test can start the ring anywhere.
class RingWorker : public CSerialPort {
public:
    void StartRingAt(int position) {
        m_nRingWrite.store(position);
        m_nRingRead.store(position);
    }
    int RingWrite() const { return m_nRingWrite.load(); }
};

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>((i * 31 + seed) ^ (i >> 8));
    return v;
}

// Reads exactly n bytes from the master side, or what came within the time-out.
std::vector<std::uint8_t> ReadMaster(int fd, std::size_t n, std::chrono::milliseconds timeout) {
    std::vector<std::uint8_t> got;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (got.size() < n) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
            break;
        std::uint8_t buffer[512];
        const ssize_t r = ::read(fd, buffer, std::min(sizeof buffer, n - got.size()));
        if (r <= 0)
            break;
        got.insert(got.end(), buffer, buffer + r);
    }
    return got;
}

double ProcessCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class WorkerOnPty : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings.IsValid());
        pty = OpenPtyPair();
        ASSERT_TRUE(pty.IsOpen());
        port = NumberForDevice(pty.SlavePath());
        ASSERT_GT(port, 0);
    }
    bool Open(CSerialPort& worker, int bufferSize = 512) {
        return worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, bufferSize);
    }
    // Takes bytes as notifications arrive, as the owner does, until n have come.
    std::vector<std::uint8_t> Consume(CSerialPort& worker, std::size_t n,
                                      std::chrono::milliseconds timeout) {
        std::vector<std::uint8_t> got;
        std::vector<std::uint8_t> destination(CSerialPort::kTakeCapacity);
        std::size_t seen = 0;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (got.size() < n && std::chrono::steady_clock::now() < deadline) {
            seen = target.WaitBeyond(seen, 100ms);
            const int count = worker.TakeReceived(destination.data());
            EXPECT_EQ(destination[static_cast<std::size_t>(count)], 0);
            got.insert(got.end(), destination.begin(), destination.begin() + count);
        }
        return got;
    }
    void WriteMaster(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::write(pty.MasterFd(), bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    test::TempSettings settings;
    PtyPair pty;
    test::RecordingTarget target;
    int port = 0;
};

TEST_F(WorkerOnPty, FramesQueuedBackToBackLeaveInOrderAndUnchanged) {
    CSerialPort worker;
    ASSERT_TRUE(Open(worker));
    ASSERT_TRUE(worker.StartThreads());
    const auto first = Pattern(142, 1);
    const auto second = Pattern(11, 2);
    const auto third = Pattern(512, 3);
    ASSERT_TRUE(worker.QueueWrite(first.data(), static_cast<int>(first.size())));
    ASSERT_TRUE(worker.QueueWrite(second.data(), static_cast<int>(second.size())));
    ASSERT_TRUE(worker.QueueWrite(third.data(), static_cast<int>(third.size())));
    std::vector<std::uint8_t> expected = first;
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(ReadMaster(pty.MasterFd(), expected.size(), 3000ms), expected);
}

TEST_F(WorkerOnPty, ReceivedBytesArePostedWithCountAndPort) {
    CSerialPort worker;
    ASSERT_TRUE(Open(worker));
    ASSERT_TRUE(worker.StartThreads());
    const auto sent = Pattern(40, 7);
    WriteMaster(sent);
    EXPECT_EQ(Consume(worker, sent.size(), 3000ms), sent);
    std::size_t total = 0;
    for (const auto& p : target.Snapshot()) {
        EXPECT_EQ(p.message, WM_SERIAL_RECEIVED);
        EXPECT_EQ(p.lParam, port);
        EXPECT_GE(p.wParam, 1u);
        total += p.wParam;
    }
    EXPECT_EQ(total, sent.size());
}

TEST_F(WorkerOnPty, BurstLargerThanTheRingArrivesWholeAndInOrder) {
    CSerialPort worker;
    ASSERT_TRUE(Open(worker));
    ASSERT_TRUE(worker.StartThreads());
    const auto sent = Pattern(9000, 3);
    std::thread far([&] { WriteMaster(sent); });
    EXPECT_EQ(Consume(worker, sent.size(), 10000ms), sent);
    far.join();
}

TEST_F(WorkerOnPty, FullRingKeepsUnreadBytesAndTheReaderIdles) {
    CSerialPort worker;
    ASSERT_TRUE(Open(worker));
    ASSERT_TRUE(worker.StartThreads());
    const auto sent = Pattern(3000, 5);
    std::thread far([&] { WriteMaster(sent); });
    // Nobody takes: the ring fills to its 2047 bytes and the rest waits in the driver.
    std::size_t posted = 0;
    for (int i = 0; i < 100 && posted < CSerialPort::kRingCapacity; ++i) {
        target.WaitBeyond(target.Snapshot().size(), 50ms);
        posted = 0;
        for (const auto& p : target.Snapshot())
            posted += p.wParam;
    }
    ASSERT_EQ(posted, static_cast<std::size_t>(CSerialPort::kRingCapacity));
    const double cpu = ProcessCpuSeconds();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.1); // waiting for room, not polling a ready device
    EXPECT_EQ(Consume(worker, sent.size(), 5000ms), sent);
    far.join();
}

TEST_F(WorkerOnPty, RingWrapsAtItsPhysicalEnd) {
    RingWorker worker;
    ASSERT_TRUE(Open(worker));
    worker.StartRingAt(2040);
    ASSERT_TRUE(worker.StartThreads());
    const auto sent = Pattern(20, 9);
    WriteMaster(sent);
    EXPECT_EQ(Consume(worker, sent.size(), 3000ms), sent);
    const auto posts = target.Snapshot();
    ASSERT_FALSE(posts.empty());
    EXPECT_LE(posts[0].wParam, 8u); // the first read stops at the end of the ring
    EXPECT_EQ(worker.RingWrite(), 12);
}

TEST_F(WorkerOnPty, LineSettingsAndBaudChangesAreSeenFromTheFarEnd) {
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 2, 9, 512));
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.MasterFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_NE(t.c_cflag & CSTOPB, 0u);
    ASSERT_TRUE(worker.StartThreads());
    const struct {
        int baud;
        speed_t code;
    } cases[] = {{115200, B115200}, {9600, B9600}, {57600, B57600}};
    for (const auto& c : cases) {
        worker.SetBaudRate(c.baud);
        ASSERT_EQ(::tcgetattr(pty.MasterFd(), &t), 0);
        EXPECT_EQ(::cfgetospeed(&t), c.code) << c.baud;
        EXPECT_NE(t.c_cflag & CSTOPB, 0u) << "nothing but the rate changes";
    }
}

TEST_F(WorkerOnPty, PortHeldElsewhereCannotBeOpened) {
    test::BoxCapture boxes;
    auto holder = OpenSerialDevice(pty.SlavePath());
    ASSERT_NE(holder.device, nullptr);
    CSerialPort worker;
    EXPECT_FALSE(Open(worker));
    CSerialPort first;
    holder.device.reset();
    ASSERT_TRUE(Open(first));
    CSerialPort second;
    EXPECT_FALSE(Open(second));
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(WorkerOnPty, HungUpLineIsMarkedLostWithoutSpinning) {
    CSerialPort worker;
    ASSERT_TRUE(Open(worker));
    ASSERT_TRUE(worker.StartThreads());
    const auto sent = Pattern(10, 1);
    WriteMaster(sent);
    EXPECT_EQ(Consume(worker, sent.size(), 3000ms), sent);
    pty.CloseMaster();
    for (int i = 0; i < 100 && !worker.IsLost(); ++i)
        std::this_thread::sleep_for(10ms);
    ASSERT_TRUE(worker.IsLost());
    // The loss is marked before it is posted (so the owner never misses it): let the post in.
    std::this_thread::sleep_for(50ms);
    const auto posts = target.Snapshot().size();
    const double cpu = ProcessCpuSeconds();
    std::this_thread::sleep_for(300ms);
    EXPECT_LT(ProcessCpuSeconds() - cpu, 0.1);
    EXPECT_EQ(target.Snapshot().size(), posts);
    // Frames for a lost line are taken and dropped; the slot stays usable.
    EXPECT_TRUE(worker.QueueWrite(sent.data(), 10));
    EXPECT_TRUE(worker.QueueWrite(sent.data(), 10));
}

TEST_F(WorkerOnPty, RunningWorkerStopsPromptly) {
    const auto start = std::chrono::steady_clock::now();
    {
        CSerialPort worker;
        ASSERT_TRUE(Open(worker));
        ASSERT_TRUE(worker.StartThreads());
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 1500ms);
    // The port is free again.
    auto again = OpenSerialDevice(pty.SlavePath());
    EXPECT_NE(again.device, nullptr);
}

} // namespace
} // namespace orvane
