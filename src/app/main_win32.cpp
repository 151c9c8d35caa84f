#include <windows.h>

// orvane-update.exe: the desktop updater's native Windows window.
//
//   orvane-update [--port COMn] [--firmware PACKAGE] [--trusted-key FILE]... [FILE]
//
// --allow-placeholder-firmware, left out of the help, lets this build's test images go to any
// COM port: under Wine the simulated receiver's pseudo-terminal is a COM port that cannot be
// told from a cable. The window then says so in the first line of its message list.
//
// The same application object as the Qt window on Linux, started in the same order, with the
// Win32 back end of the framework.
#include "app/sarnel_app.h"
#include "loading/firmware_loading.h"
#include "platform/command_line.h"
#include "platform/console.h"
#include "platform/exit_codes.h"
#include "platform/port_argument.h"
#include "platform/text.h"
#include "platform/version.h"
#include "ui/resource_ids.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr char kDescription[] =
    "Loads new firmware into a satellite-positioning receiver over a serial line.\n\n"
    "Exit codes (the same table as orvane-update-cli's):\n"
    "  0   the window was closed\n"
    "  1   the window could not start\n"
    "  4   the firmware package is refused (the message says why)\n"
    "  64  the command line is wrong";

// Set up by main for the one-shot timers below (a window program has one of each).
orvane::app::CSarnelApp* g_app = nullptr;
std::string g_screenshot;
unsigned g_command = 0;

// Writes into the console of the program that started this one (cmd.exe, PowerShell), if it
// has one. A window program is not given that console's handles, nor is it attached to it,
// until it asks; already attached (ERROR_ACCESS_DENIED) is as good.
bool TellParentConsole(const std::u16string& text) {
    if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED)
        return false;
    const HANDLE console =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL wrote = WriteConsoleW(console, reinterpret_cast<const wchar_t*>(text.c_str()),
                                     static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(console);
    return wrote != FALSE;
}

