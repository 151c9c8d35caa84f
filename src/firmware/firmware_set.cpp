#include "firmware/firmware_set.h"

namespace orvane::firmware {

std::string FirmwareSet::Origin() const {
    return IsPlaceholder() ? std::string("placeholder images") : m_release;
}

std::string FirmwareSet::Description() const {
    if (IsPlaceholder())
        return "placeholder images (test data made by the build; sent only to the simulated "
               "receiver)";
    std::string text = "firmware package \"" + m_release + "\"";
    if (!m_date.empty())
        text += " of " + m_date;
    if (!m_source.empty())
        text += ", " + m_source;
    if (!m_signedBy.empty())
        text += ", signed with key " + m_signedBy;
    return text;
}

const CatalogueEntry* FirmwareSet::Find(std::u16string_view identifier) const {
    for (const CatalogueEntry& entry : m_entries) {
        for (std::size_t i = 0; i < entry.IdentifierCount(); ++i) {
            if (IdentifiersEqual(identifier, entry.identifiers[i]))
                return &entry;
        }
    }
    return nullptr;
}

const FirmwareImage* FirmwareSet::Image(std::string_view name) const {
    for (const FirmwareImage& image : m_images) {
        if (image.name == name)
            return &image;
    }
    return nullptr;
}

std::optional<ImageView> FirmwareSet::FindImageBytes(std::string_view name) const {
    if (const FirmwareImage* image = Image(name))
        return ImageView{image->data, image->length};
    return std::nullopt;
}

std::vector<std::string> FirmwareSet::ImagesOf(const CatalogueEntry& entry) {
    if (entry.mode == ImageMode::TwoStage)
        return {std::string(kPxa271Name), std::string(kFpgaName)};
    return {std::string(1, entry.image)};
}

void FirmwareSet::SetOrigin(std::string release, std::string date, std::string source,
                            std::string signedBy) {
    m_release = std::move(release);
    m_date = std::move(date);
    m_source = std::move(source);
    m_signedBy = std::move(signedBy);
}

void FirmwareSet::AddImage(FirmwareImage image) {
    m_images.push_back(std::move(image));
}

const std::uint8_t* FirmwareSet::Keep(std::vector<std::uint8_t> bytes) {
    m_bytes.push_back(std::move(bytes));
    return m_bytes.back().data();
}

std::u16string_view FirmwareSet::Keep(std::u16string text) {
    m_texts.push_back(std::move(text));
    return m_texts.back();
}

} // namespace orvane::firmware
