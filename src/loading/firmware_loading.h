// Loading firmware packages in the two updaters: which public keys are trusted, and the
// package check with them.
//
// Trusted keys are minisign public key files (*.pub) in
//   - the keys folder installed with the updater: share/orvane-update/keys beside the
//     program's bin folder, and (on Linux) the data folder named at build time;
//   - the keys folder in the user's configuration folder (~/.config/Selvane Works/keys,
//     %APPDATA%\Selvane Works\keys);
//   - the files given with --trusted-key.
//
// Thread contract: user-interface thread (reads the settings location).
#pragma once

#include "firmware/package.h"

#include <string>
#include <vector>

namespace orvane::app {

// The folders of trusted keys, installed one(s) first, as the system writes paths (UTF-8).
std::vector<std::string> TrustedKeyFolders();

firmware::TrustedKeys LoadTrustedKeys(const std::vector<std::string>& keyFiles);

// Loads and checks a package with the trusted keys and `keyFiles`.
firmware::PackageResult LoadFirmwarePackage(const std::string& path,
                                            const std::vector<std::string>& keyFiles);

} // namespace orvane::app
