// window_probe: looks at the running window updater from outside, as the person at the screen
// sees it, for the window tests under Wine (the same Wine prefix and display).
//
//   window_probe list         the updater's windows, each with the texts of its controls:
//                             "frame TITLE", "box TITLE" (a message box or dialog), then
//                             "  CLASS TEXT" per control that shows a text
//   window_probe close-boxes  answers every box of the updater with its default button
//   window_probe close        asks the main window to close, as its caption's close button does
//
// Exit code 0, or 3 when the updater has no window (yet). The texts are written as UTF-8.
#include "platform/text.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

// wchar_t is UTF-16 on Windows: the project's own conversion serves.
std::string Utf8(const std::wstring& wide) {
    return orvane::ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

// The window's text, asked for across the process boundary (the system carries WM_GETTEXT).
std::wstring TextOf(HWND hwnd) {
    wchar_t buffer[2048] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, 2048, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, 5000, &got))
        return {};
    return std::wstring(buffer, got);
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

// One line, with line breaks shown as "\n" so that a text stays on its line.
void Print(const std::string& prefix, const std::wstring& text) {
    std::string line = prefix;
    for (char c : Utf8(text)) {
        if (c == '\r')
            continue;
        if (c == '\n')
            line += "\\n";
        else
            line += c;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
}

struct Windows {
    HWND frame = nullptr;
    std::vector<HWND> others; // the updater's other visible top-level windows
};

Windows FindUpdater() {
    Windows w;
    w.frame = FindWindowW(L"OrvaneUpdateFrame", nullptr);
    if (!w.frame)
        return w;
    DWORD process = 0;
    GetWindowThreadProcessId(w.frame, &process);
    struct Search {
        DWORD process;
        Windows* w;
    } search{process, &w};
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner == s->process && hwnd != s->w->frame && IsWindowVisible(hwnd))
                s->w->others.push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return w;
}

void List(HWND top, const char* kind) {
    Print(std::string(kind) + " ", TextOf(top));
    EnumChildWindows(
        top,
        [](HWND child, LPARAM) -> BOOL {
            const std::wstring text = TextOf(child);
            if (!text.empty() && IsWindowVisible(child))
                Print("  " + Utf8(ClassOf(child)) + " ", text);
            return TRUE;
        },
        0);
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "list";
    const Windows w = FindUpdater();
    if (!w.frame)
        return 3;
    if (command == "list") {
        List(w.frame, "frame");
        for (HWND other : w.others)
            if (ClassOf(other) == L"#32770")
                List(other, "box");
    } else if (command == "close-boxes") {
        for (HWND other : w.others)
            if (ClassOf(other) == L"#32770")
                PostMessageW(other, WM_COMMAND, IDOK, 0);
    } else if (command == "close") {
        PostMessageW(w.frame, WM_CLOSE, 0, 0);
    } else {
        std::fputs("window_probe: list, close-boxes or close\n", stderr);
        return 64;
    }
    std::fflush(stdout);
    return 0;
}
