#include "ui/main_frame.h"

#include "firmware/commands.h"
#include "firmware/identify.h"
#include "firmware/update_texts.h"
#include "framework/app.h"
#include "platform/message.h"
#include "platform/port_directory.h"
#include "platform/text.h"
#include "ui/link_setup_dlg.h"
#include "ui/resource_ids.h"
#include "ui/update_view.h"

#include <algorithm>
#include <array>
#include <utility>

namespace orvane::ui {

bool CMainFrame::s_bSFormFlag = false;

namespace {
constexpr int kFirstPort = 1;
constexpr int kLastPort = 255;
constexpr unsigned kHandshakeDelayMs = 100;
// Restarted by every block sent; its tick means the receiver has gone silent mid-transfer.
constexpr unsigned kStallTimerId = 3;
} // namespace

bool ReadDecimal(std::u16string_view text, std::size_t pos, long& value) {
    while (pos < text.size() && (text[pos] == u' ' || (text[pos] >= u'\t' && text[pos] <= u'\r')))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    if (pos >= text.size() || text[pos] < u'0' || text[pos] > u'9')
        return false;
    long v = 0;
    while (pos < text.size() && text[pos] >= u'0' && text[pos] <= u'9') {
        if (v < 100000000) // further digits cannot bring an out-of-range number back
            v = v * 10 + (text[pos] - u'0');
        ++pos;
    }
    value = negative ? -v : v;
    return true;
}

int PortNumberFromName(std::u16string_view name) {
    long n = 0;
    if (name.find(u"COM") == std::u16string_view::npos || !ReadDecimal(name, 3, n) ||
        n < kFirstPort || n > kLastPort)
        return kFirstPort;
    return static_cast<int>(n);
}

CMainFrame::CMainFrame(MainFrameServices services) : m_services(std::move(services)) {
    if (!m_services.openPort)
        m_services.openPort = SerialPortOpener();
    if (!m_services.listPorts)
        m_services.listPorts = SystemPortLister();
    if (!m_services.describePort)
        m_services.describePort = SystemPortDescriber();
    m_pFirmware = m_services.firmware ? m_services.firmware : firmware::BuiltInFirmware();
    m_nFrameType = firmware::kInitialFrameType;
    m_bAwaitingCompletion = 0;
    const std::u16string stored =
        m_services.storedPortName ? m_services.storedPortName() : std::u16string();
    m_nPort = PortNumberFromName(stored);
    if (!stored.empty() && stored.front() == u'/') {
        // A device path stored in place of a name is opened as it is, never through a
        // number looked up again.
        const std::string path = ToUtf8(stored);
        const int number =
            m_services.numberForPath ? m_services.numberForPath(path) : NumberForDevice(path);
        if (number >= kFirstPort && number <= kLastPort) {
            m_nPort = number;
            SetDevicePath(number, path);
        }
    }
    EnumeratePorts();
}

CMainFrame::~CMainFrame() {
    CloseLink();
    m_retiredPorts.clear();
}

CMainFrame::PortCall::~PortCall() {
    if (--m_frame.m_nPortCalls == 0)
        m_frame.m_retiredPorts.clear();
}

int CMainFrame::OnCreate() {
    if (!OpenLink())
        ShowOpenFailure();
    return 0;
}

void CMainFrame::ShowOpenFailure() {
    if (m_bPlaceholderRefused) {
        // Test images and a real device: the operator must read this before anything else.
        MessageBox(PlaceholderRefusalText(), {}, fw::MB_OK | fw::MB_ICONERROR);
        return;
    }
    if (m_strOpenFailure.empty())
        return;
    // The operator would otherwise only see Link stay enabled, with no reason why.
    if (auto* view = GetUpdateView()) {
        view->AppendLine(FromUtf8(FormatAnsi("COM%d: ", m_nPort) + m_strOpenFailure + "."));
        view->m_list.SetCurSel(view->m_list.GetCount() - 1);
    }
}

void CMainFrame::EnumeratePorts() {
    m_portNames = m_services.listPorts();
}

void CMainFrame::SetDevicePath(int port, std::string path) {
    m_nDevicePathPort = port;
    m_strDevicePath = std::move(path);
}

std::string CMainFrame::DevicePathForLink() const {
    return m_nPort == m_nDevicePathPort ? m_strDevicePath : std::string();
}

std::u16string CMainFrame::DescribePort(int port) const {
    std::u16string text = m_services.describePort(port);
    if (text.empty() && port == m_nDevicePathPort)
        text = FromUtf8(m_strDevicePath);
    return text;
}

IPortWorker* CMainFrame::OpenLink() {
    // An open in progress may show a configuration box, whose modal loop could ask for
    // another open: only the first one opens.
    if (m_nPort < kFirstPort || m_nPort > kLastPort || m_pPort || m_bOpening)
        return nullptr;
    m_bPlaceholderRefused = false;
    OpenFailure failure;
    PortRequest request;
    request.number = m_nPort;
    request.path = DevicePathForLink();
    m_bOpening = true;
    auto worker = m_services.openPort(this, request, failure);
    m_bOpening = false;
    if (!worker) {
        m_strOpenFailure = failure.reason.empty() ? "the port cannot be opened" : failure.reason;
        return nullptr;
    }
    if (!MayTakeFirmware(*worker)) {
        // Nothing has been written yet; closing the worker now keeps it that way.
        worker.reset();
        m_bPlaceholderRefused = true;
        m_strOpenFailure = ToUtf8(PlaceholderRefusalText());
        return nullptr;
    }
    m_strOpenFailure.clear();
    m_pPort = std::move(worker);
    m_nBaud = firmware::kSlowBaud;
    m_strLinkIdentity = m_pPort->Identity();
    m_bWaitingForDevice = false;
    SetWindowTextW(FormatText("COM%d", m_nPort));
    return m_pPort.get();
}

void CMainFrame::CloseLink() {
    // Nothing is waited for any more over a closed link.
    if (CUpdateView* view = GetUpdateView())
        view->m_progress.SetMarquee(false);
    WatchTransfer(false);
    if (m_nPortCalls > 0 && m_pPort)
        m_retiredPorts.push_back(std::move(m_pPort));
    m_pPort.reset();
}

bool CMainFrame::Handshaking() const {
    const auto* app = fw::AfxGetApp();
    return app && app->IsTimerSet(GetSafeHwnd(), firmware::kHandshakeTimerId);
}

bool CMainFrame::ReopenLostDevice() {
    PortRequest request;
    request.number = m_nPort;
    request.identity = m_strLinkIdentity;
    if (request.identity.empty())
        request.path = DevicePathForLink();
    OpenFailure failure;
    auto worker = m_services.openPort(this, request, failure);
    if (!worker)
        return false; // not back yet: the next tick tries again
    if (!MayTakeFirmware(*worker))
        return false; // the same rule as at link time, whatever came back
    m_pPort = std::move(worker);
    m_nBaud = firmware::kSlowBaud;
    m_bWaitingForDevice = false;
    const std::string path = m_pPort->DevicePath();
    const std::u16string port = FormatText("%d", m_nPort);
    const std::u16string text =
        path.empty() ? firmware::FillText(firmware::Texts().deviceBack, {port})
                     : firmware::FillText(firmware::Texts().deviceBackAt, {port, FromUtf8(path)});
    SetWindowTextW(FormatText("COM%d", m_nPort));
    if (auto* view = GetUpdateView()) {
        view->m_list.AddString(text);
        view->m_list.SetCurSel(view->m_list.GetCount() - 1);
    }
    return true;
}

int CMainFrame::SendCommand(std::u16string_view text, unsigned delayMs) {
    const auto frame = firmware::EncodeFrame(text, m_nFrameType);
    if (!m_pPort)
        return 0;
    if (auto* app = fw::AfxGetApp())
        app->GetClock().Sleep(std::chrono::milliseconds(delayMs));
    // Sleeping lets nothing else run on this thread, so the link is still ours here.
    bool queued = true;
    if (!frame.empty())
        queued = m_pPort->QueueWrite(frame.data(), static_cast<int>(frame.size()));
    CheckLinkLost();
    if (!queued)
        ReportRefusal(); // the worker's box has said why
    return queued ? 1 : 0;
}

fw::LRESULT CMainFrame::OnSerialReceived(fw::WPARAM, fw::LPARAM lParam) {
    if (lParam < kFirstPort || lParam > kLastPort || !m_pPort)
        return 0;
    std::array<std::uint8_t, 4096> received{};
    const int count = m_pPort->TakeReceived(received.data());
    m_received.insert(m_received.end(), received.begin(),
                      received.begin() + std::clamp(count, 0, static_cast<int>(received.size())));
    // Bytes must reach the decoder once each and in the order they came, whatever nests. After
    // each block one waiting message is let through: a notification handled there only queues
    // its bytes, since feeding them now would put them ahead of older ones this call still
    // holds (a "$$" left over would then be read into the next frame). A box opened while the
    // bytes are fed keeps dispatching, and replies that arrive meanwhile are handled inside it:
    // taken from the front of the same queue, so the order still holds.
    if (m_nFeedingBoxes >= 0 && OpenMessageBoxCount() <= m_nFeedingBoxes)
        return 0;
    const int outerBoxes = std::exchange(m_nFeedingBoxes, OpenMessageBoxCount());
    while (!m_received.empty()) {
        const std::uint8_t b = m_received.front();
        m_received.pop_front();
        if (m_decoder.PutByte(b))
            m_decoder.HandleReply(*this);
    }
    m_nFeedingBoxes = outerBoxes;
    CheckLinkLost();
    return 0;
}

void CMainFrame::CheckLinkLost() {
    if (!m_pPort || !m_pPort->IsLost())
        return;
    if (m_bReopenLostDevice && Handshaking()) {
        // Many receivers take their USB port with them when switched off, as the update asks:
        // wait for the same device to come back and go on handshaking then.
        CloseLink();
        m_bWaitingForDevice = true;
        return;
    }
    // The adapter is gone: nothing more will arrive or leave. Close the link so the commands
    // show the truth, and say so once.
    const std::u16string text =
        firmware::FillText(firmware::Texts().deviceLost, {FormatText("%d", m_nPort)});
    CloseLink();
    SetWindowTextW(u"No Connection");
    UpdateEnd end{UpdateOutcome::DeviceLost, {}, text};
    if (auto* view = GetUpdateView()) {
        view->AppendLine(text);
        view->m_list.SetCurSel(view->m_list.GetCount() - 1);
        // A transfer cut short: where it stood, and what to do now.
        if (const std::u16string advice = view->EndLostTransfer(); !advice.empty()) {
            end.state = view->Transfer();
            end.message += u" " + advice;
        }
    }
    m_events.OnUpdateEnded(end);
}

void CMainFrame::ReportRefusal() {
    UpdateEnd end{UpdateOutcome::WriteRefused, {}, {}};
    if (const CUpdateView* view = GetUpdateView())
        end.state = view->Transfer();
    m_events.OnUpdateEnded(end);
}

void CMainFrame::StopTimer(unsigned id) {
    KillTimer(id);
    // Whatever the boot loader answered, the wait for it is over.
    if (id == firmware::kHandshakeTimerId) {
        if (CUpdateView* view = GetUpdateView())
            view->m_progress.SetMarquee(false);
    }
}

int CMainFrame::IdentifyReceiver(const std::uint8_t* payload, std::uint32_t length) {
    m_bAwaitingCompletion = 0;
    CUpdateView* view = GetUpdateView();
    if (!view)
        return 1;
    std::string token = firmware::ExtractToken(payload, length);
    s_bSFormFlag = false;
    s_bSFormFlag = firmware::NormaliseIdentifier(token);
    // The receiver's bytes in the system's code page: UTF-8 decoded once, any other byte kept.
    view->m_strIdentifier = FromPeerText(token);
    view->StartUpdate();
    return 1;
}

int CMainFrame::AcknowledgeBlock(const std::uint8_t*, std::uint32_t) {
    if (CUpdateView* view = GetUpdateView())
        view->SendNextBlock();
    return 1;
}

int CMainFrame::FinishUpdate() {
    if (CUpdateView* view = GetUpdateView()) {
        view->FinishUpdate();
        m_bCompletionShowing = true; // the decoder's box follows, then the transfer is over
    }
    return 1;
}

void CMainFrame::ShowMessage(std::u16string_view text) {
    const bool completion = std::exchange(m_bCompletionShowing, false);
    MessageBox(text, {}, fw::MB_OK);
    if (!completion)
        return;
    if (const CUpdateView* view = GetUpdateView())
        m_events.OnUpdateEnded({UpdateOutcome::Complete, view->Transfer(), std::u16string(text)});
}

void CMainFrame::SwitchBaud(std::uint32_t baud) {
    if (!m_pPort)
        return;
    IPortWorker* port = m_pPort.get();
    const PortCall hold(*this); // a refused speed is reported in a box
    if (port->SetBaudRate(static_cast<int>(baud)))
        m_nBaud = baud;
    else
        ReportRefusal();
}

void CMainFrame::OnLink() {
    if (!m_bOpening && !OpenLink() && !m_pPort)
        ShowOpenFailure();
}

void CMainFrame::OnClose() {
    if (CUpdateView* view = GetUpdateView()) {
        if (!view->ConfirmInterruption(firmware::Texts().closeConsequence))
            return;
    }
    fw::CFrameWnd::OnClose();
}

void CMainFrame::OnBreakConnection() {
    m_bWaitingForDevice = false;
    CloseLink();
    SetWindowTextW(u"No Connection");
}

void CMainFrame::OnSetup() {
    CLinkSetupDlg dlg(this);
    dlg.m_nSelection = m_nPort;
    dlg.DoModal();
}

void CMainFrame::OnExit() {
    SendMessageW(fw::WM_CLOSE);
}

void CMainFrame::OnDestroy() {
    // A destroyed window receives no more notifications: the port goes with it rather than
    // staying held until the object itself is deleted.
    CloseLink();
    fw::CFrameWnd::OnDestroy();
}

CUpdateView* CMainFrame::GetUpdateView() const {
    return dynamic_cast<CUpdateView*>(GetActiveView());
}

void CMainFrame::SetFirmware(std::shared_ptr<const firmware::FirmwareSet> firmware) {
    if (firmware)
        m_pFirmware = std::move(firmware);
}

std::optional<firmware::ImageView> CMainFrame::FindImageBytes(std::string_view name) const {
    // A language bundle may carry the two resources for the placeholder set; a package's
    // verified images are never replaced by anything.
    if (m_pFirmware->IsPlaceholder() && m_services.resources &&
        (name == firmware::kPxa271Name || name == firmware::kFpgaName)) {
        const auto found =
            name == firmware::kPxa271Name
                ? m_services.resources->FindResource(firmware::kResourcePxa271, u"PXA271")
                : m_services.resources->FindResource(firmware::kResourceFpga, u"FPGA");
        if (found)
            return firmware::ImageView{found->data, found->size};
    }
    return m_pFirmware->FindImageBytes(name);
}

bool CMainFrame::MayTakeFirmware(const IPortWorker& worker) const {
    return !m_pFirmware->IsPlaceholder() || worker.IsPseudoTerminal() ||
           m_services.allowPlaceholderOnAnyDevice;
}

bool CMainFrame::MaySendFirmware() const {
    return m_pPort && MayTakeFirmware(*m_pPort);
}

std::u16string CMainFrame::PlaceholderRefusalText() const {
    return firmware::FillText(firmware::Texts().placeholderRefused, {FormatText("%d", m_nPort)});
}

fw::LRESULT CMainFrame::WindowProc(fw::UINT message, fw::WPARAM wParam, fw::LPARAM lParam) {
    if (message == WM_SERIAL_RECEIVED)
        return OnSerialReceived(wParam, lParam);
    return fw::CFrameWnd::WindowProc(message, wParam, lParam);
}

bool CMainFrame::OnCmdMsg(fw::UINT nID) {
    switch (nID) {
    case ID_LINK:
        OnLink();
        return true;
    case ID_BREAK_CONNECTION:
        OnBreakConnection();
        return true;
    case ID_SETUP:
        OnSetup();
        return true;
    case ID_EXIT:
        OnExit();
        return true;
    default:
        return fw::CFrameWnd::OnCmdMsg(nID);
    }
}

void CMainFrame::OnUpdateCmdUI(fw::CCmdUI& cmdUI) {
    switch (cmdUI.m_nID) {
    case ID_LINK:
    case ID_SETUP:
        cmdUI.Enable(!IsLinked());
        break;
    case ID_BREAK_CONNECTION:
        cmdUI.Enable(IsLinked());
        break;
    case ID_EXIT:
        cmdUI.Enable(true);
        break;
    default:
        fw::CFrameWnd::OnUpdateCmdUI(cmdUI);
    }
}

void CMainFrame::WatchTransfer(bool on) {
    auto* app = fw::AfxGetApp();
    if (!app)
        return;
    const bool set = app->IsTimerSet(GetSafeHwnd(), kStallTimerId);
    if (!on || m_stallLimit.count() <= 0) {
        if (set)
            KillTimer(kStallTimerId);
        return;
    }
    // Every block moves the deadline; the timer itself is set once and, when it comes, looks
    // at the time of the last block: setting a timer wakes the window's loop, which is not free
    // thousands of times a second.
    m_lastBlockAt = app->GetClock().Now();
    if (!set)
        SetTimer(kStallTimerId, static_cast<fw::UINT>(m_stallLimit.count()));
}

void CMainFrame::OnTimer(fw::UINT_PTR nIDEvent) {
    if (nIDEvent == kStallTimerId) {
        KillTimer(kStallTimerId);
        if (auto* app = fw::AfxGetApp()) {
            const auto silent = app->GetClock().Now() - m_lastBlockAt;
            if (silent < m_stallLimit) {
                // A block went out since the timer was set: wait for the rest of the limit.
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(m_stallLimit - silent);
                SetTimer(kStallTimerId,
                         static_cast<fw::UINT>(std::max<long long>(1, left.count())));
                return;
            }
        }
        if (CUpdateView* view = GetUpdateView())
            view->OnStalled(m_stallLimit);
        return;
    }
    // A device that went away while handshaking is looked for on every tick.
    if (m_bWaitingForDevice && !ReopenLostDevice())
        return;
    // Every tick, whatever its id, sends the handshake; a closed link sends nothing.
    SendCommand(firmware::HandshakeText(), kHandshakeDelayMs);
}

} // namespace orvane::ui
