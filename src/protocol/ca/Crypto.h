// Crypto: the three primitives that the CA file format needs (random bytes,
// PBKDF2-HMAC-SHA256, one-call AES-256-GCM), over the platform's own
// cryptography: OpenSSL's EVP natively (CryptoOpenSsl.cpp), CNG on Windows
// (CryptoBcrypt.cpp), chosen by CMake. Both give the same bytes for the same
// inputs; the known-answer tests hold each build to the published vectors.
//
// Every GCM operation is a single call with its own nonce: Wine's CNG does
// not chain GCM calls (it restarts the counter on each one), so nothing here
// offers chaining.
//
// Errors: a primitive that the system refuses raises ECryptoError with the
// system's code in its text. A tag that does not verify is no error: Open
// returns false.
//
// Threads: the functions may be called from any thread; one TAesGcm is used
// by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Errors.h"

namespace nuva::ca {

constexpr size_t kKeySize = 32;    // bytes, AES-256
constexpr size_t kNonceSize = 12;  // bytes, the GCM standard size
constexpr size_t kTagSize = 16;    // bytes, full-length tags only

class ECryptoError : public Exception {
  public:
    using Exception::Exception;
};

// Fills `out` with `count` bytes from the system's secure generator.
void RandomBytes(uint8_t* out, size_t count);

// PBKDF2 with HMAC-SHA256 (RFC 8018), one 32-byte output block. `iterations`
// must be at least 1.
void Pbkdf2Sha256(const uint8_t* secret, size_t secretSize, const uint8_t* salt, size_t saltSize,
                  uint32_t iterations, uint8_t key[kKeySize]);

// AES-256-GCM under one key.
class TAesGcm {
  public:
    explicit TAesGcm(const uint8_t key[kKeySize]);
    ~TAesGcm();
    TAesGcm(const TAesGcm&) = delete;
    TAesGcm& operator=(const TAesGcm&) = delete;

    // Encrypts `size` bytes of `in` into `out` (the same size; `size` may be
    // 0) and writes the tag over `aad` and the ciphertext.
    void Seal(const uint8_t nonce[kNonceSize], const uint8_t* aad, size_t aadSize,
              const uint8_t* in, size_t size, uint8_t* out, uint8_t tag[kTagSize]);
    // Decrypts into `out` and returns true when the tag verifies. On false
    // `out` holds no plaintext (it is zeroed).
    bool Open(const uint8_t nonce[kNonceSize], const uint8_t* aad, size_t aadSize,
              const uint8_t* in, size_t size, const uint8_t tag[kTagSize], uint8_t* out);

  private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace nuva::ca
