// --catalogue: a package's texts reach the terminal with their controls escaped.
#include "cli/catalogue_listing.h"
#include "firmware/firmware_set.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane::app {
namespace {

// A package's release name, its folder's name and an entry's name as the manifest and the
// command line can give them: the release and the entry's name are checked JSON text (no C0
// controls or DEL, well-formed UTF-8), the folder's name any bytes but "/" and NUL. Each is
// shown with every control and direction character escaped, and nothing else changed.
TEST(CatalogueListing, PackageTextsAreEscapedForTheTerminal) {
    struct Case {
        const char* what;
        std::string name;
        std::string shown;
        bool manifestText; // could come from a manifest too (the release, an entry's name)
    };
    std::vector<Case> cases = {
        {"C0: escape, clear the screen", "a\x1b[2Jb\r\n", "a\\x1B[2Jb\\x0D\\x0A", false},
        {"DEL", "a\x7f", "a\\x7F", false},
        {"C1: the one-byte CSI, then NEL",
         "a\xc2\x9b"
         "31m\xc2\x85",
         "a\\x9B31m\\x85", true},
        {"Chinese stays as it is", "\xe6\x8e\xa5\xe6\x94\xb6\xe6\x9c\xba",
         "\xe6\x8e\xa5\xe6\x94\xb6\xe6\x9c\xba", true},
        {"bytes that are no UTF-8: stray, overlong ESC, surrogate, cut",
         "a\xff\xc0\x9b\xed\xa0\x80\xe6\x8e", "a\\xFF\\xC0\\x9B\\xED\\xA0\\x80\\xE6\\x8E", false},
    };
    // Every direction override, isolate and mark.
    for (const unsigned c : {0x202Au, 0x202Bu, 0x202Cu, 0x202Du, 0x202Eu, 0x2066u, 0x2067u, 0x2068u,
                             0x2069u, 0x200Eu, 0x200Fu, 0x061Cu})
        cases.push_back({"a direction character",
                         "abc" + ToUtf8(std::u16string(1, static_cast<char16_t>(c))) + "fed",
                         "abc" + FormatAnsi("\\u%04X", c) + "fed", true});

    for (const Case& c : cases) {
        const std::string what = std::string(c.what) + ": " + c.shown;
        firmware::FirmwareSet set(firmware::FirmwareSet::Kind::Package);
        set.SetOrigin("R " + c.name, "2026-11-30", "/pkgs/" + c.name, "5ED06DF4F398B395");
        const std::u16string_view name = set.Keep(FromUtf8(c.name));
        set.SetEntries({{27,
                         {u"K99X"},
                         name,
                         'G',
                         firmware::BaudRule::Unchanged,
                         firmware::ImageMode::Single}});
        const std::string listing = CatalogueListing(set);
        EXPECT_EQ(listing.substr(0, listing.find('\n')),
                  "Firmware: firmware package \"R " + c.shown + "\" of 2026-11-30, /pkgs/" +
                      c.shown + ", signed with key 5ED06DF4F398B395")
            << what;
        EXPECT_EQ(FirmwareForTerminal(set), listing.substr(10, listing.find('\n') - 10)) << what;
        if (c.manifestText) {
            EXPECT_NE(listing.find("K99X" + std::string(24, ' ') + " " + c.shown),
                      std::string::npos)
                << what << "\n"
                << listing;
        }
    }
}

} // namespace
} // namespace orvane::app
