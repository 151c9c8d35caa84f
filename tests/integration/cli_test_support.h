// The command-line updater and the simulated receiver as separate processes: running them,
// and reading the receiver's report.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

namespace orvane::test {

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;
};

// Every run gets a settings folder of its own, so COM numbers never leak between tests or
// into the user's configuration.
class CliTest : public ::testing::Test {
protected:
    QProcessEnvironment Env() const {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", m_config.path());
        return env;
    }
    // `child` runs in the child between fork and exec: limits, closed descriptors.
    CliRun RunCli(const QStringList& args, int timeoutMs = 300000,
                  const std::function<void()>& child = {}) {
        QProcess p;
        p.setProcessEnvironment(Env());
        if (child)
            p.setChildProcessModifier(child);
        p.start(ORVANE_CLI, args);
        EXPECT_TRUE(p.waitForFinished(timeoutMs)) << args.join(' ').toStdString();
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
    // Starts orvane-bootsim and returns the path it prints.
    QString StartSim(QProcess& sim, const QStringList& args) {
        sim.setProcessEnvironment(Env());
        sim.start(ORVANE_BOOTSIM, args + QStringList{"--report", ReportPath()});
        if (!sim.waitForReadyRead(10000))
            return {};
        const QString line = QString::fromUtf8(sim.readLine()).trimmed();
        return line.startsWith("port: ") ? line.mid(6) : QString();
    }
    static void StopSim(QProcess& sim) {
        sim.terminate();
        sim.waitForFinished(10000);
    }
    QString ReportPath() const { return m_config.filePath("report.json"); }
    QJsonObject Report() const {
        QFile f(ReportPath());
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return QJsonDocument::fromJson(f.readAll()).object();
    }
    // The report shows every block once, in order, with the image's bytes.
    static void ExpectClean(const QJsonObject& report, const std::string& what) {
        EXPECT_TRUE(report["completed"].toBool()) << what;
        EXPECT_TRUE(report["errors"].toArray().isEmpty())
            << what << QJsonDocument(report["errors"].toArray()).toJson().toStdString();
        EXPECT_EQ(report["blocksAccepted"].toInt(), report["expectedBlocks"].toInt()) << what;
        for (const auto& s : report["segments"].toArray()) {
            const auto seg = s.toObject();
            EXPECT_EQ(seg["sha256"].toString(), seg["expectedSha256"].toString()) << what;
            EXPECT_EQ(seg["blocks"].toInt(), seg["expectedBlocks"].toInt()) << what;
        }
    }

    QTemporaryDir m_config;
};

} // namespace orvane::test
