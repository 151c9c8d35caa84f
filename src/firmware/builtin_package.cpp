// A build made with -DORVANE_FIRMWARE carries that firmware package instead of the
// placeholder images. The build verified it (signature, lengths, SHA-256, layout, entries)
// with the same code before embedding it; at start the set is built from the embedded
// manifest and images by that code again, so what runs is exactly what was checked.
#include "firmware/package.h"

#include <cstdio>

// Symbols placed by the generated assembly file (firmware_package.S).
extern "C" const std::uint8_t orvane_package_manifest[];
extern "C" const std::uint8_t orvane_package_manifest_end[];
extern "C" const char orvane_package_source[];
extern "C" const char orvane_package_signed_by[];
#define ORVANE_DECLARE_IMAGE(N)                                                                    \
    extern "C" const std::uint8_t orvane_package_image_##N[];                                      \
    extern "C" const std::uint8_t orvane_package_image_##N##_end[];
ORVANE_DECLARE_IMAGE(A)
ORVANE_DECLARE_IMAGE(B)
ORVANE_DECLARE_IMAGE(C)
ORVANE_DECLARE_IMAGE(D)
ORVANE_DECLARE_IMAGE(E)
ORVANE_DECLARE_IMAGE(F)
ORVANE_DECLARE_IMAGE(G)
ORVANE_DECLARE_IMAGE(H)
ORVANE_DECLARE_IMAGE(I)
ORVANE_DECLARE_IMAGE(J)
ORVANE_DECLARE_IMAGE(K)
ORVANE_DECLARE_IMAGE(L)
ORVANE_DECLARE_IMAGE(M)
ORVANE_DECLARE_IMAGE(N)
ORVANE_DECLARE_IMAGE(PXA271)
ORVANE_DECLARE_IMAGE(FPGA)
#undef ORVANE_DECLARE_IMAGE

namespace orvane::firmware {

namespace {

struct EmbeddedFile {
    const char* name;
    const std::uint8_t* begin;
    const std::uint8_t* end;
};

#define ORVANE_IMAGE(N)                                                                            \
    EmbeddedFile {                                                                                 \
#N, orvane_package_image_##N, orvane_package_image_##N##_end                               \
    }
const EmbeddedFile kEmbedded[] = {
    ORVANE_IMAGE(A), ORVANE_IMAGE(B), ORVANE_IMAGE(C),      ORVANE_IMAGE(D),
    ORVANE_IMAGE(E), ORVANE_IMAGE(F), ORVANE_IMAGE(G),      ORVANE_IMAGE(H),
    ORVANE_IMAGE(I), ORVANE_IMAGE(J), ORVANE_IMAGE(K),      ORVANE_IMAGE(L),
    ORVANE_IMAGE(M), ORVANE_IMAGE(N), ORVANE_IMAGE(PXA271), ORVANE_IMAGE(FPGA),
};
#undef ORVANE_IMAGE

} // namespace

std::shared_ptr<const FirmwareSet> BuiltInFirmware() {
    static const std::shared_ptr<const FirmwareSet> set = [] {
        const std::vector<std::uint8_t> manifest(orvane_package_manifest,
                                                 orvane_package_manifest_end);
        const PackageFiles files = [](const std::string& image, const std::string&, std::uint32_t,
                                      FirmwareSet&,
                                      std::string& error) -> std::optional<ImageView> {
            for (const EmbeddedFile& f : kEmbedded) {
                if (image == f.name && f.end > f.begin)
                    return ImageView{f.begin, static_cast<std::uint32_t>(f.end - f.begin)};
            }
            error = "not embedded in this build";
            return std::nullopt;
        };
        PackageResult result =
            BuildPackageSet(manifest, files, std::string("built in from ") + orvane_package_source,
                            orvane_package_signed_by);
        if (result.firmware)
            return result.firmware;
        // Cannot happen with what the build checked; if it does, nothing is sent at all.
        std::fprintf(stderr, "the built-in firmware package is damaged: %s\n",
                     result.error.c_str());
        auto empty = std::make_shared<FirmwareSet>(FirmwareSet::Kind::Package);
        empty->SetOrigin("damaged built-in package", {}, orvane_package_source, {});
        return std::shared_ptr<const FirmwareSet>(std::move(empty));
    }();
    return set;
}

} // namespace orvane::firmware
