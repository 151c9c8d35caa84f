#include "firmware/minisign.h"

#include "platform/text.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace orvane::firmware {

namespace {

constexpr std::string_view kUntrusted = "untrusted comment:";
constexpr std::string_view kTrusted = "trusted comment: ";
constexpr std::size_t kKeyBytes = 2 + 8 + 32;
constexpr std::size_t kSignatureBytes = 2 + 8 + 64;
constexpr std::size_t kCommentSignatureBytes = 64;
// Signature and key files are a few lines; anything longer is not one.
constexpr std::size_t kMaxLine = 8192;

// Splits into lines; a CR before the LF is dropped, as are trailing blanks of a line.
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.remove_suffix(1);
        lines.push_back(line);
        if (nl == std::string_view::npos)
            break;
        text.remove_prefix(nl + 1);
    }
    return lines;
}

bool IsBase64Char(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

// Decodes one line of standard base64 (with its '=' padding). Decoders skip characters they
// do not know, so the line is checked first: a damaged line is refused, not half read.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view line) {
    if (line.empty() || line.size() % 4 != 0 || line.size() > kMaxLine)
        return std::nullopt;
    std::size_t data = line.size();
    while (data > 0 && line[data - 1] == '=' && line.size() - data < 2)
        --data;
    if (!std::all_of(line.begin(), line.begin() + static_cast<std::ptrdiff_t>(data), IsBase64Char))
        return std::nullopt;
    return DecodeBase64Text(line);
}

// The encodings of the Ed25519 points of small order (the sign bit aside). No signing key
// makes them and minisign refuses them as keys. libgcrypt 1.10 even aborts the whole process
// when asked to verify with some of them, or with any key whose y coordinate has its top 64
// bits clear (it then multiplies numbers of different sizes). A real key has such a y with a
// chance of 2^-63, so those are refused too when a key file is read.
constexpr std::uint8_t kSmallOrderPoints[][32] = {
    {0},
    {1},
    {0x26, 0xe8, 0x95, 0x8f, 0xc2, 0xb2, 0x27, 0xb0, 0x45, 0xc3, 0xf4,
     0x89, 0xf2, 0xef, 0x98, 0xf0, 0xd5, 0xdf, 0xac, 0x05, 0xd3, 0xc6,
     0x33, 0x39, 0xb1, 0x38, 0x02, 0x88, 0x6d, 0x53, 0xfc, 0x05},
    {0xc7, 0x17, 0x6a, 0x70, 0x3d, 0x4d, 0xd8, 0x4f, 0xba, 0x3c, 0x0b,
     0x76, 0x0d, 0x10, 0x67, 0x0f, 0x2a, 0x20, 0x53, 0xfa, 0x2c, 0x39,
     0xcc, 0xc6, 0x4e, 0xc7, 0xfd, 0x77, 0x92, 0xac, 0x03, 0x7a},
    {0xec, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},
    {0xed, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},
    {0xee, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
     0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x7f},
};

bool IsDegenerate(const Ed25519PublicKey& key) {
    Ed25519PublicKey masked = key;
    masked[31] &= 0x7f;
    const bool topClear =
        std::all_of(masked.begin() + 24, masked.end(), [](std::uint8_t b) { return b == 0; });
    return topClear || std::any_of(std::begin(kSmallOrderPoints), std::end(kSmallOrderPoints),
                                   [&](const std::uint8_t(&point)[32]) {
                                       return std::memcmp(point, masked.data(), masked.size()) == 0;
                                   });
}

} // namespace

std::string KeyIdText(const KeyId& id) {
    // minisign prints the id as a little-endian 64-bit number, without leading zeros.
    unsigned long long number = 0;
    for (std::size_t i = id.size(); i-- > 0;)
        number = (number << 8) | id[i];
    return FormatAnsi("%llX", number);
}

