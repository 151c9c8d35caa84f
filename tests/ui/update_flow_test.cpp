#include "scripted_link.h"

#include "firmware/images.h"

#include <gtest/gtest.h>

namespace orvane::ui::testing {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::u16string>;

const std::u16string kRule(41, u'-');
const std::u16string kRuleSpace = kRule + u" ";
const Lines kPreparation = {kRuleSpace, u"Turn off the receiver.", u"Please wait for a moment...",
                            u"Turn on the receiver."};
const std::u16string kCompleteBox = u"Firmware update complete.\r\nPlease turn off the receiver.";

Bytes WorkedExampleImage() {
    Bytes img;
    for (int r = 0; r < 4; ++r) {
        img.push_back(r < 3 ? 25 : 24);
        for (int i = 0; i < 128; ++i)
            img.push_back(static_cast<std::uint8_t>(r * 7 + i));
    }
    img.insert(img.end(), {24, 18, 160, 255});
    return img;
}

TEST(UpdateFlow, WorkedExampleImage) {
    Updater u;
    const Bytes image = WorkedExampleImage();
    u.view.m_pImage = image.data();
    u.view.m_nImageLen = static_cast<std::uint32_t>(image.size());
    u.view.m_bSelected = true;
    u.view.m_strDisplayName = u"K37";
    u.view.m_strIdentifier = u"K37E";
    u.view.BeginTransfer();

    int lo = -1, hi = -1;
    u.view.m_progress.GetRange(lo, hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 520);
    EXPECT_EQ(u.Lines(), (Lines{kRule, u"Begin to update K37...", u"Address: 0"}));

    const char16_t* addresses[] = {u"Address: 80", u"Address: 100", u"Address: 0", u"Address: 80"};
    for (const char16_t* expected : addresses) {
        u.rx.Send(ReplyFrame('S', 'X'));
        u.Run(1ms);
        EXPECT_EQ(u.LastLine(), expected);
        EXPECT_EQ(u.Lines().size(), 3u); // the single address line is replaced
    }
    EXPECT_TRUE(u.boxes->Boxes().empty());
    u.rx.Send(ReplyFrame('S', 'X'));
    u.Run(1ms);
    EXPECT_EQ(u.Lines(), (Lines{kRule, u"Begin to update K37...", u"Address: 80", kRule,
                                u"Firmware update complete.", u"Please turn off the receiver."}));
    ASSERT_EQ(u.boxes->Boxes().size(), 1u);
    EXPECT_EQ(u.boxes->Boxes()[0].text, kCompleteBox);
    EXPECT_EQ(u.boxes->Boxes()[0].caption, u"Orvane Update");
    EXPECT_EQ(u.view.m_progress.GetPos(), 520);

    const auto blocks = u.rx.Blocks();
    ASSERT_EQ(blocks.size(), 5u);
    EXPECT_EQ(blocks[4], (Bytes{0x24, 0x24, 0x53, 0x58, 0x18, 0x08, 0x00, 0x00, 0x00, 0x00, 0x80,
                                0x12, 0xA0, 0xFF, 0xD6, 0x0D, 0x0A}));
    EXPECT_EQ(blocks[0][4], 25);
    EXPECT_EQ(blocks[0][5], 133);

    // An acknowledgement after the end repeats the end.
    u.rx.Send(ReplyFrame('S', 'X'));
    u.Run(1ms);
    EXPECT_EQ(u.boxes->Boxes().size(), 2u);
    EXPECT_EQ(u.Lines().size(), 9u);
    EXPECT_EQ(u.rx.Blocks().size(), 5u);
}

TEST(UpdateFlow, EmptyImageCompletesAtOnce) {
    Updater u;
    const Bytes none;
    u.view.m_pImage = none.data();
    u.view.m_nImageLen = 0;
    u.view.m_bSelected = true;
    u.view.m_strDisplayName = u"K64";
    u.view.BeginTransfer();
    EXPECT_EQ(u.Lines(), (Lines{kRule, u"Begin to update K64...", u"Completed!", kRuleSpace}));
    ASSERT_EQ(u.boxes->Boxes().size(), 1u);
    EXPECT_EQ(u.boxes->Boxes()[0].text,
              u"Firmware update complete\r\nPlease turn off the receiver.");
    EXPECT_TRUE(u.rx.Blocks().empty());
}

TEST(UpdateFlow, HandshakeEvery300msUntilTheReceiverAnswers) {
    Updater u;
    ASSERT_TRUE(u.frame->IsLinked());
    ASSERT_TRUE(u.Command(ID_UPDATE));
    EXPECT_EQ(u.Lines(), kPreparation);
    EXPECT_EQ(u.rx.baudChanges, std::vector<int>{9600});
    u.Run(1000ms);
    EXPECT_EQ(u.rx.Count('S'), 3u);
    for (const auto& f : u.rx.written)
        EXPECT_EQ(f, (Bytes{0x24, 0x24, 0x53, 0x53, 0x18, 0x02, 0x31, 0x36, 0x1D, 0x0D, 0x0A}));

    // Update again: four more lines, still one timer.
    ASSERT_TRUE(u.Command(ID_UPDATE));
    EXPECT_EQ(u.Lines().size(), 8u);
    const auto before = u.rx.Count('S');
    u.Run(900ms);
    EXPECT_EQ(u.rx.Count('S') - before, 3u);

    // While the receiver does not answer, the bar shows a wait, range and position untouched.
    EXPECT_TRUE(u.view.m_progress.GetMarquee());
    int lower = -1, upper = -1;
    u.view.m_progress.GetRange(lower, upper);
    EXPECT_EQ(upper, 100);

    // An SV reply stops the handshake without starting anything.
    u.rx.Send(ReplyFrame('S', 'V'));
    u.Run(1ms);
    EXPECT_FALSE(u.view.m_progress.GetMarquee());
    const auto stopped = u.rx.Count('S');
    u.Run(2000ms);
    EXPECT_EQ(u.rx.Count('S'), stopped);
    EXPECT_TRUE(u.rx.Blocks().empty());
}

TEST(UpdateFlow, WholeTransferOfAnEmbeddedImage) {
    Updater u;
    u.rx.identifier = "1130"; // board identifier of entry 12: image H, 615 blocks
    u.rx.autoAck = true;
    u.Command(ID_UPDATE);
    u.Run(1000ms);
    const auto image = firmware::GetEmbeddedImage('H');
    const auto blocks = u.rx.Blocks();
    ASSERT_EQ(blocks.size(), 615u);
    // Every data byte left in order, once.
    Bytes sent;
    for (const auto& b : blocks)
        sent.insert(sent.end(), b.begin() + 11, b.end() - 3);
    Bytes expected;
    for (std::uint32_t pos = 0; pos < image->length; pos += firmware::kRecordSize)
        expected.insert(expected.end(), image->data + pos + 1,
                        image->data + pos + firmware::kRecordSize);
    EXPECT_EQ(sent, expected);
    const Lines lines = u.Lines();
    const Lines tail(lines.end() - 7, lines.end());
    EXPECT_EQ(tail, (Lines{kRule, u"Begin to update K64...", u"Boot ID: 1130", u"Address: DE00",
                           kRule, u"Firmware update complete.", u"Please turn off the receiver."}));
    EXPECT_EQ(u.rx.baudChanges, std::vector<int>{9600}); // entry 12 keeps the speed
    EXPECT_EQ(u.view.m_progress.GetPos(), 79335);
    EXPECT_EQ(u.boxes->Boxes().size(), 1u);
    EXPECT_EQ(u.frame->m_nFrameType, 24);
}

TEST(UpdateFlow, IdentificationAndSpeedRule) {
    struct Case {
        const char* payload;
        std::u16string identifier;
        bool sForm;
        std::vector<int> bauds;
        bool bootIdLine;
        std::u16string displayLine;
    };
    const Case cases[] = {
        {"11S2", u"1122", true, {9600, 115200}, true, u"Begin to update K65q/K64q/K640q..."},
        {"11s2 trailing",
         u"1122",
         true,
         {9600, 115200},
         true,
         u"Begin to update K65q/K64q/K640q..."},
        {"1122", u"1122", false, {9600}, true, u"Begin to update K65q/K64q/K640q..."},
        {"76S0", u"76S0", false, {9600, 115200}, false, u"Begin to update K37Jq..."},
        {"  K37E more", u"K37E", false, {9600}, false, u"Begin to update K37..."},
        {"ZT", u"ZT", false, {9600}, false, u"Begin to update ZT..."},
        {"K64U", u"K64U", false, {9600, 115200}, false, u"Begin to update K64U..."},
    };
    for (const Case& c : cases) {
        Updater u;
        u.Command(ID_UPDATE);
        u.rx.Send(ReplyFrame('S', 'S', c.payload));
        u.Run(1ms);
        EXPECT_EQ(u.view.m_strIdentifier, c.identifier) << c.payload;
        EXPECT_EQ(CMainFrame::s_bSFormFlag, c.sForm) << c.payload;
        EXPECT_EQ(u.rx.baudChanges, c.bauds) << c.payload;
        const Lines lines = u.Lines();
        ASSERT_GE(lines.size(), 7u) << c.payload;
        EXPECT_EQ(lines[5], c.displayLine) << c.payload;
        EXPECT_EQ(lines[6] == u"Boot ID: " + c.identifier, c.bootIdLine) << c.payload;
        EXPECT_EQ(u.rx.Blocks().size(), 1u) << c.payload;
        // The handshake timer was stopped by the reply.
        const auto handshakes = u.rx.Count('S');
        u.Run(1000ms);
        EXPECT_EQ(u.rx.Count('S'), handshakes) << c.payload;
    }
}

TEST(UpdateFlow, UnknownIdentifierShowsOnlyTheBox) {
    const std::pair<const char*, std::u16string> cases[] = {
        {"K37", u"K37"}, {"ZZZZ", u"ZZZZ"}, {"", u""}, {"   ", u""}};
    for (const auto& [payload, shown] : cases) {
        Updater u;
        u.Command(ID_UPDATE);
        u.rx.Send(ReplyFrame('S', 'S', payload));
        u.Run(1000ms);
        EXPECT_EQ(u.Lines(), kPreparation) << payload;
        ASSERT_EQ(u.boxes->Boxes().size(), 1u) << payload;
        const auto& box = u.boxes->Boxes()[0];
        EXPECT_EQ(box.text, u"Can't find the version of " + shown + u", please comfirm again!");
        EXPECT_EQ(box.caption, u"\u9519\u8BEF");
        EXPECT_EQ(box.style, fw::MB_OK | fw::MB_ICONERROR);
        EXPECT_EQ(u.rx.baudChanges, std::vector<int>{9600});
        EXPECT_TRUE(u.rx.Blocks().empty());
    }
}

TEST(UpdateFlow, AcknowledgementBeforeAnyUpdateReadsNothing) {
    Updater u;
    u.rx.Send(ReplyFrame('S', 'X'));
    u.Run(1ms);
    EXPECT_TRUE(u.rx.written.empty());
    EXPECT_TRUE(u.Lines().empty());
    EXPECT_TRUE(u.boxes->Boxes().empty());
}

TEST(UpdateFlow, IdentificationDuringATransferRestartsIt) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K64E"));
    u.Run(1ms);
    for (int i = 0; i < 10; ++i) {
        u.rx.Send(ReplyFrame('S', 'X'));
        u.Run(1ms);
    }
    EXPECT_EQ(u.LastLine(), u"Address: 500");
    u.rx.Send(ReplyFrame('S', 'S', "K64E"));
    u.Run(1ms);
    EXPECT_EQ(u.LastLine(), u"Address: 0");
    const auto blocks = u.rx.Blocks();
    ASSERT_EQ(blocks.size(), 12u);
    EXPECT_EQ(Bytes(blocks[11].begin() + 6, blocks[11].end()),
              Bytes(blocks[0].begin() + 6, blocks[0].end()));
}

