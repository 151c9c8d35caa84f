#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvane {
namespace {

TEST(CommandLineTest, WrapBreaksOnlyLongLinesAtBlanks) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t width;
        std::string expected;
    };
    const Case cases[] = {
        {"short line kept, blanks and all", "a  b", 10, "a  b"},
        {"broken at blanks", "one two three four", 9, "one two\nthree\nfour"},
        {"a long word keeps its own line", "x abcdefghijk y", 5, "x\nabcdefghijk\ny"},
        {"own line breaks kept", "first\n\nsecond", 10, "first\n\nsecond"},
        {"indentation carried on", "  aa bb cc dd", 8, "  aa bb\n  cc dd"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(HelpFormatter::Wrap(c.text, c.width), c.expected) << c.name;
}

// What the programs rely on: the last value of a plain option, every value of a repeated
// one, help and version as flags, and a one-line error for anything else.
TEST(CommandLineTest, OptionsParseAsTheProgramsExpect) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        std::string last;
        std::vector<std::string> all;
        bool help;
    };
    const Case cases[] = {
        {{"--last", "1", "--last", "2"}, true, "2", {}, false},
        {{"--all=a", "--all", "b"}, true, "", {"a", "b"}, false},
        {{"-?"}, true, "", {}, true},
        {{"--help-all", "--last", "x"}, true, "x", {}, true},
        {{"--all", "a", "b"}, false, "", {"a"}, false}, // a stray argument
        {{"--nonsense"}, false, "", {}, false},
        {{"--last"}, false, "", {}, false}, // its value missing
    };
    for (const Case& c : cases) {
        CLI::App app("test", "test");
        const StandardOptions standard = SetUpCommandLine(app);
        std::string last;
        std::vector<std::string> all;
        app.add_option("--last", last, "the last one wins");
        app.add_option("--all", all, "every one is kept")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->allow_extra_args(false);
        std::vector<std::string> argv = c.args;
        std::reverse(argv.begin(), argv.end()); // CLI11 takes them last first
        bool ok = true;
        try {
            app.parse(argv);
        } catch (const CLI::ParseError& e) {
            ok = false;
            EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
        }
        const std::string what = c.args.front();
        EXPECT_EQ(ok, c.ok) << what;
        if (!ok)
            continue;
        EXPECT_EQ(last, c.last) << what;
        EXPECT_EQ(all, c.all) << what;
        EXPECT_EQ(standard.help->count() > 0, c.help) << what;
        EXPECT_EQ(standard.version->count(), 0u) << what;
    }
}

TEST(CommandLineTest, HelpStartsWithUsageAndNamesEveryOption) {
    CLI::App app("What it does.\n  an example, as written", "prog");
    SetUpCommandLine(app);
    std::string value;
    std::string longText;
    for (int i = 0; i < 40; ++i)
        longText += "words ";
    app.add_option("--value", value, longText)->type_name("V");
    AddFlag(app, "--flag", "A flag.");
    const std::string help = app.help();
    EXPECT_EQ(help.rfind("Usage: prog", 0), 0u) << help;
    EXPECT_NE(help.find("\nWhat it does.\n  an example, as written\n"), std::string::npos) << help;
    for (const char* option : {"--help", "--version", "--value V", "--flag"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
    std::size_t start = 0;
    for (std::size_t end; (end = help.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_LE(end - start, HelpFormatter::kLineWidth) << help.substr(start, end - start);
}

} // namespace
} // namespace orvane
