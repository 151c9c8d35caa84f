#include <windows.h>

#include "framework/win32/backend.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using fw::ControlKind;
using fw::DialogTemplate;
using fw::win32ui::BuildDialogTemplate;
using fw::win32ui::KeyChord;
using fw::win32ui::ParseAccelerator;

TEST(Win32Accelerators, KeyNamesOfTheResources) {
    struct Case {
        const char* name;
        bool known;
        unsigned char flags;
        unsigned short key;
    };
    const Case cases[] = {
        {"Esc", true, 0, VK_ESCAPE},
        {"Ctrl+C", true, FCONTROL, 'C'},
        {"Ctrl+Ins", true, FCONTROL, VK_INSERT},
        {"Shift+Del", true, FSHIFT, VK_DELETE},
        {"Alt+Backspace", true, FALT, VK_BACK},
        {"Shift+F6", true, FSHIFT, VK_F6},
        {"F6", true, 0, VK_F6},
        {"Ctrl+Shift+s", true, FCONTROL | FSHIFT, 'S'},
        {"F25", false, 0, 0},
        {"Hyper+X", false, 0, 0},
        {"Ctrl+", false, 0, 0},
        {"", false, 0, 0},
    };
    for (const Case& c : cases) {
        KeyChord chord;
        EXPECT_EQ(ParseAccelerator(c.name, chord), c.known) << c.name;
        if (c.known) {
            EXPECT_EQ(chord.flags, c.flags) << c.name;
            EXPECT_EQ(chord.key, c.key) << c.name;
        }
    }
}

DialogTemplate Sample() {
    DialogTemplate t;
    t.id = 7;
    t.caption = u"Port";
    t.fontFamily = "Times New Roman";
    t.pointSize = 12;
    t.cx = 196;
    t.cy = 89;
    t.controls = {
        {ControlKind::Text, -1, u"Port:", 7, 8, 32, 10, {}},
        {ControlKind::ComboBox, 1000, u"", 43, 7, 52, 128, {}},
        {ControlKind::Progress, 1001, u"", 0, 119, 158, 11, {}},
        {ControlKind::DefaultButton, IDOK, u"&OK", 7, 68, 50, 14, {}},
    };
    return t;
}

// The system itself reads the template: the dialog it makes has every control, at the right
// ids, of the right classes, with the texts given, translated.
TEST(Win32Templates, TheSystemBuildsTheDialogAsDescribed) {
    const auto words = BuildDialogTemplate(Sample(), WS_POPUP | WS_CAPTION,
                                           [](const std::u16string& s) { return s + u"!"; });
    ASSERT_EQ(reinterpret_cast<std::uintptr_t>(words.data()) % 4, 0u);
    const HWND dlg = CreateDialogIndirectParamW(
        GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_NE(dlg, nullptr) << GetLastError();
    struct Expect {
        int id;
        const wchar_t* className;
        const wchar_t* text;
    };
    const Expect expected[] = {
        {1000, L"ComboBox", L""},
        {1001, L"msctls_progress32", L""},
        {IDOK, L"Button", L"&OK!"},
    };
    for (const Expect& e : expected) {
        const HWND item = GetDlgItem(dlg, e.id);
        ASSERT_NE(item, nullptr) << e.id;
        wchar_t name[64] = {};
        GetClassNameW(item, name, 64);
        EXPECT_EQ(lstrcmpiW(name, e.className), 0) << e.id;
        wchar_t text[64] = {};
        GetWindowTextW(item, text, 64);
        EXPECT_EQ(std::wstring(text), std::wstring(e.text)) << e.id;
    }
    wchar_t caption[64] = {};
    GetWindowTextW(dlg, caption, 64);
    EXPECT_EQ(std::wstring(caption), L"Port!");
    // The drop-down list box, its list within the template's height.
    EXPECT_EQ(GetWindowLongPtrW(GetDlgItem(dlg, 1000), GWL_STYLE) & 0x3, CBS_DROPDOWNLIST);
    // Dialog units became pixels: the button is wider than it is tall, as 50 x 14 units are.
    RECT r{};
    GetWindowRect(GetDlgItem(dlg, IDOK), &r);
    EXPECT_GT(r.right - r.left, 2 * (r.bottom - r.top));
    DestroyWindow(dlg);
}

} // namespace
