#include "ui/link_setup_dlg.h"

#include "platform/text.h"
#include "ui/main_frame.h"
#include "ui/resource_ids.h"

namespace orvane::ui {

namespace {
// The device names carry a four-character prefix ("\\.\") that the list leaves out.
constexpr std::size_t kDevicePrefix = 4;
// At most this many characters of the chosen text are read, as 'COM255' needs six.
constexpr std::size_t kMaxPortText = 9;
} // namespace

CLinkSetupDlg::CLinkSetupDlg(CMainFrame* pFrame)
    : fw::CDialog(IDD_LINK_SETUP, pFrame), m_pFrame(pFrame) {}

void CLinkSetupDlg::DoDataExchange(fw::CDataExchange* pDX) {
    fw::CDialog::DoDataExchange(pDX);
    fw::DDX_Control(pDX, IDC_COMBO_PORT, m_comboPort);
    fw::DDX_Control(pDX, IDC_PORT_DETAILS, m_staticDetails);
    fw::DDX_CBIndex(pDX, m_comboPort, m_nSelection);
}

bool CLinkSetupDlg::OnInitDialog() {
    fw::CDialog::OnInitDialog();
    if (!m_pFrame)
        return true;
    const std::u16string current =
        m_pFrame->m_nPort != 0 ? FormatText("COM%d", m_pFrame->m_nPort) : std::u16string();
    int i = 0;
    for (const std::u16string& name : m_pFrame->m_portNames) {
        const std::u16string text = name.size() > kDevicePrefix ? name.substr(kDevicePrefix) : u"";
        m_comboPort.AddString(text);
        if (text == current)
            m_nSelection = i;
        ++i;
    }
    // A current port missing from the list keeps the selection the caller gave (the port
    // number itself), so the entry at that position is selected when there is one.
    UpdateData(false);
    ShowDetails();
    return true;
}

void CLinkSetupDlg::ShowDetails() {
    long number = 0;
    const std::u16string text = m_comboPort.GetWindowTextW().substr(0, kMaxPortText);
    std::u16string details;
    if (m_pFrame && ReadDecimal(text, 3, number))
        details = m_pFrame->DescribePort(static_cast<int>(number));
    m_staticDetails.SetWindowTextW(details);
}

bool CLinkSetupDlg::OnControlNotify(fw::UINT nID, fw::UINT nCode) {
    if (static_cast<int>(nID) == IDC_COMBO_PORT && nCode == fw::CBN_SELCHANGE) {
        OnSelchangePort();
        return true;
    }
    return fw::CDialog::OnControlNotify(nID, nCode);
}

void CLinkSetupDlg::OnSelchangePort() {
    UpdateData(true);
    ShowDetails();
}

void CLinkSetupDlg::OnOK() {
    UpdateData(true);
    const std::u16string text = m_comboPort.GetWindowTextW().substr(0, kMaxPortText);
    long number = 0;
    // Nothing chosen (no ports were found): the previous port stays.
    if (m_pFrame && ReadDecimal(text, 3, number))
        m_pFrame->m_nPort = static_cast<int>(number);
    EndDialog(fw::IDOK);
}

} // namespace orvane::ui
