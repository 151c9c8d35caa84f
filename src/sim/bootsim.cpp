#include "sim/bootsim.h"

#include "firmware/commands.h"
#include "firmware/identify.h"
#include "firmware/images.h"
#include "platform/text.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>

namespace orvane::bootsim {

using firmware::kBlockSize;

namespace {

constexpr char kBanner[] = "BootVer: 1.";

// Applying an entry switches the link's speed; the simulation only needs to know whether it
// would, which the listening speed already follows from the entry's rule.
class NoBaudSwitch : public firmware::IBaudSwitch {
public:
    void SwitchBaud(std::uint32_t) override {}
};

std::string HeaderText(const std::uint8_t* h) {
    std::string s;
    for (int i = 0; i < 5; ++i) {
        if (i)
            s += ',';
        s += std::to_string(h[i]);
    }
    return s;
}

} // namespace

bool SimReport::HasError(std::string_view kind) const {
    return std::any_of(errors.begin(), errors.end(),
                       [&](const ErrorEntry& e) { return e.kind == kind; });
}

// Reads an image exactly as the updater's chunk reader and start of update do, so the block
// sequence the simulation expects cannot drift from the one the updater produces.
struct BootSim::Reader {
    firmware::CImageSelection sel;
    std::uint8_t frameType = firmware::kInitialFrameType;
    bool first = true;
    int segment = -1;
    std::uint8_t segmentType = 0;

    std::optional<ExpectedBlock> Next() {
        ExpectedBlock b;
        std::uint8_t buf[kBlockSize];
        const std::uint32_t before = first ? 0 : sel.m_nAddress;
        const std::uint32_t count = sel.ReadChunk(buf, frameType);
        if (count == 0)
            return std::nullopt;
        if (first) {
            // The first block's address is set to 0 after the read, whatever it held.
            sel.m_nAddress = 0;
            first = false;
        }
        std::memcpy(b.data.data(), buf, count);
        b.frameType = frameType;
        b.addressBefore = before;
        b.address = sel.m_nAddress;
        b.count = count;
        b.valid = count;
        if (sel.m_bTwoStage) {
            // A resource image's last block is filled up past its end; those bytes are not
            // the image's and are not compared.
            const std::uint32_t start = sel.m_nReadPos - kBlockSize;
            b.valid = sel.m_nImageLen > start ? std::min(kBlockSize, sel.m_nImageLen - start) : 0;
        }
        if (segment < 0 || frameType != segmentType) {
            ++segment;
            segmentType = frameType;
        }
        b.segment = static_cast<std::size_t>(segment);
        return b;
    }

