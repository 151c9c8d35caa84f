// The about box (template 100): the application icon and the caption; closed with the
// caption's close button or Esc.
//
// Thread contract: user-interface thread only.
#pragma once

#include "framework/wnd.h"
#include "ui/resource_ids.h"

namespace orvane::app {

class CAboutDlg : public fw::CDialog {
public:
    CAboutDlg() : fw::CDialog(ui::IDD_ABOUTBOX) {}
    bool OnInitDialog() override {
        fw::CDialog::OnInitDialog();
        return true;
    }
};

} // namespace orvane::app
