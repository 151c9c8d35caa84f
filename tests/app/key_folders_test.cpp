// The folders trusted keys are looked for in, as a refused package names them to the operator:
// whole paths in the system's own form (drive letters and backslashes on Windows), the one
// installed beside the program first; never a folder of another system.
#include "loading/firmware_loading.h"
#include "platform/console.h"
#include "platform/settings.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace orvane::app {
namespace {

TEST(TrustedKeyFolders, AreThisSystemsOwnPaths) {
    const std::vector<std::string> folders = TrustedKeyFolders();
    ASSERT_GE(folders.size(), 2u);
#ifdef _WIN32
    const std::string installed = "\\share\\orvane-update\\keys";
#else
    const std::string installed = "/share/orvane-update/keys";
#endif
    EXPECT_TRUE(folders.front().ends_with(installed)) << folders.front();
    for (const std::string& folder : folders) {
#ifdef _WIN32
        // "C:\..." or "\\server\share\...".
        const bool drive = folder.size() > 3 &&
                           std::isalpha(static_cast<unsigned char>(folder[0])) &&
                           folder.compare(1, 2, ":\\") == 0;
        EXPECT_TRUE(drive || folder.starts_with("\\\\")) << folder;
        EXPECT_EQ(folder.find('/'), std::string::npos) << folder;
#else
        EXPECT_TRUE(folder.starts_with("/")) << folder;
        EXPECT_EQ(folder.find('\\'), std::string::npos) << folder;
#endif
        EXPECT_TRUE(folder.ends_with("keys")) << folder;
    }
}

// Folders named in any language. The updater's paths are UTF-8 texts, and on Windows a path
// made from a plain std::string is read in the ANSI code page: the settings folder under
// %APPDATA%, a key file and a package named there would all be "not found".
TEST(TrustedKeyFolders, FoldersNamedInAnyLanguageAreFound) {
    namespace fs = std::filesystem;
    const std::string name = "Pr\xC3\xBC"
                             "fung \xE5\xAF\x86\xE9\x92\xA5 \xCE\xA9";
    const fs::path root =
        fs::temp_directory_path() /
        ("orvane-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    const fs::path folder = root / PathFromUtf8(name);
    const auto text = [](const fs::path& path) { return ToUtf8(path.u16string()); };
    const auto writeKey = [](const fs::path& file) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "untrusted comment: minisign public key\n"
                               "RWSVs5jz9G3QXuKnsJBf1dBqNQc2gMJKAuTvbMNHLEhtvkCtIj2ywJQT\n";
    };
    SetSettingsFolder(text(folder));
    writeKey(folder / kSettingsOrganization / "keys" / "vendor.pub");
    const fs::path given = folder / PathFromUtf8("given \xD0\xBA\xD0\xBB\xD1\x8E\xD1\x87.pub");
    writeKey(given);
    const fs::path package = folder / PathFromUtf8("pkg \xE5\x9B\xBA\xE4\xBB\xB6");
    fs::create_directories(package);
    std::ofstream(package / "manifest.json") << "{}";

    EXPECT_NE(TrustedKeyFolders().back().find(name), std::string::npos);
    const firmware::TrustedKeys trusted = LoadTrustedKeys({text(given)});
    const auto trusts = [&](const std::string& file) {
        return std::any_of(trusted.keys.begin(), trusted.keys.end(),
                           [&](const firmware::MinisignKey& key) { return key.file == file; });
    };
    EXPECT_TRUE(trusts(text(folder / kSettingsOrganization / "keys" / "vendor.pub")));
    EXPECT_TRUE(trusts(text(given)));
    EXPECT_TRUE(trusted.problems.empty()) << trusted.problems.front();
    // Found, and named as it is: only its signature is missing.
    const std::string refusal = LoadFirmwarePackage(text(package), {}).error;
    EXPECT_EQ(refusal.rfind(text(package / "manifest.json.minisig") + ": missing", 0), 0u)
        << refusal;

    SetSettingsFolder({});
    std::error_code ec;
    fs::remove_all(root, ec);
}

} // namespace
} // namespace orvane::app
