// The Win32 back end's life, its main window (the frame with its menu, toolbar, accelerators and
// the view's form) and the message pump that delivers the framework's messages and timers.
#include "framework/win32/backend_impl.h"

#include "framework/app.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cwctype>
#include <utility>

namespace fw::win32ui {

namespace {

Backend* g_pBackend = nullptr;

// A pump hands control back to the message loop after this many messages or this long, so the
// window repaints and takes input during a transfer that answers as fast as it is fed.
constexpr int kMaxBatch = 256;
constexpr DWORD kMaxBatchMs = 30;
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kPumpTimer = 1;
constexpr int kToolbarId = 59392;
constexpr wchar_t kFrameClass[] = L"OrvaneUpdateFrame";
constexpr wchar_t kPumpClass[] = L"OrvaneUpdatePump";

// "toolbar_link.png" is the icon resource TOOLBAR_LINK; "orvane-update-64.png" the
// program's own icon (resource 1), whatever its size.
std::wstring PictureResource(const std::string& file) {
    std::string stem = file.substr(0, file.find_last_of('.'));
    if (stem.rfind("orvane-update", 0) == 0)
        return {};
    std::wstring name;
    for (char c : stem)
        name.push_back(c == '-' ? L'_'
                                : static_cast<wchar_t>(std::towupper(
                                      static_cast<wint_t>(static_cast<unsigned char>(c)))));
    return name;
}

// WM_DPICHANGED, which the headers name only for newer systems than the oldest we run on.
constexpr UINT kDpiChanged = 0x02E0;

// The resolution of the monitor the window is on (Windows 10 1607 and later tell it per
// window), else the screen's.
int WindowDpi(::HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(::HWND);
    static const auto getDpiForWindow =
        reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(
            GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && hwnd)
        if (const UINT dpi = getDpiForWindow(hwnd); dpi > 0)
            return static_cast<int>(dpi);
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen)
        ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

HICON LoadPicture(const std::string& file, int size) {
    if (file.empty())
        return nullptr;
    const std::wstring name = PictureResource(file);
    const wchar_t* id = name.empty() ? MAKEINTRESOURCEW(1) : name.c_str();
    return static_cast<HICON>(LoadImageW(Module(), id, IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

// A menu item's picture: a 32-bit bitmap with its alpha premultiplied, made from the icon
// resource of the picture's name at the icon's own size. Null when the program has no such
// picture.
HBITMAP MenuBitmap(const std::string& file) {
    const std::wstring name = PictureResource(file);
    if (name.empty())
        return nullptr;
    HICON icon =
        static_cast<HICON>(LoadImageW(Module(), name.c_str(), IMAGE_ICON, 0, 0, LR_DEFAULTCOLOR));
    if (!icon)
        return nullptr;
    ICONINFO info{};
    if (!GetIconInfo(icon, &info)) {
        DestroyIcon(icon);
        return nullptr;
    }
    BITMAP colour{};
    const bool haveColour = info.hbmColor && GetObjectW(info.hbmColor, sizeof(colour), &colour);
    const int width = haveColour ? colour.bmWidth : 0;
    const int height = haveColour ? colour.bmHeight : 0;
    HBITMAP bitmap = nullptr;
    if (width > 0 && height > 0) {
        BITMAPINFO bmi{};
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = width;
        bmi.bmiHeader.biHeight = -height; // top row first
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        const auto count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        std::vector<std::uint32_t> pixels(count);
        std::vector<std::uint32_t> mask(count);
        HDC screen = GetDC(nullptr);
        const bool read = GetDIBits(screen, info.hbmColor, 0, static_cast<UINT>(height),
                                    pixels.data(), &bmi, DIB_RGB_COLORS) == height;
        // A picture without alpha takes its transparency from the icon's mask.
        const bool hasAlpha = std::any_of(pixels.begin(), pixels.end(),
                                          [](std::uint32_t p) { return (p >> 24) != 0; });
        if (read && !hasAlpha && info.hbmMask)
            GetDIBits(screen, info.hbmMask, 0, static_cast<UINT>(height), mask.data(), &bmi,
                      DIB_RGB_COLORS);
        void* bits = nullptr;
        if (read)
            bitmap = CreateDIBSection(screen, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
        ReleaseDC(nullptr, screen);
        if (bitmap && bits) {
            auto* out = static_cast<std::uint32_t*>(bits);
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t p = pixels[i];
                const std::uint32_t a = hasAlpha ? p >> 24 : ((mask[i] & 0xFFFFFF) ? 0 : 255);
                const auto channel = [&](int shift) {
                    return (((p >> shift) & 0xFF) * a / 255) << shift;
                };
                out[i] = (a << 24) | channel(16) | channel(8) | channel(0);
            }
            GdiFlush();
        }
    }
    if (info.hbmColor)
        DeleteObject(info.hbmColor);
    if (info.hbmMask)
        DeleteObject(info.hbmMask);
    DestroyIcon(icon);
    return bitmap;
}

LRESULT CALLBACK PumpProc(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK FrameProc(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

} // namespace

void Backend::Impl::RefreshMenu(HMENU m) {
    const int count = GetMenuItemCount(m);
    for (int i = 0; i < count; ++i) {
        const UINT id = GetMenuItemID(m, i);
        if (id == 0 || id == static_cast<UINT>(-1))
            continue; // a separator or a popup
        const CCmdUI state = owner.QueryCommand(id);
        EnableMenuItem(m, static_cast<UINT>(i),
                       MF_BYPOSITION | (state.enabled ? MF_ENABLED : MF_GRAYED));
        if (checkable.count(id))
            CheckMenuItem(m, static_cast<UINT>(i),
                          MF_BYPOSITION | (state.check == 1 ? MF_CHECKED : MF_UNCHECKED));
    }
}

HMENU Backend::Impl::BuildMenu(const std::vector<MenuItem>& items, bool bar) {
    HMENU m = bar ? CreateMenu() : CreatePopupMenu();
    // The pictures of this menu's items, and the column they take in a drop-down menu.
    std::map<UINT, HBITMAP> pictures;
    SIZE column{0, 0};
    for (const MenuItem& item : items) {
        if (item.kind != MenuItem::Kind::Command)
            continue;
        if (HBITMAP picture = MenuBitmap(item.picture)) {
            pictures[item.id] = picture;
            BITMAP bm{};
            GetObjectW(picture, sizeof(bm), &bm);
            column.cx = std::max(column.cx, bm.bmWidth);
            column.cy = std::max(column.cy, bm.bmHeight);
        }
    }
    for (const MenuItem& item : items) {
        switch (item.kind) {
        case MenuItem::Kind::Separator:
            AppendMenuW(m, MF_SEPARATOR, 0, nullptr);
            break;
        case MenuItem::Kind::Popup:
            AppendMenuW(m, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildMenu(item.items, false)),
                        W(owner.Translate(item.text)));
            break;
        case MenuItem::Kind::Command: {
            AppendMenuW(m, MF_STRING, item.id, W(owner.Translate(item.text)));
            if (item.checkable)
                checkable[item.id] = true;
            const auto found = pictures.find(item.id);
            // In a drop-down menu with pictures every item takes the pictures' column (empty for
            // an item without one): Wine moves every text past the column but widens the menu
            // only for the items that have a picture, which would cut the widest text short.
            if (found == pictures.end() && (bar || column.cx == 0))
                break;
            MenuPicture& picture = menuPictures[item.id];
            if (picture.bitmap)
                DeleteObject(picture.bitmap);
            picture.bitmap = found != pictures.end() ? found->second : nullptr;
            picture.size = column;
            // Drawn by the frame: a bitmap the menu drew itself would lose its transparency
            // where the system does not blend it (Wine, and a highlighted item).
            MENUITEMINFOW info{};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_BITMAP;
            info.hbmpItem = HBMMENU_CALLBACK;
            SetMenuItemInfoW(m, item.id, FALSE, &info);
            break;
        }
        }
    }
    return m;
}

bool Backend::Impl::MeasureMenuPicture(MEASUREITEMSTRUCT& item) const {
    const auto it = menuPictures.find(item.itemID);
    if (item.CtlType != ODT_MENU || it == menuPictures.end())
        return false;
    // A little room on either side, so that the picture does not touch the item's text.
    item.itemWidth = static_cast<UINT>(it->second.size.cx) + 4;
    item.itemHeight = static_cast<UINT>(it->second.size.cy);
    return true;
}

bool Backend::Impl::DrawMenuPicture(const DRAWITEMSTRUCT& item) const {
    const auto it = menuPictures.find(item.itemID);
    if (item.CtlType != ODT_MENU || it == menuPictures.end())
        return false;
    BITMAP bm{};
    if (!it->second.bitmap || !GetObjectW(it->second.bitmap, sizeof(bm), &bm))
        return true; // an item without a picture: its column stays empty
    HDC source = CreateCompatibleDC(item.hDC);
    if (!source)
        return true;
    const HGDIOBJ old = SelectObject(source, it->second.bitmap);
    // Blended over whatever the menu drew there (its background, the highlight); faint while
    // the command is unavailable, as the toolbar's buttons are.
    BLENDFUNCTION blend{};
    blend.BlendOp = AC_SRC_OVER;
    blend.SourceConstantAlpha = (item.itemState & (ODS_GRAYED | ODS_DISABLED)) ? 96 : 255;
    blend.AlphaFormat = AC_SRC_ALPHA;
    const RECT& r = item.rcItem;
    const int x = r.left + std::max(0L, (r.right - r.left - bm.bmWidth) / 2);
    const int y = r.top + std::max(0L, (r.bottom - r.top - bm.bmHeight) / 2);
    GdiAlphaBlend(item.hDC, x, y, bm.bmWidth, bm.bmHeight, source, 0, 0, bm.bmWidth, bm.bmHeight,
                  blend);
    SelectObject(source, old);
    DeleteDC(source);
    return true;
}

void Backend::Impl::BuildToolbar(const FrameResources& res) {
    toolbar = CreateWindowExW(
        0, TOOLBARCLASSNAMEW, nullptr,
        WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS | CCS_TOP, 0, 0, 0, 0, frameHwnd,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kToolbarId)), Module(), nullptr);
    if (!toolbar)
        return;
    SendMessageW(toolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    const int size = res.toolbarButtonSize;
    images = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK,
                              static_cast<int>(res.toolbar.size()), 0);
    SendMessageW(toolbar, TB_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    // No text rows: a button's string is its tooltip.
    SendMessageW(toolbar, TB_SETMAXTEXTROWS, 0, 0);
    std::vector<TBBUTTON> buttons;
    for (const ToolButton& b : res.toolbar) {
        TBBUTTON button{};
        if (b.id == 0) {
            button.fsStyle = BTNS_SEP;
            buttons.push_back(button);
            continue;
        }
        button.iBitmap = I_IMAGENONE;
        if (HICON icon = LoadPicture(b.picture, size)) {
            button.iBitmap = ImageList_AddIcon(images, icon);
            DestroyIcon(icon);
        }
        button.idCommand = static_cast<int>(b.id);
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = BTNS_BUTTON;
        if (!b.tooltip.empty()) {
            const std::u16string& tip = toolTips[b.id] = owner.Translate(b.tooltip);
            button.iString = reinterpret_cast<INT_PTR>(W(tip));
        }
        toolIds.push_back(b.id);
        buttons.push_back(button);
    }
    SendMessageW(toolbar, TB_ADDBUTTONSW, buttons.size(), reinterpret_cast<LPARAM>(buttons.data()));
    SendMessageW(toolbar, TB_AUTOSIZE, 0, 0);
}

void Backend::Impl::BuildAccelerators(const FrameResources& res) {
    std::vector<ACCEL> table;
    for (const Accelerator& a : res.accelerators) {
        KeyChord chord;
        if (!ParseAccelerator(a.key, chord))
            continue;
        ACCEL accelerator{};
        accelerator.fVirt = static_cast<BYTE>(FVIRTKEY | chord.flags);
        accelerator.key = chord.key;
        accelerator.cmd = static_cast<WORD>(a.id);
        table.push_back(accelerator);
    }
    if (!table.empty())
        accel = CreateAcceleratorTableW(table.data(), static_cast<int>(table.size()));
}

const std::u16string* Backend::Impl::ToolTip(UINT id) const {
    const auto it = toolTips.find(id);
    return it == toolTips.end() ? nullptr : &it->second;
}

// The toolbar's tooltips ask for their text when the mouse rests on a button (their tools'
// texts are callbacks); the toolbar hands the question to the frame, and the system's controls
// do not all answer it from the button's string themselves (Wine's do not). The tools' ids are
// the buttons' commands.
bool Backend::Impl::OnNotify(NMHDR& header) {
    if (!toolbar)
        return false;
    if (header.code == TTN_GETDISPINFOW) {
        const auto tips = reinterpret_cast<::HWND>(SendMessageW(toolbar, TB_GETTOOLTIPS, 0, 0));
        auto& info = reinterpret_cast<NMTTDISPINFOW&>(header);
        if (header.hwndFrom != tips || (info.uFlags & TTF_IDISHWND) != 0)
            return false;
        if (const std::u16string* tip = ToolTip(static_cast<UINT>(header.idFrom))) {
            info.hinst = nullptr;
            info.lpszText = const_cast<wchar_t*>(W(*tip));
        }
        return true;
    }
    if (header.code == TBN_GETINFOTIPW && header.hwndFrom == toolbar) {
        auto& info = reinterpret_cast<NMTBGETINFOTIPW&>(header);
        const std::u16string* tip = ToolTip(static_cast<UINT>(info.iItem));
        if (tip && info.pszText && info.cchTextMax > 0)
            lstrcpynW(info.pszText, W(*tip), info.cchTextMax);
        return true;
    }
    return false;
}

int Backend::Impl::ToolbarHeight() const {
    if (!toolbar)
        return 0;
    RECT r{};
    GetWindowRect(toolbar, &r);
    return r.bottom - r.top;
}

// The window's outer size is the resources'; it shrinks (never grows) until its view is no
// larger than the form.
void Backend::Impl::FitToForm() {
    // The resources' pixels are at 96 dots per inch; the form's dialog units grow with the
    // font, so the window grows with its monitor's resolution too.
    const int dpi = WindowDpi(frameHwnd);
    const int width = MulDiv(frameWidth, dpi, 96);
    const int height = MulDiv(frameHeight, dpi, 96);
    SetWindowPos(frameHwnd, nullptr, 0, 0, width, height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    if (!form || !form->hwnd)
        return;
    const int top = ToolbarHeight();
    SetWindowPos(form->hwnd, nullptr, 0, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RECT client{};
    GetClientRect(frameHwnd, &client);
    RECT formRect{};
    GetWindowRect(form->hwnd, &formRect);
    const int shrinkX =
        std::max(0L, (client.right - client.left) - (formRect.right - formRect.left));
    const int shrinkY =
        std::max(0L, (client.bottom - client.top - top) - (formRect.bottom - formRect.top));
    if (shrinkX > 0 || shrinkY > 0)
        SetWindowPos(frameHwnd, nullptr, 0, 0, width - shrinkX, height - shrinkY,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

namespace {

Backend::Impl* g_pImpl = nullptr;

LRESULT CALLBACK PumpProc(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (g_pBackend && g_pImpl) {
        if (message == kWakeMessage) {
            g_pImpl->wakePending.store(false);
            g_pBackend->Pump();
            return 0;
        }
        if (message == WM_TIMER && wParam == kPumpTimer) {
            KillTimer(hwnd, kPumpTimer);
            g_pBackend->Pump();
            return 0;
        }
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK FrameProc(::HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!g_pBackend || !g_pImpl || g_pImpl->frameHwnd != hwnd)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_COMMAND: {
        // A menu item or accelerator (no control), or a toolbar button.
        const auto from = reinterpret_cast<::HWND>(lParam);
        if (from == nullptr || from == g_pImpl->toolbar) {
            g_pBackend->RunCommand(LOWORD(wParam));
            return 0;
        }
        break;
    }
    case WM_INITMENUPOPUP:
        g_pImpl->RefreshMenu(reinterpret_cast<HMENU>(wParam));
        return 0;
    case WM_MEASUREITEM:
        if (lParam && g_pImpl->MeasureMenuPicture(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)))
            return TRUE;
        break;
    case WM_DRAWITEM:
        if (lParam && g_pImpl->DrawMenuPicture(*reinterpret_cast<DRAWITEMSTRUCT*>(lParam)))
            return TRUE;
        break;
    case WM_NOTIFY:
        if (lParam && g_pImpl->OnNotify(*reinterpret_cast<NMHDR*>(lParam)))
            return 0;
        break;
    case kDpiChanged: {
        // Moved to a monitor of another resolution (or its scale changed): take the size the
        // system suggests, which keeps the window under the mouse, then fit it to the form,
        // which the system has scaled by then.
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        g_pImpl->FitToForm();
        return 0;
    }
    case WM_SIZE:
        if (g_pImpl->toolbar)
            SendMessageW(g_pImpl->toolbar, TB_AUTOSIZE, 0, 0);
        break;
    case WM_CLOSE:
        if (g_pImpl->frameGone || !g_pImpl->frame) {
            DestroyWindow(hwnd);
            return 0;
        }
        // The frame decides: its close handling destroys it, and the peer hides this window.
        g_pImpl->frame->SendMessageW(WM_CLOSE);
        g_pBackend->Pump();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace

Backend::Backend(std::string translationContext) : m_impl(std::make_unique<Impl>(*this)) {
    g_pBackend = this;
    g_pImpl = m_impl.get();
    m_impl->context = std::move(translationContext);

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC =
        ICC_BAR_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    WNDCLASSEXW pumpClass{};
    pumpClass.cbSize = sizeof(pumpClass);
    pumpClass.lpfnWndProc = PumpProc;
    pumpClass.hInstance = Module();
    pumpClass.lpszClassName = kPumpClass;
    RegisterClassExW(&pumpClass);
    WNDCLASSEXW frameClass{};
    frameClass.cbSize = sizeof(frameClass);
    frameClass.lpfnWndProc = FrameProc;
    frameClass.hInstance = Module();
    frameClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // the arrow
    frameClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    frameClass.lpszClassName = kFrameClass;
    frameClass.hIcon = LoadIconW(Module(), MAKEINTRESOURCEW(1));
    RegisterClassExW(&frameClass);
    // No polling beat: a post or a timer wakes this window, and it pumps the framework.
    // HWND_MESSAGE, spelled out: inside this namespace HWND is the framework's handle type.
    const auto messageOnly = reinterpret_cast<::HWND>(static_cast<LONG_PTR>(-3));
    m_impl->pump =
        CreateWindowExW(0, kPumpClass, L"", 0, 0, 0, 0, 0, messageOnly, nullptr, Module(), nullptr);
    if (CWinApp* app = AfxGetApp()) {
        m_impl->hooked = true;
        app->SetWakeHook([this] { Wake(); });
        Wake(); // timers set and messages posted before the hook
    }

    InstallMessageBoxes();
    InstallDialogRunner();
}

Backend::~Backend() {
    DestroyMainWindow();
    if (m_impl->hooked) {
        if (CWinApp* app = AfxGetApp())
            app->SetWakeHook(nullptr);
    }
    SetDialogRunner(std::move(m_impl->previousRunner));
    orvane::SetMessageBoxHandler(std::move(m_impl->previousBoxes));
    if (m_impl->pump) {
        KillTimer(m_impl->pump, kPumpTimer);
        DestroyWindow(m_impl->pump);
    }
    if (m_impl->devMode)
        GlobalFree(m_impl->devMode);
    if (m_impl->devNames)
        GlobalFree(m_impl->devNames);
    if (g_pBackend == this) {
        g_pBackend = nullptr;
        g_pImpl = nullptr;
    }
}

Backend* Backend::Instance() {
    return g_pBackend;
}

void Backend::AddPictureFolder(std::string folder, bool first) {
    auto& folders = m_impl->pictureFolders;
    folders.insert(first ? folders.begin() : folders.end(), std::move(folder));
}

void Backend::AddDialogTemplate(DialogTemplate dialogTemplate) {
    const UINT id = dialogTemplate.id;
    m_impl->templates[id] = std::move(dialogTemplate);
}

const DialogTemplate* Backend::FindTemplate(UINT id) const {
    auto it = m_impl->templates.find(id);
    return it == m_impl->templates.end() ? nullptr : &it->second;
}

void Backend::CreateMainWindow(CFrameWnd& frame, const FrameResources& resources,
                               std::vector<CommandTarget> targets) {
    DestroyMainWindow();
    Impl& d = *m_impl;
    d.frame = &frame;
    d.frameGone = false;
    d.targets = std::move(targets);
    d.menu = d.BuildMenu(resources.menu, true);
    // Caption, system menu and minimize box; no maximize box and no sizing border.
    d.frameHwnd = CreateWindowExW(
        0, kFrameClass, W(frame.GetWindowTextW()),
        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, CW_USEDEFAULT,
        CW_USEDEFAULT, resources.width, resources.height, nullptr, d.menu, Module(), nullptr);
    if (!d.frameHwnd)
        return;
    if (!resources.icon.empty()) {
        d.bigIcon = LoadPicture(resources.icon, GetSystemMetrics(SM_CXICON));
        d.smallIcon = LoadPicture(resources.icon, GetSystemMetrics(SM_CXSMICON));
        SendMessageW(d.frameHwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(d.bigIcon));
        SendMessageW(d.frameHwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(d.smallIcon));
    }
    d.BuildToolbar(resources);
    d.BuildAccelerators(resources);
    if (auto* view = dynamic_cast<CFormView*>(frame.GetActiveView())) {
        if (const DialogTemplate* t = FindTemplate(view->GetTemplateId())) {
            const auto data =
                BuildDialogTemplate(*t, WS_CHILD | WS_VISIBLE | DS_CONTROL,
                                    [this](const std::u16string& s) { return Translate(s); });
            d.form = std::make_unique<FormContext>(*this, *view, *t);
            CreateDialogIndirectParamW(Module(), reinterpret_cast<LPCDLGTEMPLATEW>(data.data()),
                                       d.frameHwnd, FormProc,
                                       reinterpret_cast<LPARAM>(d.form.get()));
        }
    }
    d.frameWidth = resources.width;
    d.frameHeight = resources.height;
    d.FitToForm();
    frame.SetWndPeer(m_impl.get());
    RefreshCommandStates();
}

void Backend::ShowMainWindow() {
    if (!m_impl->frameHwnd)
        return;
    CenterOver(m_impl->frameHwnd, nullptr);
    ShowWindow(m_impl->frameHwnd, SW_SHOW);
    UpdateWindow(m_impl->frameHwnd);
    RefreshCommandStates();
}

void Backend::DestroyMainWindow() {
    Impl& d = *m_impl;
    if (d.frame && !d.frameGone && d.frame->GetWndPeer() == m_impl.get())
        d.frame->SetWndPeer(nullptr);
    if (d.form && d.form->hwnd)
        DestroyWindow(d.form->hwnd);
    d.form.reset();
    if (d.frameHwnd) {
        const ::HWND hwnd = d.frameHwnd;
        d.frameHwnd = nullptr; // the window procedure no longer speaks for the frame
        DestroyWindow(hwnd);   // and its menu with it
    }
    d.toolbar = nullptr;
    d.menu = nullptr;
    for (const auto& [id, picture] : d.menuPictures)
        if (picture.bitmap)
            DeleteObject(picture.bitmap);
    d.menuPictures.clear();
    if (d.accel)
        DestroyAcceleratorTable(d.accel);
    d.accel = nullptr;
    if (d.images)
        ImageList_Destroy(d.images);
    d.images = nullptr;
    for (HICON* icon : {&d.bigIcon, &d.smallIcon}) {
        if (*icon)
            DestroyIcon(*icon);
        *icon = nullptr;
    }
    d.checkable.clear();
    d.toolIds.clear();
    d.toolTips.clear();
    d.frame = nullptr;
    d.targets.clear();
}

NativeWindow Backend::Window() const {
    return m_impl->frameHwnd;
}

NativeWindow Backend::FormWindow() const {
    return m_impl->form ? m_impl->form->hwnd : nullptr;
}

CCmdUI Backend::QueryCommand(UINT id) const {
    return QueryCommandState(m_impl->frame, m_impl->targets, id);
}

bool Backend::RunCommand(UINT id) {
    const bool handled = RouteCommand(m_impl->frame, m_impl->targets, id);
    Pump();
    RefreshCommandStates();
    return handled;
}

void Backend::RefreshCommandStates() {
    Impl& d = *m_impl;
    if (!d.frameHwnd || d.frameGone)
        return;
    if (d.menu) {
        // Popups are brought up to date as they open; the bar's own commands now.
        bool changed = false;
        const int count = GetMenuItemCount(d.menu);
        for (int i = 0; i < count; ++i) {
            const UINT id = GetMenuItemID(d.menu, i);
            if (id == 0 || id == static_cast<UINT>(-1))
                continue;
            const UINT was = GetMenuState(d.menu, static_cast<UINT>(i), MF_BYPOSITION);
            const bool enabled = QueryCommand(id).enabled;
            if (((was & MF_GRAYED) == 0) != enabled) {
                EnableMenuItem(d.menu, static_cast<UINT>(i),
                               MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
                changed = true;
            }
        }
        if (changed)
            DrawMenuBar(d.frameHwnd);
    }
    if (d.toolbar) {
        for (UINT id : d.toolIds)
            SendMessageW(d.toolbar, TB_ENABLEBUTTON, id, MAKELPARAM(QueryCommand(id).enabled, 0));
    }
}

int Backend::Run() {
    MSG msg{};
    for (;;) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0)
            return static_cast<int>(msg.wParam);
        if (got == -1)
            return 1;
        const ::HWND frame = m_impl->frameHwnd;
        if (frame && m_impl->accel && (msg.hwnd == frame || IsChild(frame, msg.hwnd)) &&
            TranslateAcceleratorW(frame, m_impl->accel, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void Backend::Pump() {
    CWinApp* app = AfxGetApp();
    if (!app)
        return;
    const DWORD start = GetTickCount();
    bool dispatched = false;
    for (int n = 0; app->PeekAndDispatchOne(); ++n) {
        dispatched = true;
        if (n + 1 >= kMaxBatch || GetTickCount() - start >= kMaxBatchMs) {
            Wake(); // the rest after the window's own messages
            break;
        }
    }
    // A dialog whose core has ended by itself (a handler called EndDialog) closes now.
    for (FormContext* ctx : m_impl->openDialogs) {
        if (ctx->dialog && ctx->dialog->IsEnded() && ctx->hwnd)
            ::EndDialog(ctx->hwnd, IDCANCEL);
    }
    if (m_impl->frame && !m_impl->frame->IsWindow() && m_impl->frameGone) {
        // The frame has destroyed itself (Exit, the caption's close button): end the loop.
        auto onDestroyed = m_impl->onFrameDestroyed;
        m_impl->frame = nullptr;
        if (onDestroyed)
            onDestroyed();
        else
            ::PostQuitMessage(0);
        return;
    }
    if (dispatched)
        RefreshCommandStates();
    // The next framework timer, by a native one on the hidden window.
    const auto left = app->TimeUntilNextTimer();
    if (!left) {
        KillTimer(m_impl->pump, kPumpTimer);
        return;
    }
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(*left).count();
    if (ms <= 0)
        Wake();
    else
        ::SetTimer(m_impl->pump, kPumpTimer,
                   static_cast<UINT>(std::min<long long>(ms, 24LL * 3600 * 1000)), nullptr);
}

void Backend::Wake() {
    if (m_impl->wakePending.exchange(true))
        return;
    if (!::PostMessageW(m_impl->pump, kWakeMessage, 0, 0))
        m_impl->wakePending.store(false);
}

orvane::IMessageTarget& Backend::WakingTarget(orvane::IMessageTarget& inner) {
    m_impl->wakers.push_back(std::make_unique<fw::WakingTarget<Backend>>(inner, *this));
    return *m_impl->wakers.back();
}

void Backend::SetOnMainFrameDestroyed(std::function<void()> onDestroyed) {
    m_impl->onFrameDestroyed = std::move(onDestroyed);
}

std::u16string Backend::Translate(std::u16string_view text) const {
    if (text.empty())
        return {};
    if (m_impl->translator)
        return m_impl->translator(text);
    return std::u16string(text);
}

void Backend::SetTranslator(std::function<std::u16string(std::u16string_view)> translator) {
    m_impl->translator = std::move(translator);
}

} // namespace fw::win32ui
