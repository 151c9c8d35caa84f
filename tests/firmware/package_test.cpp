// Firmware packages: made and signed as a vendor does (minisign), then loaded and checked.
#include "firmware/crypto.h"
#include "firmware/package.h"
#include "package_maker.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace orvane::firmware {
namespace {

using test::PackageMaker;
namespace fs = std::filesystem;

class PackageTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HaveMinisign())
            GTEST_SKIP() << "minisign is not installed (scripts/setup installs it)";
        ASSERT_TRUE(m_tmp.isValid());
        maker = std::make_unique<PackageMaker>(m_tmp.path().toStdString());
        ASSERT_TRUE(maker->MakeKey("vendor"));
        ASSERT_TRUE(AddKeyFile(maker->PublicKey("vendor").string(), trusted));
    }

    QTemporaryDir m_tmp;
    std::unique_ptr<PackageMaker> maker;
    TrustedKeys trusted;
};

struct NoLink : IBaudSwitch {
    void SwitchBaud(std::uint32_t) override {}
};

TEST(Crypto, Sha256OfAKnownText) {
    const std::string abc = "abc";
    EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(abc.data()), abc.size()),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A digest read in the middle covers what came so far and leaves the stream going on.
TEST(Crypto, Sha256StreamAgreesWithTheWholeAtEveryCut) {
    std::vector<std::uint8_t> data(1000);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7);
    for (const std::size_t cut :
         {std::size_t{0}, std::size_t{1}, std::size_t{64}, std::size_t{999}, std::size_t{1000}}) {
        Sha256Stream stream;
        stream.Add(data.data(), cut);
        EXPECT_EQ(stream.Hex(), Sha256Hex(data.data(), cut)) << cut;
        Sha256Stream moved = std::move(stream);
        moved.Add(data.data() + cut, data.size() - cut);
        EXPECT_EQ(moved.Hex(), Sha256Hex(data.data(), data.size())) << cut;
    }
}

TEST_F(PackageTest, SoundPackageBecomesTheFirmware) {
    maker->entries.push_back(
        {{"identifiers", {"K64E", "1234"}}, {"name", "K64 new"}, {"image", "G"}});
    maker->entries.push_back(
        {{"identifiers", {"K99U"}}, {"mode", "two-stage"}, {"baud", "115200"}});
    ASSERT_TRUE(maker->Write());
    const auto result = LoadPackage(maker->dir.string(), trusted);
    ASSERT_TRUE(result.firmware) << result.error;
    const FirmwareSet& set = *result.firmware;
    EXPECT_FALSE(set.IsPlaceholder());
    EXPECT_EQ(set.Origin(), "2026.11 K-series");
    EXPECT_EQ(set.Date(), "2026-11-30");
    // The key id as minisign itself prints it in the public key's comment.
    const std::string pub = test::ReadText(maker->PublicKey("vendor"));
    EXPECT_NE(pub.find("minisign public key " + set.SignedBy()), std::string::npos) << pub;
    ASSERT_NE(set.Image("G"), nullptr);
    EXPECT_EQ(set.Image("G")->sha256, PackageMaker::Sha256Hex(maker->images["G"]));
    EXPECT_EQ(test::Bytes(set.Image("G")->data, set.Image("G")->data + set.Image("G")->length),
              maker->images["G"]);

    // Added entries come after the built-in ones; an identifier a package entry names leaves
    // its built-in entry (which goes when it has no identifier left).
    const CatalogueEntry* k99 = set.Find(u"k99x");
    ASSERT_NE(k99, nullptr);
    EXPECT_EQ(k99->number, 27);
    EXPECT_EQ(k99->displayName, u"K99");
    const CatalogueEntry* k64e = set.Find(u"K64E");
    ASSERT_NE(k64e, nullptr);
    EXPECT_EQ(k64e->number, 28);
    EXPECT_EQ(k64e->displayName, u"K64 new");
    EXPECT_EQ(set.Find(u"1234"), k64e);
    for (const auto& e : set.Entries())
        EXPECT_NE(e.number, 8) << "entry 8 had only K64E";
    ASSERT_NE(set.Find(u"K99U"), nullptr);
    EXPECT_EQ(set.Find(u"K99U")->mode, ImageMode::TwoStage);

    // Built-in entries stay; one whose image the package lacks cannot be applied, and the
    // placeholder never stands in for it.
    const CatalogueEntry* k37e = set.Find(u"K37E");
    ASSERT_NE(k37e, nullptr);
    CImageSelection sel;
    NoLink link;
    std::u16string missing;
    EXPECT_EQ(ApplyEntry(*k37e, false, sel, link, set, &missing), ApplyResult::ResourceMissing);
    EXPECT_EQ(missing, u"B");
    EXPECT_FALSE(sel.m_bSelected);

    ASSERT_EQ(ApplyEntry(*set.Find(u"K64U"), false, sel, link, set), ApplyResult::Applied);
    EXPECT_EQ(sel.m_pImage, set.Image("PXA271")->data);
    EXPECT_EQ(sel.m_nTotalLen, 5000u + 3001u);
}