TEST(UpdateFlow, TwoStageWaitsForCompletion) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "1088"));
    u.Run(1ms);
    EXPECT_EQ(u.rx.baudChanges, (std::vector<int>{9600, 115200}));
    int lo = 0, hi = 0;
    u.view.m_progress.GetRange(lo, hi);
    EXPECT_EQ(hi, 1458308);
    EXPECT_EQ(u.rx.Blocks()[0][4], 21);

    // A completion reply before the last block does nothing.
    u.rx.Send(ReplyFrame('S', 'C'));
    u.Run(1ms);
    EXPECT_TRUE(u.boxes->Boxes().empty());

    u.rx.autoAck = true;
    u.rx.Send(ReplyFrame('S', 'X'));
    u.Run(1ms);
    const auto blocks = u.rx.Blocks();
    ASSERT_EQ(blocks.size(), 3388u + 8006u);
    EXPECT_EQ(blocks[3388][4], 20);  // first block of the second image
    EXPECT_EQ(blocks[3388][8], 158); // 433,664 / 256 = 1,694, low 8 bits
    EXPECT_EQ(blocks[3388][9], 0);
    EXPECT_EQ(blocks[3388][10], 0);
    EXPECT_EQ(u.LastLine(), u"Updating firmware,please wait.............");
    EXPECT_EQ(u.view.m_progress.GetPos(), 1458308);
    EXPECT_EQ(u.frame->m_bAwaitingCompletion, 1);
    EXPECT_TRUE(u.boxes->Boxes().empty());

    u.rx.Send(ReplyFrame('S', 'C'));
    u.rx.Send(ReplyFrame('S', 'C'));
    u.Run(1ms);
    const Lines lines = u.Lines();
    EXPECT_EQ(Lines(lines.end() - 3, lines.end()),
              (Lines{u"Firmware update complete.", u"Please turn off the receiver.", kRule}));
    ASSERT_EQ(u.boxes->Boxes().size(), 1u);
    EXPECT_EQ(u.boxes->Boxes()[0].text, kCompleteBox);
    EXPECT_EQ(u.frame->m_bAwaitingCompletion, 0);

    // Handshakes now carry the frame type the transfer left behind.
    u.rx.autoAck = false;
    u.Command(ID_UPDATE);
    u.Run(300ms);
    EXPECT_EQ(u.rx.written.back(),
              (Bytes{0x24, 0x24, 0x53, 0x53, 0x14, 0x02, 0x31, 0x36, 0x11, 0x0D, 0x0A}));
}

TEST(UpdateFlow, TwoRepliesInOneNotificationAreDispatchedInOrder) {
    Updater u;
    u.Command(ID_UPDATE);
    Bytes both = ReplyFrame('S', 'S', "K64E");
    const Bytes ack = ReplyFrame('S', 'X');
    both.insert(both.end(), ack.begin(), ack.end());
    u.rx.Send(both);
    u.Run(1ms);
    EXPECT_EQ(u.rx.Blocks().size(), 2u);
    EXPECT_EQ(u.LastLine(), u"Address: 80");
}

TEST(UpdateFlow, NotificationOutsideThePortRangeTakesNothing) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.pending.assign({'$', '$'});
    u.frame->PostMessageW(WM_SERIAL_RECEIVED, 2, 0);
    u.Run(1ms);
    EXPECT_EQ(u.rx.pending.size(), 2u);
}

} // namespace
} // namespace orvane::ui::testing
