#include "loading/firmware_loading.h"

#include "platform/program_path.h"
#include "platform/settings.h"

#include <filesystem>

#ifndef ORVANE_DATA_DIR
#define ORVANE_DATA_DIR ""
#endif

namespace orvane::app {

std::vector<std::string> TrustedKeyFolders() {
    namespace fs = std::filesystem;
    std::vector<std::string> folders;
    if (const std::string program = ProgramPath(); !program.empty()) {
        const fs::path programDir = fs::path(program).parent_path();
        folders.push_back(
            (programDir / "../share/orvane-update/keys").lexically_normal().generic_string());
    }
    if (const std::string data = ORVANE_DATA_DIR; !data.empty()) {
        const std::string installed = (fs::path(data) / "keys").generic_string();
        if (folders.empty() || folders.front() != installed)
            folders.push_back(installed);
    }
    folders.push_back((fs::path(SettingsFolder()) / "keys").generic_string());
    return folders;
}

firmware::TrustedKeys LoadTrustedKeys(const std::vector<std::string>& keyFiles) {
    firmware::TrustedKeys trusted;
    for (const std::string& folder : TrustedKeyFolders())
        firmware::AddKeyFolder(folder, trusted);
    for (const std::string& file : keyFiles)
        firmware::AddKeyFile(file, trusted);
    return trusted;
}

firmware::PackageResult LoadFirmwarePackage(const std::string& path,
                                            const std::vector<std::string>& keyFiles) {
    return firmware::LoadPackage(path, LoadTrustedKeys(keyFiles));
}

} // namespace orvane::app
