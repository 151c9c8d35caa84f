// Windows, frames, views and dialogs.
//
// A CWnd holds its state (title, children, control contents) in this object; a graphical
// back end mirrors it through an optional peer that is told of every change, and feeds the
// operator's actions back in through ExecuteCommand, SendMessageW and the controls'
// *ByUser operations. Without a peer (headless) the objects are complete on their own.
//
// A window exists from construction: it has a handle at once and can receive messages. The
// object is owned by whoever created it; DestroyWindow() ends the window's life as a message
// target but does not delete the object.
//
// Thread contract: PostMessageW is the only member that may be called from another thread;
// the caller must keep the object alive for the duration of that call (messages still queued
// when the window is destroyed are dropped). Everything else runs on the user-interface
// thread.
#pragma once

#include "framework/types.h"
#include "platform/message.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace fw {

// The enable and check state of one command, asked of the window before a menu item, a
// toolbar button or an accelerator may run it.
struct CCmdUI {
    UINT m_nID = 0;
    bool enabled = true;
    int check = 0;
    bool handled = false; // some handler said something about this command

    void Enable(bool bOn = true) {
        enabled = bOn;
        handled = true;
    }
    void SetCheck(int nCheck = 1) {
        check = nCheck;
        handled = true;
    }
};

// A back end's mirror of a window. Every call happens on the user-interface thread, after
// the core object has changed.
class IWndPeer {
public:
    virtual ~IWndPeer() = default;
    virtual void OnSetText(std::u16string_view /*text*/) {}
    virtual void OnDestroy() {}
};

class CWnd;

// What a data exchange is doing: moving values into the controls (save false) or reading
// them back (save true).
class CDataExchange {
public:
    CDataExchange(CWnd* pDlgWnd, bool bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}
    bool m_bSaveAndValidate;
    CWnd* m_pDlgWnd;
};

class CWnd : public orvane::IMessageTarget {
public:
    CWnd();
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND GetSafeHwnd() const { return m_hWnd; }
    // True from construction until DestroyWindow().
    bool IsWindow() const;
    // Ends the window: drops its queued messages and timers, detaches its children, tells
    // the peer. Destroying the application's main window ends Run() with code 0.
    bool DestroyWindow();

    void SetWindowTextW(std::u16string_view text);
    virtual std::u16string GetWindowTextW() const { return m_strText; }

    // Queues a message for this window on the application's queue. Any thread; false when
    // there is no application, the window is destroyed or the queue is full.
    bool PostMessageW(UINT message, WPARAM wParam, LPARAM lParam) override;
    // Calls the window procedure now; 0 when the window is destroyed.
    LRESULT SendMessageW(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    // Timers on the application's clock; SetTimer with a running id restarts it.
    UINT_PTR SetTimer(UINT_PTR nIDEvent, UINT nElapse);
    bool KillTimer(UINT_PTR nIDEvent);

    // Command states: OnUpdateCmdUI fills in the CCmdUI; a command nobody speaks for is
    // enabled.
    virtual void OnUpdateCmdUI(CCmdUI& /*cmdUI*/) {}
    bool IsCommandEnabled(UINT nID);
    // Runs a command the way a menu item, toolbar button or accelerator does: only when it is
    // enabled. Returns whether it ran and was handled.
    bool ExecuteCommand(UINT nID);

    // A modal message box owned by this window; an empty caption shows the application's
    // title. Keeps dispatching messages while open (the back end's handler does this).
    int MessageBox(std::u16string_view text, std::u16string_view caption = {},
                   unsigned style = MB_OK);

    // Parent and children, for dialogs and forms; a back end finds controls by id.
    CWnd* GetParent() const { return m_pParent; }
    void SetParent(CWnd* pParent);
    int GetDlgCtrlID() const { return m_nID; }
    void SetDlgCtrlID(int nID) { m_nID = nID; }
    CWnd* GetDlgItem(int nID) const;
    const std::vector<CWnd*>& GetChildren() const { return m_children; }

    // Data exchange between members and controls.
    virtual void DoDataExchange(CDataExchange* /*pDX*/) {}
    bool UpdateData(bool bSaveAndValidate = true);

    void SetWndPeer(IWndPeer* peer) { m_pWndPeer = peer; }
    IWndPeer* GetWndPeer() const { return m_pWndPeer; }

    // The window procedure. The default routes WM_TIMER to OnTimer, WM_COMMAND to OnCommand
    // and WM_CLOSE to OnClose; other messages answer 0.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Splits a WM_COMMAND: code 0 (menu, accelerator, button) goes to OnCmdMsg, any other
    // code is a control's notification and goes to OnControlNotify.
    virtual bool OnCommand(WPARAM wParam, LPARAM lParam);
    virtual bool OnCmdMsg(UINT /*nID*/) { return false; }
    virtual bool OnControlNotify(UINT /*nID*/, UINT /*nCode*/) { return false; }
    virtual void OnTimer(UINT_PTR /*nIDEvent*/) {}
    virtual void OnClose() { DestroyWindow(); }

protected:
    // Called by DestroyWindow before the window stops being a message target.
    virtual void OnDestroy() {}
    // Sends a control notification to the parent, as a control does when the operator acts.
    void NotifyParent(UINT nCode);

private:
    const HWND m_hWnd; // fixed for the object's life, so other threads may read it
    std::u16string m_strText;
    CWnd* m_pParent = nullptr;
    std::vector<CWnd*> m_children;
    int m_nID = 0;
    IWndPeer* m_pWndPeer = nullptr;
    bool m_bDestroyed = false;
};

class CView;

// A top-level window holding one active view. Commands and command states that the frame
// does not handle go on to the active view.
class CFrameWnd : public CWnd {
public:
    CView* GetActiveView() const { return m_pActiveView; }
    void SetActiveView(CView* pView);

