#include "platform/text.h"

#include <array>
#include <cstdio>
#include <utility>

namespace orvane {

namespace {
constexpr std::size_t kFormatBound = 4096;

std::string VFormat(const char* format, va_list args) {
    std::array<char, kFormatBound> buffer{};
    const int n = std::vsnprintf(buffer.data(), buffer.size(), format, args);
    if (n < 0)
        return {};
    const auto len = std::min<std::size_t>(static_cast<std::size_t>(n), buffer.size() - 1);
    return std::string(buffer.data(), len);
}
// A path's native name from UTF-8 and back: the bytes themselves on POSIX, UTF-16 on Windows
// (the overload that fits the system's path is the one used).
[[maybe_unused]] void Utf8ToNative(std::string_view utf8, std::string& native) {
    native.assign(utf8);
}
[[maybe_unused]] void Utf8ToNative(std::string_view utf8, std::wstring& native) {
    const std::u16string wide = FromUtf8(utf8);
    native.assign(wide.begin(), wide.end());
}
[[maybe_unused]] std::string NativeToUtf8(const std::string& native) {
    return native;
}
[[maybe_unused]] std::string NativeToUtf8(const std::wstring& native) {
    return ToUtf8(std::u16string(native.begin(), native.end()));
}
} // namespace

std::filesystem::path PathFromUtf8(std::string_view utf8) {
    std::filesystem::path::string_type native;
    Utf8ToNative(utf8, native);
    return std::filesystem::path(std::move(native));
}

std::string PathToUtf8(const std::filesystem::path& path) {
    return NativeToUtf8(path.native());
}

std::u16string FromAnsi(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (unsigned char c : bytes)
        out.push_back(static_cast<char16_t>(c));
    return out;
}

std::string ToAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text)
        out.push_back(c <= 0xFF ? static_cast<char>(c) : '?');
    return out;
}

std::u16string FromUtf8(std::string_view utf8) {
    std::u16string out;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        char32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            len = 2;
        } else if ((c & 0xF0) == 0xE0) {
            len = 3;
        } else if ((c & 0xF8) == 0xF0) {
            len = 4;
        }
        if (len > 1) {
            if (i + len > utf8.size()) {
                len = 1;
            } else {
                cp = c & (0x7F >> len);
                for (std::size_t k = 1; k < len; ++k) {
                    const auto cc = static_cast<unsigned char>(utf8[i + k]);
                    if ((cc & 0xC0) != 0x80) {
                        cp = 0xFFFD;
                        len = k;
                        break;
                    }
                    cp = (cp << 6) | (cc & 0x3F);
                }
            }
        }
        i += len;
        if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp));
        }
    }
    return out;
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

namespace {
// The length of the well-formed UTF-8 sequence at bytes[i] (1 for ASCII) with its code point
// in `cp`, or 0 when the byte there starts none: a stray or cut sequence, an overlong form, a
// surrogate or a code point past U+10FFFF.
std::size_t WellFormedAt(std::string_view bytes, std::size_t i, char32_t& cp) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
        cp = c;
        return 1;
    }
    std::size_t len = 0;
    char32_t least = 0; // the smallest code point of this length: shorter forms are overlong
    if (c >= 0xC2 && c <= 0xDF) {
        len = 2;
        cp = c & 0x1F;
        least = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        len = 3;
        cp = c & 0x0F;
        least = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        len = 4;
        cp = c & 0x07;
        least = 0x10000;
    }
    if (len == 0 || i + len > bytes.size())
        return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto cc = static_cast<unsigned char>(bytes[i + k]);
        if ((cc & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    const bool wellFormed = cp >= least && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    return wellFormed ? len : 0;
}

void AppendUtf16(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(cp));
    }
}
} // namespace

std::u16string FromPeerText(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        char32_t cp = 0;
        const std::size_t len = WellFormedAt(bytes, i, cp);
        if (len == 0) {
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]))); // Latin-1
            ++i;
            continue;
        }
        AppendUtf16(out, cp);
        i += len;
    }
    return out;
}

std::u16string EscapeControls(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        // Direction overrides, isolates and marks reorder what is around them on the screen
        // while showing nothing themselves.
        const bool direction = (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) ||
                               c == 0x200E || c == 0x200F || c == 0x061C;
        if (control)
            out += FormatText("\\x%02X", static_cast<unsigned>(c));
        else if (direction)
            out += FormatText("\\u%04X", static_cast<unsigned>(c));
        else
            out.push_back(c);
    }
    return out;
}

std::string EscapeControlsUtf8(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        const std::size_t len = WellFormedAt(utf8, i, cp);
        if (len == 0) {
            out += FormatAnsi("\\x%02X", static_cast<unsigned char>(utf8[i]));
            ++i;
            continue;
        }
        std::u16string one;
        AppendUtf16(one, cp);
        out += ToUtf8(EscapeControls(one));
        i += len;
    }
    return out;
}

std::u16string FormatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = VFormat(format, args);
    va_end(args);
    return FromAnsi(s);
}

std::string FormatAnsi(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = VFormat(format, args);
    va_end(args);
    return s;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace orvane
