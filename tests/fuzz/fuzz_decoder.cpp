// Fuzzes the reply decoder with arbitrary line bytes, as the main window feeds them: byte by
// byte through PutByte, HandleReply after every true, with nested receive notifications
// feeding more bytes from inside the call-backs (a modal loop or the next-block step would).
//
// The oracle is worked out from the bytes fed, not from the decoder's internals:
// - PutByte is true only on an LF that ends "$$", c1, c2, type, L, L bytes, checksum, CR, LF
//   with a right XOR checksum, bit 3 of the type clear and L within the frame buffer;
// - a reply's call-back gets the payloads of its frames joined, never more than the reply
//   accumulation holds, from memory inside the decoder;
// - "SC" finishes only while the awaiting flag is 1, and the flag is 0 when the box shows;
// - the parser state is always one of its enumerators, Idle after a completed frame.
#include "firmware/decoder.h"
#include "fuzz_check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

namespace {

using orvane::firmware::CTolvarenFormat;
using orvane::firmware::IReplyTarget;

constexpr std::size_t kMaxPayload = CTolvarenFormat::kMaxPayload;
constexpr std::size_t kReplyCapacity = CTolvarenFormat::kReplyCapacity;
constexpr std::size_t kContinuation = CTolvarenFormat::kContinuationLength;
constexpr int kMaxNesting = 3;
constexpr std::u16string_view kCompleteText =
    u"Firmware update complete.\r\nPlease turn off the receiver.";

using orvane::fuzz::Check;

struct Frame {
    std::uint8_t code1 = 0;
    std::uint8_t code2 = 0;
    std::vector<std::uint8_t> payload;
};

// Every frame the fed bytes could end with at this LF. More than one when a frame hides
// inside the payload of a longer one and both checksums happen to be right.
std::vector<Frame> FramesEndingHere(const std::vector<std::uint8_t>& fed) {
    std::vector<Frame> found;
    const std::size_t n = fed.size();
    for (std::size_t len = 0; len <= kMaxPayload; ++len) {
        if (n < len + 9)
            break;
        const std::uint8_t* f = fed.data() + (n - len - 9);
        if (f[0] != '$' || f[1] != '$' || f[5] != len || f[len + 7] != 0x0D || f[len + 8] != 0x0A)
            continue;
        if ((f[4] & 0x08) != 0)
            continue;
        std::uint8_t x = 0;
        for (std::size_t i = 2; i < len + 6; ++i)
            x ^= f[i];
        if (x != f[len + 6])
            continue;
        found.push_back({f[2], f[3], std::vector<std::uint8_t>(f + 6, f + 6 + len)});
    }
    return found;
}

enum class Call { StopTimer, Identify, Acknowledge, Finish, Show };

// What one HandleReply is expected to call, in order. Loose when the frame that was handled
// cannot be told for sure from the bytes (several candidates), or when an earlier loose frame
// leaves the accumulated reply unknown.
struct Expectation {
    bool loose = false;
    std::deque<Call> calls;
    std::vector<std::uint8_t> payload; // for Identify/Acknowledge
    std::vector<Frame> candidates;
};

class Harness final : public IReplyTarget {
public:
    Harness(FuzzedDataProvider& fdp, std::vector<std::uint8_t> stream)
        : m_fdp(fdp), m_stream(std::move(stream)) {
        m_awaiting = PickAwaiting();
    }

    void Run() {
        while (m_pos < m_stream.size())
            Feed(m_stream[m_pos++]);
    }

