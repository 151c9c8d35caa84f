#include "cli/runner.h"

#include "cli/port_trace.h"
#include "cli/ports.h"

#include "firmware/catalogue.h"
#include "firmware/firmware_set.h"
#include "framework/app.h"
#include "framework/headless/headless.h"
#include "platform/console.h"
#include "platform/host.h"
#include "platform/regkey.h"
#include "platform/stop_request.h"
#include "platform/text.h"
#include "platform/version.h"
#include "ui/main_frame.h"
#include "ui/resource_ids.h"
#include "ui/update_view.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <thread>

namespace orvane::app {

namespace {

using Clock = std::chrono::steady_clock;

std::string FormatDuration(double seconds) {
    // Rounded to whole seconds; a negative or undefined duration (NaN) shows as 0:00.
    const long s = seconds > 0 ? std::lround(seconds) : 0L;
    return FormatAnsi("%ld:%02ld", s / 60, s % 60);
}

// Prints the message list as it grows, and the progress bar. Every text goes out through
// TerminalText: list lines and boxes carry the receiver's identifier. The transfer's address
// line is told by its place in the list, which the view names before adding it.
class Console final : public fw::IListBoxPeer,
                      public fw::IProgressPeer,
                      public ui::IUpdateObserver {
public:
    Console(const CliOptions& options, bool terminal, const ui::CUpdateView& view)
        : m_options(options), m_bar(terminal && options.progressBar), m_view(view) {}

    // Once the outcome is settled (or a stop asked), later lines are not printed: they can
    // only be surplus replies handled in the same notification, counted by the view.
    bool quiet = false;
    // Called once, at the first line that comes after a stop was asked.
    std::function<void()> onStopSeen;

    void OnAddString(int index, std::u16string_view text) override {
        if (quiet)
            return;
        if (StopRequested()) {
            quiet = true;
            if (onStopSeen)
                onStopSeen();
            return;
        }
        if (index >= 0 && index == m_view.AddressLineIndex()) {
            const bool first = m_view.Transfer().blocksSent == 1;
            m_lastAddress = std::u16string(text);
            if (first || m_options.verbose)
                Print(text);
            m_lastAddressPrinted = first || m_options.verbose;
            return;
        }
        FlushAddress();
        Print(text);
    }
    void OnBlockSent(const ui::BlockEvent& block) override {
        if (block.index == 1)
            m_transferStart = Clock::now();
        m_blocks = block.index;
        DrawBar(false);
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
        if (m_options.quiet && !m_options.machine)
            return;
        ClearBar();
        std::fprintf(m_options.out, "%s%s\n", m_options.machine ? "line " : "",
                     TerminalText(line).c_str());
        std::fflush(m_options.out);
    }
    void PrintBox(std::u16string_view text, bool error) {
        if (!error && m_options.quiet)
            return;
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
                     TerminalText(flat).c_str());
        std::fflush(error ? m_options.err : m_options.out);
    }
    std::uint64_t Blocks() const { return m_blocks; }
    double TransferSeconds() const {
        return m_blocks == 0
                   ? 0.0
                   : std::chrono::duration<double>(Clock::now() - m_transferStart).count();
    }
    void DrawProgress() { DrawBar(true); }
    // While the receiver has not answered: how long, and how many handshakes went out, so an
    // operator sees the updater is alive and what it waits for (a terminal only).
    void DrawWaiting(double seconds, std::uint64_t handshakes) {
        if (!m_bar || quiet || m_blocks != 0)
            return;
        std::fprintf(m_options.out,
                     "\r\033[KWaiting for the receiver's boot loader: %s, %llu handshake%s sent",
                     FormatDuration(seconds).c_str(), static_cast<unsigned long long>(handshakes),
                     handshakes == 1 ? "" : "s");
        std::fflush(m_options.out);
        m_barShown = true;
    }
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
    const ui::CUpdateView& m_view;
    bool m_barShown = false;
    int m_upper = 0;
    int m_pos = 0;
    std::uint64_t m_blocks = 0;
    std::u16string m_lastAddress;
    bool m_lastAddressPrinted = true;
    Clock::time_point m_transferStart{};
    Clock::time_point m_lastDraw{};
};

// The run's own listener of the update: what moves it on, and how it ended.
class UpdateListener final : public ui::IUpdateObserver {
public:
    std::function<void()> answered, blockSent, awaiting;
    std::function<void(const ui::UpdateEnd&)> ended;

