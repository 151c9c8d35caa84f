#include <windows.h>

#include "platform/program_path.h"
#include "platform/text.h"

#include <vector>

namespace orvane {

std::string ProgramPath() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0)
            return {};
        if (n < buffer.size())
            return ToUtf8(std::u16string(buffer.begin(), buffer.begin() + n));
        if (buffer.size() >= 32768)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace orvane
