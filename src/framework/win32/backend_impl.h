// What the files of the Win32 back end share: the back end's state (Backend::Impl), a form or
// dialog built from a template with the peers of its controls, and the small helpers. For the
// files of this folder only: it brings <windows.h> with it.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "framework/win32/backend.h"

#include "framework/waking_target.h"

#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace fw::win32ui {

inline HINSTANCE Module() {
    return GetModuleHandleW(nullptr);
}

inline const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

inline std::u16string U(const wchar_t* text) {
    return text ? std::u16string(reinterpret_cast<const char16_t*>(text)) : std::u16string();
}

class ComboPeer; // controls.cpp

// A form or modal dialog built from a template, with the peers of its core's controls.
struct FormContext {
    FormContext(Backend& b, CWnd& c, const DialogTemplate& tt, CDialog* d = nullptr)
        : backend(b), core(c), t(tt), dialog(d) {}
    Backend& backend;
    CWnd& core;
    const DialogTemplate& t;
    CDialog* dialog = nullptr; // null for a view's form
    ::HWND hwnd = nullptr;
    std::vector<std::unique_ptr<IWndPeer>> peers;
    std::map<int, ComboPeer*> combos;

    // Gives each control of the template that the core has a peer (controls.cpp).
    void Bind();
    // A button of a modal dialog: the core decides whether the dialog ends (controls.cpp).
    void Command(int id);
};

// Centres a window over another that is shown, else on the work area (dialogs.cpp).
void CenterOver(::HWND hwnd, ::HWND over);
// The dialog procedure of the view's form and of modal dialogs (controls.cpp).
INT_PTR CALLBACK FormProc(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

struct Backend::Impl : public IWndPeer {
    Backend& owner;
    explicit Impl(Backend& b) : owner(b) {}

    std::string context;
    std::vector<std::string> pictureFolders;
    std::map<UINT, DialogTemplate> templates;
    CFrameWnd* frame = nullptr;
    std::vector<CommandTarget> targets;
    std::vector<std::unique_ptr<fw::WakingTarget<Backend>>> wakers;
    FileChooser chooser;
    std::function<void()> onFrameDestroyed;
    std::function<std::u16string(std::u16string_view)> translator;
    orvane::MessageBoxHandler previousBoxes;
    DialogRunner previousRunner;

    ::HWND pump = nullptr;
    std::atomic<bool> wakePending{false};
    bool hooked = false;

    ::HWND frameHwnd = nullptr;
    ::HWND toolbar = nullptr;
    // The frame's size at 96 dots per inch, from its resources.
    int frameWidth = 0;
    int frameHeight = 0;
    HMENU menu = nullptr;
    // The menu items' pictures by command, drawn beside their texts by the frame: a
    // premultiplied 32-bit bitmap (none for an item that only keeps the column) and the size
    // of the column. The bitmaps are deleted with the window.
    struct MenuPicture {
        HBITMAP bitmap = nullptr;
        SIZE size{};
    };
    std::map<UINT, MenuPicture> menuPictures;
    HACCEL accel = nullptr;
    HIMAGELIST images = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    std::unique_ptr<FormContext> form;
    std::vector<FormContext*> openDialogs;
    std::map<UINT, bool> checkable;
    std::vector<UINT> toolIds;
    // The buttons' tooltips by command, translated; the toolbar keeps pointers to them.
    std::map<UINT, std::u16string> toolTips;
    bool frameGone = false;
    HGLOBAL devMode = nullptr; // the page set-up's choice, kept for the run
    HGLOBAL devNames = nullptr;

    // The frame's peer: its title and its end.
    void OnSetText(std::u16string_view text) override {
        if (frameHwnd)
            SetWindowTextW(frameHwnd, W(std::u16string(text)));
    }
    void OnDestroy() override {
        frameGone = true;
        if (frame)
            frame->SetWndPeer(nullptr);
        if (frameHwnd)
            ShowWindow(frameHwnd, SW_HIDE);
    }

    // The window a box or dialog opened now belongs to.
    ::HWND ModalOwner() const {
        if (!openDialogs.empty() && openDialogs.back()->hwnd)
            return openDialogs.back()->hwnd;
        return frameHwnd && IsWindowVisible(frameHwnd) ? frameHwnd : nullptr;
    }

    // The frame's menu, toolbar and accelerators, and its size (frame.cpp).
    void RefreshMenu(HMENU m);
    HMENU BuildMenu(const std::vector<MenuItem>& items, bool bar);
    // The frame's part in drawing a menu item's picture; false for anything else.
    bool MeasureMenuPicture(MEASUREITEMSTRUCT& item) const;
    bool DrawMenuPicture(const DRAWITEMSTRUCT& item) const;
    void BuildToolbar(const FrameResources& res);
    void BuildAccelerators(const FrameResources& res);
    int ToolbarHeight() const;
    // The tooltip of a toolbar button, or null for a button without one.
    const std::u16string* ToolTip(UINT id) const;
    // The notifications the toolbar and its tooltips send the frame; true when handled.
    bool OnNotify(NMHDR& header);
    void FitToForm();
};

} // namespace fw::win32ui
