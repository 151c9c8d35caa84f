// A hostile or failing receiver and an impatient operator, on the headless back end: reply
// floods while a box is open, a device lost mid-transfer, interrupting a transfer, a port that
// cannot be opened, a worker closed under its own call.
#include "heap_usage.h"
#include "scripted_link.h"

#include "platform/message.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace orvane::ui::testing {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::u16string>;

// How many replies a flood test feeds: ORVANE_FLOOD_REPLIES, for the benchmark script.
int FloodReplies(int fallback) {
    const char* v = std::getenv("ORVANE_FLOOD_REPLIES");
    return v ? std::max(1, std::atoi(v)) : fallback;
}

// Runs an update to the completion of K64E's image (or to the unknown-identifier box).
void RunTo(Updater& u, const std::string& id) {
    u.rx.autoAck = true;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', id));
    u.Run(10ms);
}

struct Flood {
    const char* name;
    std::string identifier; // the receiver's answer before the flood
    std::vector<Bytes> mix; // replies sent over and over while the first box is open
    int expectedMaxOpen;    // boxes of different kinds may be open together, never more
    std::size_t maxShown;   // boxes shown in all (one closed may open again)
};

// Replies arrive while a box is open: they are decoded and handled, but no second box of the
// same kind opens, the stack does not deepen and the heap does not grow with the flood.
TEST(ReplyFlood, BoxesNeverNestAndNothingGrowsWithTheFlood) {
    // Far beyond the ≈1,300 replies that once overflowed the stack, and quick under the
    // sanitizers; ORVANE_FLOOD_REPLIES=20000 for the figures.
    const int total = FloodReplies(4000);
    const std::vector<Flood> floods = {
        {"unknown identifiers", "ZZZZ", {ReplyFrame('S', 'S', "ZZZZ")}, 1, 1},
        {"acknowledgements after the end", "K64E", {ReplyFrame('S', 'X')}, 1, 1},
        {"identification answers", "K64E", {ReplyFrame('S', 'S', "K64E")}, 1, 1},
        {"every reply",
         "K64E",
         {ReplyFrame('S', 'X'), ReplyFrame('S', 'S', "ZZZZ"), ReplyFrame('S', 'C'),
          ReplyFrame('S', 'V'), ReplyFrame('S', 'T')},
         2,
         // the rest of the notification that opened the second kind opens it again, each
         // time after the last one closed
         1 + 100},
    };
    for (const Flood& f : floods) {
        Updater u;
        int fed = 0;
        int maxOpen = 0;
        const char* stackTop = nullptr;
        std::ptrdiff_t deepest = 0;
        std::size_t heapAtStart = 0;
        std::size_t heapPeak = 0;
        const auto start = std::chrono::steady_clock::now();
        fw::headless::MessageBoxOptions options;
        options.maxOpen = 120s;
        // The box stays open until the whole flood has been handled inside it; the flood is
        // fed from its modal loop, one notification of up to 100 replies per turn.
        options.keepOpenUntil = [&] {
            const char here = 0;
            // The scripted receiver's own record of the frames written is not the updater's
            // memory; nor are its acknowledgements part of the flood.
            u.rx.written.clear();
            u.rx.autoAck = false;
            if (!stackTop) {
                stackTop = &here;
                heapAtStart = HeapInUse();
            }
            deepest = std::max(deepest, stackTop - &here);
            maxOpen = std::max(maxOpen, OpenMessageBoxCount());
            heapPeak = std::max(heapPeak, HeapInUse());
            if (fed < total) {
                Bytes batch;
                for (int i = 0; i < 100 && fed < total; ++i, ++fed) {
                    const Bytes& r = f.mix[static_cast<std::size_t>(fed) % f.mix.size()];
                    batch.insert(batch.end(), r.begin(), r.end());
                }
                u.rx.Send(batch);
                return false;
            }
            return u.app.PendingMessageCount() == 0 && u.rx.pending.empty();
        };
        u.boxes->SetOptions(options);
        RunTo(u, f.identifier);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

        EXPECT_EQ(fed, total) << f.name;
        EXPECT_EQ(maxOpen, f.expectedMaxOpen) << f.name;
        EXPECT_LE(u.boxes->Boxes().size(), f.maxShown) << f.name;
        EXPECT_LE(u.view.m_list.GetCount(), CUpdateView::kMaxLines) << f.name;
        EXPECT_LT(deepest, 256 * 1024) << f.name;                      // bytes of stack
        EXPECT_LT(heapPeak - heapAtStart, 8u * 1024 * 1024) << f.name; // bytes of heap
        EXPECT_EQ(OpenMessageBoxCount(), 0) << f.name;
        std::printf("flood (headless) %s: %d replies in %.2f s (%.0f replies/s), at most %d "
                    "box(es) open, stack %td bytes deep, heap +%zu KiB\n",
                    f.name, total, seconds, total / seconds, maxOpen, deepest,
                    (heapPeak - heapAtStart) / 1024);
    }
}

