// The language of a start: a stored value always wins; with none, the system's language.
#include "app/start_language.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>

namespace orvane::app {
namespace {

TEST(StartLanguage, StoredValueWinsElseTheSystemsLanguage) {
    // Windows language identifiers as GetUserDefaultUILanguage gives them.
    struct System {
        const char* name;
        std::uint16_t languageId;
        bool chinese;
    };
    const System systems[] = {
        {"zh-CN", 0x0804, true},    {"zh-TW", 0x0404, true},  {"zh-HK", 0x0C04, true},
        {"zh-SG", 0x1004, true},    {"zh-MO", 0x1404, true},  {"en-US", 0x0409, false},
        {"en-GB", 0x0809, false},   {"ja-JP", 0x0411, false}, {"ko-KR", 0x0412, false},
        {"neutral", 0x0000, false}, {"de-CH", 0x0807, false}, {"zh neutral", 0x0004, true},
    };
    struct Stored {
        const char* name;
        std::optional<long long> value;
        int onChinese; // the start's value on a Chinese system
        int onOther;   // and on any other
    };
    const Stored stored[] = {
        {"none", std::nullopt, kChinese, kEnglish},
        {"English", 1, kEnglish, kEnglish},
        {"Chinese", 0, kChinese, kChinese},
        {"another number", 2, 2, 2},
        {"negative", -1, -1, -1},
        {"beyond an int", 1LL << 40, kChinese, kChinese},
        {"beyond an int, negative", -(1LL << 40), kChinese, kChinese},
    };
    for (const System& system : systems) {
        EXPECT_EQ(IsChineseLanguageId(system.languageId), system.chinese) << system.name;
        for (const Stored& s : stored)
            EXPECT_EQ(StartLanguage(s.value, IsChineseLanguageId(system.languageId)),
                      system.chinese ? s.onChinese : s.onOther)
                << system.name << ", stored " << s.name;
    }
}

} // namespace
} // namespace orvane::app
