#include "firmware/catalogue.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>

namespace orvane::firmware {

namespace {

using B = BaudRule;
using M = ImageMode;

const std::array<CatalogueEntry, 26> kCatalogue = {{
    {1, {u"ZT4H"}, u"K37", 'A', B::Unchanged, M::Single},
    {2, {u"K37E"}, u"K37", 'B', B::Unchanged, M::Single},
    {3, {u"K37H", u"1636"}, u"K37", 'C', B::Unchanged, M::Single},
    {4, {u"K37J", u"7630", u"7636"}, u"K37", 'D', B::Unchanged, M::Single},
    {5, {u"K58E", u"1738"}, u"K37", 'E', B::Unchanged, M::Single},
    {6, {u"D37E"}, u"K37", 'F', B::Unchanged, M::Single},
    {7, {u"K37U", u"1634"}, u"K37", 'E', B::Unchanged, M::Single},
    {8, {u"K64E"}, u"K64", 'G', B::Unchanged, M::Single},
    {9, {u"K64H"}, u"K64", 'H', B::Unchanged, M::Single},
    {10, {u"Q46P"}, u"Q46", 'I', B::Unchanged, M::Single},
    {11, {u"Q46"}, u"Q46", 'H', B::Unchanged, M::Single},
    {12, {u"K64J", u"1130"}, u"K64", 'H', B::Unchanged, M::Single},
    {13, {u"K65"}, u"K65", 'H', B::Unchanged, M::Single},
    {14, {u"K64Y", u"1137"}, u"K64", 'H', B::Unchanged, M::Single},
    {15, {u"K64P", u"1139", u"1109", u"1135"}, u"K64", 'I', B::Unchanged, M::Single},
    {16, {u"K65G", u"1182"}, u"K65/K67/W29", 'J', B::Unchanged, M::Single},
    {17, {u"K65P", u"1189", u"1185"}, u"K65/K67/W29", 'I', B::Unchanged, M::Single},
    {18, {u"1422", u"1425"}, u"u58", 'J', B::SForm115200, M::Single},
    {19, {u"1522", u"1525"}, u"K65W/K640W/L8W/V300Lw", 'J', B::SForm115200, M::Single},
    {20, {u"1122", u"1125"}, u"K65q/K64q/K640q", 'J', B::SForm115200, M::Single},
    {21, {u"1129"}, u"K64Pq", 'K', B::SForm115200, M::Single},
    {22, {u"76S0"}, u"K37Jq", 'L', B::Always115200, M::Single},
    {23, {u"Brisk"}, u"Brisk", 'M', B::Unchanged, M::Single},
    {24, {u"K64G", u"1132"}, u"K64", 'J', B::Unchanged, M::Single},
    {25, {u"ZT"}, u"", 'N', B::Unchanged, M::Single},
    {26, {u"K64U", u"1134", u"1088"}, u"K64U", 0, B::Always115200, M::TwoStage},
}};

char16_t FoldLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

} // namespace

bool IdentifiersEqual(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldLetter(a[i]) != FoldLetter(b[i]))
            return false;
    }
    return true;
}

bool IsImageName(std::string_view name) {
    return std::find(std::begin(kImageNames), std::end(kImageNames), name) != std::end(kImageNames);
}

bool IsRecordImageName(std::string_view name) {
    return name.size() == 1 && name[0] >= 'A' && name[0] <= 'N';
}

std::size_t CatalogueEntry::IdentifierCount() const {
    return static_cast<std::size_t>(
        std::count_if(identifiers.begin(), identifiers.end(), [](auto s) { return !s.empty(); }));
}

const std::array<CatalogueEntry, 26>& Catalogue() {
    return kCatalogue;
}

const CatalogueEntry* FindImage(std::u16string_view identifier) {
    for (const CatalogueEntry& entry : kCatalogue) {
        for (std::size_t i = 0; i < entry.IdentifierCount(); ++i) {
            if (IdentifiersEqual(identifier, entry.identifiers[i]))
                return &entry;
        }
    }
    return nullptr;
}

