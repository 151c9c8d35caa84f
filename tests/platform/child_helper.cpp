// A child for the child-process tests, in standard C++ and the platform's stop requests, so
// that it builds wherever the tests do. Its arguments are steps done in order:
//   out:TEXT   TEXT and a line break to standard output
//   err:TEXT   TEXT and a line break to standard error
//   flood:N    N bytes to standard output, without pause
//   stdin      reads standard input to its end, then says "stdin ended" on standard output
//   hold-term  from now on SIGTERM is ignored
//   listen     from now on a stop request (the platform's: a signal, or on Windows the
//              station's stop event) ends a sleep, and the program with exit code 3
//   sleep:MS   waits
//   exit:N     ends with exit code N (the default is 0)
#include "platform/stop_request.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    bool listening = false;
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const auto colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string value = colon == std::string::npos ? "" : step.substr(colon + 1);
        if (verb == "out") {
            std::printf("%s\n", value.c_str());
            std::fflush(stdout);
        } else if (verb == "err") {
            std::fprintf(stderr, "%s\n", value.c_str());
        } else if (verb == "flood") {
            const std::vector<char> chunk(4096, 'x');
            for (long left = std::atol(value.c_str()); left > 0;) {
                const long n = left < 4096 ? left : 4096;
                std::fwrite(chunk.data(), 1, static_cast<std::size_t>(n), stdout);
                left -= n;
            }
            std::fflush(stdout);
        } else if (verb == "stdin") {
            while (std::getchar() != EOF) {
            }
            std::printf("stdin ended\n");
            std::fflush(stdout);
        } else if (verb == "hold-term") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (verb == "listen") {
            orvane::InstallStopSignals();
            listening = true;
        } else if (verb == "sleep") {
            const auto end = std::chrono::steady_clock::now() +
                             std::chrono::milliseconds(std::atol(value.c_str()));
            while (std::chrono::steady_clock::now() < end) {
                if (listening && orvane::StopRequested())
                    return 3;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        } else if (verb == "exit") {
            return std::atoi(value.c_str());
        }
    }
    return 0;
}
