// The update view: the message list and progress bar, and the update itself (preparation,
// start for an identifier, one block per acknowledgement, completion).
//
// Thread contract: user-interface thread only.
#pragma once

#include "firmware/catalogue.h"
#include "firmware/firmware_set.h"
#include "framework/controls.h"
#include "framework/wnd.h"

#include <memory>
#include <string>

namespace orvane::ui {

class CMainFrame;

class CUpdateView : public fw::CFormView, public firmware::CImageSelection {
public:
    CUpdateView();

    void PrepareUpdate();
    void StartUpdate();
    // The start of a transfer once the selection holds an image: progress range, the list
    // lines, the first block (or the completion of an empty image).
    void BeginTransfer();
    void SendNextBlock();
    void FinishUpdate();

    fw::CProgressCtrl m_progress;
    fw::CListBox m_list;
    int m_nListCount = 0;
    std::u16string m_strIdentifier;
    // The firmware the selection points into: kept alive until the next start, whatever
    // firmware is loaded meanwhile.
    std::shared_ptr<const firmware::FirmwareSet> m_pFirmwareInUse;

protected:
    void DoDataExchange(fw::CDataExchange* pDX) override;
    bool OnCmdMsg(fw::UINT nID) override;
    void OnUpdateCmdUI(fw::CCmdUI& cmdUI) override;

private:
    CMainFrame* Frame() const;
    void AddLine(std::u16string_view line) { m_list.AddString(line); }
    void ShowNewestLine();

    int m_nDispatchDepth = 0;
};

} // namespace orvane::ui
