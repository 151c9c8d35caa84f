// The opener of real ports against a recording device: the line every boot loader starts at,
// the write buffer's size, and a refused frame told to the operator.
#include "platform/message.h"
#include "platform/serial_device.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "ui/port_worker.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane::ui {
namespace {

using namespace std::chrono_literals;

struct Recorded {
    std::mutex mutex;
    std::vector<CommTimeouts> timeouts;
    std::vector<std::uint32_t> masks;
    std::vector<LineSettings> states;
    std::size_t written = 0;
};

class RecordingDevice final : public ISerialDevice {
public:
    explicit RecordingDevice(std::shared_ptr<Recorded> r) : m_r(std::move(r)) {}
    int SetTimeouts(const CommTimeouts& t) override {
        std::lock_guard lock(m_r->mutex);
        m_r->timeouts.push_back(t);
        return 0;
    }
    int SetMask(std::uint32_t mask) override {
        std::lock_guard lock(m_r->mutex);
        m_r->masks.push_back(mask);
        return 0;
    }
    int GetState(LineSettings& s) override {
        // A line left by another program at another speed and framing, RTS off.
        s = LineSettings{57600, 7, ODDPARITY, TWOSTOPBITS, RTS_CONTROL_DISABLE};
        return 0;
    }
    int SetState(const LineSettings& s) override {
        std::lock_guard lock(m_r->mutex);
        m_r->states.push_back(s);
        return 0;
    }
    int Purge() override { return 0; }
    int ClearErrors(std::size_t& waiting) override {
        waiting = 0;
        return 0;
    }
    IoResult Read(std::uint8_t*, std::size_t) override { return {}; }
    IoResult Write(const std::uint8_t*, std::size_t length) override {
        std::lock_guard lock(m_r->mutex);
        m_r->written += length;
        return {length, 0};
    }
    WaitResult WaitInput(const ManualResetEvent& wake, std::chrono::milliseconds timeout) override {
        return wake.Wait(timeout) ? WaitResult::Woken : WaitResult::Timeout;
    }

private:
    std::shared_ptr<Recorded> m_r;
};

class NullTarget final : public IMessageTarget {
public:
    bool PostMessageW(UINT, WPARAM, LPARAM) override { return true; }
};

class Opener : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder =
            std::filesystem::temp_directory_path() /
            ("orvane-opener-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        std::filesystem::create_directories(m_folder);
        SetSettingsFolder(m_folder.string());
        m_previous = SetSerialDeviceFactory([r = recorded](const std::string& path) {
            OpenResult result;
            if (path == "fake:opener")
                result.device = std::make_unique<RecordingDevice>(r);
            else
                result.error = ENOENT;
            return result;
        });
        m_previousBox = SetMessageBoxHandler([this](IMessageTarget*, std::u16string_view text,
                                                    std::u16string_view caption, unsigned style) {
            boxes.push_back(std::u16string(caption) + u"|" + std::u16string(text));
            EXPECT_EQ(style, MB_OK | MB_ICONERROR);
            return IDOK;
        });
    }
    void TearDown() override {
        SetMessageBoxHandler(std::move(m_previousBox));
        SetSerialDeviceFactory(std::move(m_previous));
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
    std::unique_ptr<IPortWorker> Open() {
        PortRequest request;
        request.number = 7;
        request.path = "fake:opener";
        OpenFailure failure;
        auto worker = SerialPortOpener()(&target, request, failure);
        EXPECT_TRUE(worker) << failure.reason;
        return worker;
    }

    std::shared_ptr<Recorded> recorded = std::make_shared<Recorded>();
    NullTarget target;
    std::vector<std::u16string> boxes;

private:
    std::filesystem::path m_folder;
    SerialDeviceFactory m_previous;
    MessageBoxHandler m_previousBox;
};

TEST_F(Opener, LineIsTheBootLoadersWhateverItWasBefore) {
    auto worker = Open();
    ASSERT_TRUE(worker);
    std::lock_guard lock(recorded->mutex);
    ASSERT_EQ(recorded->timeouts.size(), 1u);
    const CommTimeouts& t = recorded->timeouts[0];
    EXPECT_EQ(t.ReadIntervalTimeout, 65535u);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 0u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);
    EXPECT_EQ(recorded->masks, std::vector<std::uint32_t>{9});
    ASSERT_EQ(recorded->states.size(), 1u);
    EXPECT_EQ(recorded->states[0],
              (LineSettings{9600, 8, NOPARITY, ONESTOPBIT, RTS_CONTROL_ENABLE}));
}

TEST_F(Opener, WriteBufferHolds512BytesAndARefusalIsShown) {
    auto worker = Open();
    ASSERT_TRUE(worker);
    struct Case {
        int length;
        bool accepted;
    };
    const Case cases[] = {{512, true}, {513, false}, {1, true}};
    std::size_t expectWritten = 0;
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> frame(static_cast<std::size_t>(c.length), 0x24);
        const auto before = boxes.size();
        EXPECT_EQ(worker->QueueWrite(frame.data(), c.length), c.accepted) << c.length;
        expectWritten += c.accepted ? frame.size() : 0;
        if (c.accepted) {
            EXPECT_EQ(boxes.size(), before) << c.length;
            continue;
        }
        ASSERT_EQ(boxes.size(), before + 1) << c.length;
        EXPECT_EQ(boxes.back(),
                  u"Application Error|WARNING:  QueueWrite() Failed with the following error: \n"
                  u"The frame of 513 bytes is longer than the write buffer of 512 bytes.\n"
                  u"Port: 7\n");
    }
    // The writer takes its time: give it up to a second to have written what was accepted.
    for (int i = 0; i < 100; ++i) {
        {
            std::lock_guard lock(recorded->mutex);
            if (recorded->written == expectWritten)
                break;
        }
        std::this_thread::sleep_for(10ms);
    }
    std::lock_guard lock(recorded->mutex);
    EXPECT_EQ(recorded->written, expectWritten);
}

} // namespace
} // namespace orvane::ui
