#include "firmware/images.h"

#include "firmware/catalogue.h"
#include "firmware/crypto.h"
#include "firmware/firmware_set.h"

#include <array>

// Symbols placed by the generated assembly file (images.S).
#define ORVANE_DECLARE_IMAGE(L)                                                                    \
    extern "C" const std::uint8_t orvane_image_##L[];                                              \
    extern "C" const std::uint8_t orvane_image_##L##_end[];                                        \
    extern "C" const std::uint8_t orvane_image_##L##_len[];
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
#undef ORVANE_DECLARE_IMAGE
extern "C" const std::uint8_t orvane_resource_PXA271[];
extern "C" const std::uint8_t orvane_resource_PXA271_end[];
extern "C" const std::uint8_t orvane_resource_FPGA[];
extern "C" const std::uint8_t orvane_resource_FPGA_end[];

namespace orvane::firmware {

namespace {

struct StoredImage {
    char letter;
    const std::uint8_t* begin;
    const std::uint8_t* end;
    const std::uint8_t* lengthWord;
};

#define ORVANE_IMAGE(L)                                                                            \
    StoredImage {                                                                                  \
#L[0], orvane_image_##L, orvane_image_##L##_end, orvane_image_##L##_len                    \
    }
const std::array<StoredImage, 14> kStored = {
    ORVANE_IMAGE(A), ORVANE_IMAGE(B), ORVANE_IMAGE(C), ORVANE_IMAGE(D), ORVANE_IMAGE(E),
    ORVANE_IMAGE(F), ORVANE_IMAGE(G), ORVANE_IMAGE(H), ORVANE_IMAGE(I), ORVANE_IMAGE(J),
    ORVANE_IMAGE(K), ORVANE_IMAGE(L), ORVANE_IMAGE(M), ORVANE_IMAGE(N),
};
#undef ORVANE_IMAGE

// The length word is little-endian whatever the host's byte order.
std::uint32_t ReadLengthWord(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct CompiledResource {
    std::u16string_view type;
    std::uint16_t id;
    std::uint16_t language;
    const std::uint8_t* begin;
    const std::uint8_t* end;
};

class CompiledResources final : public IResourceModule {
public:
    std::optional<ResourceBytes> FindResource(std::uint16_t id,
                                              std::u16string_view type) const override {
        for (const CompiledResource& r : m_table) {
            if (r.id == id && r.type == type)
                return ResourceBytes{r.begin, static_cast<std::uint32_t>(r.end - r.begin)};
        }
        return std::nullopt;
    }

private:
    std::array<CompiledResource, 2> m_table{{
        {u"PXA271", kResourcePxa271, kResourceLanguage, orvane_resource_PXA271,
         orvane_resource_PXA271_end},
        {u"FPGA", kResourceFpga, kResourceLanguage, orvane_resource_FPGA, orvane_resource_FPGA_end},
    }};
};

} // namespace

std::optional<EmbeddedImage> GetEmbeddedImage(char letter) {
    for (const StoredImage& s : kStored) {
        if (s.letter == letter) {
            return EmbeddedImage{s.letter, s.begin, ReadLengthWord(s.lengthWord), s.lengthWord,
                                 static_cast<std::uint32_t>(s.end - s.begin)};
        }
    }
    return std::nullopt;
}

const IResourceModule& OwnResources() {
    static const CompiledResources module;
    return module;
}

std::optional<ImageView> PlaceholderImages::FindImageBytes(std::string_view name) const {
    if (name == kPxa271Name || name == kFpgaName) {
        const auto found = name == kPxa271Name
                               ? m_resources.FindResource(kResourcePxa271, u"PXA271")
                               : m_resources.FindResource(kResourceFpga, u"FPGA");
        if (!found)
            return std::nullopt;
        return ImageView{found->data, found->size};
    }
    if (name.size() != 1)
        return std::nullopt;
    const auto image = GetEmbeddedImage(name[0]);
    if (!image)
        return std::nullopt;
    return ImageView{image->data, image->length};
}

ApplyResult ApplyEntry(const CatalogueEntry& entry, bool sForm, CImageSelection& selection,
                       IBaudSwitch& link, const IResourceModule& resources,
                       std::u16string* missing) {
    return ApplyEntry(entry, sForm, selection, link, PlaceholderImages(resources), missing);
}

std::shared_ptr<const FirmwareSet> PlaceholderFirmware() {
    static const std::shared_ptr<const FirmwareSet> set = [] {
        auto placeholder = std::make_shared<FirmwareSet>(FirmwareSet::Kind::Placeholder);
        const PlaceholderImages images;
        for (const std::string_view name : kImageNames) {
            if (const auto view = images.FindImageBytes(name))
                placeholder->AddImage({std::string(name),
                                       {},
                                       view->data,
                                       view->length,
                                       Sha256Hex(view->data, view->length)});
        }
        placeholder->SetEntries({Catalogue().begin(), Catalogue().end()});
        return placeholder;
    }();
    return set;
}

} // namespace orvane::firmware
