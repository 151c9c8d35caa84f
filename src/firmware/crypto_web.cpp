// The cryptographic operations of the browser page: the page's audited libraries do them
// (web/crypto.js puts them in globalThis.orvaneCrypto before the core starts), so the package
// checks around them stay the programs' own code.
#include "firmware/crypto.h"

#include <emscripten/emscripten.h>

#include <climits>

// JavaScript inside: clang-format would lay it out as C++.
// clang-format off
// Each copies its result into `out` and returns 1, or returns 0 when the library refused.
EM_JS(int, orvane_js_digest, (int which, const std::uint8_t* data, std::size_t length,
                              std::uint8_t* out), {
    try {
        const bytes = HEAPU8.slice(data, data + length);
        const c = globalThis.orvaneCrypto;
        const digest = which === 0 ? c.sha256(bytes) : c.blake2b512(bytes);
        HEAPU8.set(digest, out);
        return 1;
    } catch (e) {
        return 0;
    }
});

EM_JS(int, orvane_js_verify_ed25519, (const std::uint8_t* key, const std::uint8_t* signature,
                                      const std::uint8_t* message, std::size_t length), {
    try {
        return globalThis.orvaneCrypto.verifyEd25519(HEAPU8.slice(signature, signature + 64),
                                                     HEAPU8.slice(message, message + length),
                                                     HEAPU8.slice(key, key + 32))
                   ? 1
                   : 0;
    } catch (e) {
        return 0;
    }
});

// The decoded length, or -1; the bytes go to `out`, which has room for `room`.
EM_JS(int, orvane_js_base64, (const char* text, std::size_t length, std::uint8_t* out,
                              std::size_t room), {
    try {
        const bytes = globalThis.orvaneCrypto.base64(UTF8ToString(text, length));
        if (bytes.length > room)
            return -1;
        HEAPU8.set(bytes, out);
        return bytes.length;
    } catch (e) {
        return -1;
    }
});

// clang-format on

namespace orvane::firmware {

Sha256Digest Sha256(const std::uint8_t* data, std::size_t length) {
    Sha256Digest digest{};
    if (!orvane_js_digest(0, data, length, digest.data()))
        digest.fill(0); // no digest matches a manifest's: the image is refused
    return digest;
}

std::string Sha256Hex(const std::uint8_t* data, std::size_t length) {
    Sha256Digest digest{};
    if (!orvane_js_digest(0, data, length, digest.data()))
        return {};
    return ToHex(digest.data(), digest.size());
}

Blake2b512Digest Blake2b512(const std::uint8_t* data, std::size_t length) {
    Blake2b512Digest digest{};
    if (!orvane_js_digest(1, data, length, digest.data()))
        digest.fill(0);
    return digest;
}

bool VerifyEd25519(const Ed25519PublicKey& key, const Ed25519Signature& signature,
                   const std::uint8_t* message, std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX))
        return false;
    return orvane_js_verify_ed25519(key.data(), signature.data(), message, length) == 1;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64Text(std::string_view text) {
    std::vector<std::uint8_t> bytes(text.size());
    const int n = orvane_js_base64(text.data(), text.size(), bytes.data(), bytes.size());
    if (n < 0)
        return std::nullopt;
    bytes.resize(static_cast<std::size_t>(n));
    return bytes;
}

} // namespace orvane::firmware
