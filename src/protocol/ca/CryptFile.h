// CryptFile: whole files sealed with AES-256-GCM, in one format for both
// builds. NuvaCA.dll encrypts and decrypts with it, and so does nuva-server.
//
// The file is a 60-byte header and one or more chunks. Numbers are unsigned
// big-endian.
//
//   offset  size  field
//   0       8     magic "NUVA-GCM"
//   8       1     format version, 1
//   9       1     key kind: 1 key file, 2 passphrase
//   10      2     reserved, 0
//   12      4     chunk size: plaintext bytes per chunk, 1024..1048576
//                 (written: 65536)
//   16      4     PBKDF2 iterations: 1 for a key file, 1..1000000
//                 (kMaxIterations) for a passphrase; written: the setting,
//                 default 600000 (files of the earlier default 200000 read
//                 as any other count in the range)
//   20      16    salt, random per file
//   36      8     nonce prefix, random per file
//   44      16    key check: the GCM tag of no data under the file key, nonce
//                 prefix || FFFFFFFF, AAD bytes 0..43
//   60            chunk 0, chunk 1, ...
//
//   chunk i: ciphertext (chunk size bytes; the last chunk 0..chunk size
//            bytes), then its 16-byte tag
//            nonce = prefix || i (4 bytes), i < FFFFFFFF
//            AAD   = bytes 0..43 || i (4 bytes) || final (1 byte: 1 for the
//                    last chunk, 0 for every other)
//
// File key = PBKDF2-HMAC-SHA256(secret, salt, iterations), 32 bytes, where
// the secret is the 32 bytes of the key file or the passphrase in UTF-8. An
// empty plaintext is one empty final chunk (its tag alone).
//
// What it guards: the header fields are in every chunk's AAD, so changing
// one fails every chunk; the chunk index is in the nonce and the AAD
// (reordering fails); only the last chunk carries the final mark (a file cut
// at a chunk boundary or extended after its end fails); the key check tells
// a wrong key from damaged data before any chunk is opened.
//
// Memory stays constant: two chunks at a time, whatever the file's size.
//
// Errors: ECryptFileError with a TCryptFault and the fault's text (system
// code page); files that cannot be opened, read or written raise the
// platform's file errors. Threads: the functions share no state.
#pragma once

#include <cstdint>
#include <string>

#include "ca/Crypto.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva::ca {

constexpr size_t kFileHeaderSize = 60;      // bytes, key check included
constexpr size_t kAuthHeaderSize = 44;      // bytes of the header in every AAD
constexpr uint32_t kChunkSize = 65536;      // plaintext bytes per chunk, as written
constexpr uint32_t kMinChunkSize = 1024;    // bytes, accepted on reading
constexpr uint32_t kMaxChunkSize = 1 << 20; // bytes, accepted on reading
// PBKDF2 rounds accepted from a file (and in the settings): a file is read
// before anything in it is authenticated, so its count bounds the CPU time
// a hostile file can cost (about a second at the maximum).
constexpr uint32_t kMaxIterations = 1000000;
constexpr size_t kSaltSize = 16;            // bytes
constexpr size_t kNoncePrefixSize = 8;      // bytes

enum class TKeyKind : uint8_t { KeyFile = 1, Passphrase = 2 };

// The secret that opens and seals files.
struct TCryptKey {
    TKeyKind kind = TKeyKind::KeyFile;
    std::string secret;           // 32 key bytes, or the passphrase in UTF-8
    uint32_t iterations = 1;      // PBKDF2 rounds for new files (1 for a key file)
};

enum class TCryptFault {
    NotEncrypted,   // no magic: not a file of this format
    Unsupported,    // another version, or a field outside its range
    WrongKeyKind,   // sealed with a passphrase and opened with a key file, or the reverse
    WrongKey,       // the key check failed
    Damaged,        // a chunk's tag failed: changed, reordered or cut inside a chunk
    Truncated,      // the header is cut, or the file ends before its final chunk
    TrailingData,   // bytes after the final chunk
};

class ECryptFileError : public Exception {
  public:
    ECryptFileError(TCryptFault fault, const AnsiString& message)
        : Exception(message), fault_(fault) {}
    TCryptFault Fault() const { return fault_; }

  private:
    TCryptFault fault_;
};

// The text of a fault, UTF-16 (CaTexts.h).
const char16_t* CryptFaultText(TCryptFault fault);

// The random parts of a new file; tests fix them for known answers.
struct TSealParams {
    uint8_t salt[kSaltSize];
    uint8_t noncePrefix[kNoncePrefixSize];
    uint32_t chunkSize = kChunkSize;
};
// Fresh random parts from the system's generator.
TSealParams RandomSealParams();

// Reads `in` to its end and writes the sealed file to `out`. Raises
// EReadError / EWriteError on a short transfer, ECryptoError when a
// primitive fails.
void SealStream(TStream& in, TStream& out, const TCryptKey& key, const TSealParams& params);

// Reads a sealed file from `in` and writes the plaintext to `out` chunk by
// chunk, each only after its tag verified. On ECryptFileError `out` may hold
// the verified chunks before the fault: callers that must not show partial
// plaintext write to a temporary file (as UnsealFile does).
void UnsealStream(TStream& in, TStream& out, const TCryptKey& key);

// File to file. The output is written to a new temporary file beside
// `target` and renamed onto `target` only when it is complete (for
// UnsealFile: after every chunk verified); on any error the temporary file is
// deleted and `target` is not touched.
void SealFile(const AnsiString& source, const AnsiString& target, const TCryptKey& key);
void UnsealFile(const AnsiString& source, const AnsiString& target, const TCryptKey& key);

}  // namespace nuva::ca
