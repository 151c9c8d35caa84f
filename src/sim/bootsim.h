// The simulated receiver boot loader, as a pure protocol core: bytes from the updater and the
// line speed they arrived at go in, the bytes the boot loader answers come out. No clock, no
// descriptors: the runner (receiver.h) adds the line, the delays and the pacing.
//
// What it does, as a boot loader after power-on would:
//  - answers the handshake frame "SS" with an "SS" reply naming its identifier;
//  - looks that identifier up in the catalogue as the updater does (S forms normalised) and so
//    knows which blocks must follow, at which line speed;
//  - checks every block frame "SX" (markers, checksum, CR LF, frame type, the five header
//    numbers, length, data against the image) and acknowledges each good one with "SX";
//  - after the last block of the two-stage entry sends "SC";
//  - records everything it saw in a report.
//
// Thread contract: a BootSim belongs to one thread at a time; the runner guards it with a lock.
#pragma once

#include "firmware/catalogue.h"
#include "firmware/crypto.h"
#include "firmware/firmware_set.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace orvane::bootsim {

struct Config {
    std::string id = "K64U"; // what the boot loader reports: model name, board id or S form
    std::string idSuffix;    // sent after the identifier and a blank when not empty
    bool splitReply = false; // the identification reply as continuation frames + closing frame
    int bannerVersion = -1;  // 0..9: "BootVer: 1.<digit>" CR LF before the first answer
    std::uint32_t answerAfter = 1; // the first handshake answered is the Nth one
    std::uint32_t dropAck = 0;     // the Nth block acknowledgement is not sent (0: none)
    // After every Nth acknowledgement sent another frame follows at once: "ST", "SV" and "SC"
    // in turn ("SC" only for an embedded image, where no completion reply is due). 0: none.
    std::uint32_t extraFrameEvery = 0;
    double corruptRate = 0.0;     // chance that a reply byte is changed
    std::uint64_t seed = 1;       // for corruption and noise
    bool noise = false;           // skippable noise and banner text between replies
    std::uint32_t ackDelayMs = 0; // runner: wait before each block acknowledgement
    // Runner: wait before the two-stage receiver's completion reply (its flash being written).
    std::uint32_t completionDelayMs = 0;
    bool pace = false;              // runner: every byte takes its wire time at the line speed
    bool exitAfterComplete = false; // runner: stop once the transfer is complete
    // Runner, pseudo-terminal only: a symbolic link at this path leads to the line, as
    // /dev/serial/by-id names lead to an adapter, and follows the line when it comes back.
    std::string linkPath;
    // Runner: after the Nth handshake seen (0: never) the line goes away, as the USB port of a
    // receiver switched off goes with it, and comes back after vanishMs as a new line behind
    // the same link, with a boot loader started afresh. Once per run.
    std::uint32_t vanishAfter = 0;
    std::uint32_t vanishMs = 1000;
    // The firmware the receiver expects, block by block (null: what the build carries).
    std::shared_ptr<const firmware::FirmwareSet> firmware;
};

// Replies use a frame type with bit 3 clear: the updater drops the others.
constexpr std::uint8_t kReplyFrameType = 20;
// A payload this long marks a continuation frame; a closing frame carries fewer bytes.
constexpr std::size_t kContinuationBytes = 55;
// Errors kept in the report; later ones are only counted, so a long run of rejected frames
// cannot grow the report without bound.
constexpr std::size_t kMaxErrors = 1000;

struct SegmentReport {
    std::string name; // "PXA271", "FPGA", or "type 25" / "type 24" for an embedded image
    std::uint8_t frameType = 0;
    std::uint32_t blocks = 0; // blocks accepted
    std::uint64_t bytes = 0;  // data bytes accepted (filler past an image's end excluded)
    std::uint32_t expectedBlocks = 0;
    std::uint64_t expectedBytes = 0;
    std::string sha256;         // of the data bytes accepted, in order
    std::string expectedSha256; // of the image's data bytes of this segment
};

struct ErrorEntry {
    std::string kind;        // bad_checksum, address_out_of_sequence, wrong_speed, ...
    std::uint32_t block = 0; // index of the block expected next when it happened
    std::string detail;
};

struct SpeedChange {
    std::uint32_t from = 0;
    std::uint32_t to = 0;
    std::uint32_t afterBlocks = 0; // blocks accepted before the change was seen
};

