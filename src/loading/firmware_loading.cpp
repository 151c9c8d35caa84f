#include "loading/firmware_loading.h"

#include "platform/console.h"
#include "platform/program_path.h"
#include "platform/settings.h"
#include "platform/text.h"

#include <filesystem>

#ifndef ORVANE_DATA_DIR
#define ORVANE_DATA_DIR ""
#endif

namespace orvane::app {

namespace {

// A folder as the operator reads it in a refusal: UTF-8, in the system's own form (backslashes
// on Windows).
std::string FolderText(const std::filesystem::path& folder) {
    return ToUtf8(folder.lexically_normal().make_preferred().u16string());
}

} // namespace

std::vector<std::string> TrustedKeyFolders() {
    std::vector<std::string> folders;
    if (const std::string program = ProgramPath(); !program.empty())
        folders.push_back(
            FolderText(PathFromUtf8(program).parent_path() / "../share/orvane-update/keys"));
    // Named at build time where the package decides the folders (/usr/share on Linux); on
    // Windows the installer puts the keys beside the program, whatever folder is chosen.
    if (const std::string data = ORVANE_DATA_DIR; !data.empty()) {
        const std::string installed = FolderText(PathFromUtf8(data) / "keys");
        if (folders.empty() || folders.front() != installed)
            folders.push_back(installed);
    }
    folders.push_back(FolderText(PathFromUtf8(SettingsFolder()) / "keys"));
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