TEST_F(PackageTest, EveryTamperingIsRefusedNamingTheFile) {
    ASSERT_TRUE(maker->MakeKey("intruder"));
    for (const test::Tampering& t : test::Tamperings()) {
        QTemporaryDir root;
        PackageMaker p(root.path().toStdString());
        fs::copy_file(maker->SecretKey(t.key), p.SecretKey(t.key));
        if (t.beforeSigning)
            t.beforeSigning(p);
        ASSERT_TRUE(p.Write({}, t.key)) << t.what;
        if (t.afterSigning)
            t.afterSigning(p.dir);
        const auto result = LoadPackage(p.dir.string(), trusted);
        EXPECT_FALSE(result.firmware) << t.what;
        const std::string file = (p.dir / t.file).string();
        EXPECT_EQ(result.error.rfind(file, 0), 0u) << t.what << ": " << result.error;
        const char after = result.error.size() > file.size() ? result.error[file.size()] : '?';
        EXPECT_TRUE(after == ':' || after == ' ') << t.what << ": " << result.error;
        EXPECT_NE(result.error.find(t.says), std::string::npos) << t.what << ": " << result.error;
    }
}

TEST_F(PackageTest, TrustComesFromKeyFoldersAndLegacySignaturesAreRead) {
    ASSERT_TRUE(maker->Write({}, "vendor", /*legacy=*/true));
    // No key at all: the refusal says where keys were looked for.
    TrustedKeys none;
    AddKeyFolder((m_tmp.path() + "/no-such-folder").toStdString(), none);
    auto result = LoadPackage(maker->dir.string(), none);
    ASSERT_FALSE(result.firmware);
    EXPECT_NE(result.error.find("no trusted public key"), std::string::npos) << result.error;
    EXPECT_NE(result.error.find("no-such-folder"), std::string::npos) << result.error;

    // A folder with the vendor's key and a damaged key file beside it.
    const fs::path keys = m_tmp.path().toStdString() + "/keys";
    fs::create_directories(keys);
    fs::copy_file(maker->PublicKey("vendor"), keys / "vendor.pub");
    test::WriteText(keys / "broken.pub", "untrusted comment: x\nRWQ!!!!\n");
    TrustedKeys folder;
    AddKeyFolder(keys.string(), folder);
    EXPECT_EQ(folder.keys.size(), 1u);
    ASSERT_EQ(folder.problems.size(), 1u);
    EXPECT_NE(folder.problems[0].find("broken.pub"), std::string::npos);
    result = LoadPackage((maker->dir / "manifest.json").string(), folder);
    EXPECT_TRUE(result.firmware) << result.error;
}

