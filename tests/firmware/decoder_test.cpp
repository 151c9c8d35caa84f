#include "firmware/decoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane::firmware {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Records every call HandleReply makes, as one line each.
struct FakeWindow : IReplyTarget {
    std::vector<std::string> calls;
    std::int32_t awaiting = 0;
    void StopTimer(unsigned id) override { calls.push_back("stop " + std::to_string(id)); }
    int IdentifyReceiver(const std::uint8_t* p, std::uint32_t n) override {
        calls.push_back("identify " + std::string(p, p + n));
        return 1;
    }
    int AcknowledgeBlock(const std::uint8_t*, std::uint32_t n) override {
        calls.push_back("ack " + std::to_string(n));
        return 1;
    }
    std::int32_t& AwaitingCompletion() override { return awaiting; }
    int FinishUpdate() override {
        calls.push_back("finish");
        return 1;
    }
    void ShowMessage(std::u16string_view text) override {
        calls.push_back("box " + std::string(text.begin(), text.end()) +
                        " flag=" + std::to_string(awaiting));
    }
};

Bytes Frame(char c1, char c2, std::uint8_t type, const Bytes& payload) {
    Bytes f{'$',
            '$',
            static_cast<std::uint8_t>(c1),
            static_cast<std::uint8_t>(c2),
            type,
            static_cast<std::uint8_t>(payload.size())};
    f.insert(f.end(), payload.begin(), payload.end());
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < f.size(); ++i)
        x ^= f[i];
    f.push_back(x);
    f.push_back('\r');
    f.push_back('\n');
    return f;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Feeds the stream as the main window does: HandleReply right after each completed frame.
std::vector<std::string> Feed(CTolvarenFormat& d, FakeWindow& w, const Bytes& stream) {
    for (std::uint8_t b : stream) {
        if (d.PutByte(b))
            d.HandleReply(w);
    }
    return w.calls;
}

std::vector<std::string> Decode(const Bytes& stream, std::int32_t awaiting = 0) {
    CTolvarenFormat d;
    FakeWindow w;
    w.awaiting = awaiting;
    return Feed(d, w, stream);
}

using Calls = std::vector<std::string>;

TEST(ReplyDecoder, PutByteIsTrueOnlyOnTheClosingLineFeed) {
    const Bytes sx = {'$', '$', 'S', 'X', 20, 0, 31, '\r', '\n'};
    CTolvarenFormat d;
    for (std::size_t i = 0; i < sx.size(); ++i)
        EXPECT_EQ(d.PutByte(sx[i]), i == sx.size() - 1) << i;
    FakeWindow w;
    d.HandleReply(w);
    EXPECT_EQ(w.calls, (Calls{"stop 2", "ack 0"}));
}

TEST(ReplyDecoder, DroppedFrames) {
    struct Case {
        const char* what;
        Bytes stream;
    };
    Bytes badType = {'$', '$', 'S', 'X', 24, 0, 19, '\r', '\n'}; // bit 3 set, checksum right
    std::vector<Case> cases = {
        {"frame type with bit 3 set", badType},
        {"missing CR", {'$', '$', 'S', 'X', 20, 0, 31, '\n'}},
        {"wrong LF", {'$', '$', 'S', 'X', 20, 0, 31, '\r', '\r'}},
        {"length above the buffer",
         Cat({{'$', '$', 'S', 'S', 20, 57}, Bytes(57, 'A'), {0, 13, 10}})},
        {"banner then its digit and CR LF", Text("BootVer: 1.2\r\n")},
        {"second marker missing", {'$', 'S', 'X', 20, 0, 31, '\r', '\n'}},
    };
    // Any byte from the first code letter to the last payload byte changed breaks the sum.
    const Bytes good = Frame('S', 'S', 20, Text("K37E"));
    for (std::size_t i = 2; i < good.size() - 3; ++i) {
        Bytes bad = good;
        bad[i] ^= 0x01;
        cases.push_back({"changed byte", bad});
    }
    for (const auto& c : cases)
        EXPECT_EQ(Decode(c.stream), Calls{}) << c.what;
}