TEST(ReplyFlood, SurplusAcknowledgementsAreCounted) {
    Updater u;
    RunTo(u, "K64E");
    ASSERT_EQ(u.boxes->Boxes().size(), 1u);
    EXPECT_EQ(u.view.m_nSurplusAcks, 0u);
    u.rx.autoAck = false;
    u.rx.Send(ReplyFrame('S', 'X'));
    u.rx.Send(ReplyFrame('S', 'X'));
    u.Run(1ms);
    EXPECT_EQ(u.view.m_nSurplusAcks, 2u);
}

// A receiver that sends another frame right behind an acknowledgement, the line cutting its
// bytes anywhere: the reply path is entered again from the dispatch after each block, and the
// bytes that notification brings must not overtake the older ones still being decoded.
TEST(ExtraFrames, EveryBlockIsAcknowledgedWhateverFollowsTheAcknowledgement) {
    struct Case {
        char code;       // the extra frame's second letter
        int every;       // after every Nth acknowledgement
        std::size_t cut; // bytes of the extra frame that travel with its acknowledgement
    };
    const std::vector<Case> cases = {{'T', 1, 2}, {'V', 1, 2}, {'C', 1, 2},  {'T', 10, 2},
                                     {'V', 1, 1}, {'T', 1, 5}, {'C', 10, 0}, {'T', 3, 9}};
    for (const Case& c : cases) {
        Updater u;
        Bytes carried; // the part of the last extra frame the line has not delivered yet
        int acks = 0;
        u.rx.onBlock = [&] {
            Bytes out = std::move(carried);
            carried.clear();
            const Bytes ack = ReplyFrame('S', 'X');
            out.insert(out.end(), ack.begin(), ack.end());
            if (++acks % c.every == 0) {
                const Bytes extra = ReplyFrame('S', c.code);
                const auto cut = extra.begin() + static_cast<std::ptrdiff_t>(c.cut);
                out.insert(out.end(), extra.begin(), cut);
                carried.assign(cut, extra.end());
            }
            u.rx.Send(out);
        };
        u.Command(ID_UPDATE);
        u.rx.Send(ReplyFrame('S', 'S', "K64E"));
        u.Run(50ms);
        const std::string name = std::string("S") + c.code + " after every " +
                                 std::to_string(c.every) + ", cut at " + std::to_string(c.cut);
        ASSERT_EQ(u.boxes->Boxes().size(), 1u) << name << ": stalled after " << acks << " blocks";
        EXPECT_EQ(u.boxes->Boxes()[0].text,
                  u"Firmware update complete.\r\nPlease turn off the receiver.")
            << name;
        EXPECT_EQ(static_cast<std::uint32_t>(u.view.m_progress.GetPos()), u.view.m_nImageLen)
            << name;
        EXPECT_EQ(u.view.m_nSurplusAcks, 0u) << name; // none decoded twice
    }
}

