// The Win32 back end's main window as the system shows it: the toolbar's tooltips, and the
// progress bar after its waiting animation.
#include <windows.h>

#include <commctrl.h>

#include "framework/app.h"
#include "framework/controls.h"
#include "framework/win32/backend.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr fw::UINT kFormId = 101;
constexpr int kProgressId = 1001;
constexpr fw::UINT ID_LINK = 32771;
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