ApplyResult ApplyEntry(const CatalogueEntry& entry, bool sForm, CImageSelection& sel,
                       IBaudSwitch& link, const IImageSource& images, std::u16string* missing) {
    const auto fail = [&](std::string_view name) {
        if (missing)
            *missing = FromAnsi(name);
        return ApplyResult::ResourceMissing;
    };
    if (entry.mode == ImageMode::TwoStage) {
        // Both images are checked before anything changes, so a missing one leaves the
        // link's speed and the previous selection exactly as they were.
        const auto fpga = images.FindImageBytes(kFpgaName);
        const auto pxa = images.FindImageBytes(kPxa271Name);
        if (!pxa)
            return fail(kPxa271Name);
        if (!fpga)
            return fail(kFpgaName);
        link.SwitchBaud(kFastBaud);
        sel.m_bSendSecond = true;
        sel.m_pSecondImage = fpga->data;
        sel.m_nTotalLen = fpga->length;
        sel.m_pImage = pxa->data;
        sel.m_nImageLen = pxa->length;
        sel.m_nTotalLen += pxa->length;
        sel.m_bTwoStage = true;
        sel.m_bSecondStage = false;
        sel.m_nBytesRead = 0;
        sel.m_strDisplayName = entry.displayName;
        sel.m_bSelected = true;
        return ApplyResult::Applied;
    }

    const char name[2] = {entry.image, 0};
    const auto image = images.FindImageBytes(name);
    if (!image)
        return fail(name);
    if (entry.baud == BaudRule::Always115200 || (entry.baud == BaudRule::SForm115200 && sForm))
        link.SwitchBaud(kFastBaud);
    sel.m_bTwoStage = false;
    sel.m_pImage = image->data;
    sel.m_nImageLen = image->length;
    sel.m_strDisplayName = entry.HasDisplayName() ? entry.displayName : entry.identifiers[0];
    sel.m_bSelected = true;
    return ApplyResult::Applied;
}

std::uint32_t CImageSelection::ReadChunk(std::uint8_t (&dest)[kBlockSize],
                                         std::uint8_t& frameType) {
    if (!m_bTwoStage) {
        if (m_nReadPos >= m_nImageLen)
            return 0;
        const std::uint8_t recordType = m_pImage[m_nReadPos++];
        if (recordType != m_nLastRecordType) {
            frameType = recordType;
            m_nLastRecordType = recordType;
            m_nAddress = 0;
        }
        const std::uint32_t count = std::min(kBlockSize, m_nImageLen - m_nReadPos);
        if (count > 0)
            std::memcpy(dest, m_pImage + m_nReadPos, count);
        m_nReadPos += count;
        return count;
    }

    // The frame type now describes a resource image, not a record type: forget the last
    // record type, so the next embedded image sets the frame type from its first record
    // instead of sending its records under the resource image's type.
    m_nLastRecordType = 0;
    if (!m_bSecondStage) {
        if (m_nReadPos < m_nImageLen) {
            frameType = 21;
        } else {
            if (!m_bSendSecond)
                return 0;
            frameType = 20;
            m_bSecondStage = true;
            m_pImage = m_pSecondImage;
            m_nImageLen = m_nTotalLen - m_nImageLen;
            m_nReadPos = 0;
            m_nAddress = 0;
        }
    }
    if (m_nReadPos >= m_nImageLen)
        return 0;
    // Every block of a resource image is a full block; past the image's end the block is
    // completed with the filler instead of bytes that do not belong to the image.
    const std::uint32_t available = std::min(kBlockSize, m_nImageLen - m_nReadPos);
    std::memcpy(dest, m_pImage + m_nReadPos, available);
    std::memset(dest + available, kFiller, kBlockSize - available);
    m_nReadPos += kBlockSize;
    m_nBytesRead += kBlockSize;
    return kBlockSize;
}

} // namespace orvane::firmware
