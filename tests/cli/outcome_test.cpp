// The command-line updater learns what happened from the update's typed events, never from the
// texts a person reads: with every list line and box text changed, each outcome ends with the
// same exit code and the same result record.
#include "cli/ports.h"
#include "cli/runner.h"
#include "firmware/update_texts.h"
#include "platform/settings.h"
#include "sim/receiver.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <string>

namespace orvane::app {
namespace {

struct Case {
    const char* name;
    std::string id;
    std::uint32_t dropAck = 0;
    int exitCode = 0;
};

// One run against a fresh simulated receiver: the exit code and the result record without what
// differs from run to run by nature (the pseudo-terminal, durations) or is the text shown.
std::pair<int, nlohmann::json> RunAgainst(const Case& c, std::string* reason) {
    bootsim::SimulatedReceiver receiver;
    bootsim::Config config;
    config.id = c.id;
    config.dropAck = c.dropAck;
    std::string error;
    const std::string path = receiver.Start(config, &error);
    EXPECT_FALSE(path.empty()) << error;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), std::fclose);
    CliOptions options;
    options.out = out.get();
    options.err = out.get();
    options.progressBar = false;
    options.timeout = std::chrono::seconds(1);
    EXPECT_EQ(UsePortArgument(path, options, out.get()), 0);
    const CliResult result = RunUpdate(options);
    *reason = result.reason;
    nlohmann::json j = nlohmann::json::parse(ResultJson(result));
    for (const char* key : {"port", "seconds", "transferSeconds", "reason", "startedAt", "endedAt"})
        j.erase(key);
    return {result.exitCode, j};
}

TEST(Outcomes, NoDecisionRestsOnTheTextsShown) {
    QTemporaryDir settings;
    ASSERT_TRUE(settings.isValid());
    SetSettingsFolder(settings.path().toStdString());
    const Case cases[] = {
        {"complete", "K64E", 0, kExitComplete},
        {"two-stage, to the completion reply", "K64U", 0, kExitComplete},
        {"Boot ID line, speed switch", "11S2", 0, kExitComplete},
        {"unknown identifier", "ZZZZ", 0, kExitUnknownId},
        {"lost acknowledgement", "K64E", 10, kExitTimeout},
    };
    firmware::UpdateTexts edited;
    for (auto member : firmware::kAllUpdateTexts)
        edited.*member = u"[edited] " + edited.*member;
    for (const Case& c : cases) {
        std::string shownReason, editedReason;
        const auto shown = RunAgainst(c, &shownReason);
        const firmware::UpdateTexts original = firmware::ReplaceTexts(edited);
        const auto changed = RunAgainst(c, &editedReason);
        firmware::ReplaceTexts(original);
        EXPECT_EQ(shown.first, c.exitCode) << c.name << ": " << shownReason;
        EXPECT_EQ(changed.first, c.exitCode) << c.name << ": " << editedReason;
        EXPECT_EQ(changed.second, shown.second) << c.name;
        EXPECT_GT(shown.second["blocks"].get<int>() + (c.exitCode == kExitUnknownId), 0) << c.name;
    }
}

} // namespace
} // namespace orvane::app
