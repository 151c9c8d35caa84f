// The few cryptographic operations firmware packages need: SHA-256 of image files, BLAKE2b-512
// of a prehashed signed file, Ed25519 signature checks, and the base64 of key and signature
// files. libgcrypt and libgpg-error do them in the programs; in the browser page the same
// functions hand them to the page's audited JavaScript libraries (crypto_web.cpp).
//
// Thread contract: any thread. The library is initialised once, on first use.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct gcry_md_handle;

namespace orvane::firmware {

using Sha256Digest = std::array<std::uint8_t, 32>;
using Blake2b512Digest = std::array<std::uint8_t, 64>;
using Ed25519PublicKey = std::array<std::uint8_t, 32>;
using Ed25519Signature = std::array<std::uint8_t, 64>;

Sha256Digest Sha256(const std::uint8_t* data, std::size_t length);
// Lower-case hexadecimal, 64 digits.
std::string Sha256Hex(const std::uint8_t* data, std::size_t length);
Blake2b512Digest Blake2b512(const std::uint8_t* data, std::size_t length);

// True when `signature` is a valid Ed25519 signature of the message under `key`.
bool VerifyEd25519(const Ed25519PublicKey& key, const Ed25519Signature& signature,
                   const std::uint8_t* message, std::size_t length);

// SHA-256 of bytes that come piece by piece (the programs only: the page has no use for it).
// Reading the digest does not end it: more bytes may follow, and the next digest covers them all.
class Sha256Stream {
public:
    Sha256Stream();
    ~Sha256Stream();
    Sha256Stream(Sha256Stream&& other) noexcept;
    Sha256Stream& operator=(Sha256Stream&& other) noexcept;
    Sha256Stream(const Sha256Stream&) = delete;
    Sha256Stream& operator=(const Sha256Stream&) = delete;

    void Add(const std::uint8_t* data, std::size_t length);
    // Lower-case hexadecimal, 64 digits, of everything added so far (empty if the library
    // had no memory for it).
    std::string Hex() const;

private:
    gcry_md_handle* m_handle = nullptr;
};

// Decodes standard base64 text whose characters and length the caller has checked; nullopt
// when the decoder refuses it.
std::optional<std::vector<std::uint8_t>> DecodeBase64Text(std::string_view text);

// Lower-case hexadecimal of any bytes.
std::string ToHex(const std::uint8_t* data, std::size_t length);

} // namespace orvane::firmware
