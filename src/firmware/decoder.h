// The reply decoder: turns the bytes from the receiver into boot-loader replies and sets
// off what each reply means for the transfer.
//
// Thread contract: user-interface thread only. HandleReply may be entered again while it
// runs (the operations it calls dispatch window messages); its payload is copied into the
// reply accumulation before it calls out, and a reply completed meanwhile is joined behind
// it, so neither reply sees or overwrites the other's bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace orvane::firmware {

// What HandleReply needs from the main window. Any object offering these can stand in.
class IReplyTarget {
public:
    virtual ~IReplyTarget() = default;
    // Stops the window's timer with this id (the handshake timer is id 2).
    virtual void StopTimer(unsigned id) = 0;
    virtual int IdentifyReceiver(const std::uint8_t* payload, std::uint32_t length) = 0;
    virtual int AcknowledgeBlock(const std::uint8_t* payload, std::uint32_t length) = 0;
    // m_bAwaitingCompletion: 1 while the two-stage transfer waits for its completion reply.
    virtual std::int32_t& AwaitingCompletion() = 0;
    virtual int FinishUpdate() = 0;
    // A modal message box without caption (the application's title is shown), OK button.
    virtual void ShowMessage(std::u16string_view text) = 0;
};

constexpr unsigned kHandshakeTimerId = 2;

class CTolvarenFormat {
public:
    enum class State : std::uint8_t {
        Idle,
        SecondMarker,
        Code1,
        Code2,
        Type,
        Length,
        Payload,
        Checksum,
        CarriageReturn,
        LineFeed,
        Banner, // matching "BootVer: 1." between frames; m_nBannerPos says how far
        BannerTail,
    };

    static constexpr std::size_t kFrameBufferSize = 65;
    static constexpr std::size_t kMaxPayload = kFrameBufferSize - 9; // 56
    static constexpr std::size_t kReplyCapacity = 30000;
    // A payload of this many bytes or more marks a continuation frame.
    static constexpr std::size_t kContinuationLength = 55;

    CTolvarenFormat() = default;
    virtual ~CTolvarenFormat() = default;

    // True exactly when `byte` is the LF that ends a frame whose checksum is right and whose
    // frame type byte has bit 3 clear. Never calls anybody.
    bool PutByte(std::uint8_t byte);

    // Handles the frame the last PutByte completed (call only right after it returned true).
    void HandleReply(IReplyTarget& wnd);

    State GetState() const { return m_state; }

private:
    void Store(std::uint8_t b) {
        // The length byte is checked against the buffer before any payload is stored, so
        // this never runs past it; the test keeps it that way.
        if (m_nFramePos < m_frame.size())
            m_frame[m_nFramePos++] = b;
    }
    bool ChecksumRight() const;

    State m_state = State::Idle;
    std::uint8_t m_code1 = 0;
    std::uint8_t m_code2 = 0;
    std::uint8_t m_frameType = 0;
    std::uint16_t m_nPayloadLen = 0;
    std::array<std::uint8_t, kFrameBufferSize> m_frame{};
    std::size_t m_nFramePos = 0;
    std::uint16_t m_nAccumulated = 0;
    // Where the reply being joined starts in m_reply: 0, except while a completed reply's
    // call-backs run, when it lies just behind that reply's payload.
    std::size_t m_nReplyBase = 0;
    std::array<std::uint8_t, kReplyCapacity> m_reply{};
    std::uint8_t m_prevCode1 = 0;
    std::uint8_t m_prevCode2 = 0;
    std::size_t m_nBannerPos = 0;
    // Set when a reply outgrew the accumulation: the rest of it is dropped, and its closing
    // frame sets off nothing, since acting on a cut payload would be acting on a wrong one.
    bool m_bOverflow = false;
};

} // namespace orvane::firmware
