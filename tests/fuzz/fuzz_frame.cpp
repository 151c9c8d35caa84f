// Fuzzes the frame encoding with command texts of every kind: arbitrary UTF-16, arbitrary
// bytes, block commands as the update view makes them, and item lists (B, W, L, S items)
// built from the input.
//
// Invariants, checked against a frame parser of our own:
// - the result is empty exactly when the text has fewer than two ASCII letters; otherwise it
//   is "$$", the text's first two ASCII letters, the given type, N = size - 9, N payload
//   bytes, the XOR checksum, CR LF, and never longer than kMaxFrameBytes;
// - a block command's payload is the five header bytes and the data bytes;
// - an item list's payload is each item's bytes in order, up to the stop at 256 frame bytes;
// - a frame the reply decoder can hold is recognised by it on its last byte and no other
//   (none when bit 3 of the type is set).
#include "firmware/commands.h"
#include "firmware/decoder.h"
#include "fuzz_check.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using orvane::firmware::EncodeFrame;
using orvane::firmware::kMaxCommandChars;
using orvane::firmware::kMaxFrameBytes;

constexpr std::size_t kFrameStop = orvane::firmware::kFrameStop;

using orvane::fuzz::Check;

bool IsAsciiLetter(unsigned c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

struct Parsed {
    char letters[2];
    std::uint8_t type;
    std::vector<std::uint8_t> payload;
};

// Reads a frame back; nullopt when any part of the layout is wrong.
std::optional<Parsed> ParseFrame(const std::vector<std::uint8_t>& f) {
    if (f.size() < 9 || f[0] != 0x24 || f[1] != 0x24)
        return std::nullopt;
    if (!IsAsciiLetter(f[2]) || !IsAsciiLetter(f[3]))
        return std::nullopt;
    const std::size_t n = f[5];
    if (f.size() != n + 9 || f[n + 7] != 0x0D || f[n + 8] != 0x0A)
        return std::nullopt;
    std::uint8_t x = 0;
    for (std::size_t i = 2; i < n + 6; ++i)
        x ^= f[i];
    if (x != f[n + 6])
        return std::nullopt;
    return Parsed{{static_cast<char>(f[2]), static_cast<char>(f[3])},
                  f[4],
                  std::vector<std::uint8_t>(f.begin() + 6, f.begin() + 6 + n)};
}

// The first two ASCII letters of the text as the encoder sees it: at most kMaxCommandChars
// code units, each above 0xFF standing for '?', up to the first NUL.
std::string LeadingLetters(const std::u16string& text) {
    std::string letters;
    const std::size_t end = std::min(text.size(), kMaxCommandChars);
    for (std::size_t i = 0; i < end && letters.size() < 2; ++i) {
        const char16_t c = text[i];
        if (c == 0)
            break;
        if (c <= 0xFF && IsAsciiLetter(c))
            letters.push_back(static_cast<char>(c));
    }
    return letters;
}

// Encodes, checks the layout, and hands back the parsed frame (nullopt for an empty result).
std::optional<Parsed> EncodeChecked(const std::u16string& text, std::uint8_t type) {
    const auto frame = EncodeFrame(text, type);
    Check(frame.size() <= kMaxFrameBytes, "no frame is longer than kMaxFrameBytes");
    const std::string letters = LeadingLetters(text);
    if (letters.size() < 2) {
        Check(frame.empty(), "a text without two letters makes no frame");
        return std::nullopt;
    }
    auto parsed = ParseFrame(frame);
    Check(parsed.has_value(), "the frame is well formed");
    Check(parsed->letters[0] == letters[0] && parsed->letters[1] == letters[1],
          "the frame carries the text's first two letters");
    Check(parsed->type == type, "the frame carries the given type");

    // The reply decoder shares the layout: a frame its buffer holds is taken whole, and
    // completes on its last byte unless bit 3 of the type drops it. (A longer frame is dropped
    // at its length byte, and its payload is then read as line bytes like any other.)
    if (parsed->payload.size() <= orvane::firmware::CTolvarenFormat::kMaxPayload) {
        orvane::firmware::CTolvarenFormat decoder;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            const bool done = decoder.PutByte(frame[i]);
            Check(done == ((type & 0x08) == 0 && i + 1 == frame.size()),
                  "the decoder recognises an encoded frame on its last byte only");
        }
    }
    return parsed;
}

