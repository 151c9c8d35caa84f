// A firmware set: the images an update may send, the catalogue that chooses among them, and
// where they came from.
//
// Two kinds exist. The placeholder set is the build's generated test images with the fixed
// catalogue; it may only go to the simulated receiver. A package set comes from a verified
// firmware package (package.h), loaded at run time or embedded at build time: its images, and
// the fixed catalogue with the package's own entries added or put in place of built-in ones.
// A package never falls back on a placeholder: an entry whose image the package lacks is
// simply unavailable.
//
// Thread contract: built on one thread, then shared read-only (std::shared_ptr<const ...>)
// between the updater and an in-process simulated receiver.
#pragma once

#include "firmware/catalogue.h"
#include "firmware/images.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::firmware {

struct FirmwareImage {
    std::string name; // "A" to "N", "PXA271", "FPGA"
    std::string file; // its file in the package; empty for a built-in placeholder
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    std::string sha256; // lower-case hexadecimal of the bytes that are sent
};

class FirmwareSet final : public IImageSource {
public:
    enum class Kind { Placeholder, Package };

    explicit FirmwareSet(Kind kind) : m_kind(kind) {}
    FirmwareSet(const FirmwareSet&) = delete;
    FirmwareSet& operator=(const FirmwareSet&) = delete;

    bool IsPlaceholder() const { return m_kind == Kind::Placeholder; }
    // "placeholder images", or the package's release name.
    std::string Origin() const;
    // One line for people: origin, date, where it was read from and the key that signed it.
    std::string Description() const;

    const std::string& Release() const { return m_release; }
    const std::string& Date() const { return m_date; }
    const std::string& Source() const { return m_source; }
    const std::string& SignedBy() const { return m_signedBy; }

    const std::vector<CatalogueEntry>& Entries() const { return m_entries; }
    // The entry for an identifier, compared as FindImage compares; nullptr when none.
    const CatalogueEntry* Find(std::u16string_view identifier) const;

    const std::vector<FirmwareImage>& Images() const { return m_images; }
    const FirmwareImage* Image(std::string_view name) const;
    std::optional<ImageView> FindImageBytes(std::string_view name) const override;

    // The names of the images an entry sends, in the order they are sent.
    static std::vector<std::string> ImagesOf(const CatalogueEntry& entry);

    // Building (before the set is shared).
    void SetOrigin(std::string release, std::string date, std::string source, std::string signedBy);
    void AddImage(FirmwareImage image);
    // Keeps bytes for the rest of the set's life and returns where they are.
    const std::uint8_t* Keep(std::vector<std::uint8_t> bytes);
    // Keeps a text for the entries' views.
    std::u16string_view Keep(std::u16string text);
    void SetEntries(std::vector<CatalogueEntry> entries) { m_entries = std::move(entries); }

private:
    Kind m_kind;
    std::string m_release;
    std::string m_date;
    std::string m_source;
    std::string m_signedBy;
    std::vector<FirmwareImage> m_images;
    std::vector<CatalogueEntry> m_entries;
    // Deques: what they hold never moves when more is added.
    std::deque<std::vector<std::uint8_t>> m_bytes;
    std::deque<std::u16string> m_texts;
};

// The placeholder set: the generated images with the fixed catalogue (orvane_placeholder_images).
std::shared_ptr<const FirmwareSet> PlaceholderFirmware();

// What this build carries: the placeholder set, or the package embedded with
// -DORVANE_FIRMWARE (orvane_firmware).
std::shared_ptr<const FirmwareSet> BuiltInFirmware();

} // namespace orvane::firmware