// Shows a text where the operator sees it: on the standard output when the program was started
// with one (a script, a redirection), else in the console it was started from, else in a
// message box.
void Tell(const std::string& text, bool error) {
    const HANDLE out = GetStdHandle(error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    if (out != nullptr && out != INVALID_HANDLE_VALUE && GetFileType(out) != FILE_TYPE_UNKNOWN) {
        DWORD written = 0;
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    const std::u16string wide = orvane::FromUtf8(text);
    if (TellParentConsole(wide))
        return;
    MessageBoxW(nullptr, reinterpret_cast<const wchar_t*>(wide.c_str()), L"Orvane Update",
                MB_OK | (error ? MB_ICONERROR : MB_ICONINFORMATION));
}

// Runs a command as the menu does (the Update command for --start-update).
void CALLBACK RunCommand(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    KillTimer(hwnd, id);
    if (g_app && g_app->Backend())
        g_app->Backend()->RunCommand(g_command);
}

// Writes a 24-bit BMP of the screen area of `window` below its caption (boxes and dialogs over
// it included): the menu bar down, as the Linux picture shows the window.
bool SaveScreenArea(HWND window, const std::string& path) {
    RECT r{};
    if (!GetWindowRect(window, &r))
        return false;
    MENUBARINFO bar{};
    bar.cbSize = sizeof(bar);
    if (GetMenuBarInfo(window, static_cast<LONG>(OBJID_MENU), 0, &bar) && bar.rcBar.top > r.top)
        r.top = bar.rcBar.top;
    const int width = r.right - r.left;
    const int height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFOHEADER info{};
    info.biSize = sizeof(info);
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const std::size_t stride = (static_cast<std::size_t>(width) * 3 + 3) & ~std::size_t{3};
    std::vector<char> pixels(stride * static_cast<std::size_t>(height));
    const int rows = GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), pixels.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (rows != height)
        return false;
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof(file) + sizeof(info);
    file.bfSize = static_cast<DWORD>(file.bfOffBits + pixels.size());
    std::ofstream out(orvane::PathFromUtf8(path), std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(&info), sizeof(info));
    out.write(pixels.data(), static_cast<std::streamsize>(pixels.size()));
    return static_cast<bool>(out);
}

void CALLBACK TakeScreenshot(HWND hwnd, UINT, UINT_PTR id, DWORD) {
    KillTimer(hwnd, id);
    if (g_app && g_app->Backend() && g_app->Backend()->Window())
        SaveScreenArea(g_app->Backend()->Window(), g_screenshot);
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args = orvane::Utf8Arguments(argc, argv);
    std::vector<const char*> argPointers;
    for (const std::string& arg : args)
        argPointers.push_back(arg.c_str());
    CLI::App parser(kDescription, "orvane-update");
    const orvane::StandardOptions standard = orvane::SetUpCommandLine(parser);
    std::string port, package, document;
    unsigned screenshotAfter = 3000;
    std::vector<std::string> keys;
    parser.add_option("--port", port, "Link to this port: COMn.")->type_name("COMn");
    parser
        .add_option("--firmware", package,
                    "Send the firmware of this signed package (a folder with manifest.json) in "
                    "this run, instead of the one loaded last.")
        ->type_name("PACKAGE");
    parser
        .add_option("--trusted-key", keys,
                    "Also trust this minisign public key file for firmware packages.")
        ->type_name("FILE")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->allow_extra_args(false);
    // A bench override, for the simulated receiver on a COM port only: not offered in the help,
    // and announced by the window whenever it is given.
    auto* allowPlaceholder = orvane::AddFlag(
        parser, "--allow-placeholder-firmware",
        "Bench override: send this build's test images to any port, not only to the simulated "
        "receiver (for orvane-bootsim on a null-modem cable). Never use it with a real "
        "receiver.");
    allowPlaceholder->group("");
    // For tests and the documentation's pictures; not shown in the help.
    auto* startUpdate =
        orvane::AddFlag(parser, "--start-update", "Run the Update command once the window is up.");
    startUpdate->group("");
    parser.add_option("--command", g_command, "Run this command once the window is up.")->group("");
    parser.add_option("--screenshot", g_screenshot, "Save a picture (BMP) of the window.")
        ->group("");
    parser.add_option("--screenshot-after", screenshotAfter, "Milliseconds before the picture.")
        ->group("");
    parser.add_option("file", document, "A document to open.")->type_name("[FILE]");
    try {
        parser.parse(static_cast<int>(argPointers.size()), argPointers.data());
    } catch (const CLI::ParseError& e) {
        Tell(std::string("error: ") + e.what() + " (see --help)\n", true);
        return orvane::kExitUsage;
    }
    if (standard.help->count() > 0) {
        Tell(parser.help(), false);
        return 0;
    }
    if (standard.version->count() > 0) {
        Tell(std::string("orvane-update ") + orvane::kVersion + "\n", false);
        return 0;
    }

    // The same order as the Qt window: firmware package, port, then the application object.
    orvane::app::AppOptions options;
    options.trustedKeys = keys;
    if (!package.empty()) {
        const auto loaded = orvane::app::LoadFirmwarePackage(package, options.trustedKeys);
        if (!loaded.firmware) {
            Tell("orvane-update: firmware package refused: " + loaded.error + "\n", true);
            return orvane::kExitFirmware;
        }
        options.firmware = loaded.firmware;
    }
    if (!port.empty()) {
        const auto parsed = orvane::ParsePortArgument(port);
        if (parsed.kind != orvane::PortArgument::Kind::Number) {
            Tell("orvane-update: " +
                     (parsed.error.empty() ? "--port takes COMn here" : parsed.error) + "\n",
                 true);
            return orvane::kExitUsage;
        }
        options.port = parsed.number;
    }
    options.frame.allowPlaceholderOnAnyDevice = allowPlaceholder->count() > 0;
    if (!document.empty())
        options.documentPath = orvane::FromUtf8(document);

    orvane::app::CSarnelApp app(std::move(options));
    g_app = &app;
    if (!app.InitInstance()) {
        app.ExitInstance();
        return orvane::kExitLinkFailed;
    }
    if (startUpdate->count() > 0)
        g_command = orvane::ui::ID_UPDATE;
    // Timers of the window, not of the thread: the modal loops of boxes and dialogs dispatch
    // the window's timers, while a thread's may wait until they end.
    const HWND window = app.Backend()->Window();
    if (g_command != 0)
        SetTimer(window, 1, 300, RunCommand);
    if (!g_screenshot.empty())
        SetTimer(window, 2, screenshotAfter, TakeScreenshot);
    const int code = app.Backend()->Run();
    app.ExitInstance();
    g_app = nullptr;
    return code;
}
