// A scripted receiver in place of the serial port, and a main window wired to it on a
// manual clock: the whole update runs deterministically and costs no wall time.
#pragma once

#include "firmware/commands.h"
#include "framework/app.h"
#include "framework/headless/headless.h"
#include "platform/text.h"
#include "ui/main_frame.h"
#include "ui/resource_ids.h"
#include "ui/update_view.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::ui::testing {

using Bytes = std::vector<std::uint8_t>;

inline Bytes ReplyFrame(char c1, char c2, const std::string& payload = {}, std::uint8_t type = 20) {
    Bytes f{'$',
            '$',
            static_cast<std::uint8_t>(c1),
            static_cast<std::uint8_t>(c2),
            type,
            static_cast<std::uint8_t>(payload.size())};
    for (const char c : payload) // (an insert here trips a false array-bounds warning of g++ 12)
        f.push_back(static_cast<std::uint8_t>(c));
    f.push_back(firmware::XorChecksum(f.data() + 2, f.size() - 2));
    f.push_back('\r');
    f.push_back('\n');
    return f;
}

// One thing the updater did to the line, at the time the injected clock showed.
struct LineEvent {
    std::string what; // "baud 9600", "write SS", "write SX", "take"
    Clock::time_point at;
    std::u16string lastLine; // the message list's last line at that moment
};

// The receiver's side of the line.
struct ScriptedReceiver {
    std::vector<Bytes> written;            // every frame the updater queued, in order
    std::vector<int> baudChanges;          // every SetBaudRate
    std::vector<LineEvent> events;         // writes, speed changes and takes, in order
    const Clock* clock = nullptr;          // stamps the events
    std::function<std::u16string()> probe; // fills LineEvent::lastLine
    int liveWorkers = 0;                   // workers not yet destroyed
    std::string identifier;                // answered to a handshake when not empty
    bool autoAck = false;                  // acknowledge every block at once
    std::function<void()> onBlock;         // when set: answers every block instead
    bool lost = false;
    bool pseudoTerminal = true;       // the line is the simulated receiver's
    std::deque<std::uint8_t> pending; // bytes the reader has put in the ring
    fw::CWnd* owner = nullptr;
    int port = 0;
    std::string devicePath = "/dev/ttyUSB7"; // where the opener found the device
    std::string identity = "usb:0403:6001:A1:00";

    // The line delivers bytes: they enter the ring, then the reader posts its notification.
    void Send(const Bytes& bytes) {
        pending.insert(pending.end(), bytes.begin(), bytes.end());
        owner->PostMessageW(WM_SERIAL_RECEIVED, bytes.size(), port);
    }
    void Note(std::string what) {
        events.push_back({std::move(what), clock ? clock->Now() : Clock::time_point{},
                          probe ? probe() : std::u16string()});
    }
    std::size_t Count(char c2) const {
        std::size_t n = 0;
        for (const auto& f : written)
            n += f.size() > 3 && f[3] == static_cast<std::uint8_t>(c2);
        return n;
    }
    std::vector<Bytes> Blocks() const {
        std::vector<Bytes> out;
        for (const auto& f : written)
            if (f.size() > 3 && f[3] == 'X')
                out.push_back(f);
        return out;
    }
};

class ScriptedWorker final : public IPortWorker {
public:
    explicit ScriptedWorker(ScriptedReceiver& rx) : m_rx(rx) { ++m_rx.liveWorkers; }
    ~ScriptedWorker() override { --m_rx.liveWorkers; }
    ScriptedWorker(const ScriptedWorker&) = delete;
    ScriptedWorker& operator=(const ScriptedWorker&) = delete;
    bool QueueWrite(const std::uint8_t* bytes, int length) override {
        Bytes frame(bytes, bytes + length);
        m_rx.written.push_back(frame);
        m_rx.Note("write " + std::string(frame.begin() + 2, frame.begin() + 4));
        if (frame[3] == 'S' && !m_rx.identifier.empty())
            m_rx.Send(ReplyFrame('S', 'S', m_rx.identifier));
        else if (frame[3] == 'X' && m_rx.onBlock)
            m_rx.onBlock();
        else if (frame[3] == 'X' && m_rx.autoAck)
            m_rx.Send(ReplyFrame('S', 'X'));
        return true;
    }
    bool SetBaudRate(int baud) override {
        m_rx.baudChanges.push_back(baud);
        m_rx.Note("baud " + std::to_string(baud));
        return true;
    }
    int TakeReceived(std::uint8_t* dest) override {
        m_rx.Note("take");
        int n = 0;
        while (!m_rx.pending.empty() && n < 2048) {
            dest[n++] = m_rx.pending.front();
            m_rx.pending.pop_front();
        }
        dest[n] = 0;
        return n;
    }
    bool IsLost() const override { return m_rx.lost; }
    std::string DevicePath() const override { return m_rx.devicePath; }
    std::string Identity() const override { return m_rx.identity; }
    bool IsPseudoTerminal() const override { return m_rx.pseudoTerminal; }

private:
    ScriptedReceiver& m_rx;
};

