// The command-line programs' terminal and files, as each system has them: whether an output is
// a terminal, the program's arguments as UTF-8, files opened by UTF-8 names, and a console that
// shows UTF-8 text.
//
// Thread contract: the main thread (PrepareConsole and Utf8Arguments before anything else
// runs); OpenFile and IsTerminal from any thread.
#pragma once

#include "platform/text.h" // PathFromUtf8

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

// std::fopen with a UTF-8 file name; errno tells why when it returns null.
std::FILE* OpenFile(const std::string& utf8Path, const char* mode);

} // namespace orvane
