// console_parent: runs a program the way cmd.exe in a console window runs a window program: in
// a console of its own, without standard handles for the child (a window program gets none on
// Windows), then prints what the console shows to its own standard output, one line per row,
// and ends with the child's exit code (124 when it did not end within 60 s; it is ended then).
//
//   console_parent PROGRAM [ARGUMENTS...]
#include <windows.h>

#include <string>
#include <vector>

namespace {

std::wstring Quoted(const std::wstring& arg) {
    return L"\"" + arg + L"\"";
}

void Write(HANDLE out, const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n,
                        nullptr, nullptr);
    DWORD written = 0;
    WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 2)
        return 64;
    std::wstring command;
    for (int i = 1; i < argc; ++i)
        command += (i > 1 ? L" " : L"") + Quoted(argv[i]);

    const HANDLE report = GetStdHandle(STD_OUTPUT_HANDLE);
    FreeConsole();
    if (!AllocConsole())
        return 70;
    const HANDLE screen =
        CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES; // and all three null: none
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &child))
        return 71;
    DWORD code = 124;
    if (WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(child.hProcess, &code);
    else
        TerminateProcess(child.hProcess, 124);

    CONSOLE_SCREEN_BUFFER_INFO info{};
    GetConsoleScreenBufferInfo(screen, &info);
    for (SHORT row = 0; row <= info.dwCursorPosition.Y && row < info.dwSize.Y; ++row) {
        std::vector<wchar_t> line(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD got = 0;
        ReadConsoleOutputCharacterW(screen, line.data(), static_cast<DWORD>(line.size()),
                                    COORD{0, row}, &got);
        std::wstring text(line.data(), got);
        text.erase(text.find_last_not_of(L' ') + 1);
        Write(report, text + L"\n");
    }
    return static_cast<int>(code);
}
