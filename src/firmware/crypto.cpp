#include "firmware/crypto.h"

#include <gcrypt.h>
#include <gpg-error.h>

#include <climits>
#include <mutex>

namespace orvane::firmware {

namespace {

// Only public data is handled here (hashes, public keys, signatures), so the library's secure
// memory is not needed; switching it off keeps it from warning or locking memory.
void InitLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        gcry_check_version(GCRYPT_VERSION);
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    });
}

// Owns one s-expression of the library.
class Sexp {
public:
    Sexp() = default;
    ~Sexp() { gcry_sexp_release(m_sexp); }
    Sexp(const Sexp&) = delete;
    Sexp& operator=(const Sexp&) = delete;
    gcry_sexp_t* Out() { return &m_sexp; }
    gcry_sexp_t Get() const { return m_sexp; }

private:
    gcry_sexp_t m_sexp = nullptr;
};

} // namespace

Sha256Digest Sha256(const std::uint8_t* data, std::size_t length) {
    InitLibrary();
    Sha256Digest digest{};
    gcry_md_hash_buffer(GCRY_MD_SHA256, digest.data(), data, length);
    return digest;
}

std::string Sha256Hex(const std::uint8_t* data, std::size_t length) {
    const Sha256Digest digest = Sha256(data, length);
    return ToHex(digest.data(), digest.size());
}

Blake2b512Digest Blake2b512(const std::uint8_t* data, std::size_t length) {
    InitLibrary();
    Blake2b512Digest digest{};
    gcry_md_hash_buffer(GCRY_MD_BLAKE2B_512, digest.data(), data, length);
    return digest;
}

bool VerifyEd25519(const Ed25519PublicKey& key, const Ed25519Signature& signature,
                   const std::uint8_t* message, std::size_t length) {
    InitLibrary();
    if (length > static_cast<std::size_t>(INT_MAX))
        return false;
    Sexp keySexp;
    Sexp sigSexp;
    Sexp dataSexp;
    if (gcry_sexp_build(keySexp.Out(), nullptr,
                        "(public-key (ecc (curve Ed25519) (flags eddsa) (q %b)))",
                        static_cast<int>(key.size()), key.data()) != 0)
        return false;
    if (gcry_sexp_build(sigSexp.Out(), nullptr, "(sig-val (eddsa (r %b) (s %b)))", 32,
                        signature.data(), 32, signature.data() + 32) != 0)
        return false;
    if (gcry_sexp_build(dataSexp.Out(), nullptr,
                        "(data (flags eddsa) (hash-algo sha512) (value %b))",
                        static_cast<int>(length), message) != 0)
        return false;
    return gcry_pk_verify(sigSexp.Get(), dataSexp.Get(), keySexp.Get()) == 0;
}

Sha256Stream::Sha256Stream() {
    InitLibrary();
    gcry_md_hd_t handle = nullptr;
    // Fails only without memory; then the digest reads as empty.
    gcry_md_open(&handle, GCRY_MD_SHA256, 0);
    m_handle = handle;
}

Sha256Stream::~Sha256Stream() {
    gcry_md_close(m_handle);
}

Sha256Stream::Sha256Stream(Sha256Stream&& other) noexcept : m_handle(other.m_handle) {
    other.m_handle = nullptr;
}

Sha256Stream& Sha256Stream::operator=(Sha256Stream&& other) noexcept {
    if (this != &other) {
        gcry_md_close(m_handle);
        m_handle = other.m_handle;
        other.m_handle = nullptr;
    }
    return *this;
}

void Sha256Stream::Add(const std::uint8_t* data, std::size_t length) {
    if (m_handle && length > 0)
        gcry_md_write(m_handle, data, length);
}

std::string Sha256Stream::Hex() const {
    // The digest is read from a copy, so this stream goes on.
    gcry_md_hd_t copy = nullptr;
    if (!m_handle || gcry_md_copy(&copy, m_handle) != 0)
        return {};
    const unsigned char* digest = gcry_md_read(copy, GCRY_MD_SHA256);
    std::string hex = ToHex(digest, 32);
    gcry_md_close(copy);
    return hex;
}

std::optional<std::vector<std::uint8_t>> DecodeBase64Text(std::string_view text) {
    std::vector<char> buffer(text.begin(), text.end());
    gpgrt_b64state_t state = gpgrt_b64dec_start(nullptr);
    if (state == nullptr)
        return std::nullopt;
    std::size_t decoded = 0;
    const gpg_error_t procError = gpgrt_b64dec_proc(state, buffer.data(), buffer.size(), &decoded);
    const gpg_error_t finishError = gpgrt_b64dec_finish(state);
    if (procError != 0 || finishError != 0 || decoded > buffer.size())
        return std::nullopt;
    return std::vector<std::uint8_t>(buffer.begin(),
                                     buffer.begin() + static_cast<std::ptrdiff_t>(decoded));
}

} // namespace orvane::firmware
