// The crypto primitives over CNG (bcrypt), Windows builds. Each GCM call is
// a complete one-shot operation (no BCRYPT_AUTH_MODE_CHAIN_CALLS_FLAG): Wine
// does not implement chaining and would silently reuse the key stream.
#include "platform/win32/WinHeaders.h"

#include <bcrypt.h>

#include <climits>
#include <cstring>
#include <vector>

#include "ca/Crypto.h"

namespace nuva::ca {

namespace {

// NTSTATUS values that mingw's headers leave to ntstatus.h.
constexpr NTSTATUS kStatusSuccess = 0;
constexpr NTSTATUS kStatusAuthTagMismatch = static_cast<NTSTATUS>(0xC000A002);

void Check(NTSTATUS status, const char* what) {
    if (status != kStatusSuccess)
        throw ECryptoError(Format("%s failed (0x%08lX)", what, static_cast<unsigned long>(status)));
}

ULONG UlongSize(size_t size) {
    if (size > ULONG_MAX) throw ECryptoError("crypto input too large");
    return static_cast<ULONG>(size);
}

// An algorithm provider, closed on every path out.
class TProvider {
  public:
    TProvider(LPCWSTR algorithm, ULONG flags) {
        Check(BCryptOpenAlgorithmProvider(&handle_, algorithm, nullptr, flags),
              "BCryptOpenAlgorithmProvider");
    }
    ~TProvider() { BCryptCloseAlgorithmProvider(handle_, 0); }
    TProvider(const TProvider&) = delete;
    TProvider& operator=(const TProvider&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return handle_; }

  private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

}  // namespace

void RandomBytes(uint8_t* out, size_t count) {
    Check(BCryptGenRandom(nullptr, out, UlongSize(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG),
          "BCryptGenRandom");
}

void Pbkdf2Sha256(const uint8_t* secret, size_t secretSize, const uint8_t* salt, size_t saltSize,
                  uint32_t iterations, uint8_t key[kKeySize]) {
    if (iterations == 0) throw ECryptoError("PBKDF2 iteration count out of range");
    TProvider hmac(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG);
    // CNG wants non-const buffers; it reads them only.
    std::vector<UCHAR> password(secret, secret + secretSize);
    std::vector<UCHAR> saltCopy(salt, salt + saltSize);
    Check(BCryptDeriveKeyPBKDF2(hmac.Get(), password.empty() ? nullptr : password.data(),
                                UlongSize(secretSize), saltCopy.empty() ? nullptr : saltCopy.data(),
                                UlongSize(saltSize), iterations, key, UlongSize(kKeySize), 0),
          "BCryptDeriveKeyPBKDF2");
    SecureZeroMemory(password.data(), password.size());
}

struct TAesGcm::TImpl {
    TProvider aes{BCRYPT_AES_ALGORITHM, 0};
    BCRYPT_KEY_HANDLE key = nullptr;
};

TAesGcm::TAesGcm(const uint8_t key[kKeySize]) : impl_(std::make_unique<TImpl>()) {
    const wchar_t* mode = BCRYPT_CHAIN_MODE_GCM;
    Check(BCryptSetProperty(impl_->aes.Get(), BCRYPT_CHAINING_MODE,
                            reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(mode)),
                            static_cast<ULONG>((wcslen(mode) + 1) * sizeof(wchar_t)), 0),
          "BCryptSetProperty(GCM)");
    UCHAR secret[kKeySize];
    std::memcpy(secret, key, kKeySize);
    const NTSTATUS status = BCryptGenerateSymmetricKey(impl_->aes.Get(), &impl_->key, nullptr, 0,
                                                       secret, UlongSize(kKeySize), 0);
    SecureZeroMemory(secret, sizeof secret);
    Check(status, "BCryptGenerateSymmetricKey");
}

TAesGcm::~TAesGcm() {
    if (impl_->key) BCryptDestroyKey(impl_->key);
}

namespace {

// The authenticated-cipher description of one call. CNG takes non-const
// pointers; the nonce, AAD and (on decryption) the tag are only read.
BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO AuthInfo(const uint8_t* nonce, const uint8_t* aad,
                                               size_t aadSize, uint8_t* tag) {
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info;
    BCRYPT_INIT_AUTH_MODE_INFO(info);
    info.pbNonce = const_cast<PUCHAR>(nonce);
    info.cbNonce = static_cast<ULONG>(kNonceSize);
    info.pbAuthData = aadSize > 0 ? const_cast<PUCHAR>(aad) : nullptr;
    info.cbAuthData = UlongSize(aadSize);
    info.pbTag = tag;
    info.cbTag = static_cast<ULONG>(kTagSize);
    return info;
}

}  // namespace

void TAesGcm::Seal(const uint8_t nonce[kNonceSize], const uint8_t* aad, size_t aadSize,
                   const uint8_t* in, size_t size, uint8_t* out, uint8_t tag[kTagSize]) {
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = AuthInfo(nonce, aad, aadSize, tag);
    ULONG written = 0;
    Check(BCryptEncrypt(impl_->key, size > 0 ? const_cast<PUCHAR>(in) : nullptr, UlongSize(size),
                        &info, nullptr, 0, size > 0 ? out : nullptr, UlongSize(size), &written, 0),
          "BCryptEncrypt");
}

bool TAesGcm::Open(const uint8_t nonce[kNonceSize], const uint8_t* aad, size_t aadSize,
                   const uint8_t* in, size_t size, const uint8_t tag[kTagSize], uint8_t* out) {
    if (size == 0) {
        // Wine's BCryptDecrypt accepts any tag when there is no data: the
        // tag is recomputed and compared here.
        uint8_t computed[kTagSize];
        Seal(nonce, aad, aadSize, nullptr, 0, nullptr, computed);
        uint8_t diff = 0;
        for (size_t i = 0; i < kTagSize; ++i) diff |= static_cast<uint8_t>(computed[i] ^ tag[i]);
        return diff == 0;
    }
    uint8_t expected[kTagSize];
    std::memcpy(expected, tag, kTagSize);
    BCRYPT_AUTHENTICATED_CIPHER_MODE_INFO info = AuthInfo(nonce, aad, aadSize, expected);
    ULONG written = 0;
    const NTSTATUS status =
        BCryptDecrypt(impl_->key, size > 0 ? const_cast<PUCHAR>(in) : nullptr, UlongSize(size),
                      &info, nullptr, 0, size > 0 ? out : nullptr, UlongSize(size), &written, 0);
    if (status == kStatusAuthTagMismatch) {
        // Wine writes the plaintext before it checks the tag.
        if (size > 0) SecureZeroMemory(out, size);
        return false;
    }
    Check(status, "BCryptDecrypt");
    return true;
}

}  // namespace nuva::ca
