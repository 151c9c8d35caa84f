// The fixed catalogue that maps a receiver's identifier to the firmware it receives, and
// the selection state that an applied entry leaves for the chunk reader.
//
// Thread contract: everything here runs on the user-interface thread; the catalogue and the
// images are immutable.
#pragma once

#include "firmware/images.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace orvane::firmware {

enum class BaudRule : std::uint8_t {
    Unchanged,    // leave the link's rate as it is
    Always115200, // switch to 115200 before the first block
    SForm115200,  // switch to 115200 only when identification normalised an S form
};

enum class ImageMode : std::uint8_t { Single, TwoStage };

struct CatalogueEntry {
    int number; // 1 to 26, the order of testing
    std::array<std::u16string_view, 4> identifiers;
    std::u16string_view displayName; // empty for the one entry without a name
    char image;                      // 'A' to 'N'; 0 for the two-stage entry
    BaudRule baud;
    ImageMode mode;

    std::size_t IdentifierCount() const;
    bool HasDisplayName() const { return !displayName.empty(); }
};

const std::array<CatalogueEntry, 26>& Catalogue();

// The entry of the built-in catalogue whose identifier equals `identifier` (whole string; only
// the letters A to Z compare without regard to case), or nullptr. No side effects.
const CatalogueEntry* FindImage(std::u16string_view identifier);

// The comparison FindImage uses.
bool IdentifiersEqual(std::u16string_view a, std::u16string_view b);

constexpr std::uint32_t kFastBaud = 115200;
constexpr std::uint32_t kSlowBaud = 9600;

// The link's speed switch, which applying an entry may call.
class IBaudSwitch {
public:
    virtual ~IBaudSwitch() = default;
    virtual void SwitchBaud(std::uint32_t baud) = 0;
};

// The fields an applied entry writes and the chunk reader consumes. The update view holds
// them; their names are the view's.
struct CImageSelection {
    const std::uint8_t* m_pImage = nullptr;
    std::uint32_t m_nImageLen = 0;
    const std::uint8_t* m_pSecondImage = nullptr;
    std::uint32_t m_nTotalLen = 0;
    bool m_bTwoStage = false;
    bool m_bSecondStage = false;
    bool m_bSendSecond = false;
    std::uint32_t m_nBytesRead = 0;
    std::u16string m_strDisplayName;
    std::uint32_t m_nAddress = 0;
    std::uint8_t m_nLastRecordType = 0;
    std::uint32_t m_nReadPos = 0;

    // Fills `dest` with up to 128 data bytes and returns their count; 0 when the image is
    // exhausted. May restart the block address, change `frameType` and, for the two-stage
    // entry, move on to the second image. Never reads past the end of an image: the last
    // block of a resource image is completed with kFiller.
    std::uint32_t ReadChunk(std::uint8_t (&dest)[kBlockSize], std::uint8_t& frameType);

    // Set once an entry has been applied: before that the image fields hold no image, and a
    // block acknowledgement must not make anybody read one.
    bool m_bSelected = false;
};

// Erased flash reads as 0xFF, so padding the last resource block with it writes nothing
// the receiver would not hold anyway.
constexpr std::uint8_t kFiller = 0xFF;

enum class ApplyResult : std::uint8_t {
    Applied,
    ResourceMissing, // an image the entry needs is absent: nothing was changed
};

// Applies a found entry: checks that every image it needs exists in `images`, performs the
// baud rule, then fills the selection. `sForm` is the identification's S-form flag. The entry
// without a display name shows its identifier instead, so the log never names another
// receiver. `missing` receives the name of a missing image ("PXA271", "G").
ApplyResult ApplyEntry(const CatalogueEntry& entry, bool sForm, CImageSelection& selection,
                       IBaudSwitch& link, const IImageSource& images,
                       std::u16string* missing = nullptr);

// The same with the placeholder images and the resources of `resources`.
ApplyResult ApplyEntry(const CatalogueEntry& entry, bool sForm, CImageSelection& selection,
                       IBaudSwitch& link, const IResourceModule& resources,
                       std::u16string* missing = nullptr);

} // namespace orvane::firmware
