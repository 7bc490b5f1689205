#include "ca/CryptFile.h"

#include <cstring>
#include <memory>
#include <vector>

#include "ca/CaTexts.h"

namespace nuva::ca {

namespace {

constexpr char kMagic[8] = {'N', 'U', 'V', 'A', '-', 'G', 'C', 'M'};
constexpr uint8_t kVersion = 1;
constexpr uint32_t kCheckIndex = 0xFFFFFFFFu;  // the key check's nonce; no chunk has it
constexpr size_t kChunkAadSize = kAuthHeaderSize + 4 + 1;

// Header offsets (see the table in CryptFile.h).
enum : size_t {
    kOffVersion = 8,
    kOffKind = 9,
    kOffReserved = 10,
    kOffChunkSize = 12,
    kOffIterations = 16,
    kOffSalt = 20,
    kOffPrefix = 36,
    kOffCheck = 44,
};

void PutBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}

uint32_t GetBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Equality of two tags in a time that does not depend on where they differ.
bool TagsEqual(const uint8_t* a, const uint8_t* b) {
    volatile uint8_t diff = 0;
    for (size_t i = 0; i < kTagSize; ++i) diff = static_cast<uint8_t>(diff | (a[i] ^ b[i]));
    return diff == 0;
}

[[noreturn]] void Raise(TCryptFault fault) {
    throw ECryptFileError(fault, WideToAnsi(CryptFaultText(fault)));
}

// Reads until `count` bytes or the end of the stream; returns how many.
size_t ReadFull(TStream& in, uint8_t* buffer, size_t count) {
    size_t got = 0;
    while (got < count) {
        const int64_t n = in.Read(buffer + got, static_cast<int64_t>(count - got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

// The per-file key and what every chunk shares.
class TFileCipher {
  public:
    TFileCipher(const uint8_t* header, const TCryptKey& key)
        : aes_(DeriveKey(header, key).data()) {
        std::memcpy(auth_, header, kAuthHeaderSize);
        std::memcpy(prefix_, header + kOffPrefix, kNoncePrefixSize);
    }

    void CheckTag(uint8_t tag[kTagSize]) {
        uint8_t nonce[kNonceSize];
        Nonce(kCheckIndex, nonce);
        aes_.Seal(nonce, auth_, kAuthHeaderSize, nullptr, 0, nullptr, tag);
    }

    void Seal(uint32_t index, bool final, const uint8_t* in, size_t size, uint8_t* out,
              uint8_t tag[kTagSize]) {
        uint8_t nonce[kNonceSize], aad[kChunkAadSize];
        Nonce(index, nonce);
        Aad(index, final, aad);
        aes_.Seal(nonce, aad, sizeof aad, in, size, out, tag);
    }

    bool Open(uint32_t index, bool final, const uint8_t* in, size_t size, const uint8_t* tag,
              uint8_t* out) {
        uint8_t nonce[kNonceSize], aad[kChunkAadSize];
        Nonce(index, nonce);
        Aad(index, final, aad);
        return aes_.Open(nonce, aad, sizeof aad, in, size, tag, out);
    }

  private:
    struct TKeyBytes {
        uint8_t bytes[kKeySize];
        const uint8_t* data() const { return bytes; }
    };
    static TKeyBytes DeriveKey(const uint8_t* header, const TCryptKey& key) {
        TKeyBytes k;
        Pbkdf2Sha256(reinterpret_cast<const uint8_t*>(key.secret.data()), key.secret.size(),
                     header + kOffSalt, kSaltSize, GetBe32(header + kOffIterations), k.bytes);
        return k;
    }
    void Nonce(uint32_t index, uint8_t nonce[kNonceSize]) const {
        std::memcpy(nonce, prefix_, kNoncePrefixSize);
        PutBe32(nonce + kNoncePrefixSize, index);
    }
    void Aad(uint32_t index, bool final, uint8_t aad[kChunkAadSize]) const {
        std::memcpy(aad, auth_, kAuthHeaderSize);
        PutBe32(aad + kAuthHeaderSize, index);
        aad[kAuthHeaderSize + 4] = final ? 1 : 0;
    }

    TAesGcm aes_;
    uint8_t auth_[kAuthHeaderSize];
    uint8_t prefix_[kNoncePrefixSize];
};

// A temporary file beside the target, deleted unless it was renamed onto it.
class TTempBeside {
  public:
    explicit TTempBeside(const AnsiString& target) {
        const AnsiString dir = ExtractFilePath(target);
        path_ = CreateUniqueTempFile(dir.empty() ? AnsiString(".") : dir, "NCA");
        if (path_.empty()) throw EFCreateError(target, LastErrorText());
    }
    ~TTempBeside() {
        if (!path_.empty()) DeleteFile(path_);
    }
    TTempBeside(const TTempBeside&) = delete;
    TTempBeside& operator=(const TTempBeside&) = delete;
    const AnsiString& Path() const { return path_; }
    void MoveOnto(const AnsiString& target) {
        if (!MoveFileReplace(path_, target)) throw EFCreateError(target, LastErrorText());
        path_.clear();
    }

  private:
    AnsiString path_;
};

}  // namespace

const char16_t* CryptFaultText(TCryptFault fault) {
    switch (fault) {
        case TCryptFault::NotEncrypted:
            return texts::kNotEncrypted;
        case TCryptFault::Unsupported:
            return texts::kUnsupported;
        case TCryptFault::WrongKeyKind:
            return texts::kWrongKeyKind;
        case TCryptFault::WrongKey:
            return texts::kWrongKey;
        case TCryptFault::Damaged:
            return texts::kDamaged;
        case TCryptFault::Truncated:
            return texts::kTruncated;
        case TCryptFault::TrailingData:
            return texts::kTrailing;
    }
    return texts::kDamaged;
}

TSealParams RandomSealParams() {
    TSealParams p;
    RandomBytes(p.salt, kSaltSize);
    RandomBytes(p.noncePrefix, kNoncePrefixSize);
    return p;
}

void SealStream(TStream& in, TStream& out, const TCryptKey& key, const TSealParams& params) {
    uint8_t header[kFileHeaderSize] = {};
    std::memcpy(header, kMagic, sizeof kMagic);
    header[kOffVersion] = kVersion;
    header[kOffKind] = static_cast<uint8_t>(key.kind);
    PutBe32(header + kOffChunkSize, params.chunkSize);
    PutBe32(header + kOffIterations, key.kind == TKeyKind::KeyFile ? 1 : key.iterations);
    std::memcpy(header + kOffSalt, params.salt, kSaltSize);
    std::memcpy(header + kOffPrefix, params.noncePrefix, kNoncePrefixSize);
    TFileCipher cipher(header, key);
    cipher.CheckTag(header + kOffCheck);
    out.WriteBuffer(header, kFileHeaderSize);

    // One chunk ahead, to know which chunk is the last.
    const size_t chunk = params.chunkSize;
    std::vector<uint8_t> current(chunk), next(chunk), sealed(chunk + kTagSize);
    size_t currentSize = ReadFull(in, current.data(), chunk);
    for (uint32_t index = 0;; ++index) {
        if (index == kCheckIndex) throw ECryptoError("file too large for the chunk counter");
        const size_t nextSize = currentSize == chunk ? ReadFull(in, next.data(), chunk) : 0;
        const bool final = nextSize == 0;
        cipher.Seal(index, final, current.data(), currentSize, sealed.data(),
                    sealed.data() + currentSize);
        out.WriteBuffer(sealed.data(), static_cast<int64_t>(currentSize + kTagSize));
        if (final) break;
        current.swap(next);
        currentSize = nextSize;
    }
}

void UnsealStream(TStream& in, TStream& out, const TCryptKey& key) {
    uint8_t header[kFileHeaderSize];
    const size_t got = ReadFull(in, header, kFileHeaderSize);
    if (got < sizeof kMagic || std::memcmp(header, kMagic, sizeof kMagic) != 0)
        Raise(TCryptFault::NotEncrypted);
    if (got < kFileHeaderSize) Raise(TCryptFault::Truncated);

    const uint32_t chunkSize = GetBe32(header + kOffChunkSize);
    const uint32_t iterations = GetBe32(header + kOffIterations);
    const uint8_t kind = header[kOffKind];
    if (header[kOffVersion] != kVersion || header[kOffReserved] != 0 ||
        header[kOffReserved + 1] != 0 || chunkSize < kMinChunkSize || chunkSize > kMaxChunkSize ||
        (kind != static_cast<uint8_t>(TKeyKind::KeyFile) &&
         kind != static_cast<uint8_t>(TKeyKind::Passphrase)) ||
        iterations == 0 || iterations > kMaxIterations ||
        (kind == static_cast<uint8_t>(TKeyKind::KeyFile) && iterations != 1))
        Raise(TCryptFault::Unsupported);
    if (kind != static_cast<uint8_t>(key.kind)) Raise(TCryptFault::WrongKeyKind);

    TFileCipher cipher(header, key);
    uint8_t check[kTagSize];
    cipher.CheckTag(check);
    if (!TagsEqual(check, header + kOffCheck)) Raise(TCryptFault::WrongKey);

    const size_t record = size_t{chunkSize} + kTagSize;
    std::vector<uint8_t> current(record), next(record), plain(chunkSize);
    size_t currentSize = ReadFull(in, current.data(), record);
    for (uint32_t index = 0;; ++index) {
        if (index == kCheckIndex) Raise(TCryptFault::Unsupported);
        if (currentSize < kTagSize) Raise(TCryptFault::Truncated);
        const size_t nextSize = currentSize == record ? ReadFull(in, next.data(), record) : 0;
        const bool more = nextSize > 0;
        const size_t dataSize = currentSize - kTagSize;
        const uint8_t* tag = current.data() + dataSize;
        if (!cipher.Open(index, !more, current.data(), dataSize, tag, plain.data())) {
            // Sealed with the other mark: the file was cut after a chunk, or
            // bytes follow its final chunk.
            if (cipher.Open(index, more, current.data(), dataSize, tag, plain.data()))
                Raise(more ? TCryptFault::TrailingData : TCryptFault::Truncated);
            Raise(TCryptFault::Damaged);
        }
        if (dataSize > 0) out.WriteBuffer(plain.data(), static_cast<int64_t>(dataSize));
        if (!more) break;
        current.swap(next);
        currentSize = nextSize;
    }
}

void SealFile(const AnsiString& source, const AnsiString& target, const TCryptKey& key) {
    TFileStream in(source, fmOpenRead | fmShareDenyWrite);
    TTempBeside temp(target);
    {
        TFileStream out(temp.Path(), fmOpenWrite | fmShareExclusive);
        SealStream(in, out, key, RandomSealParams());
    }
    temp.MoveOnto(target);
}

void UnsealFile(const AnsiString& source, const AnsiString& target, const TCryptKey& key) {
    TFileStream in(source, fmOpenRead | fmShareDenyWrite);
    TTempBeside temp(target);
    {
        TFileStream out(temp.Path(), fmOpenWrite | fmShareExclusive);
        UnsealStream(in, out, key);
    }
    temp.MoveOnto(target);
}

}  // namespace nuva::ca
