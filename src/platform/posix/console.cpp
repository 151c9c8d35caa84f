#include "platform/console.h"

#include <unistd.h>

namespace orvane {

bool IsTerminal(std::FILE* stream) {
    return stream && ::isatty(::fileno(stream)) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {}

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
    return std::fopen(utf8Path.c_str(), mode);
}

} // namespace orvane