TEST(ReplyDecoder, RecoversAfterADroppedFrame) {
    const Calls acked = {"stop 2", "ack 0"};
    const Bytes sx = Frame('S', 'X', 20, {});
    struct Case {
        const char* what;
        Bytes before;
        Calls calls;
    };
    const Case cases[] = {
        {"missing CR", {'$', '$', 'S', 'X', 20, 0, 31, '\n'}, acked},
        {"oversized length", {'$', '$', 'S', 'S', 20, 200}, acked},
        {"banner", Text("BootVer: 1.3\r\n"), acked},
        {"noise", Text("hello\r\nB\r\n"), acked},
        // A "B" right before a frame starts a banner match that eats the first "$".
        {"B before a frame", Text("B"), {}},
        // "$" followed by anything but "$" consumes that byte, and only that byte.
        {"lone marker", Text("$\r\n"), acked},
        {"lone marker and a letter", Text("$x"), acked},
        // The consumed byte is not looked at again: a "B" there starts no banner match.
        {"lone marker and a B", Text("$B"), acked},
        // One more marker right before a frame makes three: the third becomes code letter 1
        // and the frame is misread.
        {"three markers", Text("$"), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decode(Cat({c.before, sx})), c.calls) << c.what;
}

TEST(ReplyDecoder, ContinuationFramesJoin) {
    const Bytes first(55, 'a');
    struct Case {
        const char* what;
        Bytes stream;
        Calls calls;
    };
    const Case cases[] = {
        {"SS 55 + SS 3 identify once with 58 bytes",
         Cat({Frame('S', 'S', 20, first), Frame('S', 'S', 20, Text("xyz"))}),
         {"stop 2", "identify " + std::string(55, 'a') + "xyz"}},
        {"SS 55 + SX 0 discards the unfinished reply",
         Cat({Frame('S', 'S', 20, first), Frame('S', 'X', 20, {})}),
         {"stop 2", "ack 0"}},
        {"two closing SX frames each with their own payload",
         Cat({Frame('S', 'X', 20, Text("ab")), Frame('S', 'X', 20, Text("c"))}),
         {"stop 2", "ack 2", "stop 2", "ack 1"}},
        {"SV stops the timer only", Frame('S', 'V', 20, Text("1")), {"stop 2"}},
        {"ST does nothing", Frame('S', 'T', 20, Text("1")), {}},
        {"unknown code does nothing", Frame('Q', 'Q', 20, {}), {}},
        {"lower case codes are not replies", Frame('s', 'x', 20, {}), {}},
        {"payload may hold markers",
         Frame('S', 'S', 4, Text("$$B\r\n")),
         {"stop 2", "identify $$B\r\n"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Decode(c.stream), c.calls) << c.what;
}

TEST(ReplyDecoder, CompletionOnlyWhileAwaited) {
    const Bytes sc = Frame('S', 'C', 20, {});
    EXPECT_EQ(Decode(sc, 0), Calls{});
    const std::string box = "box Firmware update complete.\r\nPlease turn off the receiver. flag=0";
    EXPECT_EQ(Decode(Cat({sc, sc}), 1), (Calls{"finish", box}));
}

TEST(ReplyDecoder, OversizedReplyIsDiscardedWhole) {
    Bytes stream;
    for (int i = 0; i < 546; ++i) // 546 * 55 = 30,030 bytes: one frame too many
        stream = Cat({stream, Frame('S', 'S', 20, Bytes(55, 'k'))});
    stream = Cat({stream, Frame('S', 'S', 20, Text("K37E"))});
    EXPECT_EQ(Decode(stream), Calls{});
    // The next reply is decoded normally.
    EXPECT_EQ(Decode(Cat({stream, Frame('S', 'S', 20, Text("K37E"))})),
              (Calls{"stop 2", "identify K37E"}));

    Bytes fits;
    for (int i = 0; i < 545; ++i) // 29,975 bytes plus a closing 25 fit exactly
        fits = Cat({fits, Frame('S', 'S', 20, Bytes(55, 'k'))});
    fits = Cat({fits, Frame('S', 'S', 20, Bytes(25, 'z'))});
    const auto calls = Decode(fits);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].size(), std::string("identify ").size() + 30000);
}

TEST(ReplyDecoder, StreamCutAtEveryPositionDecodesTheSame) {
    const Bytes stream = Cat({Text("BootVer: 1.4\r\n"), Frame('S', 'S', 20, Text(" K64U more")),
                              Bytes{0, 0xFF, ' ', 'j'}, Frame('S', 'X', 21, Bytes(55, '$')),
                              Frame('S', 'X', 21, Text("ok")), Frame('S', 'C', 0, {})});
    const Calls whole = Decode(stream, 1);
    ASSERT_EQ(whole.size(), 6u);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        CTolvarenFormat d;
        FakeWindow w;
        w.awaiting = 1;
        Feed(d, w, Bytes(stream.begin(), stream.begin() + static_cast<long>(cut)));
        Feed(d, w, Bytes(stream.begin() + static_cast<long>(cut), stream.end()));
        EXPECT_EQ(w.calls, whole) << cut;
    }
}

