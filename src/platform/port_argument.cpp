#include "platform/port_argument.h"

#include "platform/port_directory.h"

#include <algorithm>
#include <cctype>

namespace orvane {

namespace {

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    std::size_t i = 0;
    for (; prefix[i] != '\0'; ++i) {
        if (i >= text.size() || std::toupper(static_cast<unsigned char>(text[i])) !=
                                    std::toupper(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

} // namespace

PortArgument ParsePortArgument(const std::string& text) {
    PortArgument result;
    const std::string hint = ": give COM1 to COM255, or a device path such as /dev/ttyUSB0";
    if (text.empty()) {
        result.error = "an empty port name" + hint;
        return result;
    }
    std::string name = text;
    if (name.rfind("\\\\.\\", 0) == 0)
        name = name.substr(4);
    if (!StartsWithNoCase(name, "COM") || name.find('/') != std::string::npos) {
        result.kind = PortArgument::Kind::Path;
        result.path = text;
        return result;
    }
    const std::string digits = name.substr(3);
    const bool numeric =
        !digits.empty() && digits.size() <= 3 &&
        std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    const int number = numeric ? std::stoi(digits) : 0;
    if (!numeric || number < kFirstPort || number > kLastPort) {
        result.error = "\"" + text + "\" is not a port" + hint;
        return result;
    }
    result.kind = PortArgument::Kind::Number;
    result.number = number;
    return result;
}

std::string ConsoleRefusal(const std::string& path) {
    return path +
           " is the system console: a login prompt or the kernel's messages are on it, and they "
           "would see the handshakes. Give --allow-console as well to send them there anyway.";
}

std::string ConsoleWarning(const std::string& path) {
    return "warning: " + path +
           " is the system console: a login prompt or the kernel's messages may be on it, and "
           "they will see the handshakes. Going on because --allow-console was given.";
}

} // namespace orvane
