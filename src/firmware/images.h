// The firmware images carried by the updater: fourteen embedded images (A to N), each a
// sequence of 129-byte records followed by its length word, and the two raw resource
// images "PXA271" and "FPGA" of the two-stage receiver family.
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

// The updater's own module: the compiled-in resources.
const IResourceModule& OwnResources();

} // namespace orvane::firmware