// A receive notification handled inside a call-back (a message box's modal loop, the
// next-block step) feeds the same decoder while the outer reply is being handled.
struct NestingWindow : FakeWindow {
    CTolvarenFormat* decoder = nullptr;
    Bytes nested; // fed from inside the first identify or acknowledge call-back
    std::vector<std::string> payloadsAfterNesting;

    void Nest(const std::uint8_t* p, std::uint32_t n) {
        if (nested.empty())
            return;
        const Bytes bytes = std::move(nested);
        nested.clear();
        Feed(*decoder, *this, bytes);
        payloadsAfterNesting.emplace_back(p, p + n);
    }
    int IdentifyReceiver(const std::uint8_t* p, std::uint32_t n) override {
        FakeWindow::IdentifyReceiver(p, n);
        Nest(p, n);
        return 1;
    }
    int AcknowledgeBlock(const std::uint8_t* p, std::uint32_t n) override {
        calls.push_back("ack " + std::string(p, p + n));
        Nest(p, n);
        return 1;
    }
};

TEST(ReplyDecoder, NestedReplyCarriesOnlyItsOwnPayload) {
    struct Case {
        const char* what;
        Bytes outer, nested;
        Calls calls;
        std::string outerAfter;
    } cases[] = {
        {"identification inside identification",
         Frame('S', 'S', 20, Text("K37E")),
         Frame('S', 'S', 20, Text("1122")),
         {"stop 2", "identify K37E", "stop 2", "identify 1122"},
         "K37E"},
        {"acknowledgement inside acknowledgement",
         Frame('S', 'X', 20, Text("ok")),
         Frame('S', 'X', 20, Text("zz")),
         {"stop 2", "ack ok", "stop 2", "ack zz"},
         "ok"},
        {"other code inside",
         Frame('S', 'X', 20, Text("ok")),
         Frame('S', 'S', 20, Text("1125")),
         {"stop 2", "ack ok", "stop 2", "identify 1125"},
         "ok"},
        {"continued reply inside",
         Frame('S', 'S', 20, Text("K37E")),
         Cat({Frame('S', 'S', 20, Bytes(55, 'k')), Frame('S', 'S', 20, Text("9"))}),
         {"stop 2", "identify K37E", "stop 2", "identify " + std::string(55, 'k') + "9"},
         "K37E"},
    };
    for (const auto& c : cases) {
        CTolvarenFormat d;
        NestingWindow w;
        w.decoder = &d;
        w.nested = c.nested;
        Feed(d, w, c.outer);
        EXPECT_EQ(w.calls, c.calls) << c.what;
        // The outer call-back still reads its own bytes once the nested reply is done.
        EXPECT_EQ(w.payloadsAfterNesting, std::vector<std::string>{c.outerAfter}) << c.what;
    }
}

TEST(ReplyDecoder, ContinuationBegunInsideACallBackIsDropped) {
    CTolvarenFormat d;
    NestingWindow w;
    w.decoder = &d;
    w.nested = Frame('S', 'X', 20, Bytes(55, 'c'));
    Feed(d, w, Cat({Frame('S', 'X', 20, Text("ok")), Frame('S', 'X', 20, Text("zz"))}));
    EXPECT_EQ(w.calls, (Calls{"stop 2", "ack ok", "stop 2", "ack zz"}));
}

} // namespace
} // namespace orvane::firmware
