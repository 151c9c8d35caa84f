// Firmware packages end to end: a package made and signed in the test with the stock minisign
// tool, flashed by orvane-update-cli into orvane-bootsim, which compares every data byte with
// the package's images; and every tampering refused before a byte reaches the receiver.
#include "cli_test_support.h"
#include "package_maker.h"

#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QRegularExpression>

namespace {

using orvane::test::CliRun;
using orvane::test::PackageMaker;
namespace fs = std::filesystem;

class PackageCliTest : public orvane::test::CliTest {
protected:
    void SetUp() override {
        if (!orvane::test::HaveMinisign())
            GTEST_SKIP() << "minisign is not installed (scripts/setup installs it)";
        ASSERT_TRUE(m_work.isValid());
        maker = std::make_unique<PackageMaker>(m_work.path().toStdString());
        ASSERT_TRUE(maker->MakeKey("vendor"));
    }
    QString Package() const { return QString::fromStdString(maker->dir.string()); }
    QString Key(const char* name = "vendor") const {
        return QString::fromStdString(maker->PublicKey(name).string());
    }
    static QString Sha256(const orvane::test::Bytes& bytes) {
        return QString::fromLatin1(
            QCryptographicHash::hash(
                QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                QCryptographicHash::Sha256)
                .toHex());
    }
    QJsonObject ReadJson(const QString& path) const {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }

    QTemporaryDir m_work;
    std::unique_ptr<PackageMaker> maker;
};

TEST_F(PackageCliTest, SignedPackageFlashesEveryBlockByteForByte) {
    ASSERT_TRUE(maker->Write());
    // The vendor's key in the user's keys folder: trusted without --trusted-key.
    const QString keys = m_config.filePath("Selvane Works/keys");
    ASSERT_TRUE(QDir().mkpath(keys));
    ASSERT_TRUE(QFile::copy(Key(), keys + "/vendor.pub"));

    QProcess sim;
    const QString path =
        StartSim(sim, {"--firmware", Package(), "--id", "K99X", "--exit-after-complete"});
    ASSERT_FALSE(path.isEmpty());
    const QString result = m_config.filePath("result.json");
    const CliRun run = RunCli({"--firmware", Package(), "--port", path, "--result-json", result,
                               "--timeout", "120", "--no-progress", "--operator", "J. Doe"});
    sim.waitForFinished(30000); // it ends by itself once complete; slow under a sanitizer
    StopSim(sim);
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("Firmware: firmware package \"2026.11 K-series\" of 2026-11-30"))
        << run.out.toStdString();
    EXPECT_TRUE(run.out.contains("Begin to update K99..."));

    // The receiver saw every block of the package's image G, in order, byte for byte.
    const QJsonObject report = Report();
    ExpectClean(report, "K99X");
    const auto& g = maker->images["G"];
    EXPECT_EQ(report["blocksAccepted"].toInt(), static_cast<int>(g.size() / 129));
    const QJsonObject json = ReadJson(result);
    EXPECT_EQ(json["firmware"].toString(), "2026.11 K-series");
    // The record of who, where, when and with which key; the texts as they are (a terminal's
    // escapes are no part of a record); a pseudo-terminal named by its path alone.
    EXPECT_TRUE(
        QRegularExpression("^[0-9A-F]{1,16}$").match(json["signedBy"].toString()).hasMatch())
        << json["signedBy"].toString().toStdString();
    EXPECT_EQ(json["operator"].toString(), "J. Doe");
    EXPECT_FALSE(json["host"].toString().isEmpty());
    const QRegularExpression utc("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$");
    EXPECT_TRUE(utc.match(json["startedAt"].toString()).hasMatch());
    EXPECT_LE(json["startedAt"].toString(), json["endedAt"].toString());
    EXPECT_EQ(json["reason"].toString(),
              "Firmware update complete.\r\nPlease turn off the receiver.");
    EXPECT_EQ(json["port"].toString(), path);
    EXPECT_FALSE(json.contains("portIdentity"));
    const QJsonArray images = json["images"].toArray();
    ASSERT_EQ(images.size(), 1);
    EXPECT_EQ(images[0].toObject()["name"].toString(), "G");
    EXPECT_EQ(images[0].toObject()["length"].toInt(), static_cast<int>(g.size()));
    EXPECT_EQ(images[0].toObject()["sha256"].toString(), Sha256(g));
}

