// The system's error codes, as the platform layer reports them: errno values on POSIX,
// GetLastError() codes on Windows. Portable code never spells a code of either system: it
// names the few it makes itself through the constants below, and shows any code with
// ErrorText().
//
// Thread contract: constants and free functions without shared state; any thread.
#pragma once

#include <string>

#ifndef _WIN32
#include <cerrno>
#endif

namespace orvane {

#ifdef _WIN32
// The Win32 codes by number, so this header does not need <windows.h> and its macros.
inline constexpr int kErrorInvalidArgument = 87; // ERROR_INVALID_PARAMETER
inline constexpr int kErrorBadHandle = 6;        // ERROR_INVALID_HANDLE
inline constexpr int kErrorNoDevice = 2;         // ERROR_FILE_NOT_FOUND
inline constexpr int kErrorBusy = 5;             // ERROR_ACCESS_DENIED: a port held elsewhere
inline constexpr int kErrorCancelled = 995;      // ERROR_OPERATION_ABORTED
inline constexpr int kErrorTimedOut = 1460;      // ERROR_TIMEOUT
#else
inline constexpr int kErrorInvalidArgument = EINVAL;
inline constexpr int kErrorBadHandle = EBADF;
inline constexpr int kErrorNoDevice = ENODEV;
inline constexpr int kErrorBusy = EBUSY;
inline constexpr int kErrorCancelled = ECANCELED;
inline constexpr int kErrorTimedOut = ETIMEDOUT;
#endif

// True for the codes that mean the device itself is gone (unplugged adapter, closed
// pseudo-terminal master), as opposed to a passing failure.
bool IsDeviceLost(int error);

// The system's text for a code, such as "No such file or directory" or, on Windows, "The
// system cannot find the file specified." (without the trailing line break Windows adds).
std::string ErrorText(int error);

} // namespace orvane