    void OnReceiverAnswered(const ui::ReceiverAnswer&) override { Call(answered); }
    void OnBlockSent(const ui::BlockEvent&) override { Call(blockSent); }
    void OnAwaitingCompletion(const ui::TransferState&) override { Call(awaiting); }
    void OnUpdateEnded(const ui::UpdateEnd& end) override {
        if (ended)
            ended(end);
    }

private:
    static void Call(const std::function<void()>& f) {
        if (f)
            f();
    }
};

// "block 12 (Address: 580)": where a transfer stood, from the typed state.
std::string BlockAt(std::uint64_t index, std::uint32_t address) {
    return FormatAnsi("block %llu (Address: %X)", static_cast<unsigned long long>(index), address);
}

// --wait: tries the link again every 300 ms until the device is there, the time is up or the
// run is interrupted; says once why it waits, and again only when the reason changes.
void WaitForDevice(ui::CMainFrame& frame, const CliOptions& options, const std::string& port) {
    const auto deadline =
        options.timeout.count() > 0 ? Clock::now() + options.timeout : Clock::time_point::max();
    std::string said;
    while (!frame.IsLinked() && !frame.PlaceholderRefused() && Clock::now() < deadline &&
           !StopRequested()) {
        if (frame.LastOpenFailure() != said) {
            said = frame.LastOpenFailure();
            if (options.Chatty())
                std::fprintf(options.out, "Waiting for %s: %s\n", port.c_str(), said.c_str());
            std::fflush(options.out);
        }
        // 300 ms between tries, in slices so that a stop is not kept waiting.
        for (int slice = 0; slice < 10 && !StopRequested(); ++slice)
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        frame.OpenLink();
    }
}

// One run of the update: the window's objects on the headless back end, the listeners that
// print and watch the run, and how it ended.
class UpdateRun {
public:
    UpdateRun(fw::CWinApp& app, const CliOptions& options);

    // Links, runs the Update command and dispatches until the update ends, a stop is asked or
    // the time is up.
    CliResult Run();

private:
    std::unique_ptr<fw::headless::MessageBoxRecorder> InstallBoxes();
    static ui::MainFrameServices Services(const CliOptions& options,
                                          const std::shared_ptr<LineCounts>& counts);
    void Listen();
    bool Overdue();
    void Reply();
    std::optional<CliResult> Link();
    void Dispatch();
    CliResult Interrupted();
    std::string WhereItStood() const;
    std::string TimeoutReason() const;
    void DescribeImage();
    CliResult Finish(int code);

