#include "firmware/catalogue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace orvane::firmware {
namespace {

struct ImageRow {
    char letter;
    std::uint32_t length, type25, type24, stored;
};
const ImageRow kImageTable[] = {
    {'A', 73788, 155, 417, 572},  {'B', 57792, 115, 333, 448},  {'C', 73272, 119, 449, 568},
    {'D', 78045, 0, 605, 611},    {'E', 74562, 119, 459, 578},  {'F', 72885, 166, 399, 565},
    {'G', 74304, 113, 463, 576},  {'H', 79335, 170, 445, 615},  {'I', 274770, 0, 2130, 2130},
    {'J', 324306, 0, 2514, 2514}, {'K', 180600, 0, 1400, 1400}, {'L', 89526, 0, 694, 694},
    {'M', 83979, 172, 479, 651},  {'N', 55986, 105, 329, 434},
};

TEST(EmbeddedImages, LayoutMatchesTheImageTable) {
    std::uint64_t total = 0;
    for (const ImageRow& row : kImageTable) {
        const auto img = GetEmbeddedImage(row.letter);
        ASSERT_TRUE(img) << row.letter;
        EXPECT_EQ(img->length, row.length) << row.letter;
        EXPECT_EQ(img->storedLength, row.stored * kRecordSize) << row.letter;
        // The length word sits at the next 4-byte boundary after the stored bytes.
        const auto end = reinterpret_cast<std::uintptr_t>(img->data + img->storedLength);
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(img->lengthWord), (end + 3) & ~std::uintptr_t{3})
            << row.letter;
        // One run of type-25 records, then one run of type-24 records.
        for (std::uint32_t r = 0; r < row.stored; ++r) {
            const std::uint8_t expected = r < row.type25 ? 25 : 24;
            ASSERT_EQ(img->data[r * kRecordSize], expected) << row.letter << " record " << r;
        }
        total += img->length;
    }
    EXPECT_EQ(total, 1593150u);
    EXPECT_FALSE(GetEmbeddedImage('O'));
}

TEST(EmbeddedImages, ImageDSendsOnly605Records) {
    const auto img = GetEmbeddedImage('D');
    CImageSelection sel;
    sel.m_pImage = img->data;
    sel.m_nImageLen = img->length;
    std::uint8_t frameType = 24, dest[128];
    std::uint64_t bytes = 0;
    int blocks = 0;
    while (const auto n = sel.ReadChunk(dest, frameType)) {
        bytes += n;
        ++blocks;
    }
    EXPECT_EQ(blocks, 605);
    EXPECT_EQ(bytes, 605u * 128);
    EXPECT_EQ(sel.m_nReadPos, 78045u);
}

TEST(ResourceImages, FoundByTypeNameAndId) {
    const auto& own = OwnResources();
    const auto pxa = own.FindResource(157, u"PXA271");
    const auto fpga = own.FindResource(158, u"FPGA");
    ASSERT_TRUE(pxa && fpga);
    EXPECT_EQ(pxa->size, 433648u);
    EXPECT_EQ(fpga->size, 1024660u);
    EXPECT_FALSE(own.FindResource(158, u"PXA271"));
    EXPECT_FALSE(own.FindResource(157, u"pxa271"));
}

TEST(Catalogue, HoldsTwentySixEntriesAndFortyFiveDistinctIdentifiers) {
    std::set<std::u16string> folded;
    std::size_t count = 0;
    for (const auto& e : Catalogue()) {
        for (std::size_t i = 0; i < e.IdentifierCount(); ++i) {
            std::u16string s(e.identifiers[i]);
            for (auto& c : s)
                c = (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
            folded.insert(s);
            ++count;
        }
    }
    EXPECT_EQ(Catalogue().size(), 26u);
    EXPECT_EQ(count, 45u);
    EXPECT_EQ(folded.size(), 45u);
}

TEST(Catalogue, EveryIdentifierSelectsItsEntry) {
    struct Row {
        int entry;
        std::vector<std::u16string> ids;
        const char16_t* name;
        char image;
        BaudRule baud;
    };
    using B = BaudRule;
    const Row rows[] = {
        {1, {u"ZT4H"}, u"K37", 'A', B::Unchanged},
        {2, {u"K37E"}, u"K37", 'B', B::Unchanged},
        {3, {u"K37H", u"1636"}, u"K37", 'C', B::Unchanged},
        {4, {u"K37J", u"7630", u"7636"}, u"K37", 'D', B::Unchanged},
        {5, {u"K58E", u"1738"}, u"K37", 'E', B::Unchanged},
        {6, {u"D37E"}, u"K37", 'F', B::Unchanged},
        {7, {u"K37U", u"1634"}, u"K37", 'E', B::Unchanged},
        {8, {u"K64E"}, u"K64", 'G', B::Unchanged},
        {9, {u"K64H"}, u"K64", 'H', B::Unchanged},
        {10, {u"Q46P"}, u"Q46", 'I', B::Unchanged},
        {11, {u"Q46"}, u"Q46", 'H', B::Unchanged},
        {12, {u"K64J", u"1130"}, u"K64", 'H', B::Unchanged},
        {13, {u"K65"}, u"K65", 'H', B::Unchanged},
        {14, {u"K64Y", u"1137"}, u"K64", 'H', B::Unchanged},
        {15, {u"K64P", u"1139", u"1109", u"1135"}, u"K64", 'I', B::Unchanged},
        {16, {u"K65G", u"1182"}, u"K65/K67/W29", 'J', B::Unchanged},
        {17, {u"K65P", u"1189", u"1185"}, u"K65/K67/W29", 'I', B::Unchanged},
        {18, {u"1422", u"1425"}, u"u58", 'J', B::SForm115200},
        {19, {u"1522", u"1525"}, u"K65W/K640W/L8W/V300Lw", 'J', B::SForm115200},
        {20, {u"1122", u"1125"}, u"K65q/K64q/K640q", 'J', B::SForm115200},
        {21, {u"1129"}, u"K64Pq", 'K', B::SForm115200},
        {22, {u"76S0"}, u"K37Jq", 'L', B::Always115200},
        {23, {u"Brisk"}, u"Brisk", 'M', B::Unchanged},
        {24, {u"K64G", u"1132"}, u"K64", 'J', B::Unchanged},
        {25, {u"ZT"}, u"", 'N', B::Unchanged},
        {26, {u"K64U", u"1134", u"1088"}, u"K64U", 0, B::Always115200},
    };
    for (const Row& row : rows) {
        for (const auto& id : row.ids) {
            const auto* e = FindImage(id);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->number, row.entry);
            EXPECT_EQ(e->displayName, row.name);
            EXPECT_EQ(e->image, row.image);
            EXPECT_EQ(e->baud, row.baud);
            EXPECT_EQ(e->mode, row.entry == 26 ? ImageMode::TwoStage : ImageMode::Single);
        }
    }
}

