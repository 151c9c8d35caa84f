// Taking the receiver's identifier out of an identification reply, and the S forms that
// some boot loaders report instead of their digit form.
#pragma once

#include <cstdint>
#include <string>

namespace orvane::firmware {

// The identifier token field holds at most this many characters (plus a terminating zero).
constexpr std::size_t kMaxTokenChars = 31;

// Skips leading white space, then takes the bytes up to the next white space, zero byte or
// the end of the payload. A longer token is cut to kMaxTokenChars (no catalogue identifier
// comes close, so a cut token never matches). A payload without a token gives "".
std::string ExtractToken(const std::uint8_t* payload, std::size_t length);

// Replaces one of the seven S forms ("11S2" ...), letters compared without case, by its
// digit form and returns true; any other token is left as it is and false returned.
bool NormaliseIdentifier(std::string& token);

} // namespace orvane::firmware
