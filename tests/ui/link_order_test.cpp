// When and in which order the updater acts on the line: delays measured on the injected clock,
// the speed switch against the first block, the list line against each block, the one
// message let through after a block, and the state an identification resets.
#include "scripted_link.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvane::ui::testing {
namespace {

using namespace std::chrono_literals;

std::vector<const LineEvent*> EventsNamed(const ScriptedReceiver& rx, const std::string& what) {
    std::vector<const LineEvent*> out;
    for (const auto& e : rx.events)
        if (e.what == what)
            out.push_back(&e);
    return out;
}

// The event right before `event` in the line's history.
const LineEvent* Before(const ScriptedReceiver& rx, const LineEvent* event) {
    return event == rx.events.data() ? nullptr : event - 1;
}

TEST(LineTiming, EachHandshakeFrameLeaves100msAfterItsTick) {
    Updater u;
    ASSERT_TRUE(u.Command(ID_UPDATE));
    const auto start = u.clock.Now();
    u.Run(1000ms);
    const auto handshakes = EventsNamed(u.rx, "write SS");
    ASSERT_GE(handshakes.size(), 2u);
    // The first tick comes 300 ms after Update; its frame waits 100 ms more on the clock.
    EXPECT_EQ(handshakes[0]->at - start, Clock::duration(400ms));
    // Every later frame also leaves 100 ms after a tick, and ticks are 300 ms apart: so two
    // frames are never closer than the period plus nothing, nor further than period + delay.
    for (std::size_t i = 1; i < handshakes.size(); ++i) {
        const auto gap = handshakes[i]->at - handshakes[i - 1]->at;
        EXPECT_GE(gap, Clock::duration(300ms)) << i;
        EXPECT_LE(gap, Clock::duration(400ms)) << i;
    }
}

TEST(LineTiming, FirstBlockLeaves20msAfterTheReplyAndAfterTheSpeedSwitch) {
    struct Case {
        const char* identifier;
        std::vector<std::string> sequence; // from the reply taken to the first block
    };
    const Case cases[] = {
        {"K37E", {"take", "write SX"}},
        {"76S0", {"take", "baud 115200", "write SX"}},
        {"1088", {"take", "baud 115200", "write SX"}}, // the two-stage entry
        {"11S2", {"take", "baud 115200", "write SX"}}, // speed only for the normalised form
    };
    for (const Case& c : cases) {
        Updater u;
        u.Command(ID_UPDATE);
        u.Run(1000ms);
        u.rx.Send(ReplyFrame('S', 'S', c.identifier));
        u.Run(1ms);
        const auto blocks = EventsNamed(u.rx, "write SX");
        ASSERT_EQ(blocks.size(), 1u) << c.identifier;
        // Walk back from the first block to the reply that started it.
        std::vector<std::string> sequence;
        const LineEvent* e = blocks[0];
        for (; e != nullptr; e = Before(u.rx, e)) {
            sequence.insert(sequence.begin(), e->what);
            if (e->what == "take")
                break;
        }
        ASSERT_NE(e, nullptr) << c.identifier;
        EXPECT_EQ(sequence, c.sequence) << c.identifier;
        EXPECT_EQ(blocks[0]->at - e->at, Clock::duration(20ms)) << c.identifier;
    }
}

TEST(LineTiming, LaterBlocksLeaveAtOnce) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K37E"));
    u.Run(1ms);
    for (int i = 0; i < 3; ++i) {
        u.rx.Send(ReplyFrame('S', 'X'));
        u.Run(1ms);
    }
    const auto blocks = EventsNamed(u.rx, "write SX");
    ASSERT_EQ(blocks.size(), 4u);
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        const LineEvent* taken = Before(u.rx, blocks[i]);
        ASSERT_EQ(taken->what, "take");
        EXPECT_EQ(blocks[i]->at, taken->at) << i;
    }
}

