// The folders trusted keys are looked for in, as a refused package names them to the operator:
// whole paths in the system's own form (drive letters and backslashes on Windows), the one
// installed beside the program first; never a folder of another system.
#include "loading/firmware_loading.h"

#include <gtest/gtest.h>

#include <cctype>
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

} // namespace
} // namespace orvane::app
