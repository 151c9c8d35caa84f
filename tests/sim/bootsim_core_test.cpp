// The simulated boot loader's protocol core against frames built by the updater's own protocol
// core, with its replies read back by the updater's reply decoder.
#include "sim/bootsim.h"
#include "updater_stub.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace orvane::bootsim {
namespace {

using test::UpdaterStub;

class CoreStub : public UpdaterStub {
public:
    explicit CoreStub(Config config) : sim(std::move(config)) {}
    void Send(const std::vector<std::uint8_t>& frame) override { SendAt(frame, baud); }
    void SendAt(const std::vector<std::uint8_t>& frame, std::uint32_t lineBaud) {
        for (const Outgoing& out : sim.Feed(frame.data(), frame.size(), lineBaud))
            Receive(out.bytes.data(), out.bytes.size());
    }
    BootSim sim;
};

Config WithId(const char* id) {
    Config c;
    c.id = id;
    return c;
}

std::string Sha256(const std::uint8_t* data, std::size_t size) {
    return QCryptographicHash::hash(QByteArrayView(data, static_cast<qsizetype>(size)),
                                    QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

// The data bytes of an embedded image's records of one type, taken straight from the image.
std::string SegmentSha(char image, std::uint8_t type) {
    const auto img = firmware::GetEmbeddedImage(image);
    std::vector<std::uint8_t> data;
    for (std::uint32_t pos = 0; pos < img->length; pos += firmware::kRecordSize) {
        if (img->data[pos] == type)
            data.insert(data.end(), img->data + pos + 1, img->data + pos + firmware::kRecordSize);
    }
    return Sha256(data.data(), data.size());
}

struct TransferCase {
    const char* id;
    char image;
    int entry;
    std::uint32_t baud;
    std::vector<std::pair<std::uint8_t, std::uint32_t>> segments; // frame type, blocks
};

class WholeTransfer : public ::testing::TestWithParam<TransferCase> {};

TEST_P(WholeTransfer, EveryBlockAcknowledgedAndCheckedAgainstTheImage) {
    const auto& c = GetParam();
    CoreStub u(WithId(c.id));
    u.Handshake();
    ASSERT_EQ(u.log.identifications.size(), 1u);
    ASSERT_TRUE(u.Identify());
    EXPECT_EQ(u.baud, c.baud);
    EXPECT_EQ(u.sim.ListeningBaud(), c.baud);

    std::uint32_t total = 0;
    for (const auto& s : c.segments)
        total += s.second;
    EXPECT_EQ(u.Transfer(), static_cast<int>(total));
    EXPECT_EQ(u.log.acks, static_cast<int>(total));

    const SimReport r = u.sim.Report();
    EXPECT_TRUE(r.completed);
    EXPECT_FALSE(r.completionSent);
    EXPECT_EQ(r.catalogueEntry, c.entry);
    EXPECT_EQ(r.blocksAccepted, total);
    EXPECT_TRUE(r.errors.empty()) << r.errors.front().kind << ": " << r.errors.front().detail;
    ASSERT_EQ(r.segments.size(), c.segments.size());
    for (std::size_t i = 0; i < c.segments.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(r.segments[i].frameType, c.segments[i].first);
        EXPECT_EQ(r.segments[i].blocks, c.segments[i].second);
        EXPECT_EQ(r.segments[i].bytes, c.segments[i].second * 128u);
        EXPECT_EQ(r.segments[i].sha256, SegmentSha(c.image, c.segments[i].first));
        EXPECT_EQ(r.segments[i].expectedSha256, r.segments[i].sha256);
    }
    // Power cycled: back at the handshake speed, and the handshake after it is answered.
    EXPECT_EQ(u.sim.ListeningBaud(), firmware::kSlowBaud);
}

INSTANTIATE_TEST_SUITE_P(
    Images, WholeTransfer,
    ::testing::Values(TransferCase{"K64E", 'G', 8, 9600, {{25, 113}, {24, 463}}},
                      TransferCase{"ZT", 'N', 25, 9600, {{25, 105}, {24, 329}}},
                      TransferCase{"76S0", 'L', 22, 115200, {{24, 694}}},
                      TransferCase{"k37j", 'D', 4, 9600, {{24, 605}}},
                      TransferCase{"11S2", 'J', 20, 115200, {{24, 2514}}}));

TEST(TwoStage, BothImagesThenCompletionReply) {
    CoreStub u(WithId("K64U"));
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    EXPECT_EQ(u.sim.ListeningBaud(), 115200u);
    EXPECT_EQ(u.Transfer(), 3388 + 8006);
    EXPECT_EQ(u.log.finished, 1);

    const SimReport r = u.sim.Report();
    EXPECT_TRUE(r.completed);
    EXPECT_TRUE(r.completionSent);
    EXPECT_EQ(r.mode, "two-stage");
    EXPECT_TRUE(r.errors.empty());
    ASSERT_EQ(r.segments.size(), 2u);
    const auto pxa = firmware::OwnResources().FindResource(firmware::kResourcePxa271, u"PXA271");
    const auto fpga = firmware::OwnResources().FindResource(firmware::kResourceFpga, u"FPGA");
    ASSERT_TRUE(pxa && fpga);
    const std::pair<firmware::ResourceBytes, std::uint32_t> want[] = {{*pxa, 3388}, {*fpga, 8006}};
    const char* names[] = {"PXA271", "FPGA"};
    const std::uint8_t types[] = {21, 20};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(names[i]);
        EXPECT_EQ(r.segments[i].name, names[i]);
        EXPECT_EQ(r.segments[i].frameType, types[i]);
        EXPECT_EQ(r.segments[i].blocks, want[i].second);
        // The filler of the last block is not the image's: digests cover the image only.
        EXPECT_EQ(r.segments[i].bytes, want[i].first.size);
        EXPECT_EQ(r.segments[i].sha256, Sha256(want[i].first.data, want[i].first.size));
        EXPECT_EQ(r.segments[i].expectedSha256, r.segments[i].sha256);
    }
}

struct IdCase {
    const char* id;
    bool known;
    int entry;
    const char* normalised;
    bool sForm;
    std::uint32_t listening;
};

class Identification : public ::testing::TestWithParam<IdCase> {};

TEST_P(Identification, AnswersWithItsIdentifierAndListensAtTheEntrysSpeed) {
    const auto& c = GetParam();
    CoreStub u(WithId(c.id));
    u.Handshake();
    ASSERT_EQ(u.log.identifications.size(), 1u);
    EXPECT_EQ(u.log.identifications[0], c.id);
    const SimReport r = u.sim.Report();
    EXPECT_EQ(r.known, c.known);
    EXPECT_EQ(r.catalogueEntry, c.entry);
    EXPECT_EQ(r.normalised, c.normalised);
    EXPECT_EQ(r.sForm, c.sForm);
    EXPECT_EQ(u.sim.ListeningBaud(), c.listening);
    EXPECT_EQ(u.Identify(), c.known);
    if (c.known) {
        EXPECT_EQ(u.baud, c.listening) << "the updater and the simulation disagree on the speed";
    }
}

INSTANTIATE_TEST_SUITE_P(Identifiers, Identification,
                         ::testing::Values(IdCase{"K64E", true, 8, "K64E", false, 9600},
                                           IdCase{"k64e", true, 8, "k64e", false, 9600},
                                           IdCase{"11S2", true, 20, "1122", true, 115200},
                                           IdCase{"11s5", true, 20, "1125", true, 115200},
                                           IdCase{"1122", true, 20, "1122", false, 9600},
                                           IdCase{"76S0", true, 22, "76S0", false, 115200},
                                           IdCase{"1088", true, 26, "1088", false, 115200},
                                           IdCase{"ZZZZ", false, 0, "ZZZZ", false, 9600},
                                           IdCase{"K37", false, 0, "K37", false, 9600}));

// Rewrites a frame's checksum after a change to it.
void FixChecksum(std::vector<std::uint8_t>& f) {
    f[f.size() - 3] = firmware::XorChecksum(f.data() + 2, f.size() - 5);
}

struct BlockFault {
    const char* name;
    std::function<void(CoreStub&, std::vector<std::uint8_t>& block)> spoil;
    const char* kind;
    bool acknowledged;
    bool taken = false; // the spoilt frame counts as block 3
};

class BlockFaults : public ::testing::TestWithParam<BlockFault> {};

TEST_P(BlockFaults, ReportedWithTheBlockIndexAndTheTransferGoesOn) {
    const auto& c = GetParam();
    CoreStub u(WithId("K64E"));
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    ASSERT_EQ(u.Transfer(3), 3); // blocks 0 to 2 taken
    auto good = u.NextBlock();   // block 3
    ASSERT_TRUE(good);
    auto bad = *good;
    c.spoil(u, bad);
    const int acks = u.log.acks;
    u.Send(bad);
    EXPECT_EQ(u.log.acks - acks, c.acknowledged ? 1 : 0);
    SimReport r = u.sim.Report();
    ASSERT_FALSE(r.errors.empty());
    EXPECT_EQ(r.errors.back().kind, c.kind) << r.errors.back().detail;
    EXPECT_EQ(r.errors.back().block, 3u);
    EXPECT_EQ(r.blocksAccepted, c.taken ? 4u : 3u);
    if (!c.taken) {
        u.Send(*good);
        EXPECT_EQ(u.log.acks - acks, c.acknowledged ? 2 : 1)
            << "the right block must still be taken";
    }
    // The rest of the image follows as if nothing happened.
    u.Transfer();
    r = u.sim.Report();
    EXPECT_TRUE(r.completed);
    EXPECT_EQ(r.errors.size(), 1u);
    const bool dataSpoilt = std::string(c.kind) == "data_mismatch";
    EXPECT_EQ(r.segments[0].sha256 == r.segments[0].expectedSha256, !dataSpoilt);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, BlockFaults,
    ::testing::Values(BlockFault{"checksum", [](CoreStub&, auto& f) { f[f.size() - 3] ^= 0x40; },
                                 "bad_checksum", false},
                      BlockFault{"terminator", [](CoreStub&, auto& f) { f[f.size() - 2] = 'X'; },
                                 "bad_terminator", false},
                      BlockFault{"address",
                                 [](CoreStub&, auto& f) {
                                     f[10] ^= 0x80; // address byte: block 3 claims block 2's place
                                     FixChecksum(f);
                                 },
                                 "address_out_of_sequence", false},
                      BlockFault{"highAddress",
                                 [](CoreStub&, auto& f) {
                                     f[9] = 2;
                                     FixChecksum(f);
                                 },
                                 "address_out_of_sequence", false},
                      BlockFault{"frameType",
                                 [](CoreStub&, auto& f) {
                                     f[4] = 24;
                                     FixChecksum(f);
                                 },
                                 "wrong_frame_type", true, true},
                      BlockFault{"data",
                                 [](CoreStub&, auto& f) {
                                     f[60] ^= 1;
                                     FixChecksum(f);
                                 },
                                 "data_mismatch", true, true},
                      BlockFault{"length",
                                 [](CoreStub&, auto& f) {
                                     f.erase(f.end() - 4); // last data byte
                                     f[5] -= 1;
                                     FixChecksum(f);
                                 },
                                 "wrong_length", false},
                      BlockFault{"duplicate",
                                 // Block 2 again, as an updater would repeat it after a lost reply.
                                 [](CoreStub& u, auto& f) { f = u.lastSent; }, "duplicate_block",
                                 true},
                      BlockFault{"command",
                                 [](CoreStub&, auto& f) {
                                     f[3] = 'Q';
                                     FixChecksum(f);
                                 },
                                 "unknown_command", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BlockFaults, BlockBeforeAnyHandshakeIsRefused) {
    CoreStub u(WithId("K64E"));
    u.link.switches.clear();
    const std::uint8_t data[3] = {1, 2, 3};
    u.Send(firmware::EncodeFrame(firmware::BlockCommandText(0, 0, data, 3), 25));
    EXPECT_EQ(u.log.acks, 0);
    const SimReport r = u.sim.Report();
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].kind, "block_before_handshake");
}

TEST(WrongSpeed, FramesAtAnotherSpeedAreIgnored) {
    CoreStub u(WithId("K64U"));
    u.SendAt(firmware::EncodeFrame(firmware::HandshakeText(), 24), 38400);
    EXPECT_TRUE(u.log.identifications.empty());
    u.Handshake(); // 9600
    ASSERT_TRUE(u.Identify());
    ASSERT_EQ(u.baud, 115200u);
    auto block = u.NextBlock();
    u.SendAt(*block, 9600); // the updater forgot to switch
    EXPECT_EQ(u.log.acks, 0);
    u.Send(*block);
    EXPECT_EQ(u.log.acks, 1);

    // A frame whose second half comes at another speed is garbage as a whole.
    auto next = *u.NextBlock();
    const auto half = next.size() / 2;
    for (const auto& out : u.sim.Feed(next.data(), half, 115200))
        u.Receive(out.bytes.data(), out.bytes.size());
    for (const auto& out : u.sim.Feed(next.data() + half, next.size() - half, 57600))
        u.Receive(out.bytes.data(), out.bytes.size());
    EXPECT_EQ(u.log.acks, 1);

    const SimReport r = u.sim.Report();
    ASSERT_EQ(r.errors.size(), 3u);
    for (const auto& e : r.errors)
        EXPECT_EQ(e.kind, "wrong_speed");
    EXPECT_EQ(r.errors[1].block, 0u);
    EXPECT_EQ(r.errors[2].block, 1u);
    EXPECT_EQ(r.handshakesSeen, 1u);
    EXPECT_EQ(r.initialBaud, 38400u);
    ASSERT_GE(r.speedChanges.size(), 3u);
    EXPECT_EQ(r.speedChanges[0].to, 9600u);
    EXPECT_EQ(r.speedChanges[1].to, 115200u);
}

// ---- fault options --------------------------------------------------------------------------

TEST(FaultOptions, DropAckLeavesOutExactlyTheNthAcknowledgement) {
    Config c = WithId("K64E");
    c.dropAck = 5;
    CoreStub u(c);
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    EXPECT_EQ(u.Transfer(), 5); // the fifth block stays unacknowledged: the updater waits
    const SimReport r = u.sim.Report();
    EXPECT_EQ(r.blocksAccepted, 5u);
    EXPECT_EQ(r.acksSent, 4u);
    EXPECT_EQ(r.droppedAcks, std::vector<std::uint32_t>{4});
}

std::vector<std::uint8_t> HandshakeReplies(Config c, int handshakes) {
    CoreStub u(std::move(c));
    for (int i = 0; i < handshakes; ++i)
        u.Handshake();
    return u.raw;
}

TEST(FaultOptions, CorruptRateChangesReplyBytesReproduciblyBySeed) {
    Config all = WithId("K64E");
    all.corruptRate = 1.0;
    CoreStub u(all);
    u.Handshake();
    EXPECT_TRUE(u.log.identifications.empty());
    EXPECT_EQ(u.sim.Report().corruptedBytes, 13u); // "K64E" frame: 4 + 9 bytes, every one

    Config some = WithId("K64E");
    some.corruptRate = 0.05;
    some.seed = 7;
    const auto a = HandshakeReplies(some, 50);
    EXPECT_EQ(a, HandshakeReplies(some, 50));
    some.seed = 8;
    EXPECT_NE(a, HandshakeReplies(some, 50));
    some.corruptRate = 0;
    const auto clean = HandshakeReplies(some, 50);
    ASSERT_EQ(clean.size(), a.size());
    std::size_t changed = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        changed += a[i] != clean[i];
    EXPECT_GT(changed, a.size() / 40);
    EXPECT_LT(changed, a.size() / 10);
}

TEST(FaultOptions, NoiseIsSkippedByTheUpdaterAndTheTransferCompletes) {
    Config c = WithId("ZT");
    c.noise = true;
    c.seed = 3;
    CoreStub u(c);
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    EXPECT_EQ(u.Transfer(), 434);
    const SimReport r = u.sim.Report();
    EXPECT_TRUE(r.completed);
    EXPECT_GT(r.noiseBytes, 434u);
    const std::string raw(u.raw.begin(), u.raw.end());
    EXPECT_NE(raw.find("BootVer: 1."), std::string::npos);
    EXPECT_EQ(u.raw.size(), r.noiseBytes + 435 * 9 + 2); // replies: 434 acks, "SS" with "ZT"
}

struct ReplyShape {
    const char* name;
    Config config;
    int handshakes;
    int answers;                // identifications the decoder delivers
    std::string firstPayload;   // what the updater's identification receives
    std::vector<int> ssLengths; // length bytes of the SS frames of the first answer
    std::string prefix;         // raw output starts with this
};

class ReplyShapes : public ::testing::TestWithParam<ReplyShape> {};

TEST_P(ReplyShapes, IdentificationReplyAsConfigured) {
    const auto& c = GetParam();
    CoreStub u(c.config);
    for (int i = 0; i < c.handshakes; ++i)
        u.Handshake();
    ASSERT_EQ(static_cast<int>(u.log.identifications.size()), c.answers);
    if (c.answers == 0)
        return;
    EXPECT_EQ(u.log.identifications[0], c.firstPayload);
    const std::string raw(u.raw.begin(), u.raw.end());
    EXPECT_EQ(raw.substr(0, c.prefix.size()), c.prefix);
    std::vector<int> lengths;
    for (std::size_t pos = raw.find("$$SS"); pos != std::string::npos && lengths.size() < 9;
         pos = raw.find("$$SS", pos + 4)) {
        lengths.push_back(static_cast<std::uint8_t>(raw[pos + 5]));
        if (lengths.back() < 55)
            break;
    }
    EXPECT_EQ(lengths, c.ssLengths);
}

Config Make(const char* id, std::function<void(Config&)> f) {
    Config c = WithId(id);
    f(c);
    return c;
}

const std::string kLong(120, 'x');

INSTANTIATE_TEST_SUITE_P(
    Options, ReplyShapes,
    ::testing::Values(
        ReplyShape{"plain", WithId("K64U"), 1, 1, "K64U", {4}, "$$SS"},
        ReplyShape{"suffix",
                   Make("K37E", [](Config& c) { c.idSuffix = "V2.1 OK"; }),
                   1,
                   1,
                   "K37E V2.1 OK",
                   {12},
                   "$$SS"},
        ReplyShape{"split",
                   Make("K64U", [](Config& c) { c.splitReply = true; }),
                   1,
                   1,
                   "K64U" + std::string(52, ' '),
                   {55, 1},
                   "$$SS"},
        ReplyShape{"splitLong",
                   Make("1636", [](Config& c) { c.idSuffix = kLong; }),
                   1,
                   1,
                   "1636 " + kLong,
                   {55, 55, 15},
                   "$$SS"},
        ReplyShape{"banner",
                   Make("K64E", [](Config& c) { c.bannerVersion = 3; }),
                   2,
                   2,
                   "K64E",
                   {4},
                   "BootVer: 1.3\r\n$$SS"},
        ReplyShape{"answerAfter",
                   Make("K64E", [](Config& c) { c.answerAfter = 3; }),
                   3,
                   1,
                   "K64E",
                   {4},
                   "$$SS"},
        ReplyShape{"notYet", Make("K64E", [](Config& c) { c.answerAfter = 3; }), 2, 0, "", {}, ""},
        ReplyShape{"unknown", WithId("ZZZZ"), 1, 1, "ZZZZ", {4}, "$$SS"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FaultOptions, BannerOnlyAtPowerOn) {
    Config c = WithId("K64E");
    c.bannerVersion = 5;
    CoreStub u(c);
    for (int i = 0; i < 3; ++i)
        u.Handshake();
    const std::string raw(u.raw.begin(), u.raw.end());
    EXPECT_EQ(raw.find("BootVer"), 0u);
    EXPECT_EQ(raw.find("BootVer", 1), std::string::npos);
    EXPECT_EQ(u.log.identifications.size(), 3u);
}

TEST(FaultOptions, UnknownIdentifierStillChecksTheHeaderSequence) {
    CoreStub u(WithId("ZZZZ"));
    u.Handshake();
    EXPECT_FALSE(u.Identify());
    EXPECT_EQ(u.sim.Report().mode, "unknown");
    // Blocks from image G anyway: the addresses must follow on, the data cannot be checked.
    u.sel = {};
    u.sel.m_pImage = firmware::GetEmbeddedImage('G')->data;
    u.sel.m_nImageLen = firmware::GetEmbeddedImage('G')->length;
    u.sel.m_bSelected = true;
    EXPECT_EQ(u.Transfer(120), 120);
    auto skip = u.NextBlock();
    skip = u.NextBlock();
    u.Send(*skip);
    const SimReport r = u.sim.Report();
    EXPECT_EQ(r.blocksAccepted, 120u);
    ASSERT_EQ(r.segments.size(), 2u);
    EXPECT_EQ(r.segments[0].blocks, 113u);
    EXPECT_EQ(r.segments[1].blocks, 7u);
    ASSERT_EQ(r.errors.size(), 1u);
    EXPECT_EQ(r.errors[0].kind, "address_out_of_sequence");
    EXPECT_FALSE(r.completed);
}

TEST(Parser, GarbageNeverOverrunsAndAHandshakeAfterItIsAnswered) {
    CoreStub u(WithId("K64E"));
    std::mt19937 rng(11);
    std::vector<std::uint8_t> junk(200000);
    for (auto& b : junk) {
        const auto v = rng();
        b = v % 7 == 0 ? '$' : static_cast<std::uint8_t>(v >> 8);
    }
    // Frames claiming the largest payload.
    for (std::size_t i = 0; i + 6 < junk.size(); i += 5000) {
        junk[i] = junk[i + 1] = '$';
        junk[i + 5] = 0xFF;
    }
    u.SendAt(junk, 9600);
    u.SendAt(std::vector<std::uint8_t>(300, 0), 9600); // ends any frame the junk began
    const auto before = u.log.identifications.size();
    u.Handshake();
    EXPECT_EQ(u.log.identifications.size(), before + 1);
    EXPECT_GT(u.sim.Report().strayBytes, 0u);
}

TEST(Parser, ErrorListIsBounded) {
    CoreStub u(WithId("K64E"));
    auto f = firmware::EncodeFrame(firmware::HandshakeText(), 24);
    f[f.size() - 3] ^= 1;
    for (std::size_t i = 0; i < kMaxErrors + 50; ++i)
        u.Send(f);
    const SimReport r = u.sim.Report();
    EXPECT_EQ(r.errors.size(), kMaxErrors);
    EXPECT_EQ(r.errorsOmitted, 50u);
}

TEST(Report, JsonCarriesTheTransfer) {
    CoreStub u(WithId("11S2"));
    u.Handshake();
    ASSERT_TRUE(u.Identify());
    u.Transfer(2);
    auto skipped = u.NextBlock();
    skipped = u.NextBlock();
    u.Send(*skipped); // out of sequence
    const auto doc = QJsonDocument::fromJson(QByteArray::fromStdString(ToJson(u.sim.Report())));
    ASSERT_TRUE(doc.isObject());
    const QJsonObject o = doc.object();
    EXPECT_EQ(o["identifier"].toString(), "11S2");
    EXPECT_EQ(o["normalised"].toString(), "1122");
    EXPECT_TRUE(o["sForm"].toBool());
    EXPECT_EQ(o["catalogueEntry"].toInt(), 20);
    EXPECT_EQ(o["listeningBaud"].toInt(), 115200);
    EXPECT_FALSE(o["completed"].toBool());
    EXPECT_EQ(o["blocksAccepted"].toInt(), 2);
    EXPECT_EQ(o["expectedBlocks"].toInt(), 2514);
    const QJsonArray speeds = o["speedChanges"].toArray();
    ASSERT_EQ(speeds.size(), 1);
    EXPECT_EQ(speeds[0].toObject()["from"].toInt(), 9600);
    EXPECT_EQ(speeds[0].toObject()["to"].toInt(), 115200);
    EXPECT_EQ(speeds[0].toObject()["afterBlocks"].toInt(), 0);
    const QJsonArray segs = o["segments"].toArray();
    ASSERT_EQ(segs.size(), 1);
    const QJsonObject seg = segs[0].toObject();
    EXPECT_EQ(seg["frameType"].toInt(), 24);
    EXPECT_EQ(seg["blocks"].toInt(), 2);
    EXPECT_EQ(seg["bytes"].toInt(), 256);
    EXPECT_EQ(seg["expectedBlocks"].toInt(), 2514);
    const auto img = firmware::GetEmbeddedImage('J');
    std::vector<std::uint8_t> first2;
    for (int i = 0; i < 2; ++i)
        first2.insert(first2.end(), img->data + i * 129 + 1, img->data + i * 129 + 129);
    EXPECT_EQ(seg["sha256"].toString().toStdString(), Sha256(first2.data(), first2.size()));
    EXPECT_EQ(seg["expectedSha256"].toString().toStdString(), SegmentSha('J', 24));
    const QJsonArray errors = o["errors"].toArray();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_EQ(errors[0].toObject()["kind"].toString(), "address_out_of_sequence");
    EXPECT_EQ(errors[0].toObject()["block"].toInt(), 2);
}

} // namespace
} // namespace orvane::bootsim
