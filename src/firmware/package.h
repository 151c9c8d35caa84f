// Firmware packages: a folder holding manifest.json, the image files it lists, and
// manifest.json.minisig, a minisign signature of the manifest.
//
// manifest.json:
//   {"format": 1, "release": "2026.11 K-series", "date": "2026-11-30",
//    "images": {"G": {"file": "G.bin", "length": 74304, "sha256": "<64 hex digits>"}, ...},
//    "entries": [{"identifiers": ["K64E"], "name": "K64", "image": "G",
//                 "baud": "unchanged", "mode": "single"}, ...]}
// Images are keyed by the catalogue's names (A to N, PXA271, FPGA); a package carries any
// subset. "entries" is optional: each one adds to the built-in catalogue or takes over the
// identifiers it names from the built-in entries.
//
// Everything is checked before a package is used: the signature against the trusted keys
// (first, so nothing unsigned is even parsed), then every image's length, SHA-256 and layout
// (whole 129-byte records of types 25 then 24 for A to N; 1 byte to 16 MiB for the resources),
// and that every entry names images the package has. A failure is one plain sentence that
// names the file and what is wrong with it.
//
// Thread contract: plain functions; any thread.
#pragma once

#include "firmware/firmware_set.h"
#include "firmware/minisign.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::firmware {

inline constexpr const char* kManifestName = "manifest.json";
inline constexpr const char* kSignatureName = "manifest.json.minisig";
// Bounds that keep a hostile file from taking all memory: far above any real image.
inline constexpr std::uint32_t kMaxImageBytes = 16u * 1024 * 1024;
inline constexpr std::size_t kMaxManifestBytes = 1024 * 1024;
inline constexpr std::size_t kMaxSignatureBytes = 64 * 1024;

struct TrustedKeys {
    std::vector<MinisignKey> keys;
    // Key files that could not be read; reported only when no trusted key signed a package.
    std::vector<std::string> problems;
    // Where keys were looked for, for the messages ("/usr/share/orvane-update/keys, ...").
    std::vector<std::string> searched;
    // What the operator does when no key at all is trusted.
    std::string howToAdd = "Give the vendor's minisign public key with --trusted-key FILE.";
};

// Adds every *.pub file of a folder (a folder that does not exist adds nothing).
void AddKeyFolder(const std::string& folder, TrustedKeys& trusted);
// Adds one public key file; false (and a problem noted) when it cannot be read.
bool AddKeyFile(const std::string& file, TrustedKeys& trusted);

struct PackageResult {
    std::shared_ptr<const FirmwareSet> firmware; // null when refused
    std::string error;                           // "<file>: <what is wrong>"
    std::vector<std::uint8_t> manifest;          // the manifest's bytes as checked
};

// Loads and checks the package in folder `path` (or the folder of `path` when it names the
// manifest). `checkSignature` is false only for the simulated receiver, which plays a
// receiver and trusts nothing anyway: everything else is still checked.
PackageResult LoadPackage(const std::string& path, const TrustedKeys& trusted,
                          bool checkSignature = true);

// Checks a signature file's text (manifest.json.minisig) against the manifest's bytes with the
// trusted keys. Empty when valid, with the signing key's id in `signedBy`; otherwise the refusal,
// "<file>: <what is wrong>", with the two files named as given.
std::string CheckManifestSignature(const std::vector<std::uint8_t>& manifest,
                                   std::string_view signatureText, const TrustedKeys& trusted,
                                   const std::string& manifestName,
                                   const std::string& signatureName, std::string& signedBy);

// Builds the set from a manifest and image bytes supplied by `files` (image name, its file
// name and the length the manifest gives; returns the bytes, kept alive by the set, or an
// error). For a package embedded at build time, whose signature the build checked: the rest
// is checked again here, by the same code.
using PackageFiles = std::function<std::optional<ImageView>(
    const std::string& image, const std::string& file, std::uint32_t length, FirmwareSet& set,
    std::string& error)>;
PackageResult BuildPackageSet(const std::vector<std::uint8_t>& manifest, const PackageFiles& files,
                              const std::string& source, const std::string& signedBy);

// The record layout check of an A-to-N image; empty when sound, otherwise what is wrong.
std::string CheckRecordLayout(const std::uint8_t* data, std::uint32_t length);

} // namespace orvane::firmware
