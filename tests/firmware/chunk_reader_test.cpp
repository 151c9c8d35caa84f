#include "firmware/catalogue.h"
#include "firmware/commands.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane::firmware {
namespace {

std::vector<std::uint8_t> Record(std::uint8_t type, std::uint32_t dataBytes, std::uint8_t seed) {
    std::vector<std::uint8_t> r{type};
    for (std::uint32_t i = 0; i < dataBytes; ++i)
        r.push_back(static_cast<std::uint8_t>(seed + i));
    return r;
}

// Three records of type 25, one of type 24, and a last type-24 record of three data bytes.
std::vector<std::uint8_t> WorkedExampleImage() {
    std::vector<std::uint8_t> img;
    for (int i = 0; i < 3; ++i) {
        auto r = Record(25, 128, static_cast<std::uint8_t>(i));
        img.insert(img.end(), r.begin(), r.end());
    }
    auto r = Record(24, 128, 9);
    img.insert(img.end(), r.begin(), r.end());
    img.insert(img.end(), {24, 18, 160, 255});
    return img;
}

TEST(ChunkReader, WorkedExampleBlockByBlock) {
    const auto image = WorkedExampleImage();
    ASSERT_EQ(image.size(), 520u);
    CImageSelection sel;
    sel.m_pImage = image.data();
    sel.m_nImageLen = static_cast<std::uint32_t>(image.size());
    std::uint8_t frameType = 24;
    std::uint8_t dest[128];

    struct Step {
        std::uint32_t count;
        std::uint8_t frameType;
        std::uint32_t addressBefore, blockAddress;
        std::uint8_t h3, h4, h5;
    };
    const Step steps[] = {
        {128, 25, 0, 0, 0, 0, 0},   {128, 25, 128, 128, 0, 0, 128}, {128, 25, 256, 256, 1, 1, 0},
        {128, 24, 384, 0, 1, 0, 0}, {3, 24, 128, 128, 0, 0, 128},
    };
    sel.m_nAddress = 999; // any value before the first read
    bool first = true;
    for (const Step& s : steps) {
        const std::uint32_t before = first ? 0 : sel.m_nAddress;
        const auto count = sel.ReadChunk(dest, frameType);
        if (first)
            sel.m_nAddress = 0; // the update's start sets the address after its first read
        first = false;
        ASSERT_EQ(count, s.count);
        EXPECT_EQ(frameType, s.frameType);
        EXPECT_EQ(before, s.addressBefore);
        EXPECT_EQ(sel.m_nAddress, s.blockAddress);
        const auto frame =
            EncodeFrame(BlockCommandText(before, sel.m_nAddress, dest, count), frameType);
        EXPECT_EQ(frame[4], s.frameType);
        EXPECT_EQ(frame[8], s.h3);
        EXPECT_EQ(frame[9], s.h4);
        EXPECT_EQ(frame[10], s.h5);
        sel.m_nAddress += count;
    }
    EXPECT_EQ(sel.ReadChunk(dest, frameType), 0u);
    EXPECT_EQ(sel.m_nAddress, 131u);
    EXPECT_EQ(sel.m_nReadPos, 520u);
    EXPECT_EQ(frameType, 24);
}

TEST(ChunkReader, RecordTypeRules) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> image;
        std::uint8_t lastTypeBefore;
        std::uint8_t frameTypeBefore;
        std::uint32_t count;
        std::uint8_t frameTypeAfter;
        std::uint32_t addressAfter;
    };
    const Case cases[] = {
        {"empty image", {}, 0, 24, 0, 24, 77},
        {"lone record type byte that differs", {25}, 24, 20, 0, 25, 0},
        {"lone record type byte that repeats", {24}, 24, 20, 0, 20, 77},
        {"same type as the previous update keeps the frame type", Record(24, 128, 1), 24, 20, 128,
         20, 77},
    };
    for (const Case& c : cases) {
        CImageSelection sel;
        sel.m_pImage = c.image.data();
        sel.m_nImageLen = static_cast<std::uint32_t>(c.image.size());
        sel.m_nLastRecordType = c.lastTypeBefore;
        sel.m_nAddress = 77;
        std::uint8_t frameType = c.frameTypeBefore;
        std::uint8_t dest[128];
        EXPECT_EQ(sel.ReadChunk(dest, frameType), c.count) << c.what;
        EXPECT_EQ(frameType, c.frameTypeAfter) << c.what;
        EXPECT_EQ(sel.m_nAddress, c.addressAfter) << c.what;
    }
}

