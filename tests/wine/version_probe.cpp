// version_probe: the version resource of each program, as Explorer's Details page shows it.
//
//   version_probe VERSION FILE...
//
// Prints one line per file and value; exit code 1 when a file has no version resource, or its
// numbers or texts do not name this product and VERSION (x.y.z), or its original file name is
// not the file's own name.
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

std::wstring FileName(const std::wstring& path) {
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// True when the file's version resource names the product and the version.
bool Check(const std::wstring& path, const std::wstring& version) {
    std::printf("%s\n", Utf8(path).c_str());
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    std::vector<BYTE> data(size);
    if (size == 0 || !GetFileVersionInfoW(path.c_str(), 0, size, data.data())) {
        std::printf("  no version resource\n");
        return false;
    }
    bool good = true;
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || !fixed) {
        std::printf("  no numbers\n");
        return false;
    }
    unsigned major = 0, minor = 0, patch = 0;
    std::swscanf(version.c_str(), L"%u.%u.%u", &major, &minor, &patch);
    const unsigned numbers[] = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
                                HIWORD(fixed->dwFileVersionLS)};
    std::printf("  numbers %u.%u.%u.%u\n", numbers[0], numbers[1], numbers[2],
                LOWORD(fixed->dwFileVersionLS));
    good = good && numbers[0] == major && numbers[1] == minor && numbers[2] == patch;

    struct Translation {
        WORD language;
        WORD codePage;
    }* translation = nullptr;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof(Translation)) {
        std::printf("  no translation\n");
        return false;
    }
    wchar_t block[64];
    std::swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation->language,
                  translation->codePage);
    struct Expect {
        const wchar_t* name;
        std::wstring value; // empty: any text but the empty one
    };
    const Expect expected[] = {
        {L"CompanyName", L"Selvane Works"}, {L"ProductName", L"Orvane Update"},
        {L"FileVersion", version},          {L"ProductVersion", version},
        {L"FileDescription", L""},          {L"OriginalFilename", FileName(path)},
    };
    for (const Expect& e : expected) {
        wchar_t* text = nullptr;
        const bool found = VerQueryValueW(data.data(), (std::wstring(block) + e.name).c_str(),
                                          reinterpret_cast<void**>(&text), &length) &&
                           text && length > 0;
        const std::wstring value = found ? std::wstring(text) : std::wstring();
        const bool ok =
            e.value.empty() ? !value.empty() : _wcsicmp(value.c_str(), e.value.c_str()) == 0;
        std::printf("  %s %s%s\n", Utf8(e.name).c_str(), Utf8(value).c_str(),
                    ok ? "" : "  <- wrong");
        good = good && ok;
    }
    return good;
}

} // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argc < 3)
        return 64;
    bool good = true;
    for (int i = 2; i < argc; ++i)
        good = Check(argv[i], argv[1]) && good;
    return good ? 0 : 1;
}
