// The controls of the Win32 back end's forms and dialogs: each native control mirrors one control
// of the core through a peer, and the dialog procedure binds them and hands the operator's
// choices to the core.
#include "framework/win32/backend_impl.h"

#include "framework/controls.h"

namespace fw::win32ui {

namespace {

// ---- control peers: each mirrors one core control in its native window ----

class ListPeer final : public IListBoxPeer {
public:
    ListPeer(CListBox& core, ::HWND hwnd) : m_core(core), m_hwnd(hwnd) {
        for (int i = 0; i < core.GetCount(); ++i)
            OnAddString(i, core.GetText(i));
        core.SetPeer(this);
    }
    ~ListPeer() override { m_core.SetPeer(nullptr); }
    void OnAddString(int index, std::u16string_view text) override {
        const std::u16string line(text);
        SendMessageW(m_hwnd, LB_INSERTSTRING, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(W(line)));
        // Long lines scroll sideways rather than being cut short.
        if (HDC dc = GetDC(m_hwnd)) {
            const HGDIOBJ old =
                SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(m_hwnd, WM_GETFONT, 0, 0)));
            SIZE size{};
            if (GetTextExtentPoint32W(dc, W(line), static_cast<int>(line.size()), &size) &&
                size.cx + 8 > m_widest) {
                m_widest = size.cx + 8;
                SendMessageW(m_hwnd, LB_SETHORIZONTALEXTENT, static_cast<WPARAM>(m_widest), 0);
            }
            SelectObject(dc, old);
            ReleaseDC(m_hwnd, dc);
        }
        // The newest line stays in sight, as the operator follows the update by it.
        const auto count = SendMessageW(m_hwnd, LB_GETCOUNT, 0, 0);
        if (index == count - 1)
            SendMessageW(m_hwnd, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    }
    void OnDeleteString(int index) override {
        SendMessageW(m_hwnd, LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    }
    void OnSelect(int index) override {
        // The list shows no selection; selecting a line only brings it into view.
        if (index >= 0)
            SendMessageW(m_hwnd, LB_SETTOPINDEX, static_cast<WPARAM>(index), 0);
    }

private:
    CListBox& m_core;
    ::HWND m_hwnd;
    int m_widest = 0;
};

class ProgressPeer final : public IProgressPeer {
public:
    ProgressPeer(CProgressCtrl& core, ::HWND hwnd) : m_core(core), m_hwnd(hwnd) {
        ShowState();
        core.SetPeer(this);
    }
    ~ProgressPeer() override { m_core.SetPeer(nullptr); }
    void OnRange(int lower, int upper) override {
        if (!m_core.GetMarquee())
            SendMessageW(m_hwnd, PBM_SETRANGE32, static_cast<WPARAM>(lower),
                         static_cast<LPARAM>(upper > lower ? upper : lower + 1));
    }
    void OnPos(int pos) override {
        if (!m_core.GetMarquee())
            SendMessageW(m_hwnd, PBM_SETPOS, static_cast<WPARAM>(pos), 0);
    }
    void OnMarquee(bool on) override {
        const LONG_PTR style = GetWindowLongPtrW(m_hwnd, GWL_STYLE);
        SetWindowLongPtrW(m_hwnd, GWL_STYLE, on ? (style | PBS_MARQUEE) : (style & ~PBS_MARQUEE));
        SendMessageW(m_hwnd, PBM_SETMARQUEE, on ? TRUE : FALSE, 30);
        if (!on)
            ShowState();
        // The control repaints when its position changes, not when its style does: a range
        // and position as they were would leave the last chunk of the animation drawn.
        InvalidateRect(m_hwnd, nullptr, TRUE);
    }

private:
    void ShowState() {
        int lower = 0, upper = 0;
        m_core.GetRange(lower, upper);
        OnRange(lower, upper);
        OnPos(m_core.GetPos());
    }
    CProgressCtrl& m_core;
    ::HWND m_hwnd;
};

// A static text bound to a window of the core: it shows the window's text as it changes.
class TextPeer final : public IWndPeer {
public:
    TextPeer(CWnd& core, ::HWND hwnd) : m_core(core), m_hwnd(hwnd) {
        if (const std::u16string text = core.GetWindowTextW(); !text.empty())
            OnSetText(text);
        core.SetWndPeer(this);
    }
    ~TextPeer() override {
        if (m_core.GetWndPeer() == this)
            m_core.SetWndPeer(nullptr);
    }
    void OnSetText(std::u16string_view text) override {
        SetWindowTextW(m_hwnd, W(std::u16string(text)));
    }

private:
    CWnd& m_core;
    ::HWND m_hwnd;
};

} // namespace

class ComboPeer final : public IComboBoxPeer {
public:
    ComboPeer(CComboBox& core, ::HWND hwnd) : m_core(core), m_hwnd(hwnd) {
        for (int i = 0; i < core.GetCount(); ++i)
            OnAddString(i, core.GetLBText(i));
        OnSelect(core.GetCurSel());
        core.SetPeer(this);
    }
    ~ComboPeer() override { m_core.SetPeer(nullptr); }
    void OnAddString(int index, std::u16string_view text) override {
        const std::u16string item(text);
        SendMessageW(m_hwnd, CB_INSERTSTRING, static_cast<WPARAM>(index),
                     reinterpret_cast<LPARAM>(W(item)));
    }
    void OnSelect(int index) override {
        // CB_SETCURSEL does not notify: a change made by the system is not the operator's.
        SendMessageW(m_hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    // The operator chose an entry in the drop-down list.
    void OnUserSelect() {
        m_core.SelectByUser(static_cast<int>(SendMessageW(m_hwnd, CB_GETCURSEL, 0, 0)));
    }

private:
    CComboBox& m_core;
    ::HWND m_hwnd;
};

void FormContext::Bind() {
    for (const DialogControl& c : t.controls) {
        if (c.id < 0)
            continue;
        CWnd* child = core.GetDlgItem(c.id);
        ::HWND native = GetDlgItem(hwnd, c.id);
        if (!child || !native)
            continue;
        if (auto* list = dynamic_cast<CListBox*>(child)) {
            peers.push_back(std::make_unique<ListPeer>(*list, native));
        } else if (auto* bar = dynamic_cast<CProgressCtrl*>(child)) {
            peers.push_back(std::make_unique<ProgressPeer>(*bar, native));
        } else if (auto* combo = dynamic_cast<CComboBox*>(child)) {
            auto peer = std::make_unique<ComboPeer>(*combo, native);
            combos[c.id] = peer.get();
            peers.push_back(std::move(peer));
        } else if (c.kind == ControlKind::Text || c.kind == ControlKind::CenteredText) {
            peers.push_back(std::make_unique<TextPeer>(*child, native));
        }
    }
}

void FormContext::Command(int id) {
    dialog->SendMessageW(WM_COMMAND, MAKEWPARAM(static_cast<UINT>(id), 0), 0);
    backend.Pump();
    if (dialog->IsEnded() && hwnd)
        ::EndDialog(hwnd, id);
}

INT_PTR CALLBACK FormProc(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* ctx = reinterpret_cast<FormContext*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        ctx = reinterpret_cast<FormContext*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        ctx->hwnd = hwnd;
        ctx->Bind();
        if (ctx->dialog)
            CenterOver(hwnd, GetWindow(hwnd, GW_OWNER));
        return TRUE;
    case WM_COMMAND: {
        if (!ctx)
            break;
        const int id = LOWORD(wParam);
        const UINT code = HIWORD(wParam);
        if (code == CBN_SELCHANGE) {
            if (auto it = ctx->combos.find(id); it != ctx->combos.end()) {
                it->second->OnUserSelect();
                ctx->backend.Pump();
                return TRUE;
            }
        }
        if (code == BN_CLICKED && ctx->dialog) {
            ctx->Command(id);
            return TRUE;
        }
        break;
    }
    case WM_DESTROY:
        if (ctx) {
            ctx->combos.clear();
            ctx->peers.clear();
            ctx->hwnd = nullptr;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

} // namespace fw::win32ui