    // IReplyTarget --------------------------------------------------------------------------
    void StopTimer(unsigned id) override {
        Check(id == orvane::firmware::kHandshakeTimerId, "only the handshake timer is stopped");
        Take(Call::StopTimer);
    }
    int IdentifyReceiver(const std::uint8_t* payload, std::uint32_t length) override {
        CheckPayload(Call::Identify, payload, length);
        Nest();
        return 1;
    }
    int AcknowledgeBlock(const std::uint8_t* payload, std::uint32_t length) override {
        CheckPayload(Call::Acknowledge, payload, length);
        Nest();
        return 1;
    }
    std::int32_t& AwaitingCompletion() override { return m_awaiting; }
    int FinishUpdate() override {
        Check(m_awaiting == 1, "FinishUpdate only while completion is awaited");
        Take(Call::Finish);
        m_finishPending = true;
        return 1;
    }
    void ShowMessage(std::u16string_view text) override {
        Check(text == kCompleteText, "the completion box has its text");
        Check(m_finishPending, "the completion box follows FinishUpdate");
        Check(m_awaiting == 0, "the awaiting flag is cleared before the box opens");
        m_finishPending = false;
        Take(Call::Show);
        Nest(); // the box's modal loop handles receive notifications
    }

private:
    std::int32_t PickAwaiting() {
        // Mostly 0 or 1, sometimes a stray value: only exactly 1 means "awaiting".
        switch (m_fdp.ConsumeIntegralInRange<int>(0, 3)) {
        case 0:
            return 0;
        case 1:
        case 2:
            return 1;
        default:
            return m_fdp.ConsumeIntegral<std::int32_t>();
        }
    }

    void Feed(std::uint8_t b) {
        m_fed.push_back(b);
        const bool complete = m_decoder->PutByte(b);
        const auto state = static_cast<unsigned>(m_decoder->GetState());
        Check(state <= static_cast<unsigned>(CTolvarenFormat::State::BannerTail),
              "the parser state is a valid enumerator");
        if (!complete)
            return;
        Check(b == 0x0A, "a frame completes only on LF");
        Check(m_decoder->GetState() == CTolvarenFormat::State::Idle,
              "the parser is idle after a completed frame");
        auto candidates = FramesEndingHere(m_fed);
        Check(!candidates.empty(), "a completed frame is a well-formed frame of the bytes fed");
        Handle(std::move(candidates));
    }

    // Works out what the reply should set off, then lets the decoder handle it.
    void Handle(std::vector<Frame> candidates) {
        Expectation e;
        bool closing = true;
        for (const auto& c : candidates)
            closing = closing && c.payload.size() < kContinuation;
        if (candidates.size() > 1 || m_uncertain) {
            e.loose = true;
            e.candidates = candidates;
            m_expect.push_back(std::move(e));
            m_uncertain = true; // replies nested in this one are unknown too
            m_decoder->HandleReply(*this);
            m_expect.pop_back();
            // A closing frame always leaves the reply accumulation empty, whatever it was.
            m_uncertain = !closing;
            m_acc.clear();
            m_overflow = false;
            return;
        }

        const bool acts = Expect(candidates.front(), e);
        const std::size_t base = m_base;
        if (acts) {
            // Replies completed inside the call-backs are joined behind this one, from empty.
            m_base += m_acc.size();
            m_acc.clear();
        }
        m_expect.push_back(std::move(e));
        m_decoder->HandleReply(*this);
        Check(m_expect.back().calls.empty(), "every expected call-back was made");
        m_expect.pop_back();
        if (acts) {
            m_base = base;
            m_acc.clear(); // drops a continuation begun inside the call-backs
        }
    }

