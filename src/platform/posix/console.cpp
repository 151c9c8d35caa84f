#include "platform/console.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace orvane {

bool IsTerminal(std::FILE* stream) {
    return stream && ::isatty(::fileno(stream)) != 0;
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

void PrepareConsole() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is the closed one.
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened != fd && opened >= 0)
            ::close(opened);
    }
}

std::FILE* OpenFile(const std::string& utf8Path, const char* mode) {
    return std::fopen(utf8Path.c_str(), mode);
}

} // namespace orvane
