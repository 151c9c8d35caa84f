#include <windows.h>

#include "platform/console.h"
#include "platform/text.h"
#include "platform/win32/text.h"

#include <io.h>
#include <shellapi.h>

namespace orvane {

bool IsTerminal(std::FILE* stream) {
    return stream && _isatty(_fileno(stream)) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    // The C run-time's arguments are in the ANSI code page, which cannot hold every file
    // name: take the command line the system keeps in UTF-16 instead.
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) {
        const std::wstring arg(wide[i]);
        args.push_back(ToUtf8(std::u16string(arg.begin(), arg.end())));
    }
    LocalFree(wide);
    return args;
}

void PrepareConsole() {
    SetConsoleOutputCP(CP_UTF8);
}

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
    return _wfopen(win32::Wide(utf8Path).c_str(), win32::Wide(mode).c_str());
}

} // namespace orvane
