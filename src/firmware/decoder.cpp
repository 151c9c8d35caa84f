#include "firmware/decoder.h"

#include "firmware/update_texts.h"

#include <cstring>

namespace orvane::firmware {

namespace {
constexpr std::string_view kBanner = "BootVer: 1.";
}

bool CTolvarenFormat::ChecksumRight() const {
    std::uint8_t x = m_code1 ^ m_code2 ^ m_frameType ^ static_cast<std::uint8_t>(m_nPayloadLen);
    for (std::size_t i = 0; i < m_nPayloadLen; ++i)
        x ^= m_frame[6 + i];
    return x == m_frame[6 + m_nPayloadLen];
}

bool CTolvarenFormat::PutByte(std::uint8_t b) {
    switch (m_state) {
    case State::Idle:
        if (b == '$') {
            m_nFramePos = 0;
            m_nPayloadLen = 0;
            Store(b);
            m_state = State::SecondMarker;
        } else if (b == 'B') {
            m_nBannerPos = 1;
            m_state = State::Banner;
        }
        return false;
    case State::SecondMarker:
        if (b == '$') {
            Store(b);
            m_state = State::Code1;
        } else {
            m_state = State::Idle; // the byte that broke the frame is consumed
        }
        return false;
    case State::Code1:
        Store(b);
        m_code1 = b;
        m_state = State::Code2;
        return false;
    case State::Code2:
        Store(b);
        m_code2 = b;
        m_state = State::Type;
        return false;
    case State::Type:
        Store(b);
        m_frameType = b;
        m_state = State::Length;
        return false;
    case State::Length:
        Store(b);
        m_nPayloadLen = b;
        if (m_nPayloadLen > kMaxPayload) {
            // Longer than the frame buffer holds: no reply of the boot loader is, so the
            // frame is dropped here rather than stored past the buffer or waited for.
            m_state = State::Idle;
        } else {
            m_state = m_nPayloadLen != 0 ? State::Payload : State::Checksum;
        }
        return false;
    case State::Payload:
        Store(b);
        if (m_nFramePos == static_cast<std::size_t>(m_nPayloadLen) + 6)
            m_state = State::Checksum;
        return false;
    case State::Checksum:
        Store(b);
        m_state = State::CarriageReturn;
        return false;
    case State::CarriageReturn:
        Store(b);
        m_state = b == 0x0D ? State::LineFeed : State::Idle;
        return false;
    case State::LineFeed:
        Store(b);
        m_state = State::Idle;
        return b == 0x0A && ChecksumRight() && (m_frameType & 0x08) == 0;
    case State::Banner:
        if (b == static_cast<std::uint8_t>(kBanner[m_nBannerPos])) {
            if (++m_nBannerPos == kBanner.size())
                m_state = State::BannerTail;
        } else {
            m_state = State::Idle; // the byte that broke the match is consumed
        }
        return false;
    case State::BannerTail:
        m_state = State::Idle; // the version digit after "BootVer: 1."
        return false;
    }
    return false;
}

void CTolvarenFormat::HandleReply(IReplyTarget& wnd) {
    const bool sameCode = m_code1 == m_prevCode1 && m_code2 == m_prevCode2;
    m_prevCode1 = m_code1;
    m_prevCode2 = m_code2;
    if (!sameCode) {
        m_nAccumulated = 0;
        m_bOverflow = false;
    }

    // A reply handled inside an outer one's call-back is joined after the outer's payload,
    // which the outer call-back may still be reading; it gets the room that payload leaves.
    const std::size_t length = m_nPayloadLen;
    if (m_bOverflow || m_nReplyBase + m_nAccumulated + length > kReplyCapacity) {
        m_bOverflow = true;
        m_nAccumulated = 0;
    } else if (length > 0) {
        std::memcpy(m_reply.data() + m_nReplyBase + m_nAccumulated, m_frame.data() + 6, length);
        m_nAccumulated = static_cast<std::uint16_t>(m_nAccumulated + length);
    }
    if (length >= kContinuationLength)
        return;

    if (m_bOverflow) {
        m_bOverflow = false;
        m_nAccumulated = 0;
        return;
    }

    // The reply is complete: a reply handled while its call-backs run (they dispatch window
    // messages) starts empty, just behind this one, instead of being joined to it.
    const std::size_t base = m_nReplyBase;
    const std::uint32_t accumulated = m_nAccumulated;
    const std::uint8_t* payload = m_reply.data() + base;
    m_nAccumulated = 0;
    m_nReplyBase = base + accumulated;
    if (m_code1 == 'S') {
        switch (m_code2) {
        case 'S':
            wnd.StopTimer(kHandshakeTimerId);
            wnd.IdentifyReceiver(payload, accumulated);
            break;
        case 'X':
            wnd.StopTimer(kHandshakeTimerId);
            wnd.AcknowledgeBlock(payload, accumulated);
            break;
        case 'V':
            wnd.StopTimer(kHandshakeTimerId);
            break;
        case 'C':
            if (wnd.AwaitingCompletion() == 1) {
                wnd.FinishUpdate();
                wnd.AwaitingCompletion() = 0;
                wnd.ShowMessage(Texts().completeBox);
            }
            break;
        default: // "ST" and codes we do not know: nothing to do
            break;
        }
    }
    m_nReplyBase = base;
    // Drops a continuation reply that a call-back's nested notification began.
    m_nAccumulated = 0;
}

} // namespace orvane::firmware
