#include "firmware/commands.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane::firmware {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Encode(const char* text, std::uint8_t type) {
    return EncodeFrame(FromAnsi(text), type);
}

TEST(FrameEncoding, HandshakeFrameCarriesTheFrameType) {
    EXPECT_EQ(ToAnsi(HandshakeText()), "SS, B49,B54,");
    EXPECT_EQ(EncodeFrame(HandshakeText(), 24),
              (Bytes{0x24, 0x24, 0x53, 0x53, 0x18, 0x02, 0x31, 0x36, 0x1D, 0x0D, 0x0A}));
    EXPECT_EQ(EncodeFrame(HandshakeText(), 20),
              (Bytes{0x24, 0x24, 0x53, 0x53, 0x14, 0x02, 0x31, 0x36, 0x11, 0x0D, 0x0A}));
}

TEST(FrameEncoding, ShortLastBlockOfTheWorkedExample) {
    const std::uint8_t data[] = {18, 160, 255};
    const auto text = BlockCommandText(128, 128, data, 3);
    EXPECT_EQ(ToAnsi(text), "SX, B0, B0, B0, B0, B128,B18,B160,B255");
    EXPECT_EQ(EncodeFrame(text, 24), (Bytes{0x24, 0x24, 0x53, 0x58, 0x18, 0x08, 0x00, 0x00, 0x00,
                                            0x00, 0x80, 0x12, 0xA0, 0xFF, 0xD6, 0x0D, 0x0A}));
}

TEST(FrameEncoding, FullBlockIs142Bytes) {
    std::uint8_t data[128];
    for (int i = 0; i < 128; ++i)
        data[i] = static_cast<std::uint8_t>(i * 2 + 1);
    const auto frame = EncodeFrame(BlockCommandText(0, 0, data, 128), 25);
    ASSERT_EQ(frame.size(), 142u);
    EXPECT_EQ(frame[4], 0x19);
    EXPECT_EQ(frame[5], 0x85);
    for (int i = 0; i < 128; ++i)
        EXPECT_EQ(frame[11 + i], data[i]);
    EXPECT_EQ(frame[139], XorChecksum(frame.data() + 2, 137));
}

TEST(FrameEncoding, HeaderNumbersCarryOnlyTheirLowBits) {
    struct Case {
        std::uint32_t before, address;
        const char* text;
        std::uint8_t h3, h4, h5;
    };
    const Case cases[] = {
        {65536, 65536, "SX, B0, B0, B256, B256, B0", 0, 0, 0},
        {4660, 4660, "SX, B0, B0, B18, B18, B52", 18, 18, 52},
        // First block after the switch to the second image: number 3 still carries the
        // first image's final address.
        {433664, 0, "SX, B0, B0, B1694, B0, B0", 158, 0, 0},
        {384, 0, "SX, B0, B0, B1, B0, B0", 1, 0, 0},
    };
    for (const Case& c : cases) {
        const auto text = BlockCommandText(c.before, c.address, nullptr, 0);
        EXPECT_EQ(ToAnsi(text), c.text);
        const auto frame = EncodeFrame(text, 20);
        ASSERT_EQ(frame.size(), 14u) << c.text;
        EXPECT_EQ(frame[6], 0);
        EXPECT_EQ(frame[7], 0);
        EXPECT_EQ(frame[8], c.h3) << c.text;
        EXPECT_EQ(frame[9], c.h4) << c.text;
        EXPECT_EQ(frame[10], c.h5) << c.text;
    }
}

TEST(FrameEncoding, ItemRules) {
    struct Case {
        const char* text;
        Bytes payload;
    };
    const Case cases[] = {
        {"SX, B0", {0}},
        {"SX, B255", {255}},
        {"SX, B-1", {0xFF}},
        {"SX, b300", {44}},          // low 8 bits of 300
        {"SX, W4660", {0x34, 0x12}}, // least significant byte first
        {"SX, w-2", {0xFE, 0xFF}},
        {"SX, L305419896", {0x78, 0x56, 0x34, 0x12}},
        {"SX, l-1", {0xFF, 0xFF, 0xFF, 0xFF}},
        {"SX, SAB C", {'A', 'B', ' ', 'C'}}, // S takes the rest of the text
        {"SX, B1B2", {1}},                   // items need a separator
        {"SX,B1 B2,B3", {1, 2, 3}},
        {"SX, B 7", {7}},    // white space before the number
        {"SX, Bx, B5", {5}}, // no number: nothing appended
        {"SX B9", {9}},      // a space arms like a comma
        {"SX, Q5, B6", {6}}, // other letters are passed over
        {"  s x , B4", {4}}, // letters may be spread out
        {"1S2X3, B4", {4}},
    };
    for (const Case& c : cases) {
        const auto frame = Encode(c.text, 24);
        ASSERT_GE(frame.size(), 9u) << c.text;
        const Bytes payload(frame.begin() + 6, frame.end() - 3);
        EXPECT_EQ(payload, c.payload) << c.text;
        EXPECT_EQ(frame[5], c.payload.size()) << c.text;
        EXPECT_EQ(frame[frame.size() - 3], XorChecksum(frame.data() + 2, frame.size() - 5));
    }
}

TEST(FrameEncoding, CommandLettersAreTheFirstTwoLetters) {
    const auto frame = Encode("sx, B1", 24);
    EXPECT_EQ(frame[2], 's');
    EXPECT_EQ(frame[3], 'x');
    EXPECT_TRUE(Encode("", 24).empty());
    EXPECT_TRUE(Encode("S, 12", 24).empty());
}

TEST(FrameEncoding, ScanStopsAt256Bytes) {
    std::string text = "SX";
    for (int i = 0; i < 400; ++i)
        text += ",B7";
    const auto b = Encode(text.c_str(), 24);
    EXPECT_EQ(b.size(), 256u + 3);
    EXPECT_EQ(b[5], 250);

    text = "SX";
    for (int i = 0; i < 400; ++i)
        text += ",L1";
    const auto l = Encode(text.c_str(), 24);
    EXPECT_LE(l.size(), kMaxFrameBytes);
    EXPECT_EQ(l.size(), 6u + 252 + 3); // 63 items of 4 bytes end at 258 > 256

    const std::string s = "SX, S" + std::string(1000, 'z');
    const auto frame = Encode(s.c_str(), 24);
    EXPECT_EQ(frame.size(), 256u + 3);
    EXPECT_EQ(frame[5], 250);
}

TEST(FrameEncoding, OnlyThe1023FirstCharactersAndNothingAfterANul) {
    const std::u16string spaces(1020, u' ');
    auto frame = EncodeFrame(u"SX" + spaces + u"B5", 24); // the B is character 1023
    EXPECT_EQ(frame[5], 0);
    frame = EncodeFrame(u"SX" + spaces.substr(1) + u"B5", 24);
    EXPECT_EQ(frame[5], 1);

    std::u16string withNul = u"SX, B1";
    withNul.push_back(0);
    withNul += u",B2";
    frame = EncodeFrame(withNul, 24);
    EXPECT_EQ(frame[5], 1);
}

} // namespace
} // namespace orvane::firmware
