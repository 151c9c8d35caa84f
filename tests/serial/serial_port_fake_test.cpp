// The worker against a scripted device: configuration failures and their reports.
#include "serial/serial_port.h"
#include "serial_test_support.h"

#include "platform/port_directory.h"
#include "platform/system_error.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane {
namespace {

using namespace std::chrono_literals;

struct FakeState {
    std::mutex mutex;
    std::string failCall; // name of the call that fails, or empty
    int failError = EIO;
    std::vector<std::string> calls;
    LineSettings line;
    std::vector<std::uint8_t> written;
    std::atomic<bool> lost{false};           // the device has gone: every wait says so
    std::chrono::milliseconds writeTakes{0}; // how long each write keeps the writer busy
    std::size_t writeAtMost = 0; // a write time-out cuts every write after this many bytes

    int Call(const std::string& name) {
        std::lock_guard lock(mutex);
        calls.push_back(name);
        return name == failCall ? failError : 0;
    }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

class FakeDevice final : public ISerialDevice {
public:
    explicit FakeDevice(std::shared_ptr<FakeState> state) : m_state(std::move(state)) {}
    int SetTimeouts(const CommTimeouts&) override { return m_state->Call("SetTimeouts"); }
    int SetMask(std::uint32_t) override { return m_state->Call("SetMask"); }
    int GetState(LineSettings& s) override {
        const int e = m_state->Call("GetState");
        if (e == 0) {
            std::lock_guard lock(m_state->mutex);
            s = m_state->line;
        }
        return e;
    }
    int SetState(const LineSettings& s) override {
        const int e = m_state->Call("SetState");
        if (e == 0) {
            std::lock_guard lock(m_state->mutex);
            m_state->line = s;
        }
        return e;
    }
    int Purge() override { return m_state->Call("Purge"); }
    int Drain(std::chrono::milliseconds) override { return m_state->Call("Drain"); }
    int ClearErrors(std::size_t& waiting) override {
        waiting = 0;
        return 0;
    }
    IoResult Read(std::uint8_t*, std::size_t) override { return {}; }
    IoResult Write(const std::uint8_t* bytes, std::size_t length) override {
        m_state->Call("Write");
        std::chrono::milliseconds takes{0};
        {
            std::lock_guard lock(m_state->mutex);
            takes = m_state->writeTakes;
        }
        std::this_thread::sleep_for(takes);
        std::lock_guard lock(m_state->mutex);
        const std::size_t n =
            m_state->writeAtMost > 0 ? std::min(length, m_state->writeAtMost) : length;
        m_state->written.insert(m_state->written.end(), bytes, bytes + n);
        return {n, n < length ? kErrorTimedOut : 0};
    }
    WaitResult WaitInput(const ManualResetEvent& wake, std::chrono::milliseconds timeout) override {
        if (m_state->lost)
            return WaitResult::Lost;
        return wake.Wait(timeout) ? WaitResult::Woken : WaitResult::Timeout;
    }

private:
    std::shared_ptr<FakeState> m_state;
};

class WorkerWithFakeDevice : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings.IsValid());
        port = NumberForDevice("fake:receiver");
        ASSERT_GT(port, 0);
        previous = SetSerialDeviceFactory([s = state](const std::string& path) {
            OpenResult r;
            if (path == "fake:receiver")
                r.device = std::make_unique<FakeDevice>(s);
            else
                r.error = ENOENT;
            return r;
        });
    }
    void TearDown() override { SetSerialDeviceFactory(std::move(previous)); }

    std::u16string Report(const char* call, int error) const {
        return FromUtf8("WARNING:  " + std::string(call) + " Failed with the following error: \n" +
                        ErrorText(error) + "\nPort: " + std::to_string(port) + "\n");
    }

    test::TempSettings settings;
    std::shared_ptr<FakeState> state = std::make_shared<FakeState>();
    SerialDeviceFactory previous;
    test::RecordingTarget target;
    int port = 0;
};

TEST_F(WorkerWithFakeDevice, FirstFailingConfigurationCallIsReportedAndTheRestSkipped) {
    struct Case {
        const char* failing;
        const char* reported;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"SetTimeouts", "SetCommTimeouts()", {"SetTimeouts", "Purge"}},
        {"SetMask", "SetCommMask()", {"SetTimeouts", "SetMask", "Purge"}},
        {"GetState", "GetCommState()", {"SetTimeouts", "SetMask", "GetState", "Purge"}},
        {"SetState", "SetCommState()", {"SetTimeouts", "SetMask", "GetState", "SetState", "Purge"}},
        {"", nullptr, {"SetTimeouts", "SetMask", "GetState", "SetState", "Purge"}},
    };
    for (const auto& c : cases) {
        {
            std::lock_guard lock(state->mutex);
            state->failCall = c.failing;
            state->calls.clear();
        }
        test::BoxCapture boxes;
        CSerialPort worker;
        // Still open: the link goes on with whatever settings the port has.
        EXPECT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512)) << c.failing;
        EXPECT_EQ(state->Calls(), c.calls) << c.failing;
        const auto shown = boxes.Boxes();
        if (c.reported == nullptr) {
            EXPECT_TRUE(shown.empty());
            continue;
        }
        ASSERT_EQ(shown.size(), 1u) << c.failing;
        EXPECT_EQ(shown[0].text, Report(c.reported, EIO));
        EXPECT_EQ(shown[0].caption, u"Application Error");
        EXPECT_EQ(shown[0].style, MB_OK | MB_ICONERROR);
    }
}

