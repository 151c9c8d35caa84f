// The command-line programs' terminal and files, as each system has them: whether an output is
// a terminal, the program's arguments as UTF-8, files opened by UTF-8 names, and a console that
// shows UTF-8 text.
//
// Thread contract: the main thread (PrepareConsole and Utf8Arguments before anything else
// runs); OpenFile and IsTerminal from any thread.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace orvane {

// True when the stream is a terminal (a console window), not a file or a pipe.
bool IsTerminal(std::FILE* stream);

// The program's arguments, its own name first, as UTF-8 whatever the system's code page is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Makes the console show the UTF-8 text the programs write. On POSIX systems it also gives a
// standard stream the caller left closed /dev/null: else the first file the program opens
// would take its number, and what is printed for the user would land in that file (a trace,
// a result, the receiver's line).
void PrepareConsole();

// A path from a UTF-8 name (a plain std::string would be read in the ANSI code page on
// Windows).
inline std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// The UTF-8 name of a path, for OpenFile and for messages.
inline std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// std::fopen with a UTF-8 file name; errno tells why when it returns null.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);

} // namespace orvane
