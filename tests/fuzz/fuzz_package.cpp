// Fuzzes what a firmware package hands the updater before and after its signature is checked:
// public key and signature files (read before anything is trusted), and the manifest with its
// images (parsed once the signature holds, still checked as if hostile).
//
// The first input byte chooses the target; the rest is the file. Image files are two fixed
// images: "G.bin" (two records, type 25 then 24) and "R.bin" (300 raw bytes); any other name
// is missing. Seeds carry manifests whose hashes match them, so the fuzzer reaches the
// entries.
//
// Invariants: no crash or overrun; a package that is accepted has only images of the known
// names, each with sound bytes (the record layout for A to N, 1 byte to the limit for the
// resources), the SHA-256 of its bytes, and only entries whose images it has.
#include "firmware/minisign.h"
#include "firmware/package.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace orvane::firmware;
using orvane::fuzz::Check;

std::vector<std::uint8_t> RecordFile() {
    std::vector<std::uint8_t> bytes;
    for (std::uint8_t type : {25, 24}) {
        bytes.push_back(type);
        for (int i = 0; i < 128; ++i)
            bytes.push_back(static_cast<std::uint8_t>(i * type));
    }
    return bytes;
}

std::vector<std::uint8_t> RawFile() {
    std::vector<std::uint8_t> bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: {
        MinisignKey key;
        std::string error;
        if (!ParsePublicKey(text, key, error))
            Check(!error.empty(), "a refused key says why");
        break;
    }
    case 1: {
        // A signature is what a package brings; the key it is checked with is a trusted file
        // on this machine, so a sound one is used. Checking must say how it went, never crash.
        std::vector<MinisignKey> keys(1);
        std::string error;
        Check(ParsePublicKey("RWSVs5jz9G3QXuKnsJBf1dBqNQc2gMJKAuTvbMNHLEhtvkCtIj2ywJQT", keys[0],
                             error),
              "a sound key is read");
        MinisignSignature signature;
        if (ParseSignature(text, signature, error)) {
            keys[0].id = signature.keyId;
            const SignatureCheck check = VerifySignature(data, size, signature, keys);
            Check(check.outcome != SignatureOutcome::NoTrustedKey, "a key was given");
        } else {
            Check(!error.empty(), "a refused signature says why");
        }
        break;
    }
    default: {
        static const std::vector<std::uint8_t> records = RecordFile();
        static const std::vector<std::uint8_t> raw = RawFile();
        const std::vector<std::uint8_t> manifest(data + 1, data + size);
        const PackageFiles files = [](const std::string&, const std::string& file, std::uint32_t,
                                      FirmwareSet&,
                                      std::string& error) -> std::optional<ImageView> {
            if (file == "G.bin")
                return ImageView{records.data(), static_cast<std::uint32_t>(records.size())};
            if (file == "R.bin")
                return ImageView{raw.data(), static_cast<std::uint32_t>(raw.size())};
            error = "missing";
            return std::nullopt;
        };
        const PackageResult result = BuildPackageSet(manifest, files, "pkg", "");
        if (!result.firmware) {
            Check(!result.error.empty(), "a refused package says why");
            break;
        }
        const FirmwareSet& set = *result.firmware;
        for (const FirmwareImage& image : set.Images()) {
            Check(IsImageName(image.name), "known image names only");
            Check(image.length > 0 && image.length <= kMaxImageBytes, "image length in bounds");
            Check(image.sha256 == Sha256Hex(image.data, image.length), "hash of the bytes");
            if (IsRecordImageName(image.name))
                Check(CheckRecordLayout(image.data, image.length).empty(), "sound records");
        }
        for (const CatalogueEntry& entry : set.Entries()) {
            Check(entry.IdentifierCount() > 0, "every entry has an identifier");
            for (const std::string& name : FirmwareSet::ImagesOf(entry))
                Check(entry.number <= 26 || set.Image(name) != nullptr,
                      "a package entry names only images the package has");
        }
        break;
    }
    }
    return 0;
}
