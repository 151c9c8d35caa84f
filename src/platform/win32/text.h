// Conversions between the platform layer's UTF-8 texts and the UTF-16 that the Win32 wide
// calls take. For the files of this folder only.
#pragma once

#include <string>
#include <string_view>

namespace orvane::win32 {

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);

} // namespace orvane::win32
