// Text from outside made safe for a terminal, peer text decoded once, one message box of a
// kind at a time, and the stop request.
#include "platform/message.h"
#include "platform/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace orvane {
namespace {

TEST(EscapeControls, ControlCharactersBecomeVisibleEscapes) {
    struct Case {
        std::u16string in;
        std::u16string out;
    };
    const std::vector<Case> cases = {
        {u"K64E", u"K64E"},
        {u"\x1b]0;pwned\x07", u"\\x1B]0;pwned\\x07"},                // set the terminal's title
        {u"\x1b[2J\x1b[?25l\x1b[8m", u"\\x1B[2J\\x1B[?25l\\x1B[8m"}, // clear, hide, conceal
        {u"a\rb\nc\td", u"a\\x0Db\\x0Ac\\x09d"},
        {std::u16string(u"x\0y", 3), u"x\\x00y"},
        {u"\x7f\x9b", u"\\x7F\\x9B"}, // DEL and the one-character CSI
        {u"abc\u202Efed", u"abc\\u202Efed"},
        // The marks: invisible, yet they move the characters around them.
        {u"a\u200Eb\u200Fc\u061Cd", u"a\\u200Eb\\u200Fc\\u061Cd"},
        {u"\u00DCn\u00EF \u63A5\u6536\u673A", u"\u00DCn\u00EF \u63A5\u6536\u673A"}, // letters stay
    };
    for (const auto& c : cases)
        EXPECT_EQ(EscapeControls(c.in), c.out) << ToUtf8(c.out);
}

TEST(PeerText, Utf8DecodedOnceOtherBytesKeptAsLatin1) {
    struct Case {
        std::string bytes;
        std::u16string text;
    };
    const std::vector<Case> cases = {
        {"K64E", u"K64E"},
        {"\xC3\x9Cn\xC3\xAF", u"\u00DCn\u00EF"}, // UTF-8: decoded once
        {"\xE6\x8E\xA5", u"\u63A5"},             // three bytes
        {"\xF0\x9F\x9B\xB0", u"\U0001F6F0"},     // four bytes: a pair
        {"\xDCn\xEF", u"\u00DCn\u00EF"},         // Latin-1 bytes
        {"\xC3", u"\u00C3"},                     // cut sequence
        {"\xC0\xAF", u"\u00C0\u00AF"},           // overlong form
        {"\xED\xA0\x80", u"\u00ED\u00A0\u0080"}, // a surrogate
        {"A\xC3\x9C\xFF", u"A\u00DC\u00FF"},     // mixed
    };
    for (const auto& c : cases)
        EXPECT_EQ(FromPeerText(c.bytes), c.text) << c.bytes;
}

// A handler that asks for boxes inside boxes, as a reply flood does in a modal loop.
TEST(MessageBoxKinds, ABoxOfAKindNeverOpensInsideOneOfTheSameKind) {
    std::vector<std::u16string> shown;
    int deepest = 0;
    auto previous = SetMessageBoxHandler(
        [&](IMessageTarget*, std::u16string_view text, std::u16string_view, unsigned style) {
            shown.emplace_back(text);
            deepest = std::max(deepest, OpenMessageBoxCount());
            // While this box is open, the three kinds are asked for again.
            MessageBoxW(nullptr, u"again", u"Orvane Update", MB_OK);
            MessageBoxW(nullptr, u"Can't find", u"Error", MB_OK | MB_ICONERROR);
            const int answer = MessageBoxW(nullptr, u"Close?", u"Orvane Update", MB_YESNO);
            if (text == u"Close?") {
                EXPECT_EQ(answer, IDNO); // asked again while open: the cautious answer
            }
            return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
        });
    const auto suppressedBefore = SuppressedMessageBoxCount();
    EXPECT_EQ(MessageBoxW(nullptr, u"Firmware update complete.", u"Orvane Update", MB_OK), IDOK);
    SetMessageBoxHandler(std::move(previous));

    EXPECT_EQ(OpenMessageBoxCount(), 0);
    EXPECT_EQ(deepest, 3); // one box of each kind at most
    EXPECT_EQ(shown.front(), u"Firmware update complete.");
    EXPECT_EQ(std::count(shown.begin(), shown.end(), u"again"), 0);
    EXPECT_LE(shown.size(), 5u);
    EXPECT_GT(SuppressedMessageBoxCount(), suppressedBefore);
}

TEST(MessageBoxKinds, CautiousAnswers) {
    EXPECT_EQ(CautiousAnswer(MB_OK | MB_ICONERROR), IDOK);
    EXPECT_EQ(CautiousAnswer(MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2), IDNO);
    EXPECT_EQ(CautiousAnswer(MB_OKCANCEL), IDCANCEL);
}

} // namespace
} // namespace orvane
