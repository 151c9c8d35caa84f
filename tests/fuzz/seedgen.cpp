// Writes the seed inputs of the fuzz targets into <dir>/<target>/: real frames made by the
// frame encoder (handshake, block commands, boot-loader replies), line noise around them,
// settings texts, port names and identification payloads. Rerun after a change of the frame
// layout: fuzz_seedgen tests/fuzz/corpus
#include "firmware/commands.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using orvane::firmware::EncodeFrame;

void Write(const std::filesystem::path& dir, const std::string& name, const Bytes& bytes) {
    std::filesystem::create_directories(dir);
    std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A reply frame carrying `payload` verbatim (an S item copies every character after it).
Bytes Reply(const char* code, const std::string& payload, std::uint8_t type = 20) {
    std::u16string text = u"  , S";
    text[0] = static_cast<char16_t>(code[0]);
    text[1] = static_cast<char16_t>(code[1]);
    for (const char c : payload)
        text.push_back(static_cast<unsigned char>(c));
    return EncodeFrame(text, type);
}

Bytes BlockFrame(std::uint32_t address, std::uint32_t count, std::uint8_t type) {
    std::vector<std::uint8_t> data(count);
    for (std::uint32_t i = 0; i < count; ++i)
        data[i] = static_cast<std::uint8_t>(i * 37 + address);
    return EncodeFrame(orvane::firmware::BlockCommandText(address, address, data.data(), count),
                       type);
}

void Decoder(const std::filesystem::path& dir) {
    const Bytes handshake = EncodeFrame(orvane::firmware::HandshakeText(), 24);
    const Bytes ack = Reply("SX", "");
    const std::string long55(55, 'A');
    Write(dir, "identify", Reply("SS", " 1122 BootVer 3"));
    Write(dir, "identify_sform", Reply("SS", "11s5"));
    Write(dir, "ack_ack", Join({ack, ack, Reply("SX", "ok")}));
    Write(dir, "complete", Join({Reply("SV", ""), Reply("SC", "")}));
    Write(dir, "continuation", Join({Reply("SS", long55), Reply("SS", "123")}));
    Write(dir, "continuation_other_code", Join({Reply("SS", long55), ack}));
    Write(dir, "banner", Join({Text("BootVer: 1.2\r\n"), ack, Text("B"), ack}));
    Write(dir, "type_bit3", Join({Reply("SX", "", 24), ack}));
    Write(dir, "noise",
          Join({Text("$$$x\r\n$"), handshake, Text(std::string("\x00\xff$", 3)), ack}));
    Write(dir, "short_block", BlockFrame(0x1234, 20, 25));
    Write(dir, "too_long", Join({BlockFrame(0, 128, 24), ack}));
    Write(dir, "dollar_payload", Reply("SX", "$$SX\x14\x00"));
}

// fuzz_frame reads its type from the last byte and its mode from the one before.
void Frame(const std::filesystem::path& dir) {
    Write(dir, "handshake", Join({Text("SS, B49,B54,"), {0, 24}}));
    Write(dir, "block_text", Join({Text("SX, B0, B0, B0, B0, B128,B18,B160,B255"), {0, 24}}));
    Write(dir, "items", Join({Text("AB, W-2,L70000 b255,w1 s$$tail"), {0, 21}}));
    Write(dir, "no_letters", Join({Text("12, B3"), {0, 20}}));
    Write(dir, "block_mode", Bytes{0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x10, 0x00, 40, 2, 25});
    Write(dir, "item_mode", Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 50, 3, 24});
}

// A free-form port name for fuzz_text. Its values are read from the end of the input, the
// high byte of each code unit first, so the bytes are laid down back to front.
Bytes PortName(std::u16string_view name) {
    Bytes consumed = {2, 0}; // mode 2, flag 0 (free form)
    for (const char16_t c : name) {
        consumed.push_back(static_cast<std::uint8_t>(c >> 8));
        consumed.push_back(static_cast<std::uint8_t>(c & 0xFF));
    }
    return Bytes(consumed.rbegin(), consumed.rend());
}

// fuzz_text reads its mode from the last byte: 0 settings, 1 well-formed settings,
// 2 port name, 3 identifier.
void TextSeeds(const std::filesystem::path& dir) {
    const Bytes fields = {0x80, 0x25, 0, 0, 7, 1, 1, 1}; // the settings the parse starts from
    Write(dir, "settings", Join({Text("baud=9600 parity=N data=8 stop=1"), fields, {0}}));
    Write(dir, "settings_fast", Join({Text("baud=115200 parity=e data=7 stop=2"), fields, {0}}));
    Write(dir, "settings_three", Join({Text("baud=9600 parity=N data=8"), fields, {0}}));
    Write(dir, "settings_half", Join({Text("baud=300 parity=o data=5 stop=1.5 "), fields, {0}}));
    Write(dir, "settings_made", Bytes{1, 2, 3, 4, 5, 6, 7, 1});
    Write(dir, "port_com12", PortName(u"COM12"));
    Write(dir, "port_text", PortName(u"xCOM7"));
    // Structured: mode 2, flag 1, then n = 0x0138 % 601 - 300 = 12.
    Write(dir, "port_structured", Join({Text("xyz"), {0x38, 0x01, 1, 2}}));
    Write(dir, "identifier", Join({Text(" \t1122 rest"), {3}}));
    Write(dir, "identifier_sform", Join({Text("15s5"), {3}}));
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seedgen <corpus-dir>\n");
        return 2;
    }
    const std::filesystem::path root = argv[1];
    Decoder(root / "fuzz_decoder");
    Frame(root / "fuzz_frame");
    TextSeeds(root / "fuzz_text");
    return 0;
}
