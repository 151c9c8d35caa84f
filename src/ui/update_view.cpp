#include "ui/update_view.h"

#include "firmware/commands.h"
#include "framework/app.h"
#include "platform/text.h"
#include "ui/main_frame.h"
#include "ui/resource_ids.h"

#include <algorithm>

namespace orvane::ui {

namespace {

constexpr unsigned kHandshakeTimerId = firmware::kHandshakeTimerId;
constexpr unsigned kHandshakePeriodMs = 300;
constexpr unsigned kFirstBlockDelayMs = 20;

constexpr std::u16string_view kRule = u"-----------------------------------------";       // 41
constexpr std::u16string_view kRuleSpace = u"----------------------------------------- "; // 41 + 1
constexpr std::u16string_view kCompleteBox =
    u"Firmware update complete.\r\nPlease turn off the receiver.";
constexpr std::u16string_view kErrorCaption = u"\u9519\u8BEF"; // "Error"

int ToPos(std::uint32_t n) {
    return static_cast<int>(std::min<std::uint32_t>(n, 0x7FFFFFFF));
}

} // namespace

CUpdateView::CUpdateView() : fw::CFormView(IDD_UPDATE_FORM) {
    m_nReadPos = 0;
    m_nLastRecordType = 0;
}

CMainFrame* CUpdateView::Frame() const {
    return dynamic_cast<CMainFrame*>(GetParentFrame());
}

void CUpdateView::DoDataExchange(fw::CDataExchange* pDX) {
    fw::CFormView::DoDataExchange(pDX);
    fw::DDX_Control(pDX, IDC_PROGRESS, m_progress);
    fw::DDX_Control(pDX, IDC_LIST, m_list);
}

bool CUpdateView::OnCmdMsg(fw::UINT nID) {
    if (nID == ID_UPDATE) {
        if (ConfirmInterruption(u"If you start again now, the receiver may be left without "
                                u"firmware.\r\nStart a new update all the same?"))
            PrepareUpdate();
        return true;
    }
    return fw::CFormView::OnCmdMsg(nID);
}

void CUpdateView::OnUpdateCmdUI(fw::CCmdUI& cmdUI) {
    if (cmdUI.m_nID == ID_UPDATE) {
        CMainFrame* frame = Frame();
        cmdUI.Enable(frame && frame->IsLinked());
        return;
    }
    fw::CFormView::OnUpdateCmdUI(cmdUI);
}

void CUpdateView::ShowNewestLine() {
    m_nListCount = m_list.GetCount();
    m_list.SetCurSel(m_nListCount - 1);
}

void CUpdateView::AppendLine(std::u16string_view line) {
    m_list.AddString(line);
    while (m_list.GetCount() > kMaxLines) {
        m_list.DeleteString(0);
        if (m_nAddressLine >= 0)
            --m_nAddressLine;
    }
}

bool CUpdateView::IsTransferRunning() const {
    const CMainFrame* frame = Frame();
    return m_bTransferring && frame && frame->IsLinked();
}

bool CUpdateView::ConfirmInterruption(std::u16string_view consequence) {
    if (!IsTransferRunning())
        return true;
    const std::u16string text =
        FormatText("A firmware update is running (Address: %X).\r\n", m_nAddress) +
        std::u16string(consequence);
    return MessageBox(text, {}, fw::MB_YESNO | fw::MB_ICONWARNING | fw::MB_DEFBUTTON2) == fw::IDYES;
}

void CUpdateView::ShowAddressLine() {
    const int last = m_list.GetCount() - 1;
    if (m_nAddressLine >= 0 && m_nAddressLine == last &&
        m_list.GetText(last).rfind(u"Address: ", 0) == 0)
        m_list.DeleteString(last);
    AddLine(FormatText("Address: %X", m_nAddress));
    m_nAddressLine = m_list.GetCount() - 1;
    ShowNewestLine();
}

void CUpdateView::PrepareUpdate() {
    // The operator starts over: whatever ran before is no longer the transfer in progress.
    m_bTransferring = false;
    AddLine(kRuleSpace);
    AddLine(u"Turn off the receiver.");
    AddLine(u"Please wait for a moment...");
    AddLine(u"Turn on the receiver.");
    ShowNewestLine();
    // Until the boot loader answers nobody knows how long this takes: the bar says it waits.
    m_progress.SetMarquee(true);
    if (CMainFrame* frame = Frame()) {
        frame->SwitchBaud(firmware::kSlowBaud);
        frame->SetTimer(kHandshakeTimerId, kHandshakePeriodMs);
    }
}

void CUpdateView::StartUpdate() {
    m_progress.SetMarquee(false); // the boot loader has answered
    CMainFrame* frame = Frame();
    if (!frame)
        return;
    m_bTwoStage = false;
    m_bTransferring = false;
    // Whatever was chosen before is void now: until an entry is applied, an acknowledgement
    // must not make anybody read the previous image (in the previous mode).
    m_bSelected = false;
    const auto firmware = frame->Firmware();
    const firmware::CatalogueEntry* entry = firmware->Find(m_strIdentifier);
    if (!entry) {
        MessageBox(u"Can't find the version of " + m_strIdentifier + u", please comfirm again!",
                   kErrorCaption, fw::MB_OK | fw::MB_ICONERROR);
        return;
    }
    if (!frame->MaySendFirmware()) {
        MessageBox(frame->PlaceholderRefusalText(), kErrorCaption, fw::MB_OK | fw::MB_ICONERROR);
        return;
    }
    std::u16string missing;
    if (firmware::ApplyEntry(*entry, CMainFrame::s_bSFormFlag, *this, *frame, *frame, &missing) !=
        firmware::ApplyResult::Applied) {
        if (firmware->IsPlaceholder())
            MessageBox(u"The firmware \"" + missing + u"\" for " + m_strIdentifier +
                           u" is missing from this updater; the update cannot start.",
                       kErrorCaption, fw::MB_OK | fw::MB_ICONERROR);
        else
            MessageBox(m_strIdentifier + u": image " + missing +
                           u" is not in this firmware package (" + FromUtf8(firmware->Origin()) +
                           u"); nothing was sent.",
                       kErrorCaption, fw::MB_OK | fw::MB_ICONERROR);
        return;
    }
    m_pFirmwareInUse = firmware;
    BeginTransfer();
}

void CUpdateView::BeginTransfer() {
    CMainFrame* frame = Frame();
    if (!frame)
        return;
    m_progress.SetRange32(0, ToPos(m_bTwoStage ? m_nTotalLen : m_nImageLen));
    AddLine(kRule);
    AddLine(u"Begin to update " + m_strDisplayName + u"...");
    if (!m_strIdentifier.empty() && m_strIdentifier[0] == u'1')
        AddLine(u"Boot ID: " + m_strIdentifier);
    ShowNewestLine();

    m_nReadPos = 0;
    m_nAddressLine = -1;
    m_bEndReported = false;
    std::uint8_t chunk[firmware::kBlockSize];
    const std::uint32_t count = ReadChunk(chunk, frame->m_nFrameType);
    if (count > 0) {
        m_nAddress = 0;
        const std::u16string command = firmware::BlockCommandText(0, m_nAddress, chunk, count);
        ShowAddressLine();
        m_nAddress += count;
        m_bTransferring = true;
        frame->SendCommand(command, kFirstBlockDelayMs);
    } else {
        m_bEndReported = true;
        AddLine(u"Completed!");
        AddLine(kRuleSpace);
        ShowNewestLine();
        MessageBox(u"Firmware update complete\r\nPlease turn off the receiver.", {}, fw::MB_OK);
    }
    m_progress.SetPos(ToPos(m_nReadPos));
}

void CUpdateView::SendNextBlock() {
    CMainFrame* frame = Frame();
    // Before any update was started there is no image to read: an early acknowledgement
    // (a receiver still busy from another tool, noise that decoded as one) is ignored.
    if (!frame || !m_bSelected)
        return;
    const std::uint32_t addressBefore = m_nAddress;
    std::uint8_t chunk[firmware::kBlockSize];
    const std::uint32_t count = ReadChunk(chunk, frame->m_nFrameType);
    if (count > 0) {
        m_bTransferring = true;
        frame->SendCommand(firmware::BlockCommandText(addressBefore, m_nAddress, chunk, count), 0);
        ShowAddressLine();
        m_nAddress += count;
        // Let one waiting message through (a repaint, a tick, the next reply), but only from
        // the outermost block: a receiver that answers at once would otherwise nest one
        // block inside the other until the stack runs out on a long transfer.
        if (m_nDispatchDepth == 0) {
            if (auto* app = fw::AfxGetApp()) {
                ++m_nDispatchDepth;
                app->PeekAndDispatchOne();
                --m_nDispatchDepth;
            }
        }
    }
    if (count == 0) {
        if (m_bEndReported)
            ++m_nSurplusAcks;
        m_bEndReported = true;
        // An embedded image is done; the two-stage entry still waits for the receiver's
        // completion reply, which ends the transfer in FinishUpdate.
        if (!m_bTwoStage)
            m_bTransferring = false;
    }
    if (!m_bTwoStage) {
        if (count == 0) {
            AddLine(kRule);
            AddLine(u"Firmware update complete.");
            AddLine(u"Please turn off the receiver.");
            ShowNewestLine();
            MessageBox(kCompleteBox, {}, fw::MB_OK);
        }
        m_progress.SetPos(ToPos(m_nReadPos));
    } else {
        m_nBytesRead = std::min(m_nBytesRead, m_nTotalLen);
        m_progress.SetPos(ToPos(m_nBytesRead));
        if (count == 0) {
            AddLine(u"Updating firmware,please wait.............");
            ShowNewestLine();
            frame->m_bAwaitingCompletion = 1;
        }
    }
}

void CUpdateView::FinishUpdate() {
    m_bTransferring = false;
    AddLine(u"Firmware update complete.");
    AddLine(u"Please turn off the receiver.");
    AddLine(kRule);
    ShowNewestLine();
}

} // namespace orvane::ui
