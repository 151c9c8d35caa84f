#include "ui/update_view.h"

#include "firmware/commands.h"
#include "firmware/update_texts.h"
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

using firmware::FillText;
using firmware::Texts;

std::u16string Hex(std::uint32_t n) {
    return FormatText("%X", n);
}

std::u16string Dec(std::uint64_t n) {
    return FormatText("%llu", static_cast<unsigned long long>(n));
}

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
    fw::DDX_Control(pDX, IDC_FIRMWARE_TEXT, m_firmwareText);
}

bool CUpdateView::OnCmdMsg(fw::UINT nID) {
    if (nID == ID_UPDATE) {
        if (ConfirmInterruption(Texts().restartConsequence))
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
        FillText(Texts().transferRunning, {Hex(m_nAddress)}) + std::u16string(consequence);
    return MessageBox(text, {}, fw::MB_YESNO | fw::MB_ICONWARNING | fw::MB_DEFBUTTON2) == fw::IDYES;
}

void CUpdateView::ShowAddressLine() {
    // The line this transfer's address line was added at; a line added since (the device lost,
    // a new Update) moved it up, and stays where the operator can read it.
    const int last = m_list.GetCount() - 1;
    if (m_nAddressLine >= 0 && m_nAddressLine == last)
        m_list.DeleteString(last);
    // Known before the line goes in, so that a listener of the list can tell it.
    m_nAddressLine = m_list.GetCount();
    AddLine(FillText(Texts().address, {Hex(m_nAddress)}));
    ShowNewestLine();
}

void CUpdateView::PrepareUpdate() {
    // The operator starts over: whatever ran before is no longer the transfer in progress.
    m_bTransferring = false;
    if (CMainFrame* frame = Frame())
        frame->WatchTransfer(false);
    AddLine(Texts().ruleSpace);
    AddLine(Texts().turnOff);
    AddLine(Texts().pleaseWait);
    AddLine(Texts().turnOn);
    ShowNewestLine();
    // Until the boot loader answers nobody knows how long this takes: the bar says it waits.
    m_progress.SetMarquee(true);
    if (CMainFrame* frame = Frame()) {
        frame->SwitchBaud(firmware::kSlowBaud);
        frame->SetTimer(kHandshakeTimerId, kHandshakePeriodMs);
        frame->Events().OnHandshakeStarted();
    }
}

void CUpdateView::StartUpdate() {
    m_progress.SetMarquee(false); // the boot loader has answered
    CMainFrame* frame = Frame();
    if (!frame)
        return;
    // A receiver that answers again while blocks are going out has started afresh: if it cannot
    // be updated now, the operator must hear where the transfer stood.
    const bool wasRunning = m_bTransferring;
    frame->WatchTransfer(false);
    m_bTwoStage = false;
    m_bTransferring = false;
    // Whatever was chosen before is void now: until an entry is applied, an acknowledgement
    // must not make anybody read the previous image (in the previous mode).
    m_bSelected = false;
    const auto firmware = frame->Firmware();
    const firmware::CatalogueEntry* entry = firmware->Find(m_strIdentifier);
    ReceiverAnswer answer{m_strIdentifier, entry ? std::u16string(entry->displayName) : u"",
                          frame->Baud()};
    if (!entry) {
        frame->Events().OnReceiverAnswered(answer);
        EndWithError(UpdateOutcome::UnknownIdentifier,
                     FillText(Texts().unknownIdentifier, {m_strIdentifier}), wasRunning);
        return;
    }
    if (!frame->MaySendFirmware()) {
        frame->Events().OnReceiverAnswered(answer);
        EndWithError(UpdateOutcome::FirmwareRefused, frame->PlaceholderRefusalText(), wasRunning);
        return;
    }
    std::u16string missing;
    const auto applied =
        firmware::ApplyEntry(*entry, CMainFrame::s_bSFormFlag, *this, *frame, *frame, &missing);
    answer.baud = frame->Baud(); // the entry's speed rule has been applied
    frame->Events().OnReceiverAnswered(answer);
    if (applied != firmware::ApplyResult::Applied) {
        // Blocks have gone out in this run: never say that nothing was sent.
        const std::u16string& notInPackage =
            wasRunning ? Texts().imageNotInPackageMidTransfer : Texts().imageNotInPackage;
        EndWithError(
            UpdateOutcome::ImageMissing,
            firmware->IsPlaceholder()
                ? FillText(Texts().resourceMissing, {missing, m_strIdentifier})
                : FillText(notInPackage, {m_strIdentifier, missing, FromUtf8(firmware->Origin())}),
            wasRunning);
        return;
    }
    m_pFirmwareInUse = firmware;
    BeginTransfer();
}

void CUpdateView::EndWithError(UpdateOutcome outcome, std::u16string text, bool transferCut) {
    if (transferCut) {
        const std::u16string advice = Advice();
        AddLine(FillText(Texts().restartedAs, {m_strIdentifier}));
        AddLine(advice);
        ShowNewestLine();
        text += u"\r\n" + advice;
    }
    MessageBox(text, Texts().errorCaption, fw::MB_OK | fw::MB_ICONERROR);
    if (CMainFrame* frame = Frame())
        frame->Events().OnUpdateEnded({outcome, transferCut ? m_transfer : TransferState{}, text});
}

std::u16string CUpdateView::Advice() const {
    if (m_transfer.blocksAcknowledged == 0)
        return Texts().noneAcknowledged;
    return FillText(Texts().lastAcknowledged,
                    {Dec(m_transfer.blocksAcknowledged), Hex(m_transfer.lastAcknowledgedAddress)});
}

void CUpdateView::OnStalled(std::chrono::milliseconds limit) {
    CMainFrame* frame = Frame();
    // The wait for a two-stage receiver's completion reply is the receiver writing its flash:
    // never a stall.
    if (!frame || !m_bTransferring || m_transfer.awaitingCompletion)
        return;
    m_bTransferring = false;
    const std::u16string what =
        FillText(Texts().stalled, {Dec(m_transfer.blocksSent), Hex(m_transfer.lastSentAddress),
                                   Dec(static_cast<std::uint64_t>((limit.count() + 999) / 1000))});
    const std::u16string advice = Advice();
    AddLine(what);
    AddLine(advice);
    ShowNewestLine();
    const TransferState state = m_transfer;
    const int answer =
        MessageBox(what + u"\r\n" + advice + u"\r\n\r\n" + Texts().tryAgain, Texts().errorCaption,
                   fw::MB_YESNO | fw::MB_ICONERROR | fw::MB_DEFBUTTON2);
    frame->Events().OnUpdateEnded({UpdateOutcome::Stalled, state, what + u" " + advice});
    if (answer == fw::IDYES)
        PrepareUpdate();
}

std::u16string CUpdateView::EndLostTransfer() {
    if (!m_bTransferring || m_transfer.awaitingCompletion)
        return {};
    m_bTransferring = false;
    std::u16string advice = Advice();
    AddLine(advice);
    ShowNewestLine();
    return advice;
}

void CUpdateView::EndComplete(const std::u16string& box) {
    m_transfer.awaitingCompletion = false;
    if (CMainFrame* frame = Frame())
        frame->Events().OnUpdateEnded({UpdateOutcome::Complete, m_transfer, box});
}

BlockEvent CUpdateView::Block(std::uint64_t index, std::uint32_t address,
                              std::uint32_t bytes) const {
    int lower = 0;
    int upper = 0;
    m_progress.GetRange(lower, upper);
    return {index, address, bytes, m_progress.GetPos(), upper};
}

void CUpdateView::BeginTransfer() {
    CMainFrame* frame = Frame();
    if (!frame)
        return;
    m_progress.SetRange32(0, ToPos(m_bTwoStage ? m_nTotalLen : m_nImageLen));
    AddLine(Texts().rule);
    AddLine(FillText(Texts().beginUpdate, {m_strDisplayName}));
    if (!m_strIdentifier.empty() && m_strIdentifier[0] == u'1')
        AddLine(FillText(Texts().bootId, {m_strIdentifier}));
    ShowNewestLine();

    m_nReadPos = 0;
    m_nAddressLine = -1;
    m_bEndReported = false;
    m_transfer = {};
    std::uint8_t chunk[firmware::kBlockSize];
    const std::uint32_t count = ReadChunk(chunk, frame->m_nFrameType);
    if (count > 0) {
        m_nAddress = 0;
        const std::u16string command = firmware::BlockCommandText(0, m_nAddress, chunk, count);
        NoteBlockSent(0, count);
        ShowAddressLine();
        m_nAddress += count;
        m_bTransferring = true;
        frame->SendCommand(command, kFirstBlockDelayMs);
        frame->WatchTransfer(true);
        m_progress.SetPos(ToPos(m_nReadPos));
        frame->Events().OnBlockSent(Block(m_transfer.blocksSent, 0, count));
    } else {
        m_bEndReported = true;
        AddLine(Texts().completed);
        AddLine(Texts().ruleSpace);
        ShowNewestLine();
        MessageBox(Texts().emptyImageBox, {}, fw::MB_OK);
        m_progress.SetPos(ToPos(m_nReadPos));
        EndComplete(Texts().emptyImageBox);
    }
}

void CUpdateView::NoteBlockSent(std::uint32_t address, std::uint32_t bytes) {
    ++m_transfer.blocksSent;
    m_transfer.lastSentAddress = address;
    m_nLastSentBytes = bytes;
}

void CUpdateView::SendNextBlock() {
    CMainFrame* frame = Frame();
    // Before any update was started there is no image to read: an early acknowledgement
    // (a receiver still busy from another tool, noise that decoded as one) is ignored.
    if (!frame || !m_bSelected)
        return;
    const bool endReportedBefore = m_bEndReported;
    if (!endReportedBefore && m_transfer.blocksAcknowledged < m_transfer.blocksSent) {
        ++m_transfer.blocksAcknowledged;
        m_transfer.lastAcknowledgedAddress = m_transfer.lastSentAddress;
        frame->Events().OnBlockAcknowledged(Block(
            m_transfer.blocksAcknowledged, m_transfer.lastAcknowledgedAddress, m_nLastSentBytes));
    }
    const std::uint32_t addressBefore = m_nAddress;
    std::uint8_t chunk[firmware::kBlockSize];
    const std::uint32_t count = ReadChunk(chunk, frame->m_nFrameType);
    if (count > 0) {
        m_bTransferring = true;
        frame->SendCommand(firmware::BlockCommandText(addressBefore, m_nAddress, chunk, count), 0);
        frame->WatchTransfer(true);
        NoteBlockSent(m_nAddress, count);
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
        frame->WatchTransfer(false);
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
            AddLine(Texts().rule);
            AddLine(Texts().updateComplete);
            AddLine(Texts().pleaseTurnOff);
            ShowNewestLine();
            MessageBox(Texts().completeBox, {}, fw::MB_OK);
        }
        m_progress.SetPos(ToPos(m_nReadPos));
        if (count > 0)
            frame->Events().OnBlockSent(
                Block(m_transfer.blocksSent, m_transfer.lastSentAddress, count));
        else if (!endReportedBefore)
            EndComplete(Texts().completeBox);
    } else {
        m_nBytesRead = std::min(m_nBytesRead, m_nTotalLen);
        m_progress.SetPos(ToPos(m_nBytesRead));
        if (count > 0)
            frame->Events().OnBlockSent(
                Block(m_transfer.blocksSent, m_transfer.lastSentAddress, count));
        if (count == 0) {
            AddLine(Texts().writingFirmware);
            ShowNewestLine();
            frame->m_bAwaitingCompletion = 1;
            if (!endReportedBefore) {
                m_transfer.awaitingCompletion = true;
                frame->Events().OnAwaitingCompletion(m_transfer);
            }
        }
    }
}

void CUpdateView::FinishUpdate() {
    m_bTransferring = false;
    m_transfer.awaitingCompletion = false;
    AddLine(Texts().updateComplete);
    AddLine(Texts().pleaseTurnOff);
    AddLine(Texts().rule);
    ShowNewestLine();
}

} // namespace orvane::ui
