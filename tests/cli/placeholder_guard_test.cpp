// The command-line updater's placeholder guard against a stand-in serial device: the build's
// test images never reach a device that is not a pseudo-terminal, and the refusal comes before
// the first byte is written.
#include "cli/runner.h"
#include "platform/port_directory.h"
#include "platform/serial_device.h"
#include "platform/settings.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::app {
namespace {

struct Line {
    std::mutex mutex;
    std::vector<std::uint8_t> written;
    bool pseudoTerminal = false;
    std::size_t Written() {
        std::lock_guard lock(mutex);
        return written.size();
    }
};

// A device that accepts every call, writes into `line` and never answers.
class StandInDevice final : public ISerialDevice {
public:
    explicit StandInDevice(std::shared_ptr<Line> line) : m_line(std::move(line)) {}
    int SetTimeouts(const CommTimeouts&) override { return 0; }
    int SetMask(std::uint32_t) override { return 0; }
    int GetState(LineSettings& s) override {
        s = m_settings;
        return 0;
    }
    int SetState(const LineSettings& s) override {
        m_settings = s;
        return 0;
    }
    int Purge() override { return 0; }
    int ClearErrors(std::size_t& waiting) override {
        waiting = 0;
        return 0;
    }
    IoResult Read(std::uint8_t*, std::size_t) override { return {}; }
    IoResult Write(const std::uint8_t* bytes, std::size_t length) override {
        std::lock_guard lock(m_line->mutex);
        m_line->written.insert(m_line->written.end(), bytes, bytes + length);
        return {length, 0};
    }
    WaitResult WaitInput(const ManualResetEvent& wake, std::chrono::milliseconds timeout) override {
        return wake.Wait(timeout) ? WaitResult::Woken : WaitResult::Timeout;
    }
    bool IsPseudoTerminal() const override { return m_line->pseudoTerminal; }

private:
    std::shared_ptr<Line> m_line;
    LineSettings m_settings;
};

class PlaceholderGuard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_settings.isValid());
        SetSettingsFolder(m_settings.path().toStdString());
        port = NumberForDevice("stand-in:line");
        ASSERT_GT(port, 0);
        m_previous = SetSerialDeviceFactory([l = line](const std::string& path) {
            OpenResult r;
            if (path == "stand-in:line")
                r.device = std::make_unique<StandInDevice>(l);
            else
                r.error = ENOENT;
            return r;
        });
    }
    void TearDown() override { SetSerialDeviceFactory(std::move(m_previous)); }

    CliResult Run(bool allowPlaceholder) {
        CliOptions options;
        options.portName = FormatText("COM%d", port);
        options.timeout = std::chrono::seconds(1);
        options.progressBar = false;
        options.allowPlaceholder = allowPlaceholder;
        options.out = m_out.get();
        options.err = m_out.get();
        return RunUpdate(options);
    }

    QTemporaryDir m_settings;
    std::shared_ptr<Line> line = std::make_shared<Line>();
    int port = 0;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> m_out{std::tmpfile(), &std::fclose};

private:
    SerialDeviceFactory m_previous;
};

TEST_F(PlaceholderGuard, SerialLineIsRefusedBeforeAByteIsWritten) {
    const CliResult result = Run(false);
    EXPECT_EQ(result.exitCode, kExitFirmware);
    EXPECT_NE(result.reason.find("carries test images"), std::string::npos) << result.reason;
    EXPECT_NE(result.reason.find("--firmware"), std::string::npos) << result.reason;
    EXPECT_EQ(result.firmware, "placeholder images");
    EXPECT_EQ(line->Written(), 0u);
}

TEST_F(PlaceholderGuard, BenchOverrideOrAPseudoTerminalLinks) {
    for (const bool pty : {false, true}) {
        line->pseudoTerminal = pty;
        const CliResult result = Run(/*allowPlaceholder=*/!pty);
        // Linked: the handshakes go out, and nobody answers them.
        EXPECT_EQ(result.exitCode, kExitTimeout) << pty << " " << result.reason;
        EXPECT_GT(line->Written(), 0u) << pty;
        std::lock_guard lock(line->mutex);
        line->written.clear();
    }
}

} // namespace
} // namespace orvane::app
