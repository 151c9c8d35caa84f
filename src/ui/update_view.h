// The update view: the message list and progress bar, and the update itself (preparation,
// start for an identifier, one block per acknowledgement, completion).
//
// Thread contract: user-interface thread only.
#pragma once

#include "firmware/catalogue.h"
#include "firmware/firmware_set.h"
#include "framework/controls.h"
#include "framework/wnd.h"
#include "ui/update_events.h"

#include <chrono>
#include <memory>
#include <string>

namespace orvane::ui {

class CMainFrame;

class CUpdateView : public fw::CFormView, public firmware::CImageSelection {
public:
    // The message list keeps its newest lines only: a receiver that repeats a reply without
    // end (identification answers, acknowledgements after the end) must not grow it, and the
    // program's memory, without bound. A session of updates stays far below this.
    static constexpr int kMaxLines = 2000;

    CUpdateView();

    // Appends a line to the message list, dropping the oldest beyond kMaxLines.
    void AppendLine(std::u16string_view line);

    void PrepareUpdate();
    void StartUpdate();
    // The start of a transfer once the selection holds an image: progress range, the list
    // lines, the first block (or the completion of an empty image).
    void BeginTransfer();
    void SendNextBlock();
    void FinishUpdate();
    // No acknowledgement came for `limit` after a block: the transfer has stopped. Says where it
    // stood and what to do, asks whether to try again (Yes prepares a new update), and ends the
    // transfer.
    void OnStalled(std::chrono::milliseconds limit);
    // The device went away: when a transfer was running, it ends, and the list says where it
    // stood and what to do; returns that advice (empty when no transfer was running).
    std::u16string EndLostTransfer();
    // Where a transfer that began and did not complete stood, and what the operator does now.
    std::u16string Advice() const;

    // True from the first block of a transfer until its end (for the two-stage entry, until
    // the receiver's completion reply) while the link is open: interrupting now may leave the
    // receiver without firmware.
    bool IsTransferRunning() const;
    // While a transfer runs, asks the operator (Yes/No, No by default) whether to go on with
    // what would interrupt it; `consequence` says what that is. True when nothing runs or the
    // operator said Yes.
    bool ConfirmInterruption(std::u16string_view consequence);

    fw::CProgressCtrl m_progress;
    fw::CListBox m_list;
    // The panel below the progress bar that names the firmware this updater sends (the
    // application fills it in).
    fw::CWnd m_firmwareText;
    int m_nListCount = 0;
    std::u16string m_strIdentifier;
    // The firmware the selection points into: kept alive until the next start, whatever
    // firmware is loaded meanwhile.
    std::shared_ptr<const firmware::FirmwareSet> m_pFirmwareInUse;
    // Acknowledgements that arrived after the end of the image had been reported.
    std::uint64_t m_nSurplusAcks = 0;

    // Where the transfer of this view stands (of the last one, once it ended).
    const TransferState& Transfer() const { return m_transfer; }
    // The index of the transfer's address line in the message list, or -1: it is known before
    // the line is added, so a listener of the list can tell the line as it arrives.
    int AddressLineIndex() const { return m_nAddressLine; }

protected:
    void DoDataExchange(fw::CDataExchange* pDX) override;
    bool OnCmdMsg(fw::UINT nID) override;
    void OnUpdateCmdUI(fw::CCmdUI& cmdUI) override;

private:
    CMainFrame* Frame() const;
    void AddLine(std::u16string_view line) { AppendLine(line); }
    void ShowNewestLine();

    // Appends "Address: %X" for the block just sent. Replaces the previous block's line only
    // while that line is still the last one: a line added since (the device lost, a new
    // Update) stays where the operator can read it.
    void ShowAddressLine();

    // A box for an update that cannot go on, then the event that says why.
    // When `transferCut`, blocks had gone out: the list and the box say where it stood.
    void EndWithError(UpdateOutcome outcome, std::u16string text, bool transferCut = false);
    // The transfer is complete: the box has been shown.
    void EndComplete(const std::u16string& box);
    void NoteBlockSent(std::uint32_t address, std::uint32_t bytes);
    BlockEvent Block(std::uint64_t index, std::uint32_t address, std::uint32_t bytes) const;

    TransferState m_transfer;
    std::uint32_t m_nLastSentBytes = 0;
    int m_nDispatchDepth = 0;
    int m_nAddressLine = -1; // index of this transfer's address line, or -1
    bool m_bTransferring = false;
    bool m_bEndReported = false;
};

} // namespace orvane::ui
