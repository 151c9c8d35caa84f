// The language library's translation table as a damaged or hostile file may hold it: whatever
// the bytes, reading ends inside them and loses only what is broken.
#include "framework/translation_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A table as the build writes it: each text as UTF-16LE and its terminator.
std::vector<std::uint8_t> Bytes(std::initializer_list<std::u16string> texts) {
    std::vector<std::uint8_t> out;
    for (const auto& text : texts) {
        for (char16_t c : text) {
            out.push_back(static_cast<std::uint8_t>(c & 0xFF));
            out.push_back(static_cast<std::uint8_t>(c >> 8));
        }
        out.push_back(0);
        out.push_back(0);
    }
    return out;
}

std::vector<std::uint8_t> Cut(std::vector<std::uint8_t> bytes, std::size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
}

std::vector<std::uint8_t> Append(std::vector<std::uint8_t> bytes,
                                 std::initializer_list<std::uint8_t> more) {
    bytes.insert(bytes.end(), more);
    return bytes;
}

TEST(TranslationTable, ReadsWhatItCanTable) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::size_t size;
        std::u16string update; // what "&Update" becomes
    };
    const auto good = Bytes({u"&Update", u"升级(&U)", u"English", u"英文"});
    const Case cases[] = {
        {"two pairs", good, 2, u"升级(&U)"},
        {"nothing", {}, 0, u"&Update"},
        {"a stray odd byte at the end", Append(good, {0x41}), 2, u"升级(&U)"},
        {"a source without its translation", Append(good, {0x41, 0, 0, 0}), 2, u"升级(&U)"},
        {"the last translation cut off", Cut(good, 2), 1, u"升级(&U)"},
        {"the first translation cut off", Cut(Bytes({u"&Update", u"升级(&U)"}), 3), 0, u"&Update"},
        {"an empty translation is no translation", Bytes({u"&Update", u""}), 0, u"&Update"},
        {"an empty source is skipped, the rest read", Bytes({u"", u"x", u"&Update", u"升"}), 1,
         u"升"},
        {"the first translation of a text stands", Bytes({u"&Update", u"一", u"&Update", u"二"}), 1,
         u"一"},
        {"no terminator anywhere", std::vector<std::uint8_t>(4001, 0x41), 0, u"&Update"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto table = fw::TranslationTable::Parse(c.bytes);
        EXPECT_EQ(table.size(), c.size);
        EXPECT_EQ(table.Translate(u"&Update"), c.update);
    }
}

TEST(TranslationTable, TextsOutsideTheBasicPlaneSurvive) {
    const std::u16string source = u"Done \U0001F680";
    const auto table = fw::TranslationTable::Parse(Bytes({source, u"完成 \U0001F680"}));
    EXPECT_EQ(table.Translate(source), u"完成 \U0001F680");
    EXPECT_EQ(table.Translate(u"Done"), u"Done");
}

} // namespace