    const CliOptions& m_options;
    fw::CWinApp& m_app;
    ui::CUpdateView m_view;
    Console m_console;
    CliResult m_result;
    // The first typed outcome the updater raised; later ones (the end repeated by a surplus
    // acknowledgement) are not news.
    std::optional<ui::UpdateEnd> m_ended;
    std::unique_ptr<fw::headless::MessageBoxRecorder> m_boxes;
    std::shared_ptr<LineCounts> m_counts;
    ui::CMainFrame m_frame;
    // Progress is a reply that moves the update on (the boot loader's answer, a block
    // acknowledged) while every frame since the previous one left whole: acknowledgements
    // for blocks that never went out (a line that stopped draining) are no progress.
    Clock::time_point m_lastProgress;
    std::uint64_t m_failuresSeen = 0;
    // The time-out, once passed, is a stop of our own: every wait gives up at once, as for a
    // signal, also deep inside a notification that carries hundreds of acknowledgements.
    bool m_timedOut = false;
    // After the two-stage receiver's last block: when its completion reply is overdue.
    std::optional<Clock::time_point> m_completionDue;
    // Acknowledgements still handled after a stop (the rest of a notification) are no
    // surplus: only those before it count, or, after completion, every one.
    std::optional<std::uint64_t> m_surplusAtStop;
    UpdateListener m_listener;
    std::string m_port;
    Clock::time_point m_start;
};

UpdateRun::UpdateRun(fw::CWinApp& app, const CliOptions& options)
    : m_options(options), m_app(app), m_console(options, IsTerminal(options.out), m_view),
      m_boxes(InstallBoxes()), m_counts(std::make_shared<LineCounts>()),
      m_frame(Services(options, m_counts)) {
    if (!options.devicePath.empty())
        m_frame.SetDevicePath(m_frame.m_nPort, options.devicePath);
    m_frame.m_bReopenLostDevice = options.wait;
    m_frame.m_stallLimit = options.stallTimeout;
    m_frame.SetWindowTextW(u"OrvaneUpdate");
    m_frame.SetActiveView(&m_view);
    m_view.UpdateData(false);
    m_app.m_pMainWnd = &m_frame;
    m_lastProgress = Clock::now();
    Listen();
}

std::unique_ptr<fw::headless::MessageBoxRecorder> UpdateRun::InstallBoxes() {
    fw::headless::MessageBoxOptions boxOptions;
    boxOptions.onShow = [this](const fw::headless::MessageBoxRecord& box) {
        // A box after the outcome or after a stop was asked is not news; a question is the
        // window's to ask (answered here the cautious way), and what it is about comes with
        // the outcome.
        if (m_ended || StopRequested() || (box.style & fw::MB_YESNO) != 0)
            return;
        m_console.PrintBox(box.text, (box.style & fw::MB_ICONERROR) != 0);
    };
    return fw::headless::Install(boxOptions);
}

ui::MainFrameServices UpdateRun::Services(const CliOptions& options,
                                          const std::shared_ptr<LineCounts>& counts) {
    ui::MainFrameServices services;
    const std::u16string portName = options.portName;
    services.storedPortName = [portName] {
        return portName.empty() ? GetPortOfMonitor() : portName;
    };
    services.firmware = options.firmware;
    services.allowPlaceholderOnAnyDevice = options.allowPlaceholder;
    services.openPort = ObservingOpener(ui::SerialPortOpener(), options.trace, counts);
    return services;
}

// Whether the run is past its time: once it is, the run stops as for a signal of its own.
bool UpdateRun::Overdue() {
    const auto now = Clock::now();
    if (!m_timedOut && !StopRequested() &&
        ((m_options.timeout.count() > 0 && now - m_lastProgress >= m_options.timeout) ||
         (m_completionDue && now >= *m_completionDue))) {
        m_timedOut = true;
        RequestStop(kOwnStop);
    }
    return m_timedOut;
}

void UpdateRun::Reply() {
    const std::uint64_t failures = m_frame.Port() ? m_frame.Port()->WriteFailures() : 0;
    if (failures == m_failuresSeen)
        m_lastProgress = Clock::now();
    m_failuresSeen = failures;
    Overdue();
}

// What moves the run on, and how it ended, from the update's own events.
void UpdateRun::Listen() {
    m_console.onStopSeen = [this] { m_surplusAtStop = m_view.m_nSurplusAcks; };
    m_listener.answered = [this] { Reply(); };
    m_listener.blockSent = [this] { Reply(); };
    m_listener.awaiting = [this] {
        Reply();
        if (m_options.completionTimeout.count() > 0)
            m_completionDue = Clock::now() + m_options.completionTimeout;
        if (m_options.Chatty()) {
            m_console.ClearBar();
            std::fprintf(m_options.out,
                         "The receiver is writing its firmware now, which may take "
                         "minutes: keep it switched on until it reports completion.\n");
            std::fflush(m_options.out);
        }
    };
    m_listener.ended = [this](const ui::UpdateEnd& end) {
        // After a stop (a signal, the time-out) every wait gives up at once: a frame refused
        // then is the stop's doing, not the line's.
        if (m_ended || StopRequested())
            return;
        m_ended = end;
        m_console.quiet = true;
        // The record carries the text as it is; only what goes to a terminal is escaped.
        if (m_result.reason.empty())
            m_result.reason = ToUtf8(end.message);
    };
    m_frame.Events().Add(&m_listener);
    m_frame.Events().Add(&m_console);
}

// The receiver's identifier, the firmware and the image it gets, with every image's SHA-256.
void UpdateRun::DescribeImage() {
    m_result.identifier = ToUtf8(m_view.m_strIdentifier);
    const auto& used = m_view.m_bSelected && m_view.m_pFirmwareInUse ? m_view.m_pFirmwareInUse
                                                                     : m_frame.Firmware();
    m_result.firmware = used->Origin();
    if (const auto* entry = used->Find(m_view.m_strIdentifier)) {
        m_result.image = entry->mode == firmware::ImageMode::TwoStage
                             ? std::string("PXA271+FPGA")
                             : std::string(1, entry->image);
        m_result.image += " (" +
                          ToUtf8(m_view.m_bSelected ? std::u16string_view(m_view.m_strDisplayName)
                                                    : entry->displayName) +
                          ")";
        for (const std::string& name : firmware::FirmwareSet::ImagesOf(*entry)) {
            if (const auto* image = used->Image(name))
                m_result.images.push_back({name, image->length, image->sha256});
        }
    }
}

// Fills the result in and lets go of the view: the run's end, whatever it was.
CliResult UpdateRun::Finish(int code) {
    m_console.quiet = true;
    if (m_options.machine)
        m_console.DrawProgress();
    DescribeImage();
    m_console.FlushAddress();
    m_console.ClearBar();
    m_view.m_list.SetPeer(nullptr);
    m_view.m_progress.SetPeer(nullptr);
    m_frame.SetActiveView(nullptr);
    m_result.exitCode = code;
    m_result.deviceLost = m_ended && m_ended->outcome == ui::UpdateOutcome::DeviceLost;
    m_result.blocks = m_view.Transfer().blocksSent;
    m_result.blocksAcknowledged = m_view.Transfer().blocksAcknowledged;
    m_result.surplusAcks = code == kExitComplete ? m_view.m_nSurplusAcks
                                                 : m_surplusAtStop.value_or(m_view.m_nSurplusAcks);
    m_result.transferSeconds = m_console.TransferSeconds();
    if (m_result.surplusAcks > 0 && m_options.Chatty())
        std::fprintf(m_options.out,
                     "Note: %llu acknowledgement%s arrived after the last block; ignored.\n",
                     static_cast<unsigned long long>(m_result.surplusAcks),
                     m_result.surplusAcks == 1 ? "" : "s");
    return m_result;
}

// The device linked (waited for with --wait), or the result of a run that never linked.
std::optional<CliResult> UpdateRun::Link() {
    // A refusal at start has been printed already, as the window's box would show it.
    const bool refusedAtStart = m_frame.PlaceholderRefused();
    if (!m_frame.IsLinked() && m_options.wait && !refusedAtStart) {
        WaitForDevice(m_frame, m_options, m_port);
        if (!m_frame.IsLinked() && StopRequested()) {
            m_result.signal = StopSignal();
            m_result.reason = FormatAnsi("stopped by %s while waiting for %s; nothing was sent",
                                         SignalName(m_result.signal), m_port.c_str());
            std::fprintf(m_options.err, "error: %s\n", m_result.reason.c_str());
            return Finish(StopExitCode(m_result.signal));
        }
    }
    if (!m_frame.IsLinked() && m_frame.PlaceholderRefused()) {
        m_result.reason = m_frame.LastOpenFailure();
        if (!refusedAtStart)
            std::fprintf(m_options.err, "error: %s\n", m_result.reason.c_str());
        return Finish(kExitFirmware);
    }
    if (!m_frame.IsLinked()) {
        m_result.reason = "cannot open " + m_port + ": " + m_frame.LastOpenFailure();
        std::fprintf(m_options.err, "error: %s\n", m_result.reason.c_str());
        return Finish(kExitLinkFailed);
    }
    return std::nullopt;
}

// Runs the Update command and dispatches until it ends, a stop is asked or the time is up.
void UpdateRun::Dispatch() {
    m_start = Clock::now();
    m_lastProgress = m_start;
    m_frame.ExecuteCommand(ui::ID_UPDATE);
    // Looked at every 100 ms at the latest, however busy the line: a stop or the time-out
    // always wins.
    constexpr auto kLookEvery = std::chrono::milliseconds(100);
    while (!m_ended && !StopRequested() && !Overdue()) {
        m_app.RunUntil([&] { return m_ended.has_value() || StopRequested(); }, kLookEvery);
        if (m_view.m_strIdentifier.empty())
            m_console.DrawWaiting(std::chrono::duration<double>(Clock::now() - m_start).count(),
                                  m_counts->handshakes);
    }
    m_result.seconds = std::chrono::duration<double>(Clock::now() - m_start).count();
}

CliResult UpdateRun::Run() {
    m_frame.OnCreate();
    // The list is printed from here on: the reason for a failed open is printed below.
    m_view.m_list.SetPeer(&m_console);
    m_view.m_progress.SetPeer(&m_console);
    m_port =
        m_options.describePort ? m_options.describePort() : FormatAnsi("COM%d", m_frame.m_nPort);
    m_result.port = m_port;
    if (auto unlinked = Link())
        return *unlinked;
    if (const ui::IPortWorker* port = m_frame.Port(); port && !port->IsPseudoTerminal()) {
        m_result.portIdentity = AdapterIdentity(m_frame.m_nPort, port->DevicePath());
        // A COM name says which device it meant only now that it is open.
        if (!m_options.describePort && !port->DevicePath().empty()) {
            m_port = FormatAnsi("COM%d (%s)", m_frame.m_nPort, port->DevicePath().c_str());
            m_result.port = m_port;
        }
    }
    if (m_options.Chatty())
        std::fprintf(m_options.out, "Linked to %s at 9600 baud. Starting the update.\n",
                     m_port.c_str());

    Dispatch();
    if (m_ended) {
        // What the window tells in its list (a loss) or in a question (a stall): here it is the
        // run's error.
        if (m_ended->outcome == ui::UpdateOutcome::DeviceLost ||
            m_ended->outcome == ui::UpdateOutcome::Stalled)
            m_console.PrintBox(m_ended->message, true);
        return Finish(ui::ExitCodeOf(*m_ended));
    }
    return Interrupted();
}

// Where the transfer stood when a signal stopped it.
std::string UpdateRun::WhereItStood() const {
    const ui::TransferState& state = m_view.Transfer();
    if (m_frame.m_bAwaitingCompletion)
        return "after the last block, while waiting for the receiver's completion reply";
    if (state.blocksSent == 0)
        return "before the transfer began (no answer from the boot loader yet)";
    if (state.blocksAcknowledged == 0)
        return FormatAnsi("during the transfer: no block acknowledged yet (block 1, Address: %X, "
                          "was sent)",
                          state.lastSentAddress);
    return "during the transfer: the last block acknowledged was " +
           BlockAt(state.blocksAcknowledged, state.lastAcknowledgedAddress);
}

// What the run waited for when its time was up.
std::string UpdateRun::TimeoutReason() const {
    const ui::TransferState& state = m_view.Transfer();
    const std::uint64_t sent = state.blocksSent;
    const auto limit = static_cast<long long>(m_options.timeout.count());
    if (m_completionDue && Clock::now() >= *m_completionDue)
        return FormatAnsi("no completion reply %lld s after the last block (--completion-timeout); "
                          "the receiver may still be writing its firmware: leave it switched on",
                          static_cast<long long>(m_options.completionTimeout.count()));
    if (m_frame.IsWaitingForDevice())
        return FormatAnsi("timed out after %lld s waiting for %s to come back", limit,
                          m_port.c_str());
    if (m_frame.m_bAwaitingCompletion)
        return FormatAnsi("timed out after %lld s without progress, waiting for the "
                          "receiver's completion reply after the last block",
                          limit);
    if (sent == 0)
        return FormatAnsi("timed out after %lld s without progress: no answer from the "
                          "receiver's boot loader (is it switched on, and on %s?)",
                          limit, m_port.c_str());
    return FormatAnsi("timed out after %lld s without progress, waiting for the "
                      "acknowledgement of %s; %s; the receiver may be left without firmware: "
                      "switch it off and on and update it again",
                      limit, BlockAt(sent, state.lastSentAddress).c_str(),
                      state.blocksAcknowledged == 0
                          ? "no block was acknowledged"
                          : ("the last block acknowledged was " +
                             BlockAt(state.blocksAcknowledged, state.lastAcknowledgedAddress))
                                .c_str());
}

// The run ended by a signal or by the time-out: the report of where it stood.
CliResult UpdateRun::Interrupted() {
    m_console.quiet = true;
    m_console.FlushAddress();
    m_console.ClearBar();
    const std::uint64_t sent = m_view.Transfer().blocksSent;
    if (!m_timedOut) {
        m_result.signal = StopSignal();
        m_result.reason =
            FormatAnsi("stopped by %s %s", SignalName(m_result.signal), WhereItStood().c_str());
        if (sent > 0 && !m_frame.m_bAwaitingCompletion)
            m_result.reason += "; the receiver may be left without firmware: switch it off and "
                               "on and update it again";
        std::fprintf(m_options.err, "error: %s\n", m_result.reason.c_str());
        std::fflush(m_options.err);
        return Finish(StopExitCode(m_result.signal));
    }
    m_result.reason = TimeoutReason();
    if (m_frame.Port() && m_frame.Port()->WriteFailures() > 0)
        m_result.reason +=
            FormatAnsi("; %llu frame%s did not leave whole (does the line drain?)",
                       static_cast<unsigned long long>(m_frame.Port()->WriteFailures()),
                       m_frame.Port()->WriteFailures() == 1 ? "" : "s");
    std::fprintf(m_options.err, "error: %s\n", m_result.reason.c_str());
    return Finish(kExitTimeout);
}

} // namespace