TEST(Catalogue, ComparisonRule) {
    struct Case {
        const char16_t* id;
        int entry; // 0: none
    };
    const Case cases[] =
        {
            {u"k37e", 2},     {u"bRISK", 23}, {u"Q46", 11},  {u"Q46P", 10}, {u"q46p", 10},
            {u"K37", 0},      {u"", 0},       {u"K37E ", 0}, {u" K37E", 0}, {u"K37EX", 0},
            {u"Z", 0},        {u"zt", 25},    {u"76s0", 22}, {u"11S2", 0},  {u"K6", 0},
            {u"K\u0137E", 0}, // a non-ASCII letter never folds onto an ASCII one
        };
    for (const Case& c : cases) {
        const auto* e = FindImage(c.id);
        EXPECT_EQ(e ? e->number : 0, c.entry)
            << std::string(c.id, c.id + std::u16string(c.id).size());
    }
}

struct RecordingLink : IBaudSwitch {
    std::vector<std::uint32_t> switches;
    void SwitchBaud(std::uint32_t baud) override { switches.push_back(baud); }
};

TEST(ApplyEntry, BaudRulesAndSelection) {
    struct Case {
        const char16_t* id;
        bool sForm;
        bool switches;
    };
    const Case cases[] = {
        {u"1122", false, false}, {u"1122", true, true}, {u"76S0", false, true},
        {u"K64E", true, false},  {u"1129", true, true}, {u"K64U", false, true},
    };
    for (const Case& c : cases) {
        RecordingLink link;
        CImageSelection sel;
        const auto* e = FindImage(c.id);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(ApplyEntry(*e, c.sForm, sel, link, OwnResources()), ApplyResult::Applied);
        EXPECT_EQ(link.switches,
                  c.switches ? std::vector<std::uint32_t>{115200} : std::vector<std::uint32_t>{});
        EXPECT_TRUE(sel.m_bSelected);
        EXPECT_EQ(sel.m_bTwoStage, e->mode == ImageMode::TwoStage);
    }
}

TEST(ApplyEntry, TwoStageFillsBothImages) {
    RecordingLink link;
    CImageSelection sel;
    ASSERT_EQ(ApplyEntry(*FindImage(u"1088"), false, sel, link, OwnResources()),
              ApplyResult::Applied);
    EXPECT_EQ(sel.m_nImageLen, 433648u);
    EXPECT_EQ(sel.m_nTotalLen, 1458308u);
    EXPECT_EQ(sel.m_pImage, OwnResources().FindResource(157, u"PXA271")->data);
    EXPECT_EQ(sel.m_pSecondImage, OwnResources().FindResource(158, u"FPGA")->data);
    EXPECT_TRUE(sel.m_bSendSecond);
    EXPECT_FALSE(sel.m_bSecondStage);
    EXPECT_EQ(sel.m_strDisplayName, u"K64U");
}

TEST(ApplyEntry, EntryWithoutDisplayNameShowsItsIdentifier) {
    RecordingLink link;
    CImageSelection sel;
    sel.m_strDisplayName = u"K64";
    ApplyEntry(*FindImage(u"zt"), false, sel, link, OwnResources());
    EXPECT_EQ(sel.m_strDisplayName, u"ZT");
    EXPECT_EQ(sel.m_nImageLen, 55986u);
}

struct PartialModule : IResourceModule {
    bool hasPxa, hasFpga;
    std::optional<ResourceBytes> FindResource(std::uint16_t id,
                                              std::u16string_view type) const override {
        if ((id == 157 && hasPxa) || (id == 158 && hasFpga))
            return OwnResources().FindResource(id, type);
        return std::nullopt;
    }
};

TEST(ApplyEntry, MissingResourceChangesNothing) {
    for (const auto& [pxa, fpga, name] :
         {std::tuple{false, true, u"PXA271"}, std::tuple{true, false, u"FPGA"},
          std::tuple{false, false, u"PXA271"}}) {
        PartialModule module;
        module.hasPxa = pxa;
        module.hasFpga = fpga;
        RecordingLink link;
        CImageSelection sel;
        std::u16string missing;
        EXPECT_EQ(ApplyEntry(*FindImage(u"K64U"), false, sel, link, module, &missing),
                  ApplyResult::ResourceMissing);
        EXPECT_EQ(missing, name);
        EXPECT_TRUE(link.switches.empty());
        EXPECT_FALSE(sel.m_bSelected);
        EXPECT_EQ(sel.m_pImage, nullptr);
    }
}

} // namespace
} // namespace orvane::firmware
