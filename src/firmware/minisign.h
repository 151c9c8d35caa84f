// Public keys and signatures in the format of the minisign tool, and the check of a signature
// against a set of trusted keys.
//
// A public key file, as `minisign -G` writes it:
//     untrusted comment: <any text>
//     <base64 of "Ed", 8-byte key id, 32-byte Ed25519 public key>
// A signature file (<file>.minisig), as `minisign -S` writes it:
//     untrusted comment: <any text>
//     <base64 of "ED" or "Ed", 8-byte key id, 64-byte Ed25519 signature>
//     trusted comment: <text>
//     <base64 of the 64-byte Ed25519 signature of the signature bytes and the trusted comment>
// "ED" signs the BLAKE2b-512 digest of the file (minisign's default); "Ed" signs the file itself
// (the legacy format, `minisign -S -l`). Both are accepted, and the trusted comment must be
// signed too, as `minisign -V` demands.
//
// Thread contract: plain functions over values; any thread.
#pragma once

#include "firmware/crypto.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::firmware {

using KeyId = std::array<std::uint8_t, 8>;

struct MinisignKey {
    KeyId id{};
    Ed25519PublicKey key{};
    std::string file; // where the key was read from, for messages
};

// The key id as minisign prints it: upper-case hexadecimal, without leading zeros.
std::string KeyIdText(const KeyId& id);

// Reads a public key file's text (or the bare base64 line). False with the reason in `error`.
bool ParsePublicKey(std::string_view text, MinisignKey& key, std::string& error);

struct MinisignSignature {
    bool prehashed = true; // "ED": the BLAKE2b-512 digest of the file is signed
    KeyId keyId{};
    Ed25519Signature signature{};
    std::string trustedComment;
    Ed25519Signature commentSignature{};
};

// Reads a signature file's text. False with the reason in `error`.
bool ParseSignature(std::string_view text, MinisignSignature& signature, std::string& error);

enum class SignatureOutcome {
    Valid,
    NoTrustedKey, // no key at all to check with
    UnknownKey,   // signed by a key that is not among the trusted ones
    Invalid,      // the key is trusted, but the file or the trusted comment was changed
};

struct SignatureCheck {
    SignatureOutcome outcome = SignatureOutcome::Invalid;
    const MinisignKey* key = nullptr; // the trusted key that made a valid signature
};

SignatureCheck VerifySignature(const std::uint8_t* data, std::size_t length,
                               const MinisignSignature& signature,
                               const std::vector<MinisignKey>& trusted);

} // namespace orvane::firmware
