// The updater's side of the line as the tests play it: frames built by the protocol core
// (EncodeFrame, BlockCommandText, ReadChunk, ApplyEntry) go out, and whatever comes back goes
// through the updater's own reply decoder. So every test also proves that the simulation's
// replies are ones the updater accepts.
#pragma once

#include "firmware/catalogue.h"
#include "firmware/commands.h"
#include "firmware/decoder.h"
#include "firmware/identify.h"
#include "firmware/images.h"
#include "platform/text.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::bootsim::test {

// Counts what the decoder sets off.
class ReplyLog : public firmware::IReplyTarget {
public:
    void StopTimer(unsigned) override {}
    int IdentifyReceiver(const std::uint8_t* payload, std::uint32_t length) override {
        identifications.emplace_back(reinterpret_cast<const char*>(payload), length);
        return 1;
    }
    int AcknowledgeBlock(const std::uint8_t*, std::uint32_t) override {
        ++acks;
        return 1;
    }
    std::int32_t& AwaitingCompletion() override { return awaiting; }
    int FinishUpdate() override {
        ++finished;
        return 1;
    }
    void ShowMessage(std::u16string_view) override {}

    int Events() const { return static_cast<int>(identifications.size()) + acks + finished; }

    std::vector<std::string> identifications;
    int acks = 0;
    int finished = 0;
    std::int32_t awaiting = 0;
};

class RecordingBaud : public firmware::IBaudSwitch {
public:
    void SwitchBaud(std::uint32_t baud) override { switches.push_back(baud); }
    std::vector<std::uint32_t> switches;
};

class UpdaterStub {
public:
    virtual ~UpdaterStub() = default;

    // Writes a frame at the current line speed and hands the answer to the decoder.
    virtual void Send(const std::vector<std::uint8_t>& frame) = 0;

    void Receive(const std::uint8_t* bytes, std::size_t count) {
        raw.insert(raw.end(), bytes, bytes + count);
        for (std::size_t i = 0; i < count; ++i) {
            if (decoder.PutByte(bytes[i]))
                decoder.HandleReply(log);
        }
    }

    void Handshake() { Send(firmware::EncodeFrame(firmware::HandshakeText(), frameType)); }

    // Identification and the start of the update as the updater does them. False when the
    // catalogue lacks the identifier.
    bool Identify() {
        if (log.identifications.empty())
            return false;
        const std::string& payload = log.identifications.back();
        std::string token = firmware::ExtractToken(
            reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
        const bool sForm = firmware::NormaliseIdentifier(token);
        const auto* entry = firmware::FindImage(FromAnsi(token));
        if (!entry)
            return false;
        sel = firmware::CImageSelection{};
        sel.m_nLastRecordType = lastRecordType;
        first = true;
        firmware::ApplyEntry(*entry, sForm, sel, link, firmware::OwnResources());
        if (!link.switches.empty())
            baud = link.switches.back();
        return true;
    }

    // The next block frame, or nullopt when the image is exhausted.
    std::optional<std::vector<std::uint8_t>> NextBlock() {
        std::uint8_t buf[firmware::kBlockSize];
        std::uint32_t before = sel.m_nAddress;
        const std::uint32_t count = sel.ReadChunk(buf, frameType);
        lastRecordType = sel.m_nLastRecordType;
        if (count == 0)
            return std::nullopt;
        if (first) {
            sel.m_nAddress = 0;
            before = 0;
            first = false;
        }
        auto frame = firmware::EncodeFrame(
            firmware::BlockCommandText(before, sel.m_nAddress, buf, count), frameType);
        sel.m_nAddress += count;
        return frame;
    }

    // Sends blocks, each after the previous one's acknowledgement; returns the number sent.
    // Stops early when a block is not acknowledged. The updater finds the image exhausted while
    // it handles the last acknowledgement, before a completion reply behind it is decoded; so
    // the next block is read ahead here.
    int Transfer(int limit = -1) {
        int sent = 0;
        auto frame = limit == 0 ? std::nullopt : NextBlock();
        while (frame) {
            const bool last = sent + 1 == limit;
            auto next = last ? std::nullopt : NextBlock();
            if (!next && !last && sel.m_bTwoStage)
                log.awaiting = 1;
            const int before = log.acks;
            Send(*frame);
            lastSent = *frame;
            ++sent;
            if (log.acks == before)
                break;
            frame = std::move(next);
        }
        return sent;
    }

    firmware::CTolvarenFormat decoder;
    ReplyLog log;
    RecordingBaud link;
    firmware::CImageSelection sel;
    std::uint8_t frameType = firmware::kInitialFrameType;
    std::uint8_t lastRecordType = 0;
    bool first = true;
    std::uint32_t baud = firmware::kSlowBaud;
    std::vector<std::uint8_t> raw; // every byte received
    std::vector<std::uint8_t> lastSent;
};

} // namespace orvane::bootsim::test