// A transfer cut short, whatever cuts it, ends bounded and tells the truth: where it stood, what
// to do, the transfer no longer running, the link still open unless the device went. The wait
// for a two-stage receiver's completion reply is no stall.
TEST(TransferCutShort, EndsWithWhereItStoodAndWhatToDo) {
    enum class Cut { Silence, Loss, UnknownRestart, CompletionWait, SlowAcks };
    struct Case {
        const char* name;
        Cut cut;
        std::string id = "K64E";
        std::chrono::milliseconds limit = CMainFrame::kDefaultStallLimit;
        int yes = fw::IDNO; // the operator's answer to a question
        std::optional<UpdateOutcome> outcome;
        bool linked = true;
        bool handshakeAgain = false;
    };
    const std::u16string advice5 = u"The last block acknowledged was block 5 (Address: 200); the "
                                   u"receiver may be left without firmware: switch it off and on "
                                   u"and update it again.";
    const Case cases[] = {
        {"silence", Cut::Silence, "K64E", CMainFrame::kDefaultStallLimit, fw::IDNO,
         UpdateOutcome::Stalled},
        {"silence, try again", Cut::Silence, "K64E", std::chrono::milliseconds(5000), fw::IDYES,
         UpdateOutcome::Stalled, true, true},
        {"device lost", Cut::Loss, "K64E", CMainFrame::kDefaultStallLimit, fw::IDNO,
         UpdateOutcome::DeviceLost, false},
        {"restarted as unknown", Cut::UnknownRestart, "K64E", CMainFrame::kDefaultStallLimit,
         fw::IDNO, UpdateOutcome::UnknownIdentifier},
        {"completion reply after a minute", Cut::CompletionWait, "K64U",
         CMainFrame::kDefaultStallLimit, fw::IDNO, std::nullopt},
        {"no stall limit", Cut::Silence, "K64E", std::chrono::milliseconds(0), fw::IDNO,
         std::nullopt},
        {"an acknowledgement every 15 s", Cut::SlowAcks, "K64E", CMainFrame::kDefaultStallLimit,
         fw::IDNO, std::nullopt},
    };
    for (const Case& c : cases) {
        Updater u;
        fw::headless::MessageBoxOptions options;
        options.answer = [&](const fw::headless::MessageBoxRecord&) { return c.yes; };
        u.boxes->SetOptions(options);
        u.frame->m_stallLimit = c.limit;
        int acks = 0;
        const int answered = c.cut == Cut::CompletionWait ? 1 << 30 : 5;
        u.rx.onBlock = [&] {
            if (acks++ < answered)
                u.rx.Send(ReplyFrame('S', 'X'));
        };
        u.Command(ID_UPDATE);
        u.rx.Send(ReplyFrame('S', 'S', c.id));
        u.Run(50ms);
        const std::size_t handshakes = u.rx.Count('S');
        if (c.cut == Cut::Loss) {
            u.rx.lost = true;
            u.rx.Send({});
        } else if (c.cut == Cut::UnknownRestart) {
            u.rx.Send(ReplyFrame('S', 'S', "ZZZZ"));
        }
        if (c.cut == Cut::SlowAcks) {
            // Slow but steady: each acknowledgement comes well within the limit.
            for (int i = 0; i < 8; ++i) {
                u.Run(std::chrono::milliseconds(15000));
                u.rx.Send(ReplyFrame('S', 'X'));
            }
        }
        u.Run(std::chrono::milliseconds(c.cut == Cut::SlowAcks ? 10000 : 120000));
        const std::string name = c.name;

        ASSERT_EQ(u.events.ends.size(), c.outcome ? 1u : 0u) << name;
        if (!c.outcome) {
            EXPECT_TRUE(u.boxes->Boxes().empty()) << name;
            EXPECT_TRUE(u.view.IsTransferRunning()) << name; // still waiting, as asked
            continue;
        }
        const UpdateEnd& end = u.events.ends[0];
        EXPECT_EQ(end.outcome, *c.outcome) << name;
        EXPECT_EQ(end.state.blocksSent, 6u) << name;
        EXPECT_EQ(end.state.blocksAcknowledged, 5u) << name;
        EXPECT_NE(end.message.find(advice5), std::u16string::npos) << name;
        const auto lines = u.Lines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), advice5), lines.end()) << name;
        EXPECT_FALSE(u.view.IsTransferRunning()) << name; // closing asks nothing
        EXPECT_EQ(u.frame->IsLinked(), c.linked) << name;
        if (c.cut == Cut::Silence) {
            ASSERT_EQ(u.boxes->Boxes().size(), 1u) << name;
            EXPECT_NE(u.boxes->Boxes()[0].text.find(u"block 6 (Address: 280)"),
                      std::u16string::npos)
                << name;
            EXPECT_NE(u.boxes->Boxes()[0].style & fw::MB_YESNO, 0u) << name;
        }
        // Yes starts the handshake again; otherwise nothing more goes out.
        EXPECT_EQ(u.rx.Count('S') > handshakes, c.handshakeAgain) << name;
    }
}

