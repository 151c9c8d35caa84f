// Lower-case hexadecimal (crypto.h), the same whichever library computes the digests.
#include "firmware/crypto.h"

namespace orvane::firmware {

std::string ToHex(const std::uint8_t* data, std::size_t length) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        hex.push_back(kDigits[data[i] >> 4]);
        hex.push_back(kDigits[data[i] & 0x0F]);
    }
    return hex;
}

} // namespace orvane::firmware