// Bytes to code units as the encoder reads them back (Latin-1), without sign extension.
std::u16string Widen(const std::string& s) {
    std::u16string out;
    for (const char c : s)
        out.push_back(static_cast<unsigned char>(c));
    return out;
}

std::string Letter(FuzzedDataProvider& fdp) {
    const auto i = fdp.ConsumeIntegralInRange<int>(0, 51);
    return std::string(1, static_cast<char>(i < 26 ? 'A' + i : 'a' + (i - 26)));
}

void BlockCommand(FuzzedDataProvider& fdp, std::uint8_t type) {
    const auto before = fdp.ConsumeIntegral<std::uint32_t>();
    const auto address = fdp.ConsumeIntegral<std::uint32_t>();
    const auto count = fdp.ConsumeIntegralInRange<std::uint32_t>(0, 128);
    std::vector<std::uint8_t> data = fdp.ConsumeBytes<std::uint8_t>(count);
    data.resize(count);
    const auto text = orvane::firmware::BlockCommandText(before, address, data.data(), count);
    const auto parsed = EncodeChecked(text, type);
    Check(parsed.has_value(), "a block command makes a frame");
    Check(parsed->letters[0] == 'S' && parsed->letters[1] == 'X', "a block command is SX");
    std::vector<std::uint8_t> expected = {0, 0, static_cast<std::uint8_t>(before / 256),
                                          static_cast<std::uint8_t>(address / 256),
                                          static_cast<std::uint8_t>(address % 256)};
    expected.insert(expected.end(), data.begin(), data.end());
    Check(parsed->payload == expected, "a block frame carries its header and data bytes");
}

void ItemList(FuzzedDataProvider& fdp, std::uint8_t type) {
    std::string text = Letter(fdp) + Letter(fdp);
    std::vector<std::uint8_t> expected;
    bool stopped = false; // the frame reached the stop: later items add nothing
    const auto items = fdp.ConsumeIntegralInRange<int>(0, 200);
    for (int k = 0; k < items && fdp.remaining_bytes() > 0; ++k) {
        static const char* const kSeparators[] = {",", " ", ", ", " ,"};
        text += kSeparators[fdp.ConsumeIntegralInRange<int>(0, 3)];
        stopped = stopped || 6 + expected.size() >= kFrameStop;
        const auto kind = fdp.ConsumeIntegralInRange<int>(0, 6);
        if (kind == 6) {
            // S item: every remaining character, one byte each (NUL would end the text).
            std::string rest = fdp.ConsumeRandomLengthString(400);
            for (auto& c : rest)
                c = c == '\0' ? '0' : c;
            text += (fdp.ConsumeBool() ? "S" : "s") + rest;
            for (const char c : rest) {
                if (stopped || 6 + expected.size() >= kFrameStop)
                    break;
                expected.push_back(static_cast<std::uint8_t>(c));
            }
            break;
        }
        const char letter = "BbWwLl"[kind];
        const int width = kind < 2 ? 1 : kind < 4 ? 2 : 4;
        const auto value = fdp.ConsumeIntegral<std::int32_t>();
        text += letter;
        // B numbers are 16-bit; a wider one would wrap the same low byte anyway.
        text += std::to_string(width == 1 ? static_cast<std::int16_t>(value) : value);
        if (!stopped) {
            for (int b = 0; b < width; ++b)
                expected.push_back(
                    static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) >> (8 * b)));
        }
    }
    if (text.size() > kMaxCommandChars)
        return; // the cut would fall inside an item; the free-form modes cover long texts
    const auto parsed = EncodeChecked(Widen(text), type);
    Check(parsed.has_value(), "an item list makes a frame");
    Check(parsed->payload == expected, "the payload holds each item's bytes in order");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    const auto type = fdp.ConsumeIntegral<std::uint8_t>();
    switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
    case 0: { // bytes, one character each, as the commands are ASCII
        const auto bytes = fdp.ConsumeRemainingBytes<std::uint8_t>();
        EncodeChecked(std::u16string(bytes.begin(), bytes.end()), type);
        break;
    }
    case 1: { // UTF-16 code units, any value
        std::u16string text;
        while (fdp.remaining_bytes() >= 2)
            text.push_back(fdp.ConsumeIntegral<char16_t>());
        EncodeChecked(text, type);
        break;
    }
    case 2:
        BlockCommand(fdp, type);
        break;
    default:
        ItemList(fdp, type);
        break;
    }
    return 0;
}
