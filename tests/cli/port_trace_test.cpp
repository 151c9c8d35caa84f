// The line trace: every chunk in hex, and every whole frame the chunks make, however the line
// cuts them or whatever it sends between them.
#include "cli/port_trace.h"

#include "ui/scripted_link.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace orvane::app {
namespace {

using Bytes = ui::testing::Bytes;

// The receiver's reply frames, as the window's tests build them.
Bytes Frame(char c1, char c2, const std::string& payload) {
    return ui::testing::ReplyFrame(c1, c2, payload);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The frame lines a trace writes for `stream` received in chunks of `chunk` bytes.
std::vector<std::string> ReceivedFrames(const Bytes& stream, std::size_t chunk) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), &std::fclose);
    PortTrace trace(file.get());
    for (std::size_t i = 0; i < stream.size(); i += chunk) {
        const std::size_t n = std::min(chunk, stream.size() - i);
        trace.Received(stream.data() + i, static_cast<int>(n));
    }
    std::rewind(file.get());
    std::vector<std::string> frames;
    char line[4096];
    while (std::fgets(line, sizeof line, file.get())) {
        const std::string text(line);
        const auto at = text.find("RX frame ");
        if (at != std::string::npos)
            frames.push_back(text.substr(at + 9, text.size() - at - 10));
    }
    return frames;
}

TEST(PortTrace, FramesAreFoundHoweverTheLineCutsThem) {
    const Bytes k64e = Frame('S', 'S', "K64E");
    const Bytes ack = Frame('S', 'X', "");
    Bytes bad = Frame('S', 'X', "");
    bad[6] ^= 0xFF;
    struct Case {
        const char* name;
        Bytes stream;
        std::vector<std::string> frames;
    };
    const std::vector<Case> cases = {
        {"two frames",
         Join({k64e, ack}),
         {"SS type 20, 4 bytes: \"K64E\"", "SX type 20, 0 bytes: \"\""}},
        {"noise and a banner before",
         Join({Bytes{'x', '$', 'B', 'o', 'o', 't', '\r', '\n'}, ack}),
         {"SX type 20, 0 bytes: \"\""}},
        {"a wrong checksum is shown, and the next frame still found",
         Join({bad, ack}),
         {"SX type 20, 0 bytes: \"\" (wrong checksum)", "SX type 20, 0 bytes: \"\""}},
        {"control bytes in a payload are escaped",
         Frame('S', 'S', "\x1b[2J"),
         {"SS type 20, 4 bytes: \"\\x1B[2J\""}},
    };
    for (const Case& c : cases) {
        for (const std::size_t chunk :
             {std::size_t{1}, std::size_t{3}, std::size_t{7}, c.stream.size()})
            EXPECT_EQ(ReceivedFrames(c.stream, chunk), c.frames)
                << c.name << ", chunks of " << chunk;
    }
}

TEST(PortTrace, ALineOfNoiseKeepsTheTraceBounded) {
    // A "$$" announcing 255 bytes, then megabytes of noise, then a frame: the false start is
    // shown as the broken frame it is, the noise is dropped as it goes, and the frame after it
    // is still found.
    Bytes stream{'$', '$', 'S', 'S', 20, 255};
    stream.resize(stream.size() + 2 * 1024 * 1024, 'n');
    const Bytes ack = Frame('S', 'X', "");
    stream.insert(stream.end(), ack.begin(), ack.end());
    const auto frames = ReceivedFrames(stream, 4096);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_NE(frames[0].find("255 bytes"), std::string::npos) << frames[0];
    EXPECT_NE(frames[0].find("(207 more) (wrong checksum) (no CR LF)"), std::string::npos)
        << frames[0];
    EXPECT_EQ(frames[1], "SX type 20, 0 bytes: \"\"");
}

TEST(PortTrace, DescribesOnlyWholeFrames) {
    const Bytes ack = Frame('S', 'X', "");
    std::size_t length = 0;
    EXPECT_EQ(PortTrace::DescribeFrame(ack.data(), ack.size() - 1, &length), "");
    EXPECT_EQ(PortTrace::DescribeFrame(ack.data(), ack.size(), &length),
              "SX type 20, 0 bytes: \"\"");
    EXPECT_EQ(length, ack.size());
}

} // namespace
} // namespace orvane::app
