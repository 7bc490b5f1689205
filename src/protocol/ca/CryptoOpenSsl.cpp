// The crypto primitives over OpenSSL's EVP interface (native builds).
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <cstring>

#include "ca/Crypto.h"

namespace nuva::ca {

namespace {

[[noreturn]] void Fail(const char* what) {
    const unsigned long code = ERR_get_error();
    char text[256] = "";
    if (code != 0) ERR_error_string_n(code, text, sizeof text);
    throw ECryptoError(Format("%s failed (%s)", what, text));
}

// OpenSSL counts in int: pieces larger than that never occur (chunks are at
// most 1 MiB), but a caller's mistake must not wrap around.
int IntSize(size_t size) {
    if (size > static_cast<size_t>(INT_MAX)) throw ECryptoError("crypto input too large");
    return static_cast<int>(size);
}

}  // namespace

void RandomBytes(uint8_t* out, size_t count) {
    if (RAND_bytes(out, IntSize(count)) != 1) Fail("RAND_bytes");
}

void Pbkdf2Sha256(const uint8_t* secret, size_t secretSize, const uint8_t* salt, size_t saltSize,
                  uint32_t iterations, uint8_t key[kKeySize]) {
    if (iterations == 0 || iterations > static_cast<uint32_t>(INT_MAX))
        throw ECryptoError("PBKDF2 iteration count out of range");
    if (PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(secret), IntSize(secretSize), salt,
                          IntSize(saltSize), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(kKeySize), key) != 1)
        Fail("PKCS5_PBKDF2_HMAC");
}

struct TAesGcm::TImpl {
    uint8_t key[kKeySize];
    EVP_CIPHER_CTX* ctx = nullptr;
};

TAesGcm::TAesGcm(const uint8_t key[kKeySize]) : impl_(std::make_unique<TImpl>()) {
    std::memcpy(impl_->key, key, kKeySize);
    impl_->ctx = EVP_CIPHER_CTX_new();
    if (!impl_->ctx) Fail("EVP_CIPHER_CTX_new");
}

TAesGcm::~TAesGcm() {
    EVP_CIPHER_CTX_free(impl_->ctx);
    OPENSSL_cleanse(impl_->key, kKeySize);
}

void TAesGcm::Seal(const uint8_t nonce[kNonceSize], const uint8_t* aad, size_t aadSize,
                   const uint8_t* in, size_t size, uint8_t* out, uint8_t tag[kTagSize]) {
    EVP_CIPHER_CTX* ctx = impl_->ctx;
    int n = 0;
    if (EVP_EncryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, impl_->key, nonce) != 1)
        Fail("EVP_EncryptInit_ex");
    if (aadSize > 0 && EVP_EncryptUpdate(ctx, nullptr, &n, aad, IntSize(aadSize)) != 1)
        Fail("EVP_EncryptUpdate (AAD)");
    if (size > 0 && EVP_EncryptUpdate(ctx, out, &n, in, IntSize(size)) != 1)
        Fail("EVP_EncryptUpdate");
    if (EVP_EncryptFinal_ex(ctx, out + size, &n) != 1) Fail("EVP_EncryptFinal_ex");
    if (EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagSize), tag) != 1)
        Fail("EVP_CTRL_GCM_GET_TAG");
}

bool TAesGcm::Open(const uint8_t nonce[kNonceSize], const uint8_t* aad, size_t aadSize,
                   const uint8_t* in, size_t size, const uint8_t tag[kTagSize], uint8_t* out) {
    EVP_CIPHER_CTX* ctx = impl_->ctx;
    int n = 0;
    if (EVP_DecryptInit_ex(ctx, EVP_aes_256_gcm(), nullptr, impl_->key, nonce) != 1)
        Fail("EVP_DecryptInit_ex");
    if (aadSize > 0 && EVP_DecryptUpdate(ctx, nullptr, &n, aad, IntSize(aadSize)) != 1)
        Fail("EVP_DecryptUpdate (AAD)");
    if (size > 0 && EVP_DecryptUpdate(ctx, out, &n, in, IntSize(size)) != 1)
        Fail("EVP_DecryptUpdate");
    uint8_t expected[kTagSize];
    std::memcpy(expected, tag, kTagSize);
    if (EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagSize), expected) != 1)
        Fail("EVP_CTRL_GCM_SET_TAG");
    if (EVP_DecryptFinal_ex(ctx, out + size, &n) != 1) {
        ERR_clear_error();
        if (size > 0) OPENSSL_cleanse(out, size);
        return false;
    }
    return true;
}

}  // namespace nuva::ca
