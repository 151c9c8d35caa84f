// The Win32 serial device and the worker over a COM port that Wine maps to a Linux
// pseudo-terminal. tests/wine/com_peer.py plays the far end from the Linux side: it logs what
// arrives, echoes it, reports the line settings it sees and sends patterns on request.
#include "platform/open_failure.h"
#include "platform/port_directory.h"
#include "platform/serial_device.h"
#include "serial/serial_port.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace orvane {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Steady = std::chrono::steady_clock;

int PeerCom() {
    const char* v = std::getenv("ORVANE_PEER_COM");
    return v ? std::atoi(v) : 0;
}

std::string PeerPort() {
    return "\\\\.\\COM" + std::to_string(PeerCom());
}

// Everything the Linux side has received so far.
Bytes PeerReceived() {
    const char* path = std::getenv("ORVANE_PEER_LOG");
    std::ifstream in(path ? path : "", std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes ToBytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Pattern(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(i % 251);
    return b;
}

// Reads until `n` bytes have come or the bound passes, only ever asking for waiting bytes.
Bytes ReadCount(ISerialDevice& device, std::size_t n, std::chrono::milliseconds bound = 3s) {
    Bytes got;
    const auto deadline = Steady::now() + bound;
    while (got.size() < n && Steady::now() < deadline) {
        std::size_t waiting = 0;
        if (device.ClearErrors(waiting) != 0)
            break;
        if (waiting == 0) {
            std::this_thread::sleep_for(1ms);
            continue;
        }
        Bytes chunk(std::min(waiting, n - got.size()));
        const IoResult r = device.Read(chunk.data(), chunk.size());
        got.insert(got.end(), chunk.begin(), chunk.begin() + static_cast<long>(r.count));
    }
    return got;
}

// Reads one answer line of the peer.
std::string ReadLine(ISerialDevice& device) {
    std::string line;
    const auto deadline = Steady::now() + 3s;
    while (Steady::now() < deadline && (line.empty() || line.back() != '\n')) {
        const Bytes b = ReadCount(device, 1, 100ms);
        if (!b.empty())
            line += static_cast<char>(b[0]);
    }
    return line;
}

void Send(ISerialDevice& device, const Bytes& bytes) {
    const IoResult r = device.Write(bytes.data(), bytes.size());
    ASSERT_EQ(r.error, 0) << ErrorText(r.error);
    ASSERT_EQ(r.count, bytes.size());
}

class ComPort : public ::testing::Test {
protected:
    void SetUp() override {
        if (PeerCom() == 0)
            GTEST_SKIP() << "needs the Linux side: run through tests/wine/com_peer.py";
        OpenResult opened = OpenSystemSerialDevice(PeerPort());
        ASSERT_TRUE(opened.device) << ErrorText(opened.error);
        device = std::move(opened.device);
        ASSERT_EQ(device->SetTimeouts(CommTimeouts{65535, 0, 0, 10, 1000}), 0);
        ASSERT_EQ(device->Purge(), 0);
    }

    std::unique_ptr<ISerialDevice> device;
};

TEST_F(ComPort, WrittenBytesReachTheLinuxSideAndItsBytesComeBack) {
    Bytes everyValue;
    for (int i = 0; i < 256; ++i)
        everyValue.push_back(static_cast<std::uint8_t>(i));
    const Bytes cases[] = {
        ToBytes("hello"),
        {0x24, 0x24, 'S', 'S', 24, 3, 'B', '4', '9', 0x00, '\r', '\n'}, // frame-like, a zero
        everyValue,
        Pattern(1500), // more than the driver hands over in one go
    };
    for (const Bytes& sent : cases) {
        Send(*device, sent);
        EXPECT_EQ(ReadCount(*device, sent.size()), sent) << sent.size() << " bytes";
        const Bytes seen = PeerReceived();
        ASSERT_GE(seen.size(), sent.size());
        EXPECT_TRUE(
            std::equal(sent.begin(), sent.end(), seen.end() - static_cast<long>(sent.size())))
            << "the Linux side received other bytes";
    }
}

TEST_F(ComPort, BytesSentFromTheLinuxSideArriveInOrder) {
    for (const std::size_t n : {1u, 250u, 3000u}) {
        Send(*device, ToBytes("#!send " + std::to_string(n) + "\n"));
        EXPECT_EQ(ReadCount(*device, n), Pattern(n)) << n;
    }
}

TEST_F(ComPort, LineSettingsReachTheLinuxSide) {
    struct Case {
        LineSettings line;
        const char* seen;
        std::uint8_t sizeRead, parityRead;
    };
    // A Linux pseudo-terminal keeps the speed and the stop bits it is given but always reports
    // eight data bits without parity (it never makes a parity or framing error), and the comm
    // state read back through Wine is what Linux keeps. A real port keeps all four.
    const Case cases[] = {
        {{115200, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE},
         "speed=115200 bits=8 parity=N stop=1\n",
         8,
         NOPARITY},
        {{57600, 7, EVENPARITY, TWOSTOPBITS, RTS_CONTROL_ENABLE},
         "speed=57600 bits=8 parity=N stop=2\n",
         8,
         NOPARITY},
        {{19200, 8, ODDPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE},
         "speed=19200 bits=8 parity=N stop=1\n",
         8,
         NOPARITY},
        {{9600, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE},
         "speed=9600 bits=8 parity=N stop=1\n",
         8,
         NOPARITY},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(device->SetState(c.line), 0) << c.seen;
        LineSettings read;
        ASSERT_EQ(device->GetState(read), 0);
        EXPECT_EQ(read.BaudRate, c.line.BaudRate);
        EXPECT_EQ(read.StopBits, c.line.StopBits);
        EXPECT_EQ(read.ByteSize, c.sizeRead);
        EXPECT_EQ(read.Parity, c.parityRead);
        Send(*device, ToBytes("#!line\n"));
        EXPECT_EQ(ReadLine(*device), c.seen);
    }
}

TEST_F(ComPort, PurgeEmptiesTheInputQueue) {
    Send(*device, ToBytes("#!send 100\n"));
    const auto deadline = Steady::now() + 3s;
    std::size_t waiting = 0;
    while (waiting < 100 && Steady::now() < deadline) {
        ASSERT_EQ(device->ClearErrors(waiting), 0);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(waiting, 100u);
    ASSERT_EQ(device->Purge(), 0);
    ASSERT_EQ(device->ClearErrors(waiting), 0);
    EXPECT_EQ(waiting, 0u);
}

TEST_F(ComPort, WaitInputTellsInputWakeUpAndTimeOutApart) {
    ManualResetEvent wake;
    ASSERT_EQ(wake.Create(false), 0);
    EXPECT_EQ(device->WaitInput(wake, 50ms), WaitResult::Timeout);
    Send(*device, ToBytes("x"));
    EXPECT_EQ(device->WaitInput(wake, 2s), WaitResult::Readable);
    wake.Set(); // wins over input
    const auto start = Steady::now();
    EXPECT_EQ(device->WaitInput(wake, 2s), WaitResult::Woken);
    EXPECT_LT(Steady::now() - start, 500ms);
}

TEST_F(ComPort, AWaitEndsWhenBytesComeOrWhenWokenFromAnotherThread) {
    ManualResetEvent wake;
    ASSERT_EQ(wake.Create(false), 0);
    Send(*device, ToBytes("#!later 200 5\n"));
    auto start = Steady::now();
    EXPECT_EQ(device->WaitInput(wake, 5s), WaitResult::Readable);
    EXPECT_LT(Steady::now() - start, 4s);
    EXPECT_EQ(ReadCount(*device, 5), Pattern(5));

    std::thread waker([&] {
        std::this_thread::sleep_for(200ms);
        wake.Set();
    });
    start = Steady::now();
    EXPECT_EQ(device->WaitInput(wake, 5s), WaitResult::Woken);
    EXPECT_LT(Steady::now() - start, 4s);
    waker.join();
}

TEST_F(ComPort, CancelledTransfersEndAtOnce) {
    device->CancelTransfers();
    std::uint8_t b = 'x';
    EXPECT_EQ(device->Write(&b, 1).error, kErrorCancelled);
    EXPECT_EQ(device->Read(&b, 1).error, kErrorCancelled);
}

bool UnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST_F(ComPort, ASecondOpenIsRefusedWhileThePortIsHeld) {
    // Wine opens a COM port again however it was opened first; Windows refuses.
    if (UnderWine())
        GTEST_SKIP() << "Wine does not keep a COM port to its first opener";
    const OpenResult second = OpenSystemSerialDevice(PeerPort());
    EXPECT_FALSE(second.device);
    EXPECT_EQ(second.error, ERROR_ACCESS_DENIED) << ErrorText(second.error);
    EXPECT_NE(DescribeDeviceOpenFailure(PeerPort(), second.error).find("in use by another program"),
              std::string::npos);
}

TEST(ComPortListing, TheMappedPortIsListedAsOneThatOpens) {
    if (PeerCom() == 0)
        GTEST_SKIP() << "needs the Linux side: run through tests/wine/com_peer.py";
    const auto names = EnumeratePortNames();
    const std::string expected = PeerPort();
    EXPECT_NE(
        std::find(names.begin(), names.end(), std::u16string(expected.begin(), expected.end())),
        names.end());
    EXPECT_EQ(DevicePathForPort(PeerCom()), expected);
    EXPECT_EQ(NumberForDevice(expected), PeerCom());
    // What the registry and SetupAPI say of the ports depends on the system: shown only.
    for (const NumberedPort& p : PortDirectory().ListPorts())
        std::printf("listed: COM%d %s %s\n", p.number, p.info.path.c_str(),
                    p.info.Identity().c_str());
}

// The worker as the updater uses it, over the mapped port.
class RecordingTarget final : public IMessageTarget {
public:
    bool PostMessageW(UINT message, WPARAM, LPARAM lParam) override {
        if (message == WM_SERIAL_RECEIVED && lParam == PeerCom())
            posted.Set();
        return true;
    }
    ManualResetEvent posted;
};

TEST(ComPortWorker, FramesGoOutAndEveryByteComesBackThroughTheRing) {
    if (PeerCom() == 0)
        GTEST_SKIP() << "needs the Linux side: run through tests/wine/com_peer.py";
    RecordingTarget target;
    ASSERT_EQ(target.posted.Create(false), 0);
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, PeerCom(), 9600, 'N', 8, 1, 9, 512));
    ASSERT_TRUE(worker.StartThreads());

    const auto collect = [&](std::size_t n) {
        Bytes got;
        std::uint8_t buffer[CSerialPort::kTakeCapacity];
        const auto deadline = Steady::now() + 5s;
        while (got.size() < n && Steady::now() < deadline) {
            target.posted.Wait(100ms);
            target.posted.Reset();
            const int taken = worker.TakeReceived(buffer);
            got.insert(got.end(), buffer, buffer + taken);
        }
        return got;
    };

    const Bytes frame = {0x24, 0x24, 'S', 'S', 24, 0, 0, '\r', '\n'};
    ASSERT_TRUE(worker.QueueWrite(frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(collect(frame.size()), frame);

    // More than the ring holds: the reader leaves the rest in the driver until room is made.
    const Bytes ask = ToBytes("#!send 5000\n");
    ASSERT_TRUE(worker.QueueWrite(ask.data(), static_cast<int>(ask.size())));
    EXPECT_EQ(collect(5000), Pattern(5000));

    worker.SetBaudRate(115200);
    EXPECT_EQ(worker.CurrentLineSettings().BaudRate, 115200u);
    const Bytes line = ToBytes("#!line\n");
    ASSERT_TRUE(worker.QueueWrite(line.data(), static_cast<int>(line.size())));
    const Bytes answer = collect(36);
    EXPECT_EQ(std::string(answer.begin(), answer.end()), "speed=115200 bits=8 parity=N stop=1\n");
    EXPECT_FALSE(worker.IsLost());
    EXPECT_EQ(worker.WriteFailures(), 0u);
}

} // namespace
} // namespace orvane