TEST_F(WorkerWithFakeDevice, UnreadableSettingsTextIsReportedAsBuildCommDCB) {
    test::BoxCapture boxes;
    CSerialPort worker;
    // A blank parity letter leaves its value empty: three values only.
    EXPECT_TRUE(worker.OpenPort(&target, port, 9600, ' ', 8, 1, 9, 512));
    const auto shown = boxes.Boxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, Report("BuildCommDCB()", kErrorInvalidArgument));
    for (const auto& call : state->Calls())
        EXPECT_NE(call, "SetState");
}

TEST_F(WorkerWithFakeDevice, ConfiguredLineIsEightNoneOneWithRtsOn) {
    {
        std::lock_guard lock(state->mutex);
        state->line = LineSettings{115200, 7, EVENPARITY, TWOSTOPBITS, RTS_CONTROL_DISABLE};
    }
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
    std::lock_guard lock(state->mutex);
    EXPECT_EQ(state->line, (LineSettings{9600, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}));
}

TEST_F(WorkerWithFakeDevice, SetBaudRateReportsUnreadableSettingsAndChangesNothing) {
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
    {
        std::lock_guard lock(state->mutex);
        state->failCall = "GetState";
        state->calls.clear();
    }
    test::BoxCapture boxes;
    worker.SetBaudRate(115200);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, Report("GetCommState()", EIO));
    EXPECT_EQ(state->Calls(), (std::vector<std::string>{"Drain", "GetState"}));
    std::lock_guard lock(state->mutex);
    EXPECT_EQ(state->line.BaudRate, 9600u);
}

TEST_F(WorkerWithFakeDevice, FailureBoxComesBeforeThePurge) {
    const char* const failing[] = {"SetTimeouts", "SetMask", "GetState", "SetState"};
    for (const char* call : failing) {
        {
            std::lock_guard lock(state->mutex);
            state->failCall = call;
            state->calls.clear();
        }
        const auto previous = SetMessageBoxHandler(
            [this](IMessageTarget*, std::u16string_view, std::u16string_view, unsigned) {
                state->Call("box");
                return IDOK;
            });
        {
            CSerialPort worker;
            EXPECT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512)) << call;
        }
        SetMessageBoxHandler(previous);
        const auto calls = state->Calls();
        ASSERT_GE(calls.size(), 3u) << call;
        EXPECT_EQ(std::vector<std::string>(calls.end() - 3, calls.end()),
                  (std::vector<std::string>{call, "box", "Purge"}));
    }
}

TEST_F(WorkerWithFakeDevice, SpeedChangesOnlyAfterTheQueuedFrameHasLeft) {
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
    ASSERT_TRUE(worker.StartThreads());
    {
        std::lock_guard lock(state->mutex);
        state->calls.clear();
        state->writeTakes = 150ms; // the frame is still going out when the switch is asked for
    }
    const std::vector<std::uint8_t> frame(11, 0x24);
    ASSERT_TRUE(worker.QueueWrite(frame.data(), 11));
    worker.SetBaudRate(115200);
    EXPECT_EQ(state->Calls(), (std::vector<std::string>{"Write", "Drain", "GetState", "SetState"}));
    std::lock_guard lock(state->mutex);
    EXPECT_EQ(state->line.BaudRate, 115200u);
}

// A write that the driver's time-outs cut short: the rest of the frame follows it, so the frame
// leaves whole; one that still does not leave whole after the retries is counted, never lost
// without a word.
TEST_F(WorkerWithFakeDevice, AFrameCutShortByTheWriteTimeOutLeavesWholeOrIsCounted) {
    struct Case {
        std::size_t atMost;
        std::size_t written; // bytes of the 17-byte frame that reach the line
        std::uint64_t failures;
    };
    const Case cases[] = {{0, 17, 0}, {9, 17, 0}, {5, 17, 0}, {2, 8, 1}};
    for (const Case& c : cases) {
        CSerialPort worker;
        {
            std::lock_guard lock(state->mutex);
            state->written.clear();
            state->writeAtMost = c.atMost;
        }
        ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
        ASSERT_TRUE(worker.StartThreads());
        std::vector<std::uint8_t> frame(17);
        for (std::size_t i = 0; i < frame.size(); ++i)
            frame[i] = static_cast<std::uint8_t>(i);
        ASSERT_TRUE(worker.QueueWrite(frame.data(), 17));
        ASSERT_TRUE(worker.QueueWrite(frame.data(), 0)); // waits until the first has gone
        std::lock_guard lock(state->mutex);
        ASSERT_EQ(state->written.size(), c.written) << c.atMost;
        EXPECT_TRUE(std::equal(state->written.begin(), state->written.end(), frame.begin()))
            << c.atMost;
        EXPECT_EQ(worker.WriteFailures(), c.failures) << c.atMost;
    }
}

