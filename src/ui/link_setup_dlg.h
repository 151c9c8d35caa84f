// The port setup dialog: chooses the link's COM port among those found at start-up.
//
// Thread contract: user-interface thread only.
#pragma once

#include "framework/controls.h"
#include "framework/wnd.h"

namespace orvane::ui {

class CMainFrame;

class CLinkSetupDlg : public fw::CDialog {
public:
    explicit CLinkSetupDlg(CMainFrame* pFrame = nullptr);

    CMainFrame* m_pFrame = nullptr;
    fw::CComboBox m_comboPort;
    // Below the list: what tells the chosen port's device from the others.
    fw::CWnd m_staticDetails;
    int m_nSelection = 0;

    bool OnInitDialog() override;
    void OnOK() override;
    void OnSelchangePort();

protected:
    void ShowDetails();
    void DoDataExchange(fw::CDataExchange* pDX) override;
    bool OnControlNotify(fw::UINT nID, fw::UINT nCode) override;
};

} // namespace orvane::ui
