// Reading a port as a person types it: "COM3" (any case, also "\\.\COM3") or a device path.
#pragma once

#include <string>

namespace orvane {

struct PortArgument {
    enum class Kind { Number, Path, Invalid };
    Kind kind = Kind::Invalid;
    int number = 0;    // Number: 1 to 255
    std::string path;  // Path: exactly as typed
    std::string error; // Invalid: a message that names what was typed
};

// "COM0", "COM256", "COM2x" and an empty text are invalid, with an error naming them; any
// other text that does not start with "COM" is a device path, taken as typed.
PortArgument ParsePortArgument(const std::string& text);

// The system console carries a login prompt or the kernel's messages, and whatever listens
// there would take the handshakes as typing: it is opened only when the user says so
// (--allow-console) on top of naming it. The refusal tells how; the warning goes with an
// allowed open.
std::string ConsoleRefusal(const std::string& path);
std::string ConsoleWarning(const std::string& path);

} // namespace orvane