    // Model of the documented reply rules: payloads of one code are joined until a frame
    // shorter than the continuation length closes the reply; a reply that outgrows the room
    // left in the accumulation sets off nothing. True when the reply is acted upon.
    bool Expect(const Frame& f, Expectation& e) {
        const bool sameCode = f.code1 == m_prev1 && f.code2 == m_prev2;
        m_prev1 = f.code1;
        m_prev2 = f.code2;
        if (!sameCode) {
            m_acc.clear();
            m_overflow = false;
        }
        if (m_overflow || m_base + m_acc.size() + f.payload.size() > kReplyCapacity) {
            m_overflow = true;
            m_acc.clear();
        } else {
            m_acc.insert(m_acc.end(), f.payload.begin(), f.payload.end());
        }
        if (f.payload.size() >= kContinuation)
            return false;
        if (m_overflow) {
            m_overflow = false;
            m_acc.clear();
            return false;
        }
        if (f.code1 != 'S')
            return true;
        switch (f.code2) {
        case 'S':
            e.calls = {Call::StopTimer, Call::Identify};
            e.payload = m_acc;
            break;
        case 'X':
            e.calls = {Call::StopTimer, Call::Acknowledge};
            e.payload = m_acc;
            break;
        case 'V':
            e.calls = {Call::StopTimer};
            break;
        case 'C':
            if (m_awaiting == 1)
                e.calls = {Call::Finish, Call::Show};
            break;
        default:
            break;
        }
        return true;
    }

    void Take(Call call) {
        Check(!m_expect.empty(), "call-backs come only from HandleReply");
        auto& e = m_expect.back();
        if (e.loose)
            return;
        Check(!e.calls.empty() && e.calls.front() == call, "the reply sets off the right call");
        e.calls.pop_front();
    }

    void CheckPayload(Call call, const std::uint8_t* payload, std::uint32_t length) {
        Check(length <= kReplyCapacity, "a reply payload fits the reply accumulation");
        const auto* self = reinterpret_cast<const std::uint8_t*>(m_decoder.get());
        Check(length == 0 || (payload >= self && payload + length <= self + sizeof *m_decoder),
              "the payload lies inside the decoder");
        auto& e = m_expect.back();
        const bool loose = e.loose;
        Take(call);
        if (!loose) {
            Check(length == e.payload.size() &&
                      (length == 0 || std::memcmp(payload, e.payload.data(), length) == 0),
                  "the payload is the joined payloads of the reply");
            return;
        }
        // Loose: at least it ends with the payload of one of the frames that could have closed
        // the reply.
        bool matches = false;
        for (const auto& c : e.candidates) {
            matches = matches || c.payload.empty() ||
                      (c.payload.size() <= length &&
                       std::memcmp(payload + length - c.payload.size(), c.payload.data(),
                                   c.payload.size()) == 0);
        }
        Check(matches, "the payload ends with the closing frame's payload");
    }

    // A receive notification handled inside a call-back: a few of the next bytes go to the
    // same decoder at once, before the outer notification goes on.
    void Nest() {
        if (m_depth >= kMaxNesting || m_fdp.remaining_bytes() == 0)
            return;
        const std::size_t count = m_fdp.ConsumeIntegralInRange<std::size_t>(0, 24);
        m_awaiting = PickAwaiting(); // the update view may have armed the completion meanwhile
        ++m_depth;
        for (std::size_t i = 0; i < count && m_pos < m_stream.size(); ++i)
            Feed(m_stream[m_pos++]);
        --m_depth;
    }

    FuzzedDataProvider& m_fdp;
    std::vector<std::uint8_t> m_stream;
    std::size_t m_pos = 0;
    int m_depth = 0;
    // On the heap so ASan sees the exact bounds of the decoder's buffers.
    std::unique_ptr<CTolvarenFormat> m_decoder = std::make_unique<CTolvarenFormat>();
    std::int32_t m_awaiting = 0;
    bool m_finishPending = false;
    std::vector<std::uint8_t> m_fed;
    std::vector<Expectation> m_expect;
    // Model of the reply accumulation.
    std::vector<std::uint8_t> m_acc;
    std::size_t m_base = 0; // room taken by replies whose call-backs are running
    bool m_overflow = false;
    bool m_uncertain = false;
    std::uint8_t m_prev1 = 0;
    std::uint8_t m_prev2 = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every input byte goes to the line, so seeds made of real frames are fed unchanged; the
    // harness's choices (nesting, flag values) are read from the end of the same input.
    FuzzedDataProvider choices(data, size);
    Harness harness(choices, std::vector<std::uint8_t>(data, data + size));
    harness.Run();
    return 0;
}
