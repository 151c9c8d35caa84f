#include "platform/child_process.h"
#include "platform/console.h"
#include "platform/program_path.h"
#include "platform/system_error.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace orvane {
namespace {

using Clock = std::chrono::steady_clock;

// What differs between the systems: Windows has no signals, so a child that does not listen
// for a stop request goes on until it is killed, and the system's texts differ.
#ifdef _WIN32
constexpr bool kUnheededStopEnds = false;
const std::string kNoSuchFileText = ErrorText(2); // ERROR_FILE_NOT_FOUND
// A folder is refused with a text that differs between Windows and Wine.
const std::string kNotAProgramText;
#else
constexpr bool kUnheededStopEnds = true;
const std::string kNoSuchFileText = "No such file";
const std::string kNotAProgramText = "ermission denied";
#endif

// Text as the child wrote it, without the carriage returns a Windows program puts before its
// line breaks.
std::string Lines(std::string text) {
    std::erase(text, '\r');
    return text;
}

// The helper program is built beside this test.
std::string Helper() {
    return (PathFromUtf8(ProgramPath()).parent_path() / ORVANE_CHILD_HELPER_NAME).string();
}

struct Collected {
    std::string out, err;
    ChildExit exit;
    bool ended = false;
};

// Reads both channels until the child has ended and said everything, as the station does.
Collected RunToEnd(ChildProcess& child,
                   std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    Collected c;
    const auto deadline = Clock::now() + limit;
    bool outOpen = true, errOpen = true;
    while (Clock::now() < deadline) {
        WaitForChildren({&child}, 50);
        outOpen = child.ReadOutput(c.out) == ChildOutput::Open;
        errOpen = child.ReadErrors(c.err) == ChildOutput::Open;
        if (!c.ended)
            c.ended = child.TryWait(&c.exit);
        if (c.ended && !outOpen && !errOpen)
            break;
    }
    return c;
}

TEST(ChildProcessTest, OutputErrorsAndExitCodeArriveAsWritten) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string out, err;
        int code;
    };
    const Case cases[] = {
        {"silent", {}, "", "", 0},
        {"both channels", {"out:one", "err:oops", "out:two"}, "one\ntwo\n", "oops\n", 0},
        {"exit code", {"out:bye", "exit:3"}, "bye\n", "", 3},
        {"code above 127", {"exit:200"}, "", "", 200},
        {"arguments stay whole", {"out:a b  \"c\" $HOME *"}, "a b  \"c\" $HOME *\n", "", 0},
        {"standard input is empty", {"stdin", "exit:1"}, "stdin ended\n", "", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start(Helper(), c.args, &error)) << error;
        EXPECT_GT(child.Id(), 0);
        const Collected got = RunToEnd(child);
        ASSERT_TRUE(got.ended);
        EXPECT_EQ(Lines(got.out), c.out);
        EXPECT_EQ(Lines(got.err), c.err);
        EXPECT_TRUE(got.exit.normal);
        EXPECT_EQ(got.exit.code, c.code);
        // The end is kept: asking again gives the same answer.
        ChildExit again;
        EXPECT_TRUE(child.TryWait(&again));
        EXPECT_EQ(again.code, c.code);
    }
}

// A child that writes without pause is read in bounded portions and never blocks on a full
// pipe.
TEST(ChildProcessTest, FloodIsReadWholeInBoundedPortions) {
    constexpr std::size_t kBytes = 8u << 20;
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.Start(Helper(), {"flood:" + std::to_string(kBytes)}, &error)) << error;
    std::string out;
    std::size_t largest = 0;
    bool ended = false;
    ChildExit exit;
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
        WaitForChildren({&child}, 50);
        const std::size_t before = out.size();
        const ChildOutput state = child.ReadOutput(out);
        largest = std::max(largest, out.size() - before);
        ended = ended || child.TryWait(&exit);
        if (ended && state == ChildOutput::Ended)
            break;
    }
    ASSERT_TRUE(ended);
    EXPECT_EQ(out.size(), kBytes);
    EXPECT_EQ(out.find_first_not_of('x'), std::string::npos);
    EXPECT_LE(largest, (1u << 20) + 65536);
    EXPECT_TRUE(exit.normal);
    EXPECT_EQ(exit.code, 0);
}

TEST(ChildProcessTest, TerminateAsksAndKillEnds) {
    struct Case {
        const char* name;
        std::vector<std::string> args;
        bool endsOnTerminate;
        bool endsNormally; // by itself, with exit code 3, rather than by a signal or Kill
    };
    const Case cases[] = {
        {"listens and ends when asked", {"listen", "out:ready", "sleep:20000"}, true, true},
        {"does not listen", {"out:ready", "sleep:20000"}, kUnheededStopEnds, false},
        {"ignores the request", {"hold-term", "out:ready", "sleep:20000"}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess child;
        std::string error;
        ASSERT_TRUE(child.Start(Helper(), c.args, &error)) << error;
        std::string out;
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (out.find("ready") == std::string::npos && Clock::now() < deadline) {
            WaitForChildren({&child}, 50);
            child.ReadOutput(out);
        }
        ASSERT_NE(out.find("ready"), std::string::npos);
        EXPECT_FALSE(child.TryWait(nullptr));

        child.Terminate();
        Collected got = RunToEnd(child, std::chrono::milliseconds(1500));
        EXPECT_EQ(got.ended, c.endsOnTerminate);
        if (!got.ended) {
            child.Kill();
            got = RunToEnd(child);
            ASSERT_TRUE(got.ended);
        }
        EXPECT_EQ(got.exit.normal, c.endsNormally);
        if (c.endsNormally) {
            EXPECT_EQ(got.exit.code, 3);
        }
    }
}

TEST(ChildProcessTest, AProgramThatCannotStartSaysWhy) {
    struct Case {
        const char* name;
        std::string program;
        std::string reason;
    };
    const Case cases[] = {
        {"no such file", "/nonexistent/orvane-no-such-program", kNoSuchFileText},
        {"not in the path", "orvane-no-such-program-anywhere", kNoSuchFileText},
        {"a folder", PathFromUtf8(ProgramPath()).parent_path().string(), kNotAProgramText},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ChildProcess child;
        std::string error;
        EXPECT_FALSE(child.Start(c.program, {}, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_FALSE(child.Started());
        std::string out;
        EXPECT_EQ(child.ReadOutput(out), ChildOutput::Ended);
        EXPECT_FALSE(child.TryWait(nullptr));
    }
}

TEST(ChildProcessTest, WaitReturnsWhenAnyChildSpeaksAndTimesOutOtherwise) {
    ChildProcess quiet, speaker;
    std::string error;
    ASSERT_TRUE(quiet.Start(Helper(), {"sleep:20000"}, &error)) << error;
    ASSERT_TRUE(speaker.Start(Helper(), {"sleep:300", "out:hello"}, &error)) << error;

    auto start = Clock::now();
    EXPECT_FALSE(WaitForChildren({&quiet, nullptr}, 100));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(90));

    start = Clock::now();
    EXPECT_TRUE(WaitForChildren({&quiet, &speaker}, 10000));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    std::string out;
    speaker.ReadOutput(out);
    EXPECT_EQ(Lines(out), "hello\n");
    // The quiet one is killed and reaped with its owner.
}

} // namespace
} // namespace orvane
