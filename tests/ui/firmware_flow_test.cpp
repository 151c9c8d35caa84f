// The update view and the main window with firmware in mind: what a stray acknowledgement may
// read after an identification failed, which firmware goes where, and firmware packages.
#include "scripted_link.h"

#include "firmware/firmware_set.h"
#include "firmware/images.h"

#include <gtest/gtest.h>

namespace orvane::ui::testing {
namespace {

using namespace std::chrono_literals;

const std::u16string kCompleteBox = u"Firmware update complete.\r\nPlease turn off the receiver.";

// A package-kind set holding only image G, in bytes of its own (the placeholder's will do:
// what matters here is the kind of set, which images it lacks, and how long it lives).
std::shared_ptr<const firmware::FirmwareSet> PackageWithOnlyG() {
    auto set = std::make_shared<firmware::FirmwareSet>(firmware::FirmwareSet::Kind::Package);
    set->SetOrigin("test release", "2026-11-30", "/nowhere", "0000000000000000");
    const auto g = firmware::GetEmbeddedImage('G');
    const std::uint8_t* bytes = set->Keep(std::vector<std::uint8_t>(g->data, g->data + g->length));
    set->AddImage({"G", "G.bin", bytes, g->length, "sha"});
    set->SetEntries({firmware::Catalogue().begin(), firmware::Catalogue().end()});
    return set;
}

std::size_t CompletionBoxes(const Updater& u) {
    std::size_t n = 0;
    for (const auto& box : u.boxes->Boxes())
        n += box.text.rfind(u"Firmware update complete", 0) == 0;
    return n;
}

// After an identifier without an entry, an acknowledgement must not read the previous image:
// not a block of it (a two-stage image's data byte would become the frame type), and not the
// completion of an update already over.
TEST(StaleSelection, AcknowledgementAfterAFailedIdentificationDoesNothing) {
    struct Case {
        const char* before;   // the update that ran first
        bool runToCompletion; // or stop half-way
    };
    const Case cases[] = {{"1088", false}, {"1088", true}, {"K64E", false}, {"K64E", true}};
    for (const Case& c : cases) {
        Updater u;
        u.Command(ID_UPDATE);
        u.rx.Send(ReplyFrame('S', 'S', c.before));
        u.Run(1ms);
        u.rx.autoAck = c.runToCompletion;
        u.rx.Send(ReplyFrame('S', 'X'));
        u.Run(1ms);
        if (c.runToCompletion && std::string(c.before) == "1088") {
            u.rx.Send(ReplyFrame('S', 'C'));
            u.Run(1ms);
        }
        u.rx.autoAck = false;
        const std::size_t completions = CompletionBoxes(u);
        const std::size_t written = u.rx.written.size();
        const std::uint8_t frameType = u.frame->m_nFrameType;

        u.rx.Send(ReplyFrame('S', 'S', "ZZZZ"));
        u.Run(1ms);
        const std::size_t lines = u.Lines().size();
        for (int i = 0; i < 3; ++i) {
            u.rx.Send(ReplyFrame('S', 'X'));
            u.Run(1ms);
        }
        EXPECT_EQ(u.rx.written.size(), written) << c.before << " " << c.runToCompletion;
        EXPECT_EQ(CompletionBoxes(u), completions) << c.before << " " << c.runToCompletion;
        EXPECT_EQ(u.Lines().size(), lines) << c.before;
        EXPECT_EQ(u.frame->m_nFrameType, frameType) << c.before;
        EXPECT_EQ(u.frame->m_bAwaitingCompletion, 0) << c.before;
    }
}

TEST(StaleSelection, SingleImageEntryAfterATwoStageUpdateRunsInSingleImageMode) {
    Updater u;
    u.rx.autoAck = true;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K64U"));
    u.Run(1ms);
    u.rx.Send(ReplyFrame('S', 'C'));
    u.Run(1ms);
    ASSERT_EQ(CompletionBoxes(u), 1u);
    const std::size_t before = u.rx.Blocks().size();

    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K64E")); // image G: 113 type-25 and 463 type-24 records
    u.Run(1ms);
    EXPECT_FALSE(u.view.m_bTwoStage);
    const auto all = u.rx.Blocks();
    const std::vector<Bytes> blocks(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    ASSERT_EQ(blocks.size(), 576u);
    EXPECT_EQ(blocks.front()[4], 25);
    EXPECT_EQ(blocks[112][4], 25);
    EXPECT_EQ(blocks[113][4], 24);
    EXPECT_EQ(blocks.back()[4], 24);
    // It ends on its own, without waiting for a completion reply.
    EXPECT_EQ(u.frame->m_bAwaitingCompletion, 0);
    EXPECT_EQ(CompletionBoxes(u), 2u);
    EXPECT_EQ(u.LastLine(), u"Please turn off the receiver.");
}

TEST(PlaceholderGuard, TestImagesNeverLinkToASerialLine) {
    Updater u(false);
    u.rx.pseudoTerminal = false;
    u.rx.identifier = "K64E";
    u.Create();
    EXPECT_FALSE(u.frame->IsLinked());
    EXPECT_TRUE(u.frame->PlaceholderRefused());
    ASSERT_EQ(u.boxes->Boxes().size(), 1u);
    const std::u16string text = u.boxes->Boxes()[0].text;
    EXPECT_NE(text.find(u"COM3"), std::u16string::npos);
    EXPECT_NE(text.find(u"carries test images"), std::u16string::npos);
    EXPECT_NE(text.find(u"--firmware"), std::u16string::npos);
    EXPECT_NE(text.find(u"Load firmware package"), std::u16string::npos);

    // The Link command is refused the same way; Update stays disabled, nothing is written.
    EXPECT_TRUE(u.Command(ID_LINK));
    EXPECT_FALSE(u.frame->IsLinked());
    EXPECT_EQ(u.boxes->Boxes().size(), 2u);
    EXPECT_FALSE(u.Command(ID_UPDATE));
    u.Run(1000ms);
    EXPECT_TRUE(u.rx.written.empty());

    // Real firmware may go to the same line.
    u.frame->SetFirmware(PackageWithOnlyG());
    EXPECT_TRUE(u.Command(ID_LINK));
    ASSERT_TRUE(u.frame->IsLinked());
    EXPECT_FALSE(u.frame->PlaceholderRefused());
    u.rx.autoAck = true;
    u.Command(ID_UPDATE);
    u.Run(1000ms);
    EXPECT_EQ(u.rx.Blocks().size(), 576u);
}

TEST(PlaceholderGuard, BenchOverrideAndPseudoTerminalsMayHaveTestImages) {
    for (const bool overrideGiven : {false, true}) {
        Updater u(false);
        u.rx.pseudoTerminal = !overrideGiven;
        MainFrameServices services;
        services.openPort = [&u](IMessageTarget*, const PortRequest& request,
                                 OpenFailure&) -> std::unique_ptr<IPortWorker> {
            u.rx.port = request.number;
            return std::make_unique<ScriptedWorker>(u.rx);
        };
        services.listPorts = [] { return std::vector<std::u16string>{}; };
        services.storedPortName = [] { return std::u16string(u"COM3"); };
        services.allowPlaceholderOnAnyDevice = overrideGiven;
        u.Create(std::move(services));
        EXPECT_TRUE(u.frame->IsLinked()) << overrideGiven;
        EXPECT_TRUE(u.frame->MaySendFirmware()) << overrideGiven;
        EXPECT_TRUE(u.boxes->Boxes().empty()) << overrideGiven;
    }
}

TEST(FirmwarePackage, EntryWhoseImageThePackageLacksSendsNothing) {
    Updater u;
    u.frame->SetFirmware(PackageWithOnlyG());
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K37E")); // entry 2, image B
    u.Run(1ms);
    ASSERT_EQ(u.boxes->Boxes().size(), 1u);
    EXPECT_EQ(u.boxes->Boxes()[0].text,
              u"K37E: image B is not in this firmware package (test release); nothing was sent.");
    EXPECT_TRUE(u.rx.Blocks().empty());
    EXPECT_EQ(u.rx.baudChanges, std::vector<int>{9600});
    // Never the placeholder instead, and a stray acknowledgement reads nothing either.
    u.rx.Send(ReplyFrame('S', 'X'));
    u.Run(1ms);
    EXPECT_TRUE(u.rx.Blocks().empty());
}

TEST(FirmwarePackage, LoadingAnotherFirmwareLeavesARunningTransferItsImages) {
    Updater u;
    auto package = PackageWithOnlyG();
    u.frame->SetFirmware(package);
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K64E"));
    u.Run(1ms);
    const Bytes expected(package->Image("G")->data,
                         package->Image("G")->data + package->Image("G")->length);
    // Another firmware now, and nobody but the transfer holds the package any more.
    u.frame->SetFirmware(firmware::PlaceholderFirmware());
    package.reset();
    u.rx.autoAck = true;
    u.rx.Send(ReplyFrame('S', 'X'));
    u.Run(1ms);
    const auto blocks = u.rx.Blocks();
    ASSERT_EQ(blocks.size(), 576u);
    Bytes sent;
    for (const auto& b : blocks)
        sent.insert(sent.end(), b.begin() + 11, b.end() - 3);
    Bytes data;
    for (std::size_t pos = 0; pos < expected.size(); pos += firmware::kRecordSize)
        data.insert(data.end(), expected.begin() + static_cast<std::ptrdiff_t>(pos) + 1,
                    expected.begin() + static_cast<std::ptrdiff_t>(pos + firmware::kRecordSize));
    EXPECT_EQ(sent, data);
    ASSERT_FALSE(u.boxes->Boxes().empty());
    EXPECT_EQ(u.boxes->Boxes().back().text, kCompleteBox);
    EXPECT_TRUE(u.frame->Firmware()->IsPlaceholder());
}

} // namespace
} // namespace orvane::ui::testing