    void Advance(std::uint32_t count) { sel.m_nAddress += count; }
};

BootSim::BootSim(Config config) : m_config(std::move(config)), m_rng(m_config.seed) {
    if (!m_config.firmware)
        m_config.firmware = firmware::BuiltInFirmware();
    m_report.identifier = m_config.id;
    m_report.listeningBaud = m_listeningBaud;
    m_report.mode = "unknown";
}

BootSim::~BootSim() = default;

void BootSim::SetFirmware(std::shared_ptr<const firmware::FirmwareSet> firmware) {
    m_config.firmware = firmware ? std::move(firmware) : firmware::BuiltInFirmware();
}

void BootSim::AddError(std::string kind, std::string detail) {
    if (m_report.errors.size() >= kMaxErrors) {
        ++m_report.errorsOmitted;
        return;
    }
    m_report.errors.push_back({std::move(kind), m_report.blocksAccepted, std::move(detail)});
}

std::vector<Outgoing> BootSim::Feed(const std::uint8_t* bytes, std::size_t count,
                                    std::uint32_t baud) {
    std::vector<Outgoing> out;
    if (count == 0)
        return out;
    if (baud != m_lineBaud) {
        if (m_lineBaud == 0)
            m_report.initialBaud = baud;
        else
            m_report.speedChanges.push_back({m_lineBaud, baud, m_report.blocksAccepted});
        m_lineBaud = baud;
    }
    for (std::size_t i = 0; i < count; ++i)
        PutByte(bytes[i], baud, out);
    return out;
}

void BootSim::PutByte(std::uint8_t b, std::uint32_t baud, std::vector<Outgoing>& out) {
    const bool wrongSpeed = baud != m_listeningBaud;
    switch (m_parse) {
    case ParseState::Idle:
        if (b == '$') {
            m_frame[0] = b;
            m_framePos = 1;
            m_frameWrongSpeed = wrongSpeed;
            m_frameBaud = baud;
            m_parse = ParseState::Second;
        } else {
            ++m_report.strayBytes;
        }
        return;
    case ParseState::Second:
        if (b == '$') {
            m_frame[1] = b;
            m_framePos = 2;
            m_frameWrongSpeed = m_frameWrongSpeed || wrongSpeed;
            m_parse = ParseState::Body;
        } else {
            m_report.strayBytes += 2;
            m_parse = ParseState::Idle;
        }
        return;
    case ParseState::Body:
        // The length byte is at most 255, so a frame never holds more than kMaxFrame bytes:
        // the position is checked against the frame's own end before every store.
        m_frame[m_framePos++] = b;
        m_frameWrongSpeed = m_frameWrongSpeed || wrongSpeed;
        if (m_framePos >= 6 && m_framePos == static_cast<std::size_t>(m_frame[5]) + 9) {
            m_parse = ParseState::Idle;
            HandleFrame(out);
        }
        return;
    }
}

void BootSim::HandleFrame(std::vector<Outgoing>& out) {
    const std::size_t n = m_frame[5];
    const std::string code{static_cast<char>(m_frame[2]), static_cast<char>(m_frame[3])};
    if (m_frameWrongSpeed) {
        // The receiver listens at one speed; at another, all it sees is garbage.
        AddError("wrong_speed", code + " frame at " + std::to_string(m_frameBaud) +
                                    " baud while listening at " + std::to_string(m_listeningBaud));
        return;
    }
    const std::uint8_t sum = firmware::XorChecksum(m_frame.data() + 2, n + 4);
    if (sum != m_frame[6 + n]) {
        AddError("bad_checksum", code + " frame: checksum " + std::to_string(m_frame[6 + n]) +
                                     ", computed " + std::to_string(sum));
        return;
    }
    if (m_frame[7 + n] != 0x0D || m_frame[8 + n] != 0x0A) {
        AddError("bad_terminator", code + " frame not ended by CR LF");
        return;
    }
    if (code == "SS")
        HandleHandshake(out);
    else if (code == "SX")
        HandleBlock(out);
    else
        AddError("unknown_command", code);
}

void BootSim::HandleHandshake(std::vector<Outgoing>& out) {
    ++m_report.handshakesSeen;
    if (m_frame[5] != 2 || m_frame[6] != firmware::kHandshakeStamp[0] ||
        m_frame[7] != firmware::kHandshakeStamp[1])
        AddError("unexpected_handshake", "payload differs from the handshake stamp");
    if (m_report.handshakesSeen < m_config.answerAfter)
        return; // still switched off
    if (m_config.bannerVersion >= 0 && !m_bannerSent) {
        // Power-on: the boot loader announces itself before anything else.
        m_bannerSent = true;
        std::string banner = kBanner;
        banner += static_cast<char>('0' + m_config.bannerVersion % 10);
        banner += "\r\n";
        out.push_back({std::vector<std::uint8_t>(banner.begin(), banner.end()), false});
    }
    if (m_identified && m_report.blocksAccepted > 0)
        ++m_report.restarts;
    ++m_report.handshakesAnswered;

    std::string payload = m_config.id;
    if (!m_config.idSuffix.empty())
        payload += ' ' + m_config.idSuffix;
    if (m_config.splitReply && payload.size() <= kContinuationBytes)
        payload.resize(kContinuationBytes + 1, ' '); // identification skips what follows a blank
    // Continuation frames carry 55 bytes; the closing frame the rest, at most 54.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.data());
    std::size_t pos = 0;
    while (payload.size() - pos >= kContinuationBytes) {
        Emit(out, "SS", bytes + pos, kContinuationBytes, false);
        pos += kContinuationBytes;
    }
    Emit(out, "SS", bytes + pos, payload.size() - pos, false);
    Identify();
}

void BootSim::Identify() {
    m_identified = true;
    m_report.completed = false;
    m_report.completionSent = false;
    m_report.blocksAccepted = 0;
    m_lastBlock.clear();
    m_expected.reset();
    m_hashes.clear();
    m_report.segments.clear();
    m_genericType = 0;
    m_genericNext = 0;

    std::string payload = m_config.id;
    std::string token = firmware::ExtractToken(
        reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
    m_report.sForm = firmware::NormaliseIdentifier(token);
    m_report.normalised = token;
    m_entry = m_config.firmware->Find(FromAnsi(token));
    m_report.known = m_entry != nullptr;
    m_report.catalogueEntry = m_entry ? m_entry->number : 0;
    m_report.mode = !m_entry                                         ? "unknown"
                    : m_entry->mode == firmware::ImageMode::TwoStage ? "two-stage"
                                                                     : "single";
    m_listeningBaud = firmware::kSlowBaud;
    if (m_entry) {
        const bool fast = m_entry->baud == firmware::BaudRule::Always115200 ||
                          (m_entry->baud == firmware::BaudRule::SForm115200 && m_report.sForm);
        if (fast)
            m_listeningBaud = firmware::kFastBaud;
        PlanExpected();
    }
    m_report.listeningBaud = m_listeningBaud;
}

void BootSim::PlanExpected() {
    m_reader = std::make_unique<Reader>();
    NoBaudSwitch link;
    if (firmware::ApplyEntry(*m_entry, m_report.sForm, m_reader->sel, link, *m_config.firmware) !=
        firmware::ApplyResult::Applied) {
        AddError("resource_missing", "the entry's images are not available");
        m_entry = nullptr;
        m_report.known = false;
        m_reader.reset();
        return;
    }
    const bool twoStage = m_reader->sel.m_bTwoStage;
    // One pass over a copy gives the segments' sizes and digests to compare with at the end.
    Reader plan = *m_reader;
    std::vector<firmware::Sha256Stream> expectedHashes;
    m_report.expectedBlocks = 0;
    while (auto block = plan.Next()) {
        if (block->segment >= m_report.segments.size()) {
            SegmentReport seg;
            seg.frameType = block->frameType;
            seg.name = twoStage ? (block->segment == 0 ? "PXA271" : "FPGA")
                                : "type " + std::to_string(block->frameType);
            m_report.segments.push_back(seg);
            m_hashes.emplace_back();
            expectedHashes.emplace_back();
        }
        SegmentReport& seg = m_report.segments[block->segment];
        ++seg.expectedBlocks;
        seg.expectedBytes += block->valid;
        expectedHashes[block->segment].Add(block->data.data(), block->valid);
        ++m_report.expectedBlocks;
        plan.Advance(block->count);
    }
    for (std::size_t i = 0; i < m_report.segments.size(); ++i)
        m_report.segments[i].expectedSha256 = expectedHashes[i].Hex();
    m_expected = m_reader->Next();
}

void BootSim::AcceptBlock(std::size_t segment, std::uint8_t frameType, const std::uint8_t* data,
                          std::uint32_t valid) {
    if (segment >= m_report.segments.size()) {
        SegmentReport seg;
        seg.frameType = frameType;
        seg.name = "type " + std::to_string(frameType);
        m_report.segments.push_back(seg);
        m_hashes.emplace_back();
    }
    SegmentReport& seg = m_report.segments[segment];
    ++seg.blocks;
    seg.bytes += valid;
    m_hashes[segment].Add(data, valid);
    ++m_report.blocksAccepted;
}

void BootSim::SendAck(std::vector<Outgoing>& out, std::uint32_t blockIndex) {
    ++m_ackCount;
    if (m_config.dropAck != 0 && m_ackCount == m_config.dropAck) {
        m_report.droppedAcks.push_back(blockIndex);
        return;
    }
    ++m_report.acksSent;
    Emit(out, "SX", nullptr, 0, true);
    if (m_config.extraFrameEvery == 0 || m_report.acksSent % m_config.extraFrameEvery != 0)
        return;
    // A two-stage transfer's completion reply must stay the receiver's own.
    const bool twoStage = m_entry && m_entry->mode == firmware::ImageMode::TwoStage;
    static constexpr const char* kExtra[] = {"ST", "SV", "SC"};
    const char* code = kExtra[m_report.extraFrames % (twoStage ? 2 : 3)];
    ++m_report.extraFrames;
    out.push_back({Frame(code, nullptr, 0), false});
}

void BootSim::HandleBlock(std::vector<Outgoing>& out) {
    const std::uint32_t n = m_frame[5];
    const std::uint8_t frameType = m_frame[4];
    const std::uint8_t* payload = m_frame.data() + 6;
    const std::uint32_t index = m_report.blocksAccepted;

    // A block the receiver already took (its acknowledgement lost on the way) is taken again
    // without being written twice, so an updater that repeats a block can go on.
    if (!m_lastBlock.empty() && m_lastBlock.size() == n + 1 && m_lastBlock[0] == frameType &&
        std::equal(payload, payload + n, m_lastBlock.begin() + 1)) {
        AddError("duplicate_block", "block " + std::to_string(index - 1) + " sent again");
        SendAck(out, index - 1);
        return;
    }
    if (!m_identified) {
        AddError("block_before_handshake", "block frame before an answered handshake");
        return;
    }
    if (n < 5) {
        AddError("malformed_block", "payload of " + std::to_string(n) + " bytes has no header");
        return;
    }
    const std::uint8_t* header = payload;
    const std::uint8_t* data = payload + 5;
    const std::uint32_t count = n - 5;

    std::size_t segment = 0;
    std::uint32_t valid = count;
    if (m_entry) {
        if (!m_expected) {
            AddError("block_after_completion", "header " + HeaderText(header));
            return;
        }
        const ExpectedBlock& exp = *m_expected;
        const std::uint8_t want[5] = {0, 0, static_cast<std::uint8_t>(exp.addressBefore >> 8),
                                      static_cast<std::uint8_t>(exp.address >> 8),
                                      static_cast<std::uint8_t>(exp.address)};
        if (!std::equal(want, want + 5, header)) {
            // The receiver will not write a block anywhere but where the previous one ended.
            AddError("address_out_of_sequence",
                     "expected header " + HeaderText(want) + ", got " + HeaderText(header));
            return;
        }
        if (count != exp.count) {
            AddError("wrong_length", "expected " + std::to_string(exp.count) + " data bytes, got " +
                                         std::to_string(count));
            return;
        }
        // The header already places the block; a wrong type is reported but the block is
        // taken, as its data lands where it belongs.
        if (frameType != exp.frameType)
            AddError("wrong_frame_type", "expected " + std::to_string(exp.frameType) + ", got " +
                                             std::to_string(frameType));
        const auto mismatch = std::mismatch(data, data + exp.valid, exp.data.begin());
        if (mismatch.first != data + exp.valid)
            AddError("data_mismatch",
                     "first difference at byte " + std::to_string(mismatch.first - data));
        segment = exp.segment;
        valid = exp.valid;
    } else {
        // Without the image only the header sequence can be checked: the address restarts at
        // every new frame type and otherwise follows on from the previous block.
        const bool newSegment = frameType != m_genericType;
        const std::uint32_t before = index == 0 ? 0 : m_genericNext;
        const std::uint32_t address = newSegment ? 0 : m_genericNext;
        const std::uint8_t want[5] = {0, 0, static_cast<std::uint8_t>(before >> 8),
                                      static_cast<std::uint8_t>(address >> 8),
                                      static_cast<std::uint8_t>(address)};
        if (!std::equal(want, want + 5, header)) {
            AddError("address_out_of_sequence",
                     "expected header " + HeaderText(want) + ", got " + HeaderText(header));
            return;
        }
        if (newSegment) {
            m_genericSegment = m_genericType == 0 ? 0 : m_genericSegment + 1;
            m_genericType = frameType;
        }
        m_genericNext = address + count;
        segment = m_genericSegment;
    }

    m_lastBlock.assign(1, frameType);
    m_lastBlock.insert(m_lastBlock.end(), payload, payload + n);
    AcceptBlock(segment, frameType, data, valid);
    SendAck(out, index);

    if (m_entry) {
        m_reader->Advance(count);
        m_expected = m_reader->Next();
        if (!m_expected)
            Complete(out);
    }
}

void BootSim::Complete(std::vector<Outgoing>& out) {
    m_report.completed = true;
    ++m_report.transfersCompleted;
    if (m_entry->mode == firmware::ImageMode::TwoStage) {
        Emit(out, "SC", nullptr, 0, false);
        out.back().delayMs = m_config.completionDelayMs;
        m_report.completionSent = true;
    }
    // The operator now switches the receiver off and on: it waits for a handshake at the
    // power-on speed again, and a late duplicate of the last block is still recognised.
    m_identified = false;
    m_listeningBaud = firmware::kSlowBaud;
    m_report.listeningBaud = m_listeningBaud;
}

std::vector<std::uint8_t> BootSim::Frame(const char code[2], const std::uint8_t* payload,
                                         std::size_t length) {
    std::vector<std::uint8_t> f;
    f.reserve(length + 9);
    f.push_back('$');
    f.push_back('$');
    f.push_back(static_cast<std::uint8_t>(code[0]));
    f.push_back(static_cast<std::uint8_t>(code[1]));
    f.push_back(kReplyFrameType);
    f.push_back(static_cast<std::uint8_t>(length));
    if (length)
        f.insert(f.end(), payload, payload + length);
    f.push_back(firmware::XorChecksum(f.data() + 2, f.size() - 2));
    f.push_back(0x0D);
    f.push_back(0x0A);
    if (m_config.corruptRate > 0) {
        for (auto& b : f) {
            // 53 random bits give a uniform fraction the same on every standard library.
            const double u = static_cast<double>(m_rng() >> 11) * 0x1.0p-53;
            if (u < m_config.corruptRate) {
                b ^= static_cast<std::uint8_t>(1 + m_rng() % 255);
                ++m_report.corruptedBytes;
            }
        }
    }
    return f;
}

void BootSim::EmitNoise(std::vector<Outgoing>& out) {
    // Only what the updater's decoder skips between frames: no "$", and a "B" only as the
    // start of the complete banner line, so no reply that follows is lost to the noise.
    std::vector<std::uint8_t> noise;
    if (m_rng() % 3 == 0) {
        const int version = m_config.bannerVersion >= 0 ? m_config.bannerVersion % 10 : 0;
        const std::string banner = std::string(kBanner) + static_cast<char>('0' + version) + "\r\n";
        noise.assign(banner.begin(), banner.end());
    } else {
        const std::size_t len = 1 + m_rng() % 8;
        while (noise.size() < len) {
            const auto b = static_cast<std::uint8_t>(m_rng());
            if (b != '$' && b != 'B')
                noise.push_back(b);
        }
    }
    m_report.noiseBytes += noise.size();
    out.push_back({std::move(noise), false});
}

void BootSim::Emit(std::vector<Outgoing>& out, const char code[2], const std::uint8_t* payload,
                   std::size_t length, bool isAck) {
    if (m_config.noise)
        EmitNoise(out);
    out.push_back({Frame(code, payload, length), isAck});
}

SimReport BootSim::Report() const {
    SimReport r = m_report;
    // Reading a digest does not end it, so the report can be taken in the middle of a transfer.
    for (std::size_t i = 0; i < m_hashes.size() && i < r.segments.size(); ++i)
        r.segments[i].sha256 = m_hashes[i].Hex();
    return r;
}

std::string ToJson(const SimReport& r) {
    using nlohmann::json;
    json o = json::object();
    o["identifier"] = r.identifier;
    o["normalised"] = r.normalised;
    o["sForm"] = r.sForm;
    o["known"] = r.known;
    o["catalogueEntry"] = r.catalogueEntry;
    o["mode"] = r.mode;
    o["initialBaud"] = r.initialBaud;
    o["listeningBaud"] = r.listeningBaud;
    json speeds = json::array();
    for (const auto& s : r.speedChanges)
        speeds.push_back({{"from", s.from}, {"to", s.to}, {"afterBlocks", s.afterBlocks}});
    o["speedChanges"] = speeds;
    o["handshakesSeen"] = r.handshakesSeen;
    o["handshakesAnswered"] = r.handshakesAnswered;
    o["restarts"] = r.restarts;
    o["lineReturns"] = r.lineReturns;
    if (r.turnaround.samples > 0) {
        o["turnaroundUs"] = {{"samples", r.turnaround.samples},
                             {"median", r.turnaround.medianUs},
                             {"p99", r.turnaround.p99Us},
                             {"max", r.turnaround.maxUs}};
    }
    o["blocksAccepted"] = r.blocksAccepted;
    o["expectedBlocks"] = r.expectedBlocks;
    o["acksSent"] = r.acksSent;
    json segments = json::array();
    for (const auto& s : r.segments)
        segments.push_back({{"name", s.name},
                            {"frameType", s.frameType},
                            {"blocks", s.blocks},
                            {"bytes", s.bytes},
                            {"expectedBlocks", s.expectedBlocks},
                            {"expectedBytes", s.expectedBytes},
                            {"sha256", s.sha256},
                            {"expectedSha256", s.expectedSha256}});
    o["segments"] = segments;
    o["completed"] = r.completed;
    o["transfersCompleted"] = r.transfersCompleted;
    o["completionSent"] = r.completionSent;
    o["droppedAcks"] = r.droppedAcks;
    o["extraFrames"] = r.extraFrames;
    o["corruptedBytes"] = r.corruptedBytes;
    o["noiseBytes"] = r.noiseBytes;
    o["strayBytes"] = r.strayBytes;
    json errors = json::array();
    for (const auto& e : r.errors)
        errors.push_back({{"kind", e.kind}, {"block", e.block}, {"detail", e.detail}});
    o["errors"] = errors;
    o["errorsOmitted"] = r.errorsOmitted;
    // The identifier is what the receiver sent: bytes that are no UTF-8 are shown as U+FFFD.
    return o.dump(4, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace orvane::bootsim
