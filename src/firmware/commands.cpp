#include "firmware/commands.h"

#include "platform/text.h"

#include <charconv>

namespace orvane::firmware {

namespace {

bool IsAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool IsSpace(unsigned char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads a decimal integer starting at text[pos] (leading white space and a sign allowed),
// as a 32-bit value with the wrap-around of two's complement. False when no digit follows.
bool ReadInteger(const std::string& text, std::size_t pos, std::uint32_t& value) {
    while (pos < text.size() && IsSpace(static_cast<unsigned char>(text[pos])))
        ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9')
        return false;
    std::uint32_t v = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        v = v * 10u + static_cast<std::uint32_t>(text[pos] - '0');
        ++pos;
    }
    value = negative ? 0u - v : v;
    return true;
}

void AppendNumber(std::u16string& out, std::uint32_t n) {
    char buf[16];
    const auto res = std::to_chars(buf, buf + sizeof buf, n);
    for (const char* p = buf; p != res.ptr; ++p)
        out.push_back(static_cast<char16_t>(*p));
}

} // namespace

std::uint8_t XorChecksum(const std::uint8_t* bytes, std::size_t count) {
    std::uint8_t x = 0;
    for (std::size_t i = 0; i < count; ++i)
        x ^= bytes[i];
    return x;
}

std::u16string HandshakeText() {
    return FormatText("SS, B%d,B%d,", kHandshakeStamp[0], kHandshakeStamp[1]);
}

std::u16string BlockCommandText(std::uint32_t addressBefore, std::uint32_t blockAddress,
                                const std::uint8_t* data, std::uint32_t count) {
    std::u16string text = FormatText("SX, B%d, B%d, B%u, B%u, B%u", 0, 0, addressBefore / 256,
                                     blockAddress / 256, blockAddress % 256);
    text.reserve(text.size() + count * 5);
    for (std::uint32_t i = 0; i < count; ++i) {
        text += u",B";
        AppendNumber(text, data[i]);
    }
    return text;
}

std::vector<std::uint8_t> EncodeFrame(std::u16string_view text, std::uint8_t frameType) {
    std::string bytes = ToAnsi(text.substr(0, kMaxCommandChars));
    if (const auto nul = bytes.find('\0'); nul != std::string::npos)
        bytes.resize(nul);

    std::vector<std::uint8_t> frame;
    frame.reserve(kMaxFrameBytes);
    frame.push_back(0x24);
    frame.push_back(0x24);
    int letters = 0;
    bool armed = false;

    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (frame.size() >= kFrameStop)
            break;
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (letters < 2) {
            if (IsAsciiLetter(c)) {
                frame.push_back(c);
                if (++letters == 2)
                    frame.resize(6); // offsets 4 and 5 are filled at the end
            }
            continue;
        }
        if (c == ',' || c == ' ') {
            armed = true;
            continue;
        }
        if (!armed)
            continue;
        const unsigned char item = static_cast<unsigned char>(c | 0x20);
        if (item == 's') {
            // Every remaining character, held to the same stop as the other items so the
            // length byte can always describe the payload.
            for (std::size_t k = i + 1; k < bytes.size() && frame.size() < kFrameStop; ++k)
                frame.push_back(static_cast<std::uint8_t>(bytes[k]));
            break;
        }
        if (item != 'b' && item != 'w' && item != 'l')
            continue;
        std::uint32_t value = 0;
        if (ReadInteger(bytes, i + 1, value)) {
            const int width = item == 'b' ? 1 : item == 'w' ? 2 : 4;
            for (int k = 0; k < width; ++k)
                frame.push_back(static_cast<std::uint8_t>(value >> (8 * k)));
        }
        // An item letter without a number appends nothing; either way the item ends here.
        armed = false;
        ++i; // the character right after the letter is skipped
    }

    if (letters < 2)
        return {};
    frame[4] = frameType;
    frame[5] = static_cast<std::uint8_t>(frame.size() - 6);
    frame.push_back(XorChecksum(frame.data() + 2, frame.size() - 2));
    frame.push_back(0x0D);
    frame.push_back(0x0A);
    return frame;
}

} // namespace orvane::firmware
