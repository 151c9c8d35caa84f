// The updater in a browser page: the desktop updater's main window and update view on the
// headless back end, with the page in the place of the serial worker and of the clock.
//
// Web Serial is asynchronous and a page has one thread, so nothing here waits. The page feeds
// the bytes that arrived (Feed), tells the time (SetNow; the handshake timer and the stall timer
// run on it), and takes what the update wants on the line (TakeOutput): frames, each with the
// delay the desktop updater sleeps before it (100 ms before a handshake, 20 ms before the first
// block), and speed changes, which the page makes by draining, closing and reopening the port.
// What happened comes back as typed events in JSON (TakeEvents): the page shows the list lines
// and boxes as texts and decides everything from the typed events, never from a text.
//
// Thread contract: the page's one thread.
#pragma once

#include "firmware/package.h"
#include "framework/app.h"
#include "framework/controls.h"
#include "framework/headless/headless.h"
#include "ui/main_frame.h"
#include "ui/update_events.h"
#include "ui/update_view.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace orvane::web {

// The page's clock: it moves when the page says what time it is, and when the updater sleeps
// before a frame (as the desktop updater's thread would). The sleeps not yet handed on with a
// frame are kept, so that the page waits them before writing it.
class PageClock final : public Clock {
public:
    time_point Now() const override { return m_now; }
    void Sleep(std::chrono::milliseconds ms) override;
    // The page's time (milliseconds of its monotonic clock); never moves the clock back.
    void SetNow(double ms);
    // The delay to wait before the next frame, and none after it.
    std::uint32_t TakeDelay();

private:
    time_point m_now{std::chrono::hours(1)};
    double m_pageStartMs = -1;
    std::uint32_t m_delayMs = 0;
};

// What the update wants on the line, in order.
struct LineOutput {
    enum class Kind { Frame, Speed };
    Kind kind = Kind::Frame;
    std::vector<std::uint8_t> bytes; // a frame
    std::uint32_t delayMs = 0;       // wait this long, from when it was taken, before writing it
    std::uint32_t baud = 0;          // a speed change: drain, close, reopen at this speed
};

// The line as the page runs it, shared by the port object the frame owns while linked.
struct PageLine {
    std::deque<std::uint8_t> received;
    std::vector<LineOutput> output;
    std::uint32_t baud = 9600;
    bool lost = false;
    bool simulated = false; // the page's port says it leads to the simulated receiver
    std::string label;      // "USB 0403:6001" and the like, for reports
};

class WebSession final : public ui::IUpdateObserver,
                         public fw::IListBoxPeer,
                         public fw::IProgressPeer {
public:
    WebSession();
    ~WebSession() override;
    WebSession(const WebSession&) = delete;
    WebSession& operator=(const WebSession&) = delete;

    // Time, and whatever it makes due. Returns the milliseconds until the next timer, or -1.
    double SetNow(double ms);
    // The page has opened its port at 9600 baud: the frame links to it.
    bool Link(bool simulated, const std::string& label);
    // Break connection: the page closes its port afterwards.
    void Unlink();
    // The port went away (unplugged, or a reopen failed).
    void PortLost();
    // The Update command. `confirmed`: the operator already said Yes to the question it asks
    // (a transfer is running), or to "Try again?" after a stall.
    void Update(bool confirmed);
    void Feed(const std::uint8_t* bytes, std::size_t count);
    void SetStallLimit(std::uint32_t ms);

    std::vector<LineOutput> TakeOutput();
    std::string TakeEvents();
    // The last run as the command-line updater's result record.
    std::string ReportJson() const;
    bool IsLinked() const { return m_frame.IsLinked(); }

    // Firmware packages: the trusted keys built into the page, then the files of a package
    // folder, checked completely by the same code as the programs'. Empty, or why not.
    std::string AddTrustedKey(const std::string& text, const std::string& label);
    void ClearPackageFiles() { m_files.clear(); }
    void AddPackageFile(const std::string& name, std::vector<std::uint8_t> bytes);
    // The package's description as JSON: {"ok":true,...} or {"ok":false,"error":...}.
    std::string LoadPackage(const std::string& folder);

    // IUpdateObserver
    void OnHandshakeStarted() override;
    void OnReceiverAnswered(const ui::ReceiverAnswer& answer) override;
    void OnBlockSent(const ui::BlockEvent& block) override;
    void OnBlockAcknowledged(const ui::BlockEvent& block) override;
    void OnAwaitingCompletion(const ui::TransferState& state) override;
    void OnUpdateEnded(const ui::UpdateEnd& end) override;
    // IListBoxPeer
    void OnAddString(int index, std::u16string_view text) override;
    void OnDeleteString(int index) override;
    // IProgressPeer
    void OnRange(int lower, int upper) override;
    void OnPos(int pos) override;
    void OnMarquee(bool on) override;

private:
    void Pump();
    void Emit(nlohmann::ordered_json event);
    double NowMs() const;
    ui::MainFrameServices Services();

    PageClock m_clock;
    fw::CWinApp m_app;
    std::shared_ptr<PageLine> m_line;
    std::unique_ptr<fw::headless::MessageBoxRecorder> m_boxes;
    ui::CUpdateView m_view;
    ui::CMainFrame m_frame;
    nlohmann::ordered_json m_events = nlohmann::ordered_json::array();
    int m_nextAnswer = 0; // the answer to the next question; then No again
    firmware::TrustedKeys m_keys;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> m_files;

    // The run, for its report.
    std::optional<ui::UpdateEnd> m_ended;
    double m_runStartMs = 0;
    double m_transferStartMs = 0;
    double m_endMs = 0;
    bool m_running = false;
};

} // namespace orvane::web