CliResult RunUpdate(const CliOptions& options) {
    // A time-out of an earlier run in this process was a stop of its own, not of this one; a
    // signal's request stays and ends this run at once.
    if (StopSignal() == kOwnStop)
        ClearStopRequest();
    fw::CWinApp app;
    app.SetAppName(u"Orvane Update");
    UpdateRun run(app, options);
    const auto started = std::chrono::system_clock::now();
    CliResult result = run.Run();
    result.startedAt = UtcTimestamp(started);
    result.endedAt = UtcTimestamp(std::chrono::system_clock::now());
    result.host = HostName();
    result.operatorName = options.operatorName;
    if (options.firmware)
        result.signedBy = options.firmware->SignedBy();
    if (options.trace)
        result.traceError = options.trace->Failure();
    return result;
}

namespace {
nlohmann::ordered_json ResultObject(const CliResult& r) {
    const char* outcome = r.exitCode == kExitComplete         ? "complete"
                          : r.exitCode == kExitLinkFailed     ? "link failed"
                          : r.exitCode == kExitUnknownId      ? "unknown identifier"
                          : r.exitCode == kExitTimeout        ? "timeout"
                          : r.exitCode == kExitFirmware       ? "firmware refused"
                          : r.exitCode == kExitStalled        ? "transfer stopped"
                          : r.exitCode == kExitLostInTransfer ? "device lost during the transfer"
                          : r.signal != 0                     ? "interrupted"
                                                              : "failed";
    // Keys in a fixed order, so that people comparing two results read them side by side.
    nlohmann::ordered_json j;
    j["version"] = kVersion;
    j["startedAt"] = r.startedAt;
    j["endedAt"] = r.endedAt;
    j["host"] = r.host;
    j["operator"] = r.operatorName;
    j["port"] = r.port;
    if (r.portIdentity) {
        nlohmann::ordered_json id;
        if (!r.portIdentity->byId.empty())
            id["byId"] = r.portIdentity->byId;
        if (!r.portIdentity->vendorProduct.empty())
            id["usb"] = r.portIdentity->vendorProduct;
        if (!r.portIdentity->serial.empty())
            id["serial"] = r.portIdentity->serial;
        j["portIdentity"] = id;
    }
    j["identifier"] = r.identifier;
    j["image"] = r.image;
    j["firmware"] = r.firmware;
    if (!r.signedBy.empty())
        j["signedBy"] = r.signedBy;
    j["images"] = nlohmann::ordered_json::array();
    for (const CliImage& image : r.images)
        j["images"].push_back(
            {{"name", image.name}, {"length", image.length}, {"sha256", image.sha256}});
    j["blocks"] = r.blocks;
    j["blocksAcknowledged"] = r.blocksAcknowledged;
    j["surplusAcknowledgements"] = r.surplusAcks;
    // Milliseconds are all a person or a script needs of the durations.
    j["seconds"] = std::round(r.seconds * 1000) / 1000;
    j["transferSeconds"] = std::round(r.transferSeconds * 1000) / 1000;
    j["result"] = outcome;
    j["exitCode"] = r.exitCode;
    if (r.signal != 0)
        j["signal"] = SignalName(r.signal);
    j["reason"] = r.reason;
    if (!r.traceError.empty())
        j["traceError"] = r.traceError;
    if (!r.tries.empty()) {
        j["tries"] = nlohmann::ordered_json::array();
        for (const CliResult& t : r.tries)
            j["tries"].push_back(ResultObject(t));
    }
    return j;
}
} // namespace

