#include "platform/system_error.h"

#include <array>
#include <cerrno>
#include <cstring>

namespace orvane {

namespace {
// strerror_r comes in two shapes (XSI returns int, GNU returns the text); accept both.
[[maybe_unused]] const char* PickText(int rc, const char* buffer) {
    return rc == 0 ? buffer : nullptr;
}
[[maybe_unused]] const char* PickText(const char* text, const char*) {
    return text;
}
} // namespace

bool IsDeviceLost(int error) {
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF || error == EPIPE ||
           error == ENOENT;
}

std::string ErrorText(int error) {
    std::array<char, 256> buffer{};
    const char* text = PickText(strerror_r(error, buffer.data(), buffer.size()), buffer.data());
    if (text == nullptr || *text == '\0')
        return "Unknown error " + std::to_string(error);
    return std::string(text);
}

} // namespace orvane