TEST_F(WorkerWithFakeDevice, NewSpeedIsKeptInTheLineSettingsEvenWhenRefused) {
    struct Case {
        const char* failing;
        std::uint32_t kept;
    };
    const Case cases[] = {{"", 57600}, {"SetState", 123456}, {"GetState", 9600}};
    for (const Case& c : cases) {
        CSerialPort worker;
        {
            std::lock_guard lock(state->mutex);
            state->failCall.clear();
            state->line = LineSettings{};
        }
        ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
        {
            std::lock_guard lock(state->mutex);
            state->failCall = c.failing;
        }
        test::BoxCapture boxes;
        worker.SetBaudRate(c.kept == 9600 ? 4800 : static_cast<int>(c.kept));
        EXPECT_EQ(worker.CurrentLineSettings().BaudRate, c.kept) << c.failing;
        EXPECT_EQ(worker.CurrentLineSettings().fRtsControl, RTS_CONTROL_ENABLE) << c.failing;
    }
}

TEST_F(WorkerWithFakeDevice, SetBaudRateReportsARefusedRate) {
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
    {
        std::lock_guard lock(state->mutex);
        state->failCall = "SetState";
        state->failError = EINVAL;
    }
    test::BoxCapture boxes;
    worker.SetBaudRate(123456);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].text, Report("SetCommState()", EINVAL));
}

TEST_F(WorkerWithFakeDevice, MissingDeviceFailsWithoutAMessage) {
    test::BoxCapture boxes;
    CSerialPort worker;
    EXPECT_FALSE(worker.OpenPort(&target, NumberForDevice("/dev/gone"), 9600, 'N', 8, 1, 9, 512));
    EXPECT_FALSE(worker.OpenPort(&target, 254, 9600, 'N', 8, 1, 9, 512)); // unnumbered
    EXPECT_FALSE(worker.StartThreads());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(WorkerWithFakeDevice, OversizedFrameIsRefusedWhole) {
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 16));
    ASSERT_TRUE(worker.StartThreads());
    const std::vector<std::uint8_t> frame(17, 0xAB);
    EXPECT_FALSE(worker.QueueWrite(frame.data(), 17));
    EXPECT_FALSE(worker.QueueWrite(frame.data(), -1));
    EXPECT_TRUE(worker.QueueWrite(frame.data(), 16));
    EXPECT_TRUE(worker.QueueWrite(frame.data(), 0)); // waits for the first to leave
    std::lock_guard lock(state->mutex);
    EXPECT_EQ(state->written, std::vector<std::uint8_t>(16, 0xAB));
}

TEST_F(WorkerWithFakeDevice, DestroyingAWorkerWithoutThreadsStillTakesTwoPasses) {
    const auto start = std::chrono::steady_clock::now();
    {
        CSerialPort worker;
        ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 200ms);
    EXPECT_LT(took, 1000ms);
}

// The owner learns of a lost device even when its queue turned the notification away: a window
// busy with a flood must not wait for ever for a reply that cannot come.
TEST_F(WorkerWithFakeDevice, ALossNotificationTheOwnerRefusedIsPostedAgain) {
    CSerialPort worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
    target.refuse = 3;
    state->lost = true;
    ASSERT_TRUE(worker.StartThreads());
    ASSERT_EQ(target.WaitBeyond(0, 5s), 1u);
    EXPECT_TRUE(worker.IsLost());
    EXPECT_EQ(target.refuse.load(), 0);
    const auto posted = target.Snapshot();
    EXPECT_EQ(posted[0].message, WM_SERIAL_RECEIVED);
    EXPECT_EQ(posted[0].wParam, 0u);
    // Once delivered, it is not repeated.
    EXPECT_EQ(target.WaitBeyond(1, 300ms), 1u);
}

class ReportingWorker : public CSerialPort {
public:
    using CSerialPort::ReportFailure;
};

TEST_F(WorkerWithFakeDevice, ReportNeverExceedsItsBound) {
    test::BoxCapture boxes;
    ReportingWorker worker;
    ASSERT_TRUE(worker.OpenPort(&target, port, 9600, 'N', 8, 1, 9, 512));
    const std::string longName(400, 'X');
    worker.ReportFailure(longName.c_str());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_LE(boxes.Boxes()[0].text.size(), 199u);
}

} // namespace
} // namespace orvane