    bool OnCmdMsg(UINT nID) override;
    void OnUpdateCmdUI(CCmdUI& cmdUI) override;

private:
    CView* m_pActiveView = nullptr;
};

class CView : public CWnd {
public:
    CFrameWnd* GetParentFrame() const;
    virtual void OnInitialUpdate() {}
};

// A view laid out from a dialog template; the template id names the form for the back end.
class CFormView : public CView {
public:
    explicit CFormView(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}
    UINT GetTemplateId() const { return m_nIDTemplate; }
    void OnInitialUpdate() override { UpdateData(false); }

private:
    UINT m_nIDTemplate;
};

class CDialog;
// Shows a modal dialog and returns when it has ended (EndDialog) or has been closed. Installed
// by the back end; without one, a dialog is cancelled as soon as it has been initialised.
using DialogRunner = std::function<void(CDialog&)>;
DialogRunner SetDialogRunner(DialogRunner runner);

class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Initialises the dialog, hands it to the back end, and returns IDOK or IDCANCEL (or the
    // code given to EndDialog). A dialog the back end leaves open counts as cancelled.
    INT_PTR DoModal();
    void EndDialog(int nResult);
    bool IsEnded() const { return m_bEnded; }
    UINT GetTemplateId() const { return m_nIDTemplate; }
    CWnd* GetOwner() const { return m_pOwner; }

    // Base initialisation moves the data into the controls.
    virtual bool OnInitDialog();
    // OK reads the controls back and ends with IDOK; Cancel ends with IDCANCEL.
    virtual void OnOK();
    virtual void OnCancel();
    // IDOK and IDCANCEL commands (the buttons, Enter, Esc) reach OnOK and OnCancel.
    bool OnCmdMsg(UINT nID) override;
    void OnClose() override { OnCancel(); }

private:
    UINT m_nIDTemplate;
    CWnd* m_pOwner;
    bool m_bEnded = false;
    int m_nResult = IDCANCEL;
};

// Binds a member control to its id in the dialog or form (the first exchange sets the id and
// parent).
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

namespace detail {
// The live window with this handle, or null. User-interface thread (the pointer is only
// safe to use there, where windows are destroyed).
CWnd* FindWindow(HWND hwnd);
// Whether a window with this handle is alive. Any thread.
bool IsLiveHandle(HWND hwnd);
} // namespace detail

} // namespace fw