std::string ResultJson(const CliResult& r) {
    // The texts come from the receiver: a byte that is no UTF-8 becomes U+FFFD rather than
    // losing the whole record.
    return ResultObject(r).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool WorthAnotherTry(const CliResult& r) {
    // What a power cycle may mend: a receiver that went silent or restarted, a device lost with
    // it, an identifier that noise garbled. Not a stop, a refused firmware or a port that never
    // opened.
    return r.signal == 0 && (r.exitCode == kExitStalled || r.exitCode == kExitLostInTransfer ||
                             r.exitCode == kExitUnknownId || r.deviceLost);
}

CliResult RunUpdateWithRetries(const CliOptions& options) {
    std::vector<CliResult> tries;
    CliOptions each = options;
    const int total = 1 + std::max(0, options.retries);
    for (int n = 1;; ++n) {
        tries.push_back(RunUpdate(each));
        const bool signalled = StopRequested() && StopSignal() != kOwnStop;
        if (n == total || signalled || !WorthAnotherTry(tries.back()))
            break;
        const std::string note =
            FormatAnsi("Switch the receiver off and on again; try %d of %d.", n + 1, total);
        if (options.machine || !options.quiet)
            std::fprintf(options.out, "%s%s\n", options.machine ? "line " : "", note.c_str());
        std::fflush(options.out);
        // Many receivers take their USB port with them when switched off: the same device is
        // waited for, as --wait does.
        each.wait = true;
    }
    CliResult last = tries.back();
    if (options.retries > 0)
        last.tries = std::move(tries);
    return last;
}

RepeatOutcome RunEveryReceiver(const CliOptions& options,
                               const std::function<void(const CliResult&, int n)>& record) {
    RepeatOutcome outcome;
    CliOptions each = options;
    for (int n = 1;; ++n) {
        CliResult r = RunUpdateWithRetries(each);
        const bool betweenReceivers = r.signal != 0 && r.blocks == 0;
        if (betweenReceivers)
            break; // stopped while waiting for the next receiver: not a receiver of its own
        if (record)
            record(r, n);
        outcome.receivers.push_back(r);
        if (r.signal != 0)
            break;
        const std::string note =
            r.exitCode == kExitComplete
                ? FormatAnsi("Receiver %d done; connect the next receiver and switch it on.", n)
                : FormatAnsi("Receiver %d failed (exit code %d); connect the next receiver and "
                             "switch it on.",
                             n, r.exitCode);
        if (options.machine || !options.quiet)
            std::fprintf(options.out, "%s%s\n", options.machine ? "line " : "", note.c_str());
        std::fflush(options.out);
        // The next receiver's adapter may not be plugged in yet.
        each.wait = true;
    }
    std::vector<ReceiverTally> tally;
    int worst = kExitComplete;
    for (const CliResult& r : outcome.receivers) {
        tally.push_back({r.identifier, r.exitCode});
        worst = std::max(worst, r.exitCode);
    }
    outcome.summary = LineSummary(tally);
    const bool midTransfer = !outcome.receivers.empty() && outcome.receivers.back().signal != 0;
    outcome.exitCode = midTransfer ? outcome.receivers.back().exitCode : worst;
    return outcome;
}

std::string LineSummary(const std::vector<ReceiverTally>& receivers) {
    std::map<std::string, std::pair<int, int>> byId; // done, failed
    int done = 0;
    for (const ReceiverTally& r : receivers) {
        auto& [d, f] = byId[r.identifier.empty() ? std::string("no answer") : r.identifier];
        if (r.exitCode == kExitComplete) {
            ++done;
            ++d;
        } else {
            ++f;
        }
    }
    const auto count = receivers.size();
    std::string ids;
    for (const auto& [id, tally] : byId) {
        ids += (ids.empty() ? "" : "; ") + id;
        if (tally.first > 0)
            ids += FormatAnsi(" %d done", tally.first);
        if (tally.second > 0)
            ids += FormatAnsi("%s %d failed", tally.first > 0 ? "," : "", tally.second);
    }
    std::string summary =
        FormatAnsi("%zu receiver%s: %d done, %zu failed", count, count == 1 ? "" : "s", done,
                   count - static_cast<std::size_t>(done));
    if (!ids.empty())
        summary += " (" + ids + ")";
    return summary;
}

bool CanWriteFile(const std::string& path, std::string* why) {
    if (path.empty()) {
        if (why)
            *why = "no file name";
        return false;
    }
    std::error_code ec;
    const bool existed = std::filesystem::exists(PathFromUtf8(path), ec);
    std::FILE* file = OpenFile(path, "ab");
    if (!file) {
        if (why)
            *why = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    if (!existed)
        std::filesystem::remove(PathFromUtf8(path), ec);
    return true;
}

int WriteAndClose(std::FILE* file, const std::string& text) {
    errno = 0;
    int error = 0;
    if (std::fwrite(text.data(), 1, text.size(), file) != text.size())
        error = errno != 0 ? errno : EIO;
    // Some C libraries (Wine's among them) report a failed last write only at the flush, or
    // only in the stream's error flag, and let fclose succeed: all three are asked.
    if (error == 0 && (std::fflush(file) != 0 || std::ferror(file) != 0))
        error = errno != 0 ? errno : EIO;
    if (std::fclose(file) != 0 && error == 0)
        error = errno != 0 ? errno : EIO;
    return error;
}

bool WriteTextFile(const std::string& path, const std::string& text, std::string* why) {
    std::FILE* file = OpenFile(path, "wb");
    if (!file) {
        if (why)
            *why = std::strerror(errno);
        return false;
    }
    const int error = WriteAndClose(file, text);
    if (error != 0 && why)
        *why = std::strerror(error);
    return error == 0;
}

std::string TerminalText(std::u16string_view text) {
    return ToUtf8(EscapeControls(text));
}

} // namespace orvane::app