TEST_F(PackageCliTest, TwoStagePackageAgainstTheInProcessReceiver) {
    ASSERT_TRUE(maker->Write());
    const QString result = m_config.filePath("result.json");
    const CliRun run = RunCli({"--firmware", Package(), "--trusted-key", Key(), "--simulate",
                               "K64U", "--simulate-report", ReportPath(), "--result-json", result,
                               "--timeout", "120", "--no-progress"});
    ASSERT_EQ(run.exitCode, 0) << run.out.toStdString() << run.err.toStdString();
    const QJsonObject report = Report();
    ExpectClean(report, "K64U");
    const QJsonArray segments = report["segments"].toArray();
    ASSERT_EQ(segments.size(), 2);
    EXPECT_EQ(segments[0].toObject()["sha256"].toString(), Sha256(maker->images["PXA271"]));
    EXPECT_EQ(segments[1].toObject()["sha256"].toString(), Sha256(maker->images["FPGA"]));
    const QJsonArray images = ReadJson(result)["images"].toArray();
    ASSERT_EQ(images.size(), 2);
    EXPECT_EQ(images[0].toObject()["name"].toString(), "PXA271");
    EXPECT_EQ(images[1].toObject()["sha256"].toString(), Sha256(maker->images["FPGA"]));
}

TEST_F(PackageCliTest, EveryTamperingIsRefusedBeforeAByteReachesTheReceiver) {
    ASSERT_TRUE(maker->MakeKey("intruder"));
    for (const orvane::test::Tampering& t : orvane::test::Tamperings()) {
        QTemporaryDir root;
        PackageMaker p(root.path().toStdString());
        fs::copy_file(maker->SecretKey(t.key), p.SecretKey(t.key));
        if (t.beforeSigning)
            t.beforeSigning(p);
        ASSERT_TRUE(p.Write({}, t.key)) << t.what;
        if (t.afterSigning)
            t.afterSigning(p.dir);

        QFile::remove(ReportPath());
        QProcess sim;
        const QString path = StartSim(sim, {"--id", "K64E"});
        ASSERT_FALSE(path.isEmpty()) << t.what;
        const CliRun run = RunCli({"--firmware", QString::fromStdString(p.dir.string()),
                                   "--trusted-key", Key(), "--port", path, "--timeout", "20"});
        StopSim(sim);
        EXPECT_EQ(run.exitCode, 4) << t.what << "\n" << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromStdString((p.dir / t.file).string())))
            << t.what << "\n"
            << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(QString::fromUtf8(t.says))) << t.what;
        const QJsonObject report = Report();
        ASSERT_FALSE(report.isEmpty()) << t.what;
        EXPECT_EQ(report["handshakesSeen"].toInt(), 0) << t.what;
        EXPECT_EQ(report["strayBytes"].toInt(), 0) << t.what;
        EXPECT_EQ(report["blocksAccepted"].toInt(), 0) << t.what;
    }
}

TEST_F(PackageCliTest, ReceiverWhoseImageThePackageLacksGetsNothing) {
    ASSERT_TRUE(maker->Write());
    const CliRun catalogue =
        RunCli({"--firmware", Package(), "--trusted-key", Key(), "--catalogue"});
    ASSERT_EQ(catalogue.exitCode, 0) << catalogue.err.toStdString();
    EXPECT_TRUE(catalogue.out.startsWith("Firmware: firmware package \"2026.11 K-series\""));
    EXPECT_TRUE(catalogue.out.contains(QRegularExpression("K37E .* not in this firmware package")))
        << catalogue.out.toStdString();
    EXPECT_TRUE(catalogue.out.contains(QRegularExpression("27  K99X +K99 +G +25800 bytes")))
        << catalogue.out.toStdString();

    const CliRun run = RunCli({"--firmware", Package(), "--trusted-key", Key(), "--simulate",
                               "K37E", "--simulate-report", ReportPath(), "--timeout", "20"});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_TRUE(
        run.err.contains("K37E: image B is not in this firmware package (2026.11 K-series); "
                         "nothing was sent."))
        << run.err.toStdString();
    EXPECT_EQ(Report()["blocksAccepted"].toInt(), 0);
}

TEST_F(PackageCliTest, PlaceholderImagesSayWhatTheyAre) {
    const CliRun catalogue = RunCli({"--catalogue"});
    EXPECT_TRUE(catalogue.out.startsWith("Firmware: placeholder images"))
        << catalogue.out.toStdString();
    const QString result = m_config.filePath("result.json");
    const CliRun run = RunCli({"--simulate", "K64E", "--result-json", result, "--timeout", "60"});
    ASSERT_EQ(run.exitCode, 0);
    EXPECT_EQ(ReadJson(result)["firmware"].toString(), "placeholder images");
    EXPECT_EQ(ReadJson(result)["images"].toArray()[0].toObject()["sha256"].toString().size(), 64);
}

} // namespace
