#include <cstdlib>
#include <string>

namespace orvane {

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path, else
// ~/.config.
std::string DefaultSettingsRoot() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config";
}

} // namespace orvane
