#include "platform/program_path.h"

#include <filesystem>
#include <system_error>

namespace orvane {

std::string ProgramPath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

} // namespace orvane
