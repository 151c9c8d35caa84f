#include "app/cli_runner.h"

#include "firmware/catalogue.h"
#include "firmware/firmware_set.h"
#include "framework/app.h"
#include "framework/headless/headless.h"
#include "platform/regkey.h"
#include "platform/text.h"
#include "ui/main_frame.h"
#include "ui/resource_ids.h"
#include "ui/update_view.h"

#include <algorithm>
#include <cmath>
#include <unistd.h>

namespace orvane::app {

namespace {

using Clock = std::chrono::steady_clock;

bool StartsWith(std::u16string_view s, std::u16string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

std::string FormatDuration(double seconds) {
    // Rounded to whole seconds; a negative or undefined duration (NaN) shows as 0:00.
    const long s = seconds > 0 ? std::lround(seconds) : 0L;
    return FormatAnsi("%ld:%02ld", s / 60, s % 60);
}

// Prints the message list as it grows, and the progress bar.
class Console final : public fw::IListBoxPeer, public fw::IProgressPeer {
public:
    Console(const CliOptions& options, bool terminal)
        : m_options(options), m_bar(terminal && options.progressBar) {}

    void OnAddString(int, std::u16string_view text) override {
        const bool address = StartsWith(text, u"Address: ");
        if (address) {
            ++m_blocks;
            m_lastAddress = std::u16string(text);
            if (m_blocks == 1) {
                m_transferStart = Clock::now();
                Print(text);
            } else if (m_options.verbose) {
                Print(text);
            }
            m_lastAddressPrinted = m_blocks == 1 || m_options.verbose;
            DrawBar(false);
            return;
        }
        FlushAddress();
        Print(text);
    }
    void OnDeleteString(int) override {}
    void OnRange(int, int upper) override {
        m_upper = upper;
        m_pos = 0;
    }
    void OnPos(int pos) override {
        m_pos = pos;
        DrawBar(false);
    }

    // Prints the last address line if the list moved on past it unseen.
    void FlushAddress() {
        if (!m_lastAddress.empty() && !m_lastAddressPrinted) {
            ClearBar();
            Print(m_lastAddress);
            m_lastAddressPrinted = true;
        }
    }
    void Print(std::u16string_view line) {
        ClearBar();
        std::fprintf(m_options.out, "%s%s\n", m_options.machine ? "line " : "",
                     ToUtf8(line).c_str());
        std::fflush(m_options.out);
    }
    void PrintBox(std::u16string_view text, bool error) {
        FlushAddress();
        ClearBar();
        // A box's lines become one line of output: "a.\r\nb." -> "a. b."
        std::u16string flat;
        for (char16_t c : text) {
            if (c == u'\r')
                continue;
            flat.push_back(c == u'\n' ? u' ' : c);
        }
        std::fprintf(error ? m_options.err : m_options.out, "%s%s\n", error ? "error: " : "",
                     ToUtf8(flat).c_str());
        std::fflush(error ? m_options.err : m_options.out);
    }
    std::uint64_t Blocks() const { return m_blocks; }
    double TransferSeconds() const {
        return m_blocks == 0
                   ? 0.0
                   : std::chrono::duration<double>(Clock::now() - m_transferStart).count();
    }
    void DrawProgress() { DrawBar(true); }
    const std::u16string& LastAddress() const { return m_lastAddress; }
    void ClearBar() {
        if (m_barShown) {
            std::fprintf(m_options.out, "\r\033[K");
            m_barShown = false;
        }
    }

private:
    void DrawBar(bool force) {
        const auto now = Clock::now();
        if (m_options.machine) {
            if (force || now - m_lastDraw >= std::chrono::milliseconds(100)) {
                m_lastDraw = now;
                std::fprintf(m_options.out, "progress %d %d %llu\n", m_pos, m_upper,
                             static_cast<unsigned long long>(m_blocks));
                std::fflush(m_options.out);
            }
            return;
        }
        if (!m_bar || m_upper <= 0 || m_blocks == 0)
            return;
        if (!force && now - m_lastDraw < std::chrono::milliseconds(100))
            return;
        m_lastDraw = now;
        const double fraction = std::clamp(static_cast<double>(m_pos) / m_upper, 0.0, 1.0);
        const double elapsed = std::chrono::duration<double>(now - m_transferStart).count();
        const double rate = elapsed > 0.2 ? static_cast<double>(m_blocks) / elapsed : 0.0;
        const double bytesPerSecond = elapsed > 0.2 ? m_pos / elapsed : 0.0;
        const std::string left =
            bytesPerSecond > 0 ? FormatDuration((m_upper - m_pos) / bytesPerSecond) : "--:--";
        constexpr int kWidth = 28;
        const int filled = static_cast<int>(fraction * kWidth);
        std::string bar(static_cast<std::size_t>(filled), '#');
        bar.resize(kWidth, '.');
        std::fprintf(m_options.out, "\r\033[K[%s] %5.1f%% %d/%d bytes %6.0f blocks/s %s left",
                     bar.c_str(), fraction * 100.0, m_pos, m_upper, rate, left.c_str());
        std::fflush(m_options.out);
        m_barShown = true;
    }

    const CliOptions& m_options;
    bool m_bar;
    bool m_barShown = false;
    int m_upper = 0;
    int m_pos = 0;
    std::uint64_t m_blocks = 0;
    std::u16string m_lastAddress;
    bool m_lastAddressPrinted = true;
    Clock::time_point m_transferStart{};
    Clock::time_point m_lastDraw{};
};

// --wait: tries the link again every 300 ms until the device is there, the time is up or the
// run is interrupted; says once why it waits, and again only when the reason changes.
void WaitForDevice(ui::CMainFrame& frame, const CliOptions& options, const std::string& port) {
    const auto deadline =
        options.timeout.count() > 0 ? Clock::now() + options.timeout : Clock::time_point::max();
    std::string said;
    while (!frame.IsLinked() && !frame.PlaceholderRefused() && Clock::now() < deadline &&
           !(options.interrupted && options.interrupted())) {
        if (frame.LastOpenFailure() != said) {
            said = frame.LastOpenFailure();
            if (!options.machine)
                std::fprintf(options.out, "Waiting for %s: %s\n", port.c_str(), said.c_str());
            std::fflush(options.out);
        }
        ::usleep(300 * 1000);
        frame.OpenLink();
    }
}

} // namespace

CliResult RunUpdate(const CliOptions& options) {
    fw::CWinApp app;
    app.SetAppName(u"Orvane Update");
    const bool terminal = ::isatty(::fileno(options.out)) != 0;
    Console console(options, terminal);

    CliResult result;
    enum class Outcome {
        Running,
        Complete,
        UnknownId,
        LinkLost,
        FirmwareRefused,
        Failed
    } outcome = Outcome::Running;
    fw::headless::MessageBoxOptions boxOptions;
    boxOptions.onShow = [&](const fw::headless::MessageBoxRecord& box) {
        const bool error = (box.style & fw::MB_ICONERROR) != 0;
        console.PrintBox(box.text, error);
        if (StartsWith(box.text, u"Firmware update complete"))
            outcome = Outcome::Complete;
        else if (StartsWith(box.text, u"Can't find the version of"))
            outcome = Outcome::UnknownId;
        else if (box.text.find(u"not in this firmware package") != std::u16string::npos ||
                 box.text.find(u"carries test images") != std::u16string::npos)
            outcome = Outcome::FirmwareRefused;
        else if (error && outcome == Outcome::Running)
            outcome = Outcome::Failed;
        if (outcome != Outcome::Running && result.reason.empty())
            result.reason = ToUtf8(box.text);
    };
    auto boxes = fw::headless::Install(boxOptions);

    ui::MainFrameServices services;
    const std::u16string portName = options.portName;
    services.storedPortName = [portName] {
        return portName.empty() ? GetPortOfMonitor() : portName;
    };
    services.firmware = options.firmware;
    services.allowPlaceholderOnAnyDevice = options.allowPlaceholder;
    ui::CMainFrame frame(std::move(services));
    if (!options.devicePath.empty())
        frame.SetDevicePath(frame.m_nPort, options.devicePath);
    frame.m_bReopenLostDevice = options.wait;
    ui::CUpdateView view;
    frame.SetWindowTextW(u"OrvaneUpdate");
    frame.SetActiveView(&view);
    view.UpdateData(false);
    view.m_list.SetPeer(&console);
    view.m_progress.SetPeer(&console);
    app.m_pMainWnd = &frame;
    frame.m_onLinkLost = [&](const std::u16string& text) {
        outcome = Outcome::LinkLost;
        result.reason = ToUtf8(text);
    };

    const auto finish = [&](int code) {
        if (options.machine)
            console.DrawProgress();
        result.identifier = ToUtf8(view.m_strIdentifier);
        const auto& used =
            view.m_bSelected && view.m_pFirmwareInUse ? view.m_pFirmwareInUse : frame.Firmware();
        result.firmware = used->Origin();
        if (const auto* entry = used->Find(view.m_strIdentifier)) {
            result.image = entry->mode == firmware::ImageMode::TwoStage
                               ? std::string("PXA271+FPGA")
                               : std::string(1, entry->image);
            result.image += " (" +
                            ToUtf8(view.m_bSelected ? std::u16string_view(view.m_strDisplayName)
                                                    : entry->displayName) +
                            ")";
            for (const std::string& name : firmware::FirmwareSet::ImagesOf(*entry)) {
                if (const auto* image = used->Image(name))
                    result.images.push_back({name, image->length, image->sha256});
            }
        }
        console.FlushAddress();
        console.ClearBar();
        view.m_list.SetPeer(nullptr);
        view.m_progress.SetPeer(nullptr);
        frame.SetActiveView(nullptr);
        result.exitCode = code;
        result.blocks = console.Blocks();
        result.transferSeconds = console.TransferSeconds();
        return result;
    };

    frame.OnCreate();
    const std::string port =
        options.describePort ? options.describePort() : FormatAnsi("COM%d", frame.m_nPort);
    result.port = port;
    // A refusal at start has been printed already, as the window's box would show it.
    const bool refusedAtStart = frame.PlaceholderRefused();
    if (!frame.IsLinked() && options.wait && !refusedAtStart) {
        WaitForDevice(frame, options, port);
        if (!frame.IsLinked() && options.interrupted && options.interrupted()) {
            result.reason = "interrupted";
            std::fprintf(options.err, "error: interrupted\n");
            return finish(kExitInterrupted);
        }
    }
    if (!frame.IsLinked() && frame.PlaceholderRefused()) {
        result.reason = frame.LastOpenFailure();
        if (!refusedAtStart)
            std::fprintf(options.err, "error: %s\n", result.reason.c_str());
        return finish(kExitFirmware);
    }
    if (!frame.IsLinked()) {
        result.reason = "cannot open " + port + ": " + frame.LastOpenFailure();
        std::fprintf(options.err, "error: %s\n", result.reason.c_str());
        return finish(kExitLinkFailed);
    }
    if (!options.machine)
        std::fprintf(options.out, "Linked to %s at 9600 baud. Starting the update.\n",
                     port.c_str());

    const auto start = Clock::now();
    frame.ExecuteCommand(ui::ID_UPDATE);
    const auto deadline =
        options.timeout.count() > 0 ? start + options.timeout : Clock::time_point::max();
    bool interrupted = false;
    while (outcome == Outcome::Running) {
        if (options.interrupted && options.interrupted()) {
            interrupted = true;
            break;
        }
        if (Clock::now() >= deadline)
            break;
        app.RunUntil([&] { return outcome != Outcome::Running; }, std::chrono::milliseconds(200));
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();

    switch (outcome) {
    case Outcome::Complete:
        return finish(kExitComplete);
    case Outcome::UnknownId:
        return finish(kExitUnknownId);
    case Outcome::FirmwareRefused:
        return finish(kExitFirmware);
    case Outcome::LinkLost:
        console.PrintBox(FromUtf8(result.reason), true);
        return finish(kExitLinkFailed);
    case Outcome::Failed:
        return finish(kExitLinkFailed);
    case Outcome::Running:
        break;
    }
    console.FlushAddress();
    console.ClearBar();
    if (interrupted) {
        result.reason = "interrupted";
        std::fprintf(options.err, "error: interrupted\n");
        return finish(kExitInterrupted);
    }
    if (frame.IsWaitingForDevice())
        result.reason = FormatAnsi("timed out after %lld s waiting for %s to come back",
                                   static_cast<long long>(options.timeout.count()), port.c_str());
    else if (console.Blocks() == 0)
        result.reason = FormatAnsi("timed out after %lld s: no answer from the receiver's boot "
                                   "loader (is it switched on, and on %s?)",
                                   static_cast<long long>(options.timeout.count()), port.c_str());
    else
        result.reason = FormatAnsi("timed out after %lld s waiting for the acknowledgement of "
                                   "block %llu (%s)",
                                   static_cast<long long>(options.timeout.count()),
                                   static_cast<unsigned long long>(console.Blocks()),
                                   ToUtf8(console.LastAddress()).c_str());
    if (frame.m_bAwaitingCompletion)
        result.reason = FormatAnsi("timed out after %lld s waiting for the receiver's completion "
                                   "reply after the last block",
                                   static_cast<long long>(options.timeout.count()));
    std::fprintf(options.err, "error: %s\n", result.reason.c_str());
    return finish(kExitTimeout);
}

std::string ResultJson(const CliResult& r) {
    const auto quote = [](const std::string& s) {
        std::string q = "\"";
        for (const unsigned char c : s) {
            if (c == '"' || c == '\\')
                q += {'\\', static_cast<char>(c)};
            else if (c < 0x20)
                q += FormatAnsi("\\u%04x", c);
            else
                q.push_back(static_cast<char>(c));
        }
        return q + "\"";
    };
    const char* outcome = r.exitCode == kExitComplete     ? "complete"
                          : r.exitCode == kExitLinkFailed ? "link failed"
                          : r.exitCode == kExitUnknownId  ? "unknown identifier"
                          : r.exitCode == kExitTimeout    ? "timeout"
                          : r.exitCode == kExitFirmware   ? "firmware refused"
                                                          : "interrupted";
    std::string images = "[";
    for (std::size_t i = 0; i < r.images.size(); ++i)
        images += (i ? ", " : "") + std::string("{\"name\": ") + quote(r.images[i].name) +
                  FormatAnsi(", \"length\": %u, \"sha256\": ", r.images[i].length) +
                  quote(r.images[i].sha256) + "}";
    images += "]";
    // Built in pieces: the reason can be long, and FormatAnsi's buffer is bounded.
    return FormatAnsi("{\"port\": %s, \"identifier\": %s, \"image\": %s, ", quote(r.port).c_str(),
                      quote(r.identifier).c_str(), quote(r.image).c_str()) +
           "\"firmware\": " + quote(r.firmware) + ", \"images\": " + images +
           FormatAnsi(", \"blocks\": %llu, \"seconds\": %.3f, \"transferSeconds\": %.3f, "
                      "\"result\": \"%s\", \"exitCode\": %d, \"reason\": ",
                      static_cast<unsigned long long>(r.blocks), r.seconds, r.transferSeconds,
                      outcome, r.exitCode) +
           quote(r.reason) + "}";
}

} // namespace orvane::app
