// The about box (template 100): the application icon, the caption, and which firmware this
// updater sends; closed with the caption's close button or Esc.
//
// Thread contract: user-interface thread only.
#pragma once

#include "framework/wnd.h"
#include "ui/resource_ids.h"

#include <string>

namespace orvane::app {

class CAboutDlg : public fw::CDialog {
public:
    explicit CAboutDlg(std::u16string firmware = {})
        : fw::CDialog(ui::IDD_ABOUTBOX), m_strFirmware(std::move(firmware)) {}
    void DoDataExchange(fw::CDataExchange* pDX) override {
        fw::CDialog::DoDataExchange(pDX);
        fw::DDX_Control(pDX, ui::IDC_ABOUT_FIRMWARE, m_firmware);
    }
    bool OnInitDialog() override {
        fw::CDialog::OnInitDialog();
        m_firmware.SetWindowTextW(m_strFirmware);
        return true;
    }

    fw::CWnd m_firmware; // the line naming the firmware

private:
    std::u16string m_strFirmware;
};

} // namespace orvane::app
