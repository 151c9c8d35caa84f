#include "web/web_session.h"

#include "firmware/catalogue.h"
#include "platform/exit_codes.h"
#include "platform/text.h"
#include "platform/version.h"
#include "ui/resource_ids.h"

#include <algorithm>
#include <cmath>

namespace orvane::web {

namespace {

using nlohmann::ordered_json;

// The port number the frame's texts and notifications carry: the page has one port.
constexpr int kPagePort = 1;
// Bytes handed to the frame per notification (the worker's contract: room for 2049).
constexpr std::size_t kTakeAtOnce = 2048;
// A bound on what one call dispatches: a receiver cannot keep the page in the core for ever.
constexpr int kMaxDispatch = 1000000;

std::string Utf8(std::u16string_view text) {
    return ToUtf8(text);
}

ordered_json StateJson(const ui::TransferState& state) {
    return {{"blocksSent", state.blocksSent},
            {"blocksAcknowledged", state.blocksAcknowledged},
            {"lastAcknowledgedAddress", state.lastAcknowledgedAddress},
            {"lastSentAddress", state.lastSentAddress},
            {"awaitingCompletion", state.awaitingCompletion}};
}

ordered_json BlockJson(const char* type, const ui::BlockEvent& block) {
    return {{"type", type},         {"index", block.index},       {"address", block.address},
            {"bytes", block.bytes}, {"position", block.position}, {"upper", block.upper}};
}

const char* OutcomeName(ui::UpdateOutcome outcome) {
    switch (outcome) {
    case ui::UpdateOutcome::Complete:
        return "complete";
    case ui::UpdateOutcome::UnknownIdentifier:
        return "unknownIdentifier";
    case ui::UpdateOutcome::ImageMissing:
        return "imageMissing";
    case ui::UpdateOutcome::FirmwareRefused:
        return "firmwareRefused";
    case ui::UpdateOutcome::DeviceLost:
        return "deviceLost";
    case ui::UpdateOutcome::WriteRefused:
        return "writeRefused";
    case ui::UpdateOutcome::Stalled:
        return "stalled";
    }
    return "failed";
}

// The command-line updater's words for an exit code in its result record.
const char* ResultName(int code) {
    switch (code) {
    case kExitComplete:
        return "complete";
    case kExitLinkFailed:
        return "link failed";
    case kExitUnknownId:
        return "unknown identifier";
    case kExitFirmware:
        return "firmware refused";
    case kExitStalled:
        return "transfer stopped";
    case kExitLostInTransfer:
        return "device lost during the transfer";
    default:
        return "failed";
    }
}

// The page's port behind the frame's link: what the serial worker does on the desktop, done by
// the page between the calls into the core.
class PagePort final : public ui::IPortWorker {
public:
    PagePort(std::shared_ptr<PageLine> line, PageClock& clock)
        : m_line(std::move(line)), m_clock(clock) {}
    bool QueueWrite(const std::uint8_t* bytes, int length) override {
        if (m_line->lost || length <= 0)
            return !m_line->lost;
        LineOutput out;
        out.bytes.assign(bytes, bytes + length);
        out.delayMs = m_clock.TakeDelay();
        m_line->output.push_back(std::move(out));
        return true;
    }
    bool SetBaudRate(int baud) override {
        if (baud <= 0)
            return false;
        const auto speed = static_cast<std::uint32_t>(baud);
        if (speed == m_line->baud)
            return true; // the port is at this speed already: nothing to reopen
        LineOutput out;
        out.kind = LineOutput::Kind::Speed;
        out.baud = speed;
        m_line->output.push_back(std::move(out));
        m_line->baud = speed;
        return true;
    }
    int TakeReceived(std::uint8_t* dest) override {
        const std::size_t n = std::min(kTakeAtOnce, m_line->received.size());
        std::copy_n(m_line->received.begin(), n, dest);
        m_line->received.erase(m_line->received.begin(),
                               m_line->received.begin() + static_cast<std::ptrdiff_t>(n));
        return static_cast<int>(n);
    }
    bool IsLost() const override { return m_line->lost; }
    std::string DevicePath() const override { return m_line->label; }
    // Only a port that says so leads to the simulated receiver; a real Web Serial port never
    // does, so the placeholder rule holds in the page too.
    bool IsPseudoTerminal() const override { return m_line->simulated; }

private:
    std::shared_ptr<PageLine> m_line;
    PageClock& m_clock;
};

} // namespace

void PageClock::Sleep(std::chrono::milliseconds ms) {
    if (ms.count() <= 0)
        return;
    m_now += ms;
    m_delayMs += static_cast<std::uint32_t>(ms.count());
}

void PageClock::SetNow(double ms) {
    if (m_pageStartMs < 0)
        m_pageStartMs = ms;
    const auto page = time_point(std::chrono::hours(1)) +
                      std::chrono::duration_cast<duration>(
                          std::chrono::duration<double, std::milli>(ms - m_pageStartMs));
    m_now = std::max(m_now, page);
}

std::uint32_t PageClock::TakeDelay() {
    return std::exchange(m_delayMs, 0);
}

WebSession::WebSession()
    : m_app(m_clock), m_line(std::make_shared<PageLine>()), m_frame(Services()) {
    m_app.SetAppName(u"Orvane Update");
    fw::headless::MessageBoxOptions boxes;
    boxes.onShow = [this](const fw::headless::MessageBoxRecord& box) {
        const unsigned type = box.style & MB_TYPEMASK;
        Emit({{"type", "box"},
              {"text", Utf8(box.text)},
              {"caption", Utf8(box.caption)},
              {"error", (box.style & MB_ICONERROR) != 0},
              {"question", type == MB_YESNO || type == MB_OKCANCEL},
              {"answered", m_nextAnswer != 0}});
    };
    // A question is answered No, and the page asks the operator; Yes runs the command again
    // with the answer given (see Update).
    boxes.answer = [this](const fw::headless::MessageBoxRecord&) {
        return std::exchange(m_nextAnswer, 0) != 0 ? IDYES : IDNO;
    };
    m_boxes = fw::headless::Install(boxes);
    m_frame.SetWindowTextW(u"OrvaneUpdate");
    m_frame.SetActiveView(&m_view);
    m_view.UpdateData(false);
    m_app.m_pMainWnd = &m_frame;
    m_view.m_list.SetPeer(this);
    m_view.m_progress.SetPeer(this);
    m_frame.Events().Add(this);
    m_keys.howToAdd = "The page carries no trusted key: its publisher lists the vendor's minisign "
                      "public keys in orvane-web.json.";
}

WebSession::~WebSession() {
    m_view.m_list.SetPeer(nullptr);
    m_view.m_progress.SetPeer(nullptr);
    m_frame.Events().Remove(this);
    m_frame.SetActiveView(nullptr);
    m_app.m_pMainWnd = nullptr;
}

ui::MainFrameServices WebSession::Services() {
    ui::MainFrameServices services;
    services.storedPortName = [] { return FormatText("COM%d", kPagePort); };
    services.numberForPath = [](const std::string&) { return kPagePort; };
    services.listPorts = [] { return std::vector<std::u16string>{FormatText("COM%d", kPagePort)}; };
    services.describePort = [this](int) { return FromUtf8(m_line->label); };
    services.openPort = [this](IMessageTarget*, const ui::PortRequest&,
                               ui::OpenFailure& failure) -> std::unique_ptr<ui::IPortWorker> {
        if (m_line->lost) {
            failure.reason = "the port is closed";
            return nullptr;
        }
        return std::make_unique<PagePort>(m_line, m_clock);
    };
    return services;
}

double WebSession::NowMs() const {
    return std::chrono::duration<double, std::milli>(m_clock.Now().time_since_epoch()).count();
}

void WebSession::Pump() {
    for (int i = 0; i < kMaxDispatch && m_app.PeekAndDispatchOne(); ++i) {
    }
}

double WebSession::SetNow(double ms) {
    m_clock.SetNow(ms);
    Pump();
    const auto next = m_app.TimeUntilNextTimer();
    if (!next)
        return -1;
    return std::chrono::duration<double, std::milli>(*next).count();
}

bool WebSession::Link(bool simulated, const std::string& label) {
    m_line->received.clear();
    m_line->output.clear();
    m_line->lost = false;
    m_line->baud = firmware::kSlowBaud;
    m_line->simulated = simulated;
    m_line->label = label;
    m_frame.ExecuteCommand(ui::ID_LINK);
    Pump();
    return m_frame.IsLinked();
}

void WebSession::Unlink() {
    m_frame.ExecuteCommand(ui::ID_BREAK_CONNECTION);
    m_line->output.clear();
    Pump();
}

void WebSession::PortLost() {
    m_line->lost = true;
    m_line->output.clear();
    // The frame looks at a lost port when a notification comes, as the worker's reader posts.
    m_frame.PostMessageW(WM_SERIAL_RECEIVED, 0, kPagePort);
    Pump();
}

void WebSession::Update(bool confirmed) {
    m_nextAnswer = confirmed ? 1 : 0;
    m_frame.ExecuteCommand(ui::ID_UPDATE);
    m_nextAnswer = 0;
    Pump();
}

void WebSession::Feed(const std::uint8_t* bytes, std::size_t count) {
    if (!m_frame.IsLinked() || count == 0)
        return;
    m_line->received.insert(m_line->received.end(), bytes, bytes + count);
    // One notification per worker-sized piece, as the reader thread posts them.
    for (std::size_t posted = 0; posted < count; posted += kTakeAtOnce)
        m_frame.PostMessageW(WM_SERIAL_RECEIVED, 0, kPagePort);
    Pump();
}

void WebSession::SetStallLimit(std::uint32_t ms) {
    m_frame.m_stallLimit = std::chrono::milliseconds(ms);
}

std::vector<LineOutput> WebSession::TakeOutput() {
    return std::exchange(m_line->output, {});
}

std::string WebSession::TakeEvents() {
    const std::string text = m_events.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
    m_events = ordered_json::array();
    return text;
}

void WebSession::Emit(ordered_json event) {
    m_events.push_back(std::move(event));
}

void WebSession::OnHandshakeStarted() {
    m_ended.reset();
    m_running = true;
    m_runStartMs = NowMs();
    m_transferStartMs = 0;
    Emit({{"type", "handshakeStarted"}, {"baud", m_frame.Baud()}});
}

void WebSession::OnReceiverAnswered(const ui::ReceiverAnswer& answer) {
    Emit({{"type", "answered"},
          {"identifier", Utf8(answer.identifier)},
          {"displayName", Utf8(answer.displayName)},
          {"baud", answer.baud}});
}

void WebSession::OnBlockSent(const ui::BlockEvent& block) {
    if (block.index == 1)
        m_transferStartMs = NowMs();
    Emit(BlockJson("blockSent", block));
}

void WebSession::OnBlockAcknowledged(const ui::BlockEvent& block) {
    Emit(BlockJson("blockAcknowledged", block));
}

void WebSession::OnAwaitingCompletion(const ui::TransferState& state) {
    Emit({{"type", "awaitingCompletion"}, {"state", StateJson(state)}});
}

void WebSession::OnUpdateEnded(const ui::UpdateEnd& end) {
    // The first outcome of a run is its outcome; the end repeated by a surplus acknowledgement
    // is not news.
    if (m_ended)
        return;
    m_ended = end;
    m_running = false;
    m_endMs = NowMs();
    Emit({{"type", "ended"},
          {"outcome", OutcomeName(end.outcome)},
          {"exitCode", ui::ExitCodeOf(end)},
          {"state", StateJson(end.state)},
          {"message", Utf8(end.message)}});
}

void WebSession::OnAddString(int index, std::u16string_view text) {
    Emit({{"type", "line"},
          {"index", index},
          {"text", Utf8(text)},
          {"address", index >= 0 && index == m_view.AddressLineIndex()}});
}

void WebSession::OnDeleteString(int index) {
    Emit({{"type", "deleteLine"}, {"index", index}});
}

void WebSession::OnRange(int lower, int upper) {
    Emit({{"type", "range"}, {"lower", lower}, {"upper", upper}});
}

void WebSession::OnPos(int pos) {
    Emit({{"type", "pos"}, {"pos", pos}});
}

void WebSession::OnMarquee(bool on) {
    Emit({{"type", "marquee"}, {"on", on}});
}

std::string WebSession::ReportJson() const {
    ordered_json j;
    const int code = m_ended ? ui::ExitCodeOf(*m_ended) : kExitLinkFailed;
    const auto& used = m_view.m_bSelected && m_view.m_pFirmwareInUse ? m_view.m_pFirmwareInUse
                                                                     : m_frame.Firmware();
    std::string image;
    ordered_json images = ordered_json::array();
    if (const auto* entry = used->Find(m_view.m_strIdentifier)) {
        image = entry->mode == firmware::ImageMode::TwoStage ? std::string("PXA271+FPGA")
                                                             : std::string(1, entry->image);
        image += " (" +
                 Utf8(m_view.m_bSelected ? std::u16string_view(m_view.m_strDisplayName)
                                         : entry->displayName) +
                 ")";
        for (const std::string& name : firmware::FirmwareSet::ImagesOf(*entry)) {
            if (const auto* img = used->Image(name))
                images.push_back(
                    {{"name", name}, {"length", img->length}, {"sha256", img->sha256}});
        }
    }
    const double end = m_running ? NowMs() : m_endMs;
    const auto seconds = [](double ms) { return std::round(std::max(0.0, ms)) / 1000.0; };
    j["version"] = kVersion;
    j["port"] = "Web Serial" + (m_line->label.empty() ? std::string() : " (" + m_line->label + ")");
    j["identifier"] = Utf8(m_view.m_strIdentifier);
    j["image"] = image;
    j["firmware"] = used->Origin();
    j["images"] = images;
    j["blocks"] = m_view.Transfer().blocksSent;
    j["blocksAcknowledged"] = m_view.Transfer().blocksAcknowledged;
    j["surplusAcknowledgements"] = m_view.m_nSurplusAcks;
    j["seconds"] = seconds(end - m_runStartMs);
    j["transferSeconds"] = m_transferStartMs > 0 ? seconds(end - m_transferStartMs) : 0.0;
    j["result"] = m_ended ? ResultName(code) : (m_running ? "running" : "not started");
    j["exitCode"] = code;
    j["reason"] = m_ended ? Utf8(m_ended->message) : std::string();
    return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::string WebSession::AddTrustedKey(const std::string& text, const std::string& label) {
    firmware::MinisignKey key;
    std::string error;
    m_keys.searched.push_back(label);
    if (!firmware::ParsePublicKey(text, key, error)) {
        m_keys.problems.push_back(label + ": " + error);
        return label + ": " + error;
    }
    key.file = label;
    m_keys.keys.push_back(key);
    return {};
}

void WebSession::AddPackageFile(const std::string& name, std::vector<std::uint8_t> bytes) {
    m_files.emplace_back(name, std::move(bytes));
}

std::string WebSession::LoadPackage(const std::string& folder) {
    const auto where = [&folder](const std::string& file) {
        return folder.empty() ? file : folder + "/" + file;
    };
    const auto find = [this](const std::string& file) -> const std::vector<std::uint8_t>* {
        for (const auto& [name, bytes] : m_files) {
            if (name == file)
                return &bytes;
        }
        return nullptr;
    };
    const auto refuse = [](const std::string& error) {
        return ordered_json{{"ok", false}, {"error", error}}.dump(
            -1, ' ', false, ordered_json::error_handler_t::replace);
    };
    // The same checks and messages as a package folder on disk (firmware/package.cpp).
    const auto* manifest = find(firmware::kManifestName);
    if (!manifest)
        return refuse(where(firmware::kManifestName) +
                      ": missing (this folder is not a firmware package)");
    if (manifest->size() > firmware::kMaxManifestBytes)
        return refuse(where(firmware::kManifestName) +
                      FormatAnsi(": too large (%zu bytes; at most %zu are expected)",
                                 manifest->size(), firmware::kMaxManifestBytes));
    const auto* signature = find(firmware::kSignatureName);
    if (!signature)
        return refuse(where(firmware::kSignatureName) + ": missing: the package is not signed");
    if (signature->size() > firmware::kMaxSignatureBytes)
        return refuse(where(firmware::kSignatureName) +
                      FormatAnsi(": too large (%zu bytes; at most %zu are expected)",
                                 signature->size(), firmware::kMaxSignatureBytes));
    std::string signedBy;
    const std::string bad = firmware::CheckManifestSignature(
        *manifest,
        std::string_view(reinterpret_cast<const char*>(signature->data()), signature->size()),
        m_keys, where(firmware::kManifestName), where(firmware::kSignatureName), signedBy);
    if (!bad.empty())
        return refuse(bad);
    const firmware::PackageFiles files =
        [&find](const std::string&, const std::string& file, std::uint32_t length,
                firmware::FirmwareSet& set,
                std::string& error) -> std::optional<firmware::ImageView> {
        const auto* bytes = find(file);
        if (!bytes) {
            error = "missing (manifest.json lists it)";
            return std::nullopt;
        }
        if (bytes->size() != length) {
            error = FormatAnsi("%zu bytes, but manifest.json says %u", bytes->size(), length);
            return std::nullopt;
        }
        return firmware::ImageView{set.Keep(*bytes), length};
    };
    const firmware::PackageResult result =
        firmware::BuildPackageSet(*manifest, files, folder, signedBy);
    if (!result.firmware)
        return refuse(result.error);
    m_frame.SetFirmware(result.firmware);
    ordered_json images = ordered_json::array();
    for (const auto& image : result.firmware->Images())
        images.push_back({{"name", image.name},
                          {"file", image.file},
                          {"length", image.length},
                          {"sha256", image.sha256}});
    return ordered_json{{"ok", true},
                        {"release", result.firmware->Release()},
                        {"date", result.firmware->Date()},
                        {"signedBy", result.firmware->SignedBy()},
                        {"description", result.firmware->Description()},
                        {"images", images}}
        .dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

} // namespace orvane::web
