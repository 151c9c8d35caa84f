// The firmware images: fourteen embedded images (A to N), each a sequence of 129-byte records
// followed by its length word, and the two raw resource images "PXA271" and "FPGA" of the
// two-stage receiver family.
//
// The images the build's generator makes are placeholders: the real layout, lengths and record
// types, but bytes from a seeded generator. GetEmbeddedImage and OwnResources give those
// (library orvane_placeholder_images); real firmware comes from a firmware package
// (firmware_set.h, package.h). Whoever chooses what to send asks an IImageSource.
//
// Images are constant data: nothing copies, changes or frees them, so they are shared
// between threads without locks.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace orvane::firmware {

constexpr std::uint32_t kRecordSize = 129; // one record type byte, then 128 data bytes
constexpr std::uint32_t kBlockSize = 128;

struct EmbeddedImage {
    char letter = 0;
    const std::uint8_t* data = nullptr;       // first byte of the image
    std::uint32_t length = 0;                 // from the image's length word
    const std::uint8_t* lengthWord = nullptr; // where that word is stored
    std::uint32_t storedLength = 0;           // bytes physically stored before the word
};

// 'A' to 'N'; nullopt for any other letter.
std::optional<EmbeddedImage> GetEmbeddedImage(char letter);

// Bytes of a resource: pointer and size, as the resource lookup returns them.
struct ResourceBytes {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
};

constexpr std::uint16_t kResourcePxa271 = 157;
constexpr std::uint16_t kResourceFpga = 158;
constexpr std::uint16_t kResourceLanguage = 2052;

// A module that holds resources found by type name and id: the updater itself, or a
// language bundle loaded at start-up.
class IResourceModule {
public:
    virtual ~IResourceModule() = default;
    virtual std::optional<ResourceBytes> FindResource(std::uint16_t id,
                                                      std::u16string_view type) const = 0;
};

// The updater's own module: the compiled-in (placeholder) resources.
const IResourceModule& OwnResources();

// The catalogue's names of images: "A" to "N" for the embedded images, "PXA271" and "FPGA" for
// the two resources.
inline constexpr std::string_view kImageNames[] = {"A", "B", "C", "D", "E", "F", "G",      "H",
                                                   "I", "J", "K", "L", "M", "N", "PXA271", "FPGA"};
inline constexpr std::string_view kPxa271Name = "PXA271";
inline constexpr std::string_view kFpgaName = "FPGA";
bool IsImageName(std::string_view name);
// True for the names of images made of 129-byte records (A to N).
bool IsRecordImageName(std::string_view name);

struct ImageView {
    const std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
};

// Where the images of an update come from: by catalogue name, or none when absent.
class IImageSource {
public:
    virtual ~IImageSource() = default;
    virtual std::optional<ImageView> FindImageBytes(std::string_view name) const = 0;
};

// The placeholder images, with the resources looked up in `resources` (the language bundle
// first, then our own, in the desktop updater).
class PlaceholderImages final : public IImageSource {
public:
    explicit PlaceholderImages(const IResourceModule& resources = OwnResources())
        : m_resources(resources) {}
    std::optional<ImageView> FindImageBytes(std::string_view name) const override;

private:
    const IResourceModule& m_resources;
};

} // namespace orvane::firmware
