// The Win32 back end's main window as the system shows it: the toolbar's tooltips, the menu
// items' pictures, and the progress bar after its waiting animation.
#include <windows.h>

#include <commctrl.h>

#include "framework/app.h"
#include "framework/controls.h"
#include "framework/win32/backend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr fw::UINT kFormId = 101;
constexpr int kProgressId = 1001;
constexpr fw::UINT ID_LINK = 32771;
constexpr fw::UINT ID_BREAK = 32772;
constexpr fw::UINT ID_SETUP = 32805;
constexpr fw::UINT ID_UPDATE = 32818;
constexpr fw::UINT ID_ABOUT = 57664;

class ProgressView : public fw::CFormView {
public:
    ProgressView() : CFormView(kFormId) {}
    void DoDataExchange(fw::CDataExchange* pDX) override {
        fw::DDX_Control(pDX, kProgressId, progress);
    }
    fw::CProgressCtrl progress;
};

// Dispatches the window's messages for a while (the marquee moves on a timer).
void RunMessages(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

class Win32Frame : public ::testing::Test {
protected:
    void SetUp() override {
        fw::DialogTemplate form;
        form.id = kFormId;
        form.cx = 160;
        form.cy = 40;
        form.controls = {{fw::ControlKind::Progress, kProgressId, u"", 0, 10, 158, 11, {}}};
        backend.AddDialogTemplate(form);
        resources.width = 350;
        resources.height = 200;
        // Two items with pictures (the icon resources of this program), one without.
        fw::MenuItem link;
        link.id = ID_LINK;
        link.text = u"&Link";
        link.picture = "menu_link.png";
        fw::MenuItem brk = link;
        brk.id = ID_BREAK;
        brk.text = u"&Break connection";
        brk.picture = "menu_break.png";
        fw::MenuItem setup;
        setup.id = ID_SETUP;
        setup.text = u"&Setup";
        fw::MenuItem popup;
        popup.kind = fw::MenuItem::Kind::Popup;
        popup.text = u"&Connect";
        popup.items = {link, brk, setup};
        resources.menu = {popup};
        // A button without a tooltip, a separator, two with one.
        resources.toolbar = {
            {ID_LINK, "", u""}, {}, {ID_UPDATE, "", u"Update"}, {ID_ABOUT, "", u"About"}};
        frame.SetActiveView(&view);
        view.OnInitialUpdate();
        backend.CreateMainWindow(frame, resources, {});
        backend.ShowMainWindow();
        RunMessages(100);
    }
    void TearDown() override { backend.DestroyMainWindow(); }

    orvane::ManualClock clock;
    fw::CWinApp app{clock};
    fw::win32ui::Backend backend;
    fw::FrameResources resources;
    fw::CFrameWnd frame;
    ProgressView view;
};

// What the tooltip control shows for a button: the text it asks its owner for, as when the
// mouse rests on the button.
TEST_F(Win32Frame, ToolbarButtonsShowTheirTooltips) {
    const HWND toolbar = FindWindowExW(backend.Window(), nullptr, TOOLBARCLASSNAMEW, nullptr);
    ASSERT_NE(toolbar, nullptr);
    const auto tips = reinterpret_cast<HWND>(SendMessageW(toolbar, TB_GETTOOLTIPS, 0, 0));
    ASSERT_NE(tips, nullptr);
    struct Case {
        fw::UINT id;
        std::wstring text;
    };
    const Case cases[] = {{ID_UPDATE, L"Update"}, {ID_ABOUT, L"About"}, {ID_LINK, L""}};
    for (const Case& c : cases) {
        wchar_t text[80] = {};
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof(tool);
        tool.hwnd = toolbar;
        tool.uId = c.id;
        tool.lpszText = text;
        SendMessageW(tips, TTM_GETTEXTW, 80, reinterpret_cast<LPARAM>(&tool));
        EXPECT_EQ(std::wstring(tool.lpszText ? tool.lpszText : L""), c.text) << c.id;
    }
    // The mouse rests on a button: its tooltip shows.
    RECT button{};
    ASSERT_TRUE(SendMessageW(toolbar, TB_GETRECT, ID_UPDATE, reinterpret_cast<LPARAM>(&button)));
    POINT centre{(button.left + button.right) / 2, (button.top + button.bottom) / 2};
    ClientToScreen(toolbar, &centre);
    SetCursorPos(centre.x, centre.y);
    for (int i = 0; i < 300 && !IsWindowVisible(tips); ++i)
        RunMessages(10);
    EXPECT_TRUE(IsWindowVisible(tips));
    wchar_t shown[80] = {};
    GetWindowTextW(tips, shown, 80);
    EXPECT_EQ(std::wstring(shown), L"Update");
    // The toolbar's own question, for a shell that asks for an info tip.
    wchar_t tip[80] = {};
    NMTBGETINFOTIPW info{};
    info.hdr.hwndFrom = toolbar;
    info.hdr.idFrom = GetDlgCtrlID(toolbar);
    info.hdr.code = TBN_GETINFOTIPW;
    info.pszText = tip;
    info.cchTextMax = 80;
    info.iItem = static_cast<int>(ID_ABOUT);
    SendMessageW(backend.Window(), WM_NOTIFY, info.hdr.idFrom, reinterpret_cast<LPARAM>(&info));
    EXPECT_EQ(std::wstring(tip), L"About");
}

// What the frame draws for a menu item's picture into an item rectangle of `background`
// (0x00RRGGBB), in the state given; empty when it draws nothing.
std::vector<std::uint32_t> DrawnPicture(HWND frame, fw::UINT id, UINT state,
                                        std::uint32_t background) {
    constexpr int kSide = 16;
    BITMAPINFO bmi{};
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = kSide;
    bmi.bmiHeader.biHeight = -kSide;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP target = CreateDIBSection(dc, &bmi, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = SelectObject(dc, target);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    std::fill(pixels, pixels + kSide * kSide, background);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_MENU;
    item.itemID = id;
    item.itemAction = ODA_DRAWENTIRE;
    item.itemState = state;
    item.hDC = dc;
    item.rcItem = {0, 0, kSide, kSide};
    const bool drawn = SendMessageW(frame, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&item)) != 0;
    GdiFlush();
    std::vector<std::uint32_t> out;
    if (drawn)
        for (int i = 0; i < kSide * kSide; ++i)
            out.push_back(pixels[i] & 0xFFFFFF);
    SelectObject(dc, old);
    DeleteObject(target);
    DeleteDC(dc);
    return out;
}

// How far a picture drawn over `background` is from it, over all its pixels.
long Difference(const std::vector<std::uint32_t>& pixels, std::uint32_t background) {
    long sum = 0;
    for (const std::uint32_t p : pixels)
        for (const int shift : {0, 8, 16})
            sum += std::abs(static_cast<int>((p >> shift) & 0xFF) -
                            static_cast<int>((background >> shift) & 0xFF));
    return sum;
}

// The Link and Break connection items show their pictures beside their texts, blended over the
// menu's background or highlight (their transparent pixels keep it) and faint while the
// command is unavailable. An item without a picture shows none, and keeps the same column, so
// that every text starts at the same place and the menu is wide enough for all of them.
TEST_F(Win32Frame, MenuItemsShowTheirPictures) {
    const HMENU bar = GetMenu(backend.Window());
    ASSERT_NE(bar, nullptr);
    const HMENU connect = GetSubMenu(bar, 0);
    ASSERT_NE(connect, nullptr);
    struct Row {
        fw::UINT id;
        bool picture;
    };
    for (const Row row : {Row{ID_LINK, true}, Row{ID_BREAK, true}, Row{ID_SETUP, false}}) {
        SCOPED_TRACE(row.id);
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_BITMAP;
        ASSERT_TRUE(GetMenuItemInfoW(connect, row.id, FALSE, &info));
        EXPECT_EQ(info.hbmpItem, HBMMENU_CALLBACK);
        MEASUREITEMSTRUCT size{};
        size.CtlType = ODT_MENU;
        size.itemID = row.id;
        ASSERT_TRUE(
            SendMessageW(backend.Window(), WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&size)));
        EXPECT_GE(size.itemWidth, 13u); // the pictures' size, and perhaps some room around them
        EXPECT_EQ(size.itemHeight, 11u);
        for (const std::uint32_t background : {0xF0F0F0u, 0x3399FFu}) { // menu, highlight
            const auto shown = DrawnPicture(backend.Window(), row.id, 0, background);
            ASSERT_FALSE(shown.empty());
            const auto kept = std::count(shown.begin(), shown.end(), background);
            if (!row.picture) {
                EXPECT_EQ(kept, 16 * 16);
                continue;
            }
            EXPECT_GT(kept, 16 * 16 - 13 * 11) << "around the picture and through it";
            EXPECT_LT(kept, 16 * 16 - 19) << "its opaque pixels are drawn";
            const auto faint = DrawnPicture(backend.Window(), row.id, ODS_GRAYED, background);
            EXPECT_LT(Difference(faint, background), Difference(shown, background) / 2);
        }
    }
}