bool ParsePublicKey(std::string_view text, MinisignKey& key, std::string& error) {
    const auto lines = Lines(text);
    std::size_t i = 0;
    while (i < lines.size() && lines[i].empty())
        ++i;
    if (i < lines.size() && StartsWith(lines[i], kUntrusted))
        ++i;
    if (i >= lines.size()) {
        error = "no public key in it (a minisign public key file has a comment line and a "
                "base64 line)";
        return false;
    }
    const auto bytes = DecodeBase64(lines[i]);
    if (!bytes || bytes->size() != kKeyBytes) {
        error = "not a minisign public key (the key line is not 56 base64 characters)";
        return false;
    }
    if ((*bytes)[0] != 'E' || (*bytes)[1] != 'd') {
        error = "not an Ed25519 minisign public key";
        return false;
    }
    std::memcpy(key.id.data(), bytes->data() + 2, key.id.size());
    std::memcpy(key.key.data(), bytes->data() + 10, key.key.size());
    if (IsDegenerate(key.key)) {
        error = "not a usable public key (a degenerate Ed25519 point)";
        return false;
    }
    return true;
}

bool ParseSignature(std::string_view text, MinisignSignature& sig, std::string& error) {
    const auto lines = Lines(text);
    if (lines.size() < 4 || !StartsWith(lines[0], kUntrusted)) {
        error = "not a minisign signature (it must start with an \"untrusted comment:\" line "
                "and have four lines)";
        return false;
    }
    const auto bytes = DecodeBase64(lines[1]);
    if (!bytes || bytes->size() != kSignatureBytes) {
        error = "not a minisign signature (the signature line is damaged)";
        return false;
    }
    if ((*bytes)[0] == 'E' && (*bytes)[1] == 'D') {
        sig.prehashed = true;
    } else if ((*bytes)[0] == 'E' && (*bytes)[1] == 'd') {
        sig.prehashed = false;
    } else {
        error = "the signature uses an algorithm this updater does not know";
        return false;
    }
    std::memcpy(sig.keyId.data(), bytes->data() + 2, sig.keyId.size());
    std::memcpy(sig.signature.data(), bytes->data() + 10, sig.signature.size());
    if (!StartsWith(lines[2], kTrusted)) {
        error = "the \"trusted comment:\" line is missing";
        return false;
    }
    sig.trustedComment = std::string(lines[2].substr(kTrusted.size()));
    const auto global = DecodeBase64(lines[3]);
    if (!global || global->size() != kCommentSignatureBytes) {
        error = "the signature of the trusted comment is damaged";
        return false;
    }
    std::memcpy(sig.commentSignature.data(), global->data(), sig.commentSignature.size());
    return true;
}

SignatureCheck VerifySignature(const std::uint8_t* data, std::size_t length,
                               const MinisignSignature& sig,
                               const std::vector<MinisignKey>& trusted) {
    SignatureCheck check;
    if (trusted.empty()) {
        check.outcome = SignatureOutcome::NoTrustedKey;
        return check;
    }
    check.outcome = SignatureOutcome::UnknownKey;
    std::vector<std::uint8_t> comment(sig.signature.begin(), sig.signature.end());
    comment.insert(comment.end(), sig.trustedComment.begin(), sig.trustedComment.end());
    for (const MinisignKey& key : trusted) {
        if (key.id != sig.keyId)
            continue;
        bool fileSigned = false;
        if (sig.prehashed) {
            const Blake2b512Digest digest = Blake2b512(data, length);
            fileSigned = VerifyEd25519(key.key, sig.signature, digest.data(), digest.size());
        } else {
            fileSigned = VerifyEd25519(key.key, sig.signature, data, length);
        }
        if (fileSigned &&
            VerifyEd25519(key.key, sig.commentSignature, comment.data(), comment.size())) {
            check.outcome = SignatureOutcome::Valid;
            check.key = &key;
            return check;
        }
        check.outcome = SignatureOutcome::Invalid;
    }
    return check;
}

} // namespace orvane::firmware