TEST(DeviceLost, TheDisconnectLineSurvivesTheNextBlock) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K64E"));
    u.Run(1ms);
    ASSERT_EQ(u.LastLine(), u"Address: 0");
    // Two acknowledgements in one notification; the device goes while the first is handled.
    u.rx.lost = true;
    Bytes two = ReplyFrame('S', 'X');
    const Bytes second = ReplyFrame('S', 'X');
    two.insert(two.end(), second.begin(), second.end());
    u.rx.Send(two);
    u.Run(1ms);
    const Lines lines = u.Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[lines.size() - 3], u"COM3: the serial device was disconnected.");
    EXPECT_EQ(lines[lines.size() - 2], u"The last block acknowledged was block 1 (Address: 0); "
                                       u"the receiver may be left without firmware: switch it "
                                       u"off and on and update it again.");
    EXPECT_EQ(lines.back(), u"Address: 100");
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& l) { return l.rfind(u"Address: ", 0) == 0; }),
              2);
}

TEST(DeviceLost, ANewUpdateKeepsItsLinesFromALateAcknowledgement) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "K64E"));
    u.Run(1ms);
    u.boxes->SetOptions({{}, {}, 5000ms, [](const auto&) { return fw::IDYES; }});
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'X')); // the old transfer's acknowledgement, late
    u.Run(1ms);
    const Lines lines = u.Lines();
    EXPECT_EQ(lines[lines.size() - 2], u"Turn on the receiver.");
    EXPECT_EQ(lines.back(), u"Address: 80");
}

struct Interrupt {
    const char* name;
    fw::UINT command; // ID_EXIT, ID_UPDATE, or 0 for the window-close message
    bool transferring;
    int answer;
    bool asked;
    bool happened;
};

TEST(Interruption, ClosingExitAndUpdateAskWhileATransferRuns) {
    const std::vector<Interrupt> cases = {
        {"close, idle", 0, false, fw::IDNO, false, true},
        {"close, running, no", 0, true, fw::IDNO, true, false},
        {"close, running, yes", 0, true, fw::IDYES, true, true},
        {"exit, running, no", ID_EXIT, true, fw::IDNO, true, false},
        {"exit, running, yes", ID_EXIT, true, fw::IDYES, true, true},
        {"update, idle", ID_UPDATE, false, fw::IDNO, false, true},
        {"update, running, no", ID_UPDATE, true, fw::IDNO, true, false},
        {"update, running, yes", ID_UPDATE, true, fw::IDYES, true, true},
    };
    for (const Interrupt& c : cases) {
        Updater u;
        if (c.transferring) {
            u.Command(ID_UPDATE);
            u.rx.Send(ReplyFrame('S', 'S', "K64E"));
            u.Run(1ms);
            ASSERT_TRUE(u.view.IsTransferRunning()) << c.name;
        }
        u.boxes->Clear();
        u.boxes->SetOptions({{}, {}, 5000ms, [&](const auto&) { return c.answer; }});
        const auto linesBefore = u.Lines().size();
        if (c.command != 0)
            u.Command(c.command);
        else
            u.frame->SendMessageW(fw::WM_CLOSE);
        const bool asked = !u.boxes->Boxes().empty();
        EXPECT_EQ(asked, c.asked) << c.name;
        if (asked) {
            const auto& box = u.boxes->Boxes()[0];
            EXPECT_NE(box.text.find(u"the receiver may be left without firmware"),
                      std::u16string::npos)
                << c.name;
            EXPECT_EQ(box.style, fw::MB_YESNO | fw::MB_ICONWARNING | fw::MB_DEFBUTTON2) << c.name;
        }
        const bool happened =
            c.command == ID_UPDATE ? u.Lines().size() > linesBefore : !u.frame->IsWindow();
        EXPECT_EQ(happened, c.happened) << c.name;
    }
}

TEST(Interruption, NothingToAskOnceTheTransferHasEnded) {
    Updater u;
    RunTo(u, "K64E"); // completes
    EXPECT_FALSE(u.view.IsTransferRunning());
    u.boxes->Clear();
    u.frame->SendMessageW(fw::WM_CLOSE);
    EXPECT_TRUE(u.boxes->Boxes().empty());
    EXPECT_FALSE(u.frame->IsWindow());
}

