// Fuzzes the small text readers that take outside input: the line settings text, the stored
// port name, and the receiver identifier taken out of an identification reply.
//
// Invariants:
// - ParseSettings either succeeds and writes the four line fields with values in their
//   ranges (a rate above 0, a parity and stop-bit code the device knows), leaving the rest
//   alone, or fails and leaves the settings exactly as they were; it cannot succeed with
//   fewer than four "=" (each value starts right after one); a well-formed text reads back
//   the values it was made from;
// - PortNumberFromName gives 1 to 255, 1 when "COM" is absent, and n for "COM<n>";
// - ExtractToken gives at most kMaxTokenChars bytes without white space or NUL, taken
//   unchanged from the payload right after its leading white space;
// - NormaliseIdentifier either leaves the token alone or turns an S form into four digits by
//   changing only its S, after which it is no longer an S form.
#include "firmware/identify.h"
#include "fuzz_check.h"
#include "serial/serial_port.h"
#include "ui/main_frame.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using orvane::fuzz::Check;

bool IsWhite(unsigned c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

void FreeSettings(FuzzedDataProvider& fdp) {
    orvane::LineSettings before;
    before.BaudRate = fdp.ConsumeIntegral<std::uint32_t>();
    before.ByteSize = fdp.ConsumeIntegral<std::uint8_t>();
    before.Parity = fdp.ConsumeIntegral<std::uint8_t>();
    before.StopBits = fdp.ConsumeIntegral<std::uint8_t>();
    before.fRtsControl = fdp.ConsumeIntegral<std::uint8_t>();
    const std::string text = fdp.ConsumeRemainingBytesAsString();

    orvane::LineSettings after = before;
    if (!orvane::CSerialPort::ParseSettings(text, after)) {
        Check(after == before, "a failed parse leaves the settings untouched");
        return;
    }
    Check(std::count(text.begin(), text.end(), '=') >= 4, "four values need four '='");
    Check(after.BaudRate > 0, "the baud rate is above 0");
    Check(after.Parity <= orvane::SPACEPARITY, "the parity is a known code");
    Check(after.StopBits <= orvane::TWOSTOPBITS, "the stop bits are a known code");
    Check(after.fRtsControl == before.fRtsControl, "only the four line fields are written");
}

void WellFormedSettings(FuzzedDataProvider& fdp) {
    const auto baud = fdp.ConsumeIntegralInRange<std::uint32_t>(1, UINT32_MAX);
    static const char kParity[] = "EeMmNnOoSs";
    static const std::uint8_t kParityCode[] = {2, 2, 3, 3, 0, 0, 1, 1, 4, 4};
    const auto p = fdp.ConsumeIntegralInRange<int>(0, 9);
    const auto data = fdp.ConsumeIntegralInRange<int>(5, 8);
    static const char* const kStop[] = {"1", "1.5", "2"};
    const auto s = fdp.ConsumeIntegralInRange<int>(0, 2);
    char text[96];
    std::snprintf(text, sizeof text, "baud=%u parity=%c data=%d stop=%s", baud, kParity[p], data,
                  kStop[s]);
    orvane::LineSettings settings;
    settings.fRtsControl = orvane::RTS_CONTROL_ENABLE;
    Check(orvane::CSerialPort::ParseSettings(text, settings), "a well-formed text parses");
    Check(settings.BaudRate == baud && settings.Parity == kParityCode[p] &&
              settings.ByteSize == data && settings.StopBits == s,
          "a well-formed text reads back its values");
}

void PortName(FuzzedDataProvider& fdp) {
    const bool structured = fdp.ConsumeBool();
    if (structured) {
        const auto n = fdp.ConsumeIntegralInRange<int>(-300, 300);
        std::string tail = fdp.ConsumeRemainingBytesAsString();
        if (!tail.empty() && tail[0] >= '0' && tail[0] <= '9')
            tail[0] = 'x'; // a digit would extend the number
        std::u16string name = u"COM";
        for (const char c : std::to_string(n) + tail)
            name.push_back(static_cast<unsigned char>(c));
        const int port = orvane::ui::PortNumberFromName(name);
        Check(port == (n >= 1 && n <= 255 ? n : 1), "COM<n> selects port n when it is 1 to 255");
        return;
    }
    std::u16string name;
    while (fdp.remaining_bytes() >= 2)
        name.push_back(fdp.ConsumeIntegral<char16_t>());
    const int port = orvane::ui::PortNumberFromName(name);
    Check(port >= 1 && port <= 255, "the port number is 1 to 255");
    if (name.find(u"COM") == std::u16string::npos)
        Check(port == 1, "a name without COM selects port 1");
}

void Identifier(FuzzedDataProvider& fdp) {
    const auto payload = fdp.ConsumeRemainingBytes<std::uint8_t>();
    std::string token = orvane::firmware::ExtractToken(payload.data(), payload.size());
    Check(token.size() <= orvane::firmware::kMaxTokenChars, "the token fits its field");
    for (const char c : token) {
        const auto u = static_cast<unsigned char>(c);
        Check(u != 0 && !IsWhite(u), "the token holds no white space or NUL");
    }
    std::size_t start = 0;
    while (start < payload.size() && IsWhite(payload[start]))
        ++start;
    Check(start + token.size() <= payload.size() &&
              std::equal(token.begin(), token.end(), payload.begin() + start,
                         [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; }),
          "the token is the payload's first word, unchanged");

    const std::string original = token;
    if (!orvane::firmware::NormaliseIdentifier(token)) {
        Check(token == original, "a token that is no S form is left alone");
        return;
    }
    Check(token.size() == 4 && original.size() == 4, "S forms and digit forms have four chars");
    for (std::size_t i = 0; i < 4; ++i) {
        Check(token[i] >= '0' && token[i] <= '9', "a normalised identifier is all digits");
        if (i != 2)
            Check(token[i] == original[i], "normalising changes only the S");
    }
    Check((original[2] | 0x20) == 's', "the changed character was the S");
    Check(!orvane::firmware::NormaliseIdentifier(token), "a digit form is no S form");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider fdp(data, size);
    switch (fdp.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
        FreeSettings(fdp);
        break;
    case 1:
        WellFormedSettings(fdp);
        break;
    case 2:
        PortName(fdp);
        break;
    default:
        Identifier(fdp);
        break;
    }
    return 0;
}