TEST(ChunkReader, TwoStageSwitchesImagesAndPadsTheLastBlock) {
    // 300 bytes then 130 bytes: blocks of 128, 128, 128 (44 padded), then 128, 128 (126 padded).
    std::vector<std::uint8_t> first(300), second(130);
    for (std::size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<std::uint8_t>(200 + i);
    CImageSelection sel;
    sel.m_pImage = first.data();
    sel.m_nImageLen = 300;
    sel.m_pSecondImage = second.data();
    sel.m_nTotalLen = 430;
    sel.m_bTwoStage = sel.m_bSendSecond = true;
    std::uint8_t frameType = 24;
    std::uint8_t dest[128];

    for (int block = 0; block < 3; ++block) {
        ASSERT_EQ(sel.ReadChunk(dest, frameType), 128u);
        EXPECT_EQ(frameType, 21);
        sel.m_nAddress += 128;
    }
    EXPECT_EQ(dest[43], static_cast<std::uint8_t>(299));
    EXPECT_EQ(dest[44], kFiller);
    EXPECT_EQ(dest[127], kFiller);

    ASSERT_EQ(sel.ReadChunk(dest, frameType), 128u);
    EXPECT_EQ(frameType, 20);
    EXPECT_TRUE(sel.m_bSecondStage);
    EXPECT_EQ(sel.m_nAddress, 0u);
    EXPECT_EQ(sel.m_nImageLen, 130u);
    EXPECT_EQ(dest[0], 200);
    ASSERT_EQ(sel.ReadChunk(dest, frameType), 128u);
    EXPECT_EQ(dest[1], static_cast<std::uint8_t>(329));
    EXPECT_EQ(dest[2], kFiller);
    EXPECT_EQ(sel.ReadChunk(dest, frameType), 0u);
    EXPECT_EQ(sel.m_nBytesRead, 5u * 128); // passes the total; the progress bar clamps it
}

TEST(ChunkReader, EmbeddedImageAfterTheTwoStageEntrySetsItsOwnFrameType) {
    std::vector<std::uint8_t> resource(10, 1);
    auto record = Record(24, 128, 3);
    CImageSelection sel;
    sel.m_nLastRecordType = 24; // an earlier embedded update ended with type 24
    sel.m_pImage = resource.data();
    sel.m_nImageLen = 10;
    sel.m_bTwoStage = true;
    std::uint8_t frameType = 24;
    std::uint8_t dest[128];
    ASSERT_EQ(sel.ReadChunk(dest, frameType), 128u);
    EXPECT_EQ(frameType, 21);

    // The next update sends a type-24-only image: its blocks must not go out as type 21.
    sel.m_bTwoStage = false;
    sel.m_pImage = record.data();
    sel.m_nImageLen = static_cast<std::uint32_t>(record.size());
    sel.m_nReadPos = 0;
    ASSERT_EQ(sel.ReadChunk(dest, frameType), 128u);
    EXPECT_EQ(frameType, 24);
}

TEST(ChunkReader, TwoStageWithoutSecondImageEndsAfterTheFirst) {
    std::vector<std::uint8_t> first(10, 1);
    CImageSelection sel;
    sel.m_pImage = first.data();
    sel.m_nImageLen = 10;
    sel.m_bTwoStage = true;
    std::uint8_t frameType = 24;
    std::uint8_t dest[128];
    EXPECT_EQ(sel.ReadChunk(dest, frameType), 128u);
    EXPECT_EQ(sel.ReadChunk(dest, frameType), 0u);
    EXPECT_FALSE(sel.m_bSecondStage);
}

} // namespace
} // namespace orvane::firmware
