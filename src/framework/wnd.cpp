#include "framework/wnd.h"

#include "framework/app.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace fw {

namespace detail {
namespace {
// Live windows by handle. Other threads only ask whether a handle is alive (posting); the
// user-interface thread registers, removes and looks up.
struct Registry {
    std::mutex mutex;
    std::unordered_map<HWND, CWnd*> windows;
};
Registry& TheRegistry() {
    static Registry registry;
    return registry;
}
std::atomic<HWND> g_nextHandle{1};

void Register(HWND hwnd, CWnd* wnd) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.windows.emplace(hwnd, wnd);
}
void Unregister(HWND hwnd) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.windows.erase(hwnd);
}
} // namespace

CWnd* FindWindow(HWND hwnd) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.windows.find(hwnd);
    return it == r.windows.end() ? nullptr : it->second;
}

bool IsLiveHandle(HWND hwnd) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.windows.count(hwnd) != 0;
}
} // namespace detail

CWnd::CWnd() : m_hWnd(detail::g_nextHandle.fetch_add(1, std::memory_order_relaxed)) {
    detail::Register(m_hWnd, this);
}

CWnd::~CWnd() {
    // The derived parts are gone already, so no virtual hook runs here; only the bookkeeping
    // that keeps other objects from reaching this one.
    if (!m_bDestroyed) {
        m_bDestroyed = true;
        detail::Unregister(m_hWnd);
        if (CWinApp* app = AfxGetApp()) {
            app->ForgetWindow(m_hWnd);
            if (app->m_pMainWnd == this)
                app->m_pMainWnd = nullptr;
        }
    }
    SetParent(nullptr);
    for (CWnd* child : m_children)
        child->m_pParent = nullptr;
}

bool CWnd::IsWindow() const {
    return !m_bDestroyed;
}

bool CWnd::DestroyWindow() {
    if (m_bDestroyed)
        return false;
    OnDestroy();
    if (m_pWndPeer)
        m_pWndPeer->OnDestroy();
    // Children go first, as native child windows do.
    for (CWnd* child : std::vector<CWnd*>(m_children))
        child->DestroyWindow();
    m_bDestroyed = true;
    detail::Unregister(m_hWnd);
    if (CWinApp* app = AfxGetApp()) {
        app->ForgetWindow(m_hWnd);
        if (app->m_pMainWnd == this) {
            app->m_pMainWnd = nullptr;
            app->PostQuitMessage(0);
        }
    }
    return true;
}

void CWnd::SetWindowTextW(std::u16string_view text) {
    m_strText.assign(text);
    if (m_pWndPeer)
        m_pWndPeer->OnSetText(m_strText);
}

bool CWnd::PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) {
    return fw::PostMessageW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendMessageW(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_bDestroyed)
        return 0;
    return WindowProc(message, wParam, lParam);
}

UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse) {
    CWinApp* app = AfxGetApp();
    if (!app || m_bDestroyed)
        return 0;
    return app->SetTimer(m_hWnd, nIDEvent, nElapse);
}

bool CWnd::KillTimer(UINT_PTR nIDEvent) {
    CWinApp* app = AfxGetApp();
    return app && app->KillTimer(m_hWnd, nIDEvent);
}

bool CWnd::IsCommandEnabled(UINT nID) {
    CCmdUI cmdUI;
    cmdUI.m_nID = nID;
    OnUpdateCmdUI(cmdUI);
    return cmdUI.enabled;
}

bool CWnd::ExecuteCommand(UINT nID) {
    if (m_bDestroyed || !IsCommandEnabled(nID))
        return false;
    return SendMessageW(WM_COMMAND, MAKEWPARAM(nID, 0), 0) != 0;
}

int CWnd::MessageBox(std::u16string_view text, std::u16string_view caption, unsigned style) {
    std::u16string title(caption);
    if (title.empty()) {
        if (CWinApp* app = AfxGetApp())
            title = app->GetAppName();
    }
    return orvane::MessageBoxW(this, text, title, style);
}

void CWnd::SetParent(CWnd* pParent) {
    if (pParent == m_pParent)
        return;
    if (m_pParent)
        std::erase(m_pParent->m_children, this);
    m_pParent = pParent;
    if (m_pParent)
        m_pParent->m_children.push_back(this);
}

CWnd* CWnd::GetDlgItem(int nID) const {
    for (CWnd* child : m_children) {
        if (child->m_nID == nID)
            return child;
    }
    return nullptr;
}

bool CWnd::UpdateData(bool bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return true;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        OnTimer(static_cast<UINT_PTR>(wParam));
        return 0;
    case WM_COMMAND:
        return OnCommand(wParam, lParam) ? 1 : 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    default:
        return 0;
    }
}

bool CWnd::OnCommand(WPARAM wParam, LPARAM /*lParam*/) {
    const UINT code = HIWORD(wParam);
    if (code == 0)
        return OnCmdMsg(LOWORD(wParam));
    return OnControlNotify(LOWORD(wParam), code);
}

void CWnd::NotifyParent(UINT nCode) {
    if (m_pParent)
        m_pParent->SendMessageW(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(m_nID), nCode),
                                static_cast<LPARAM>(m_hWnd));
}

void CFrameWnd::SetActiveView(CView* pView) {
    m_pActiveView = pView;
    if (pView)
        pView->SetParent(this);
}

bool CFrameWnd::OnCmdMsg(UINT nID) {
    return m_pActiveView && m_pActiveView->OnCmdMsg(nID);
}

void CFrameWnd::OnUpdateCmdUI(CCmdUI& cmdUI) {
    if (m_pActiveView)
        m_pActiveView->OnUpdateCmdUI(cmdUI);
}

CFrameWnd* CView::GetParentFrame() const {
    for (CWnd* p = GetParent(); p; p = p->GetParent()) {
        if (auto* frame = dynamic_cast<CFrameWnd*>(p))
            return frame;
    }
    return nullptr;
}

namespace {
DialogRunner& TheDialogRunner() {
    static DialogRunner runner;
    return runner;
}
} // namespace

DialogRunner SetDialogRunner(DialogRunner runner) {
    return std::exchange(TheDialogRunner(), std::move(runner));
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pOwner(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    m_bEnded = false;
    m_nResult = IDCANCEL;
    OnInitDialog();
    if (!m_bEnded) {
        // Copy the runner: a dialog script may install another one for a nested dialog.
        if (DialogRunner runner = TheDialogRunner())
            runner(*this);
    }
    if (!m_bEnded)
        OnCancel();
    if (!m_bEnded)
        EndDialog(IDCANCEL); // an OnCancel override that did not end the dialog
    return m_nResult;
}

void CDialog::EndDialog(int nResult) {
    m_nResult = nResult;
    m_bEnded = true;
}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnOK() {
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

bool CDialog::OnCmdMsg(UINT nID) {
    if (nID == static_cast<UINT>(IDOK)) {
        OnOK();
        return true;
    }
    if (nID == static_cast<UINT>(IDCANCEL)) {
        OnCancel();
        return true;
    }
    return false;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    if (rControl.GetParent() != pDX->m_pDlgWnd) {
        rControl.SetDlgCtrlID(nIDC);
        rControl.SetParent(pDX->m_pDlgWnd);
    }
}

} // namespace fw