struct SimReport {
    std::string identifier; // as reported on the line
    std::string normalised; // as the updater's identification turns it
    bool sForm = false;
    bool known = false;            // the catalogue has an entry for it
    int catalogueEntry = 0;        // 1..26, 0 when unknown
    std::string mode;              // "single", "two-stage" or "unknown"
    std::uint32_t initialBaud = 0; // line speed of the first bytes seen
    std::uint32_t listeningBaud = 0;
    std::vector<SpeedChange> speedChanges;
    std::uint32_t handshakesSeen = 0;
    std::uint32_t handshakesAnswered = 0;
    std::uint32_t restarts = 0;    // handshakes answered again in the middle of a transfer
    std::uint32_t lineReturns = 0; // runner: times the line went away and came back
    // Filled by the line runner: from an acknowledgement written to the first byte of the
    // updater's next frame read, in microseconds (the updater's turnaround plus the line's).
    struct Turnaround {
        std::uint64_t samples = 0;
        double medianUs = 0;
        double p99Us = 0;
        double maxUs = 0;
    } turnaround;
    std::uint32_t blocksAccepted = 0;
    std::uint32_t acksSent = 0;
    std::uint32_t expectedBlocks = 0;
    std::vector<SegmentReport> segments;
    bool completed = false;
    std::uint32_t transfersCompleted = 0;
    bool completionSent = false;            // "SC" sent (two-stage entry)
    std::vector<std::uint32_t> droppedAcks; // block indexes whose acknowledgement was dropped
    std::uint32_t extraFrames = 0;          // frames sent right behind an acknowledgement
    std::uint64_t corruptedBytes = 0;
    std::uint64_t noiseBytes = 0;
    std::uint64_t strayBytes = 0; // bytes outside any frame
    std::vector<ErrorEntry> errors;
    std::uint32_t errorsOmitted = 0;

    bool HasError(std::string_view kind) const;
};

// The report as an indented JSON document (UTF-8).
std::string ToJson(const SimReport& report);

// One piece of output: the runner waits the acknowledgement delay before an acknowledgement.
struct Outgoing {
    std::vector<std::uint8_t> bytes;
    bool isAck = false;
    std::uint32_t delayMs = 0; // the runner waits this long before sending it
};

class BootSim {
public:
    explicit BootSim(Config config);
    ~BootSim();
    BootSim(const BootSim&) = delete;
    BootSim& operator=(const BootSim&) = delete;

    // Takes bytes that arrived at `baud` and returns what the boot loader sends back, in order.
    std::vector<Outgoing> Feed(const std::uint8_t* bytes, std::size_t count, std::uint32_t baud);

    // The speed the boot loader listens at in its present state; frames at another speed are
    // garbage to it. On a real port the runner sets the port to this speed.
    std::uint32_t ListeningBaud() const { return m_listeningBaud; }
    bool Completed() const { return m_report.completed; }
    std::uint32_t TransfersCompleted() const { return m_report.transfersCompleted; }
    SimReport Report() const;
    const Config& GetConfig() const { return m_config; }
    // The firmware expected from the next identification on (null: what the build carries).
    void SetFirmware(std::shared_ptr<const firmware::FirmwareSet> firmware);

    // Largest frame the parser holds: 9 bytes around a payload of at most 255.
    static constexpr std::size_t kMaxFrame = 9 + 255;

private:
    struct ExpectedBlock {
        std::uint8_t frameType = 0;
        std::uint32_t addressBefore = 0;
        std::uint32_t address = 0;
        std::uint32_t count = 0;
        std::uint32_t valid = 0; // bytes that belong to the image; the rest is filler
        std::size_t segment = 0;
        std::array<std::uint8_t, firmware::kBlockSize> data{};
    };
    struct Reader;
    enum class ParseState : std::uint8_t { Idle, Second, Body };

    void PutByte(std::uint8_t b, std::uint32_t baud, std::vector<Outgoing>& out);
    void HandleFrame(std::vector<Outgoing>& out);
    void HandleHandshake(std::vector<Outgoing>& out);
    void HandleBlock(std::vector<Outgoing>& out);
    void Identify();
    void PlanExpected();
    void AcceptBlock(std::size_t segment, std::uint8_t frameType, const std::uint8_t* data,
                     std::uint32_t valid);
    void SendAck(std::vector<Outgoing>& out, std::uint32_t blockIndex);
    void Complete(std::vector<Outgoing>& out);
    void AddError(std::string kind, std::string detail);
    void Emit(std::vector<Outgoing>& out, const char code[2], const std::uint8_t* payload,
              std::size_t length, bool isAck);
    void EmitNoise(std::vector<Outgoing>& out);
    std::vector<std::uint8_t> Frame(const char code[2], const std::uint8_t* payload,
                                    std::size_t length);

    Config m_config;
    SimReport m_report;
    std::mt19937_64 m_rng;
    std::uint32_t m_listeningBaud = firmware::kSlowBaud;
    std::uint32_t m_lineBaud = 0;

    // Frame parser. A frame holds at most kMaxFrame bytes, as its length byte says.
    ParseState m_parse = ParseState::Idle;
    std::array<std::uint8_t, kMaxFrame> m_frame{};
    std::size_t m_framePos = 0;
    bool m_frameWrongSpeed = false;
    std::uint32_t m_frameBaud = 0;

    // Transfer state.
    bool m_identified = false; // a handshake has been answered since power-on
    bool m_bannerSent = false;
    const firmware::CatalogueEntry* m_entry = nullptr;
    std::unique_ptr<Reader> m_reader;        // reads the image as the updater does, block by block
    std::optional<ExpectedBlock> m_expected; // the block that must come next
    std::vector<firmware::Sha256Stream> m_hashes; // per segment, data accepted
    std::vector<std::uint8_t> m_lastBlock; // type, header and data of the last accepted block
    // Without a catalogue entry the header numbers are still checked against the sequence.
    std::uint8_t m_genericType = 0;
    std::uint32_t m_genericNext = 0;
    std::size_t m_genericSegment = 0;
    std::uint32_t m_ackCount = 0; // acknowledgements due so far, for the drop option
};

} // namespace orvane::bootsim
