#include "firmware/identify.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane::firmware {
namespace {

TEST(Identification, TokenAndNormalisation) {
    struct Case {
        std::string payload;
        std::string identifier;
        bool sForm;
    };
    const Case cases[] = {
        {"11S2", "1122", true},
        {"11s2", "1122", true},
        {"11S5", "1125", true},
        {"11S9", "1129", true},
        {"14S2", "1422", true},
        {"14s5", "1425", true},
        {"15S2", "1522", true},
        {"15S5", "1525", true},
        {"1122", "1122", false},
        {"76S0", "76S0", false},
        {"12S2", "12S2", false},
        {"11S2X", "11S2X", false},
        {"K37E more text", "K37E", false},
        {"  K37E", "K37E", false},
        {"\t\r\n\v\fK64U\n", "K64U", false},
        {std::string("K64U\0xyz", 8), "K64U", false},
        {"", "", false},
        {"   ", "", false},
        {std::string(40, 'x'), std::string(31, 'x'), false},
    };
    for (const Case& c : cases) {
        std::string token =
            ExtractToken(reinterpret_cast<const std::uint8_t*>(c.payload.data()), c.payload.size());
        const bool replaced = NormaliseIdentifier(token);
        EXPECT_EQ(token, c.identifier) << c.payload;
        EXPECT_EQ(replaced, c.sForm) << c.payload;
    }
}

TEST(Identification, TokenStopsAtTheGivenLength) {
    const std::uint8_t payload[] = {'K', '3', '7', 'E', 'X'};
    EXPECT_EQ(ExtractToken(payload, 4), "K37E");
    EXPECT_EQ(ExtractToken(payload, 0), "");
}

} // namespace
} // namespace orvane::firmware
