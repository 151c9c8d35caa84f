#include "platform/system_error.h"
#include "platform/win32/text.h"

#include <windows.h>

#include <string>

namespace orvane {

static_assert(kErrorInvalidArgument == ERROR_INVALID_PARAMETER);
static_assert(kErrorBadHandle == ERROR_INVALID_HANDLE);
static_assert(kErrorNoDevice == ERROR_FILE_NOT_FOUND);
static_assert(kErrorBusy == ERROR_ACCESS_DENIED);
static_assert(kErrorCancelled == ERROR_OPERATION_ABORTED);
static_assert(kErrorTimedOut == ERROR_TIMEOUT);

bool IsDeviceLost(int error) {
    switch (static_cast<DWORD>(error)) {
    case ERROR_INVALID_HANDLE:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_BAD_COMMAND: // what an unplugged USB adapter's driver answers
    case ERROR_GEN_FAILURE: // likewise, for other drivers
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
    case ERROR_DEV_NOT_EXIST: // the device has gone from the system
        return true;
    default:
        return false;
    }
}

std::string ErrorText(int error) {
    wchar_t* text = nullptr;
    // The user's default language, as every other message of the system reads.
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message;
    if (length != 0 && text != nullptr)
        message.assign(text, length);
    if (text != nullptr)
        ::LocalFree(text);
    // The system's texts end with a line break; the failure report adds its own.
    while (!message.empty() &&
           (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
        message.pop_back();
    if (message.empty())
        return "Unknown error " + std::to_string(error);
    return win32::Utf8(message);
}

namespace win32 {

std::wstring Wide(std::string_view utf8) {
    if (utf8.empty())
        return {};
    const int n =
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                              n);
    return wide;
}

std::string Utf8(std::wstring_view wide) {
    if (wide.empty())
        return {};
    const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                        nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(),
                              n, nullptr, nullptr);
    return utf8;
}

} // namespace win32

} // namespace orvane
