// Text helpers shared by every layer.
//
// The system's texts are UTF-16 (std::u16string). Bytes on the wire and in the image
// catalogue are 8-bit; the conversion between the two is Latin-1, which is exact for the
// ASCII texts the system actually uses and never fails for other bytes.
#pragma once

#include <cstdarg>
#include <filesystem>
#include <string>
#include <string_view>

// The formats are the C library's printf formats (%zu, %lld included). MinGW builds use its
// standard-conforming printf (__USE_MINGW_ANSI_STDIO), which the GNU format checks describe.
#ifdef __MINGW32__
#define ORVANE_PRINTF_FORMAT(fmt, first) __attribute__((format(gnu_printf, fmt, first)))
#else
#define ORVANE_PRINTF_FORMAT(fmt, first) __attribute__((format(printf, fmt, first)))
#endif

namespace orvane {

// 8-bit bytes to UTF-16, one code unit per byte (Latin-1).
std::u16string FromAnsi(std::string_view bytes);

// UTF-16 to 8-bit bytes: code units up to 0xFF map to themselves, every other one to '?'.
std::string ToAnsi(std::u16string_view text);

// UTF-8 (the encoding of our own source files and of Qt's file names) to UTF-16 and back.
std::u16string FromUtf8(std::string_view utf8);
std::string ToUtf8(std::u16string_view text);

// A path from a UTF-8 name, and a path's name as UTF-8. A plain std::string is read and
// written in the ANSI code page on Windows, which garbles every other character; on POSIX a
// path's bytes are its name, whatever they are.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

// Text a peer sent in the system's code page (UTF-8 here) to UTF-16: every well-formed UTF-8
// sequence becomes its character, every other byte its Latin-1 character. ASCII is unchanged,
// UTF-8 is decoded once, and no byte is ever lost or replaced.
std::u16string FromPeerText(std::string_view bytes);

// The text with every control character shown as an escape, so that text from outside (a
// receiver's identifier, a banner) can reach a terminal without commanding it: C0 controls,
// DEL and the C1 controls as \xHH, the invisible direction overrides, isolates and marks
// (U+202A-U+202E, U+2066-U+2069, U+200E, U+200F, U+061C) as \uHHHH. Printable text, other
// languages' letters included, is unchanged.
std::u16string EscapeControls(std::u16string_view text);
// The same for UTF-8 text from a file or the command line (a package's release name, a folder's
// name), UTF-8 out: every byte that is not part of well-formed UTF-8 shows as \xHH, so none is
// lost, replaced or taken for another character.
std::string EscapeControlsUtf8(std::string_view utf8);

// printf-style formatting into a bounded buffer; the result is widened as Latin-1.
// Output longer than the bound is cut, never written past the buffer.
std::u16string FormatText(const char* format, ...) ORVANE_PRINTF_FORMAT(1, 2);
std::string FormatAnsi(const char* format, ...) ORVANE_PRINTF_FORMAT(1, 2);

// ASCII letters in lower case; every other byte (UTF-8 included) is kept.
std::string AsciiLower(std::string text);
bool StartsWith(std::string_view text, std::string_view prefix);

} // namespace orvane
