// The two boot-loader commands as texts, and the frame encoding that turns a command text
// into the bytes written to the line.
//
// Frame: "$$", two command letters, frame type byte, payload length N, N payload bytes,
// XOR checksum of every byte from the first letter through the payload, CR, LF.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::firmware {

constexpr std::uint8_t kHandshakeStamp[2] = {49, 54};
constexpr std::uint8_t kInitialFrameType = 24;

// Only this many characters of a command text are encoded.
constexpr std::size_t kMaxCommandChars = 1023;
// The scan stops before a character once the frame holds this many bytes.
constexpr std::size_t kFrameStop = 256;
// B, W and L items stop at kFrameStop + 3 bytes of payload and header, plus the checksum
// and CR LF; an S item is held to the same stop, so no frame is longer than this.
constexpr std::size_t kMaxFrameBytes = 262;

// 'SS, B49,B54,'
std::u16string HandshakeText();

// 'SX, B0, B0, B<h3>, B<h4>, B<h5>' then ',B<byte>' per data byte. `addressBefore` is the
// block address as it stood before the chunk was read, `blockAddress` this block's address.
std::u16string BlockCommandText(std::uint32_t addressBefore, std::uint32_t blockAddress,
                                const std::uint8_t* data, std::uint32_t count);

// Encodes a command text into a frame carrying `frameType`. A text without two command
// letters makes no frame (empty result): there would be nothing to put at offsets 2 to 5.
std::vector<std::uint8_t> EncodeFrame(std::u16string_view text, std::uint8_t frameType);

// XOR of the bytes, as the frame checksum uses it.
std::uint8_t XorChecksum(const std::uint8_t* bytes, std::size_t count);

} // namespace orvane::firmware