// Every typed event the updater raised, in order.
struct EventLog final : IUpdateObserver {
    std::vector<ReceiverAnswer> answers;
    std::vector<BlockEvent> sent;
    std::vector<BlockEvent> acknowledged;
    std::vector<TransferState> awaiting;
    std::vector<UpdateEnd> ends;
    int handshakes = 0;

    void OnHandshakeStarted() override { ++handshakes; }
    void OnReceiverAnswered(const ReceiverAnswer& a) override { answers.push_back(a); }
    void OnBlockSent(const BlockEvent& b) override { sent.push_back(b); }
    void OnBlockAcknowledged(const BlockEvent& b) override { acknowledged.push_back(b); }
    void OnAwaitingCompletion(const TransferState& s) override { awaiting.push_back(s); }
    void OnUpdateEnded(const UpdateEnd& e) override { ends.push_back(e); }
    std::size_t Count(UpdateOutcome outcome) const {
        return static_cast<std::size_t>(std::count_if(
            ends.begin(), ends.end(), [&](const UpdateEnd& e) { return e.outcome == outcome; }));
    }
};

// Application, main window and update view on a manual clock, linked to a scripted receiver.
struct Updater {
    ManualClock clock;
    fw::CWinApp app{clock};
    std::unique_ptr<fw::headless::MessageBoxRecorder> boxes = fw::headless::Install();
    ScriptedReceiver rx;
    std::vector<std::u16string> ports{u"\\\\.\\COM1", u"\\\\.\\COM3", u"\\\\.\\COM12"};
    std::u16string storedPort = u"COM3";
    bool portAvailable = true;
    int openedPort = 0;
    std::vector<PortRequest> requests; // every open asked for, in order
    std::unique_ptr<CMainFrame> frame;
    CUpdateView view;
    EventLog events;

    explicit Updater(bool create = true) {
        app.SetAppName(u"Orvane Update");
        rx.clock = &clock;
        rx.probe = [this] {
            const int n = view.m_list.GetCount();
            return n > 0 ? view.m_list.GetText(n - 1) : std::u16string();
        };
        MainFrameServices services;
        services.openPort = [this](IMessageTarget*, const PortRequest& request,
                                   OpenFailure& failure) -> std::unique_ptr<IPortWorker> {
            const int port = request.number;
            requests.push_back(request);
            if (!portAvailable) {
                failure.reason = "no such device";
                return nullptr;
            }
            openedPort = port;
            rx.port = port;
            return std::make_unique<ScriptedWorker>(rx);
        };
        services.listPorts = [this] { return ports; };
        services.describePort = [](int n) { return FormatText("/dev/ttyUSB%d\nSerial S%d", n, n); };
        services.numberForPath = [](const std::string&) { return 7; };
        services.storedPortName = [this] { return storedPort; };
        if (create)
            Create(std::move(services));
        else
            m_services = std::move(services);
    }
    void Create() { Create(std::move(m_services)); }
    void Create(MainFrameServices services) {
        frame = std::make_unique<CMainFrame>(std::move(services));
        frame->Events().Add(&events);
        rx.owner = frame.get();
        frame->SetWindowTextW(u"OrvaneUpdate");
        frame->SetActiveView(&view);
        view.UpdateData(false);
        app.m_pMainWnd = frame.get();
        frame->OnCreate();
    }
    ~Updater() {
        // The view is a member and outlives nothing: detach it before the frame goes.
        if (frame)
            frame->SetActiveView(nullptr);
    }

    std::vector<std::u16string> Lines() const {
        std::vector<std::u16string> out;
        for (int i = 0; i < view.m_list.GetCount(); ++i)
            out.push_back(view.m_list.GetText(i));
        return out;
    }
    std::u16string LastLine() const { return view.m_list.GetText(view.m_list.GetCount() - 1); }
    void Run(std::chrono::milliseconds ms) { app.RunFor(ms); }
    bool Command(fw::UINT id) { return frame->ExecuteCommand(id); }

private:
    MainFrameServices m_services;
};

} // namespace orvane::ui::testing