TEST(LineOrder, EachBlockLeavesBeforeItsAddressLineReplacesTheLastOne) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K37E"));
    u.Run(1ms);
    std::vector<std::u16string> after = {u.LastLine()}; // the list once each block is sent
    for (int i = 0; i < 4; ++i) {
        u.rx.Send(ReplyFrame('S', 'X'));
        u.Run(1ms);
        after.push_back(u.LastLine());
    }
    ASSERT_EQ(after[0], u"Address: 0");
    const auto blocks = EventsNamed(u.rx, "write SX");
    ASSERT_EQ(blocks.size(), after.size());
    // The first block's line is there before it leaves; every later block leaves while the
    // list still shows the block before it, and then takes that line's place.
    EXPECT_EQ(blocks[0]->lastLine, after[0]);
    for (std::size_t i = 1; i < blocks.size(); ++i) {
        ASSERT_NE(after[i], after[i - 1]) << i; // else the order could not show
        EXPECT_EQ(blocks[i]->lastLine, after[i - 1]) << i;
    }
    const auto lines = u.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::u16string& l) { return l.rfind(u"Address: ", 0) == 0; }),
              1);
}

// A window that counts the messages it is given.
class CountingWnd final : public fw::CWnd {
public:
    int handled = 0;
    fw::LRESULT WindowProc(fw::UINT message, fw::WPARAM, fw::LPARAM) override {
        handled += message == kProbe;
        return 0;
    }
    static constexpr fw::UINT kProbe = fw::WM_USER + 40;
};

TEST(LineOrder, EachBlockLetsExactlyOneWaitingMessageThrough) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K37E"));
    u.Run(1ms);
    u.frame->KillTimer(firmware::kHandshakeTimerId);
    CountingWnd other;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(other.PostMessageW(CountingWnd::kProbe, 0, 0));
    // Acknowledgements handled straight away, not through the queue: only the block's own
    // dispatch lets a waiting message through.
    for (int block = 1; block <= 3; ++block) {
        u.frame->AcknowledgeBlock(nullptr, 0);
        EXPECT_EQ(other.handled, block);
    }
    EXPECT_EQ(u.rx.Blocks().size(), 4u);
}

TEST(LineOrder, IdentificationResetsTheStateOfAnEarlierUpdate) {
    struct Case {
        const char* identifier;
        bool found;
    };
    const Case cases[] = {{"ZZ9Q", false}, {"K37E", true}};
    for (const Case& c : cases) {
        Updater u;
        u.Command(ID_UPDATE);
        u.view.m_bTwoStage = true;
        u.frame->m_bAwaitingCompletion = 1;
        u.rx.Send(ReplyFrame('S', 'S', c.identifier));
        u.Run(1ms);
        EXPECT_FALSE(u.view.m_bTwoStage) << c.identifier;
        EXPECT_EQ(u.frame->m_bAwaitingCompletion, 0) << c.identifier;
        // A completion reply now finds nothing awaited: no completion lines, no box for it.
        const auto lines = u.Lines().size();
        const auto boxes = u.boxes->Boxes().size();
        u.rx.Send(ReplyFrame('S', 'C'));
        u.Run(1ms);
        EXPECT_EQ(u.Lines().size(), lines) << c.identifier;
        EXPECT_EQ(u.boxes->Boxes().size(), boxes) << c.identifier;
        EXPECT_EQ(u.rx.Blocks().size(), c.found ? 1u : 0u) << c.identifier;
    }
}

TEST(LineOrder, ExitAndBreakConnectionReleaseTheWorker) {
    struct Case {
        fw::UINT command;
        bool windowStays;
    };
    const Case cases[] = {{ID_EXIT, false}, {ID_BREAK_CONNECTION, true}};
    for (const Case& c : cases) {
        Updater u;
        ASSERT_EQ(u.rx.liveWorkers, 1) << c.command;
        ASSERT_TRUE(u.Command(c.command)) << c.command;
        EXPECT_EQ(u.rx.liveWorkers, 0) << c.command;
        EXPECT_FALSE(u.frame->IsLinked()) << c.command;
        EXPECT_EQ(u.frame->IsWindow(), c.windowStays) << c.command;
    }
}

} // namespace
} // namespace orvane::ui::testing