TEST(OpenFailure, ThePortThatDidNotOpenIsNamedInTheList) {
    Updater u(false);
    u.portAvailable = false;
    u.Create();
    EXPECT_EQ(u.Lines(), (Lines{u"COM3: no such device."}));
    // Link fails the same way, and says so again.
    u.Command(ID_LINK);
    EXPECT_EQ(u.Lines().size(), 2u);
    u.portAvailable = true;
    u.Command(ID_LINK);
    EXPECT_EQ(u.Lines().size(), 2u);
    EXPECT_TRUE(u.frame->IsLinked());
}

TEST(Identification, Utf8IdentifiersAreDecodedOnce) {
    Updater u;
    u.Command(ID_UPDATE);
    u.rx.Send(ReplyFrame('S', 'S', "\xC3\x9C\x6E\xC3\xAF"));
    u.Run(1ms);
    EXPECT_EQ(u.view.m_strIdentifier, u"\u00DCn\u00EF");
    ASSERT_EQ(u.boxes->Boxes().size(), 1u);
    EXPECT_EQ(u.boxes->Boxes()[0].text,
              u"Can't find the version of \u00DCn\u00EF, please comfirm again!");
}

// A worker whose speed change reports a failure in a box, like the serial port's.
class BoxingWorker final : public IPortWorker {
public:
    BoxingWorker(ScriptedReceiver& rx, bool& destroyedInCall, int& destroyed)
        : m_inner(rx), m_destroyedInCall(destroyedInCall), m_destroyed(destroyed) {}
    ~BoxingWorker() override {
        m_destroyedInCall = m_destroyedInCall || m_inCall;
        ++m_destroyed;
    }
    bool QueueWrite(const std::uint8_t* b, int n) override { return m_inner.QueueWrite(b, n); }
    bool SetBaudRate(int) override {
        m_inCall = true;
        MessageBoxW(nullptr, u"WARNING:  SetCommState() Failed", u"Application Error",
                    MB_OK | MB_ICONERROR);
        m_inCall = false;
        return false;
    }
    int TakeReceived(std::uint8_t* dest) override { return m_inner.TakeReceived(dest); }
    bool IsLost() const override { return m_inner.IsLost(); }
    bool IsPseudoTerminal() const override { return true; }

private:
    ScriptedWorker m_inner;
    bool& m_destroyedInCall;
    int& m_destroyed;
    bool m_inCall = false;
};

TEST(Reentrancy, AWorkerClosedInsideItsOwnBoxIsDestroyedAfterTheCall) {
    ManualClock clock;
    fw::CWinApp app{clock};
    auto boxes = fw::headless::Install();
    ScriptedReceiver rx;
    bool destroyedInCall = false;
    int destroyed = 0;
    MainFrameServices services;
    services.openPort = [&](IMessageTarget*, const PortRequest& request,
                            OpenFailure&) -> std::unique_ptr<IPortWorker> {
        rx.port = request.number;
        return std::make_unique<BoxingWorker>(rx, destroyedInCall, destroyed);
    };
    services.listPorts = [] { return std::vector<std::u16string>{}; };
    services.storedPortName = [] { return std::u16string(u"COM3"); };
    CMainFrame frame(std::move(services));
    CUpdateView view;
    rx.owner = &frame;
    frame.SetActiveView(&view);
    view.UpdateData(false);
    frame.OnCreate();
    ASSERT_TRUE(frame.IsLinked());
    // While the speed box is open the device goes away and the loss is handled in its loop.
    bool lostSeen = false;
    boxes->SetOptions({{},
                       [&] {
                           if (!rx.lost) {
                               rx.lost = true;
                               rx.Send({});
                           }
                           lostSeen = !frame.IsLinked();
                           return lostSeen;
                       },
                       5000ms,
                       {}});
    frame.ExecuteCommand(ID_UPDATE); // PrepareUpdate switches the speed
    EXPECT_TRUE(lostSeen);
    EXPECT_FALSE(destroyedInCall);
    EXPECT_EQ(destroyed, 1);
    frame.SetActiveView(nullptr);
}

} // namespace
} // namespace orvane::ui::testing