// The bar's pixels in the colour of its chunk.
int ChunkPixels(HWND bar) {
    RedrawWindow(bar, nullptr, nullptr, RDW_UPDATENOW);
    RECT r{};
    GetClientRect(bar, &r);
    HDC dc = GetDC(bar);
    const COLORREF chunk = GetSysColor(COLOR_HIGHLIGHT);
    int count = 0;
    for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x)
            count += GetPixel(dc, x, y) == chunk ? 1 : 0;
    ReleaseDC(bar, dc);
    return count;
}

// The waiting animation ends (the receiver answered, the link was broken, a box said the port
// is gone) with the bar at 0: nothing of the moving chunk may stay drawn.
TEST_F(Win32Frame, NoChunkStaysAfterTheMarquee) {
    const HWND bar = GetDlgItem(backend.FormWindow(), kProgressId);
    ASSERT_NE(bar, nullptr);
    view.progress.SetRange32(0, 100);
    view.progress.SetPos(0);
    RunMessages(100);
    EXPECT_EQ(ChunkPixels(bar), 0) << "an empty bar";
    view.progress.SetMarquee(true);
    RunMessages(400);
    ASSERT_GT(ChunkPixels(bar), 0) << "the marquee's chunk is seen";
    view.progress.SetMarquee(false);
    RunMessages(200);
    EXPECT_EQ(ChunkPixels(bar), 0);
    // The bar shows its position again.
    view.progress.SetPos(50);
    RunMessages(100);
    EXPECT_GT(ChunkPixels(bar), 0);
}

} // namespace