TEST_F(PackageTest, SimulatedReceiverMayReadAnUnsignedPackage) {
    ASSERT_TRUE(maker->Write());
    fs::remove(maker->dir / "manifest.json.minisig");
    EXPECT_FALSE(LoadPackage(maker->dir.string(), trusted).firmware);
    EXPECT_TRUE(LoadPackage(maker->dir.string(), {}, /*checkSignature=*/false).firmware);
}

// -DORVANE_FIRMWARE runs this tool in the build: a package it refuses stops the build.
TEST_F(PackageTest, BuildTimeCheckEmbedsOnlyAVerifiedPackage) {
    ASSERT_TRUE(maker->Write());
    const fs::path out = fs::path(m_tmp.path().toStdString()) / "embed";
    fs::create_directories(out);
    const std::string command = std::string(ORVANE_FWEMBED) + " '" + maker->dir.string() + "' '" +
                                out.string() + "' '" + maker->PublicKey("vendor").string() +
                                "' >'" + (out / "log").string() + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << test::ReadText(out / "log");
    const std::string assembly = test::ReadText(out / "firmware_package.S");
    EXPECT_NE(assembly.find(".incbin \"" + (out / "image_G.bin").string() + "\""),
              std::string::npos);
    EXPECT_NE(assembly.find("orvane_package_image_B:"), std::string::npos); // empty, but there
    EXPECT_EQ(test::ReadBytes(out / "image_FPGA.bin"), maker->images["FPGA"]);
    EXPECT_EQ(test::ReadBytes(out / "manifest.json"),
              test::ReadBytes(maker->dir / "manifest.json"));

    test::FlipByte(maker->dir / "G.bin", 3);
    fs::remove(out / "firmware_package.S");
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_NE(test::ReadText(out / "log").find("G.bin: its SHA-256 is not the one"),
              std::string::npos)
        << test::ReadText(out / "log");
    EXPECT_FALSE(fs::exists(out / "firmware_package.S"));
}

TEST(MinisignKey, DegenerateKeysAreRefusedWhenRead) {
    // All zero, the neutral point, and a y with its top bits clear: no signer makes them, and
    // checking a signature with them would abort the process inside libgcrypt 1.10.
    const char* lines[] = {"RWQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
                           "RWQAAAAAAAAAAAEAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA",
                           "RWQAAAAAAAAAAAAAAAAAAAeccAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"};
    for (const char* line : lines) {
        MinisignKey key;
        std::string error;
        EXPECT_FALSE(
            ParsePublicKey(std::string("untrusted comment: x\n") + line + "\n", key, error))
            << line;
        EXPECT_NE(error.find("degenerate"), std::string::npos) << error;
    }
    MinisignKey key;
    std::string error;
    EXPECT_TRUE(
        ParsePublicKey("RWSVs5jz9G3QXuKnsJBf1dBqNQc2gMJKAuTvbMNHLEhtvkCtIj2ywJQT\r\n", key, error))
        << error;
    EXPECT_EQ(KeyIdText(key.id), "5ED06DF4F398B395"); // as minisign -G printed it
}

TEST(RecordLayout, WholeRecordsOfType25Then24) {
    const struct {
        test::Bytes image;
        const char* says; // "" when sound
    } cases[] = {
        {test::RecordImage(0, 3, 1), ""},
        {test::RecordImage(2, 3, 1), ""},
        {{}, "no records"},
        {test::RecordImage(3, 0, 1), "no type-24 records"},
        {test::Bytes(130, 24), "not whole 129-byte records"},
    };
    for (const auto& c : cases) {
        const std::string problem =
            CheckRecordLayout(c.image.data(), static_cast<std::uint32_t>(c.image.size()));
        if (*c.says == '\0')
            EXPECT_EQ(problem, "");
        else
            EXPECT_NE(problem.find(c.says), std::string::npos) << problem;
    }
}

} // namespace
} // namespace orvane::firmware
