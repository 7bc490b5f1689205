// The crypto primitives against published vectors, and the CA file format:
// known answers written by an independent implementation of its table
// (data/make_kat.py), the same on both builds, and a corruption fixture in
// the manner of a log-format reader test: one short case per defect.
#include <gtest/gtest.h>

#include <cstring>

#include "TestSupport.h"
#include "ca/CaKey.h"
#include "ca/CaTexts.h"
#include "ca/CryptFile.h"
#include "platform/Stream.h"

namespace nuva::ca {
namespace {

using test::ReadAll;
using test::TTempDir;
using test::WriteAll;

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

const uint8_t* U8(const std::string& s) {
    return reinterpret_cast<const uint8_t*>(s.data());
}

// ---------------------------------------------------------------------------
// Primitives
// ---------------------------------------------------------------------------

struct TGcmVector {
    const char* name;
    const char *key, *nonce, *plain, *aad, *cipher, *tag;
};
// The AES-256 cases of the published GCM test vectors (test cases 13, 14, 16).
const TGcmVector kGcmVectors[] = {
    {"empty", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "", "", "", "530f8afbc74536b9a963b4f1c4cb738b"},
    {"zero_block", "0000000000000000000000000000000000000000000000000000000000000000",
     "000000000000000000000000", "00000000000000000000000000000000", "",
     "cea7403d4d606b6e074ec5d3baf39d18", "d0d1c8a799996bf0265b98b5d48ab919"},
    {"with_aad", "feffe9928665731c6d6a8f9467308308feffe9928665731c6d6a8f9467308308",
     "cafebabefacedbaddecaf888",
     "d9313225f88406e5a55909c5aff5269a86a7a9531534f7da2e4c303d8a318a721c3c0c95956809532fcf0e24"
     "49a6b525b16aedf5aa0de657ba637b39",
     "feedfacedeadbeeffeedfacedeadbeefabaddad2",
     "522dc1f099567d07f47f37a32a84427d643a8cdcbfe5c0c97598a2bd2555d1aa8cb08e48590dbb3da7b08b10"
     "56828838c5f61e6393ba7a0abcc9f662",
     "76fc6ece0f4e1768cddf8853bb2d551b"},
};

TEST(Crypto, AesGcmMatchesThePublishedVectors) {
    for (const TGcmVector& v : kGcmVectors) {
        SCOPED_TRACE(v.name);
        const std::string key = Unhex(v.key), nonce = Unhex(v.nonce), plain = Unhex(v.plain),
                          aad = Unhex(v.aad);
        TAesGcm aes(U8(key));
        std::string cipher(plain.size(), '\0'), tag(kTagSize, '\0');
        aes.Seal(U8(nonce), U8(aad), aad.size(), U8(plain), plain.size(),
                 reinterpret_cast<uint8_t*>(&cipher[0]), reinterpret_cast<uint8_t*>(&tag[0]));
        EXPECT_EQ(Hex(cipher), v.cipher);
        EXPECT_EQ(Hex(tag), v.tag);

        std::string opened(plain.size(), '\0');
        EXPECT_TRUE(aes.Open(U8(nonce), U8(aad), aad.size(), U8(cipher), cipher.size(), U8(tag),
                             reinterpret_cast<uint8_t*>(&opened[0])));
        EXPECT_EQ(opened, plain);
        // One changed tag bit: refused, and no plaintext handed out.
        tag[0] ^= 1;
        EXPECT_FALSE(aes.Open(U8(nonce), U8(aad), aad.size(), U8(cipher), cipher.size(), U8(tag),
                              reinterpret_cast<uint8_t*>(&opened[0])));
        EXPECT_EQ(opened, std::string(plain.size(), '\0'));
    }
}

TEST(Crypto, Pbkdf2MatchesThePublishedVectors) {
    // RFC 7914, section 11 (the first 32 bytes).
    struct {
        const char *password, *salt;
        uint32_t iterations;
        const char* key;
    } const cases[] = {
        {"passwd", "salt", 1, "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"},
        {"Password", "NaCl", 80000, "4ddcd8f60b98be21830cee5ef22701f9641a4418d04c0414aeff08876b34ab56"},
    };
    for (const auto& c : cases) {
        uint8_t key[kKeySize];
        Pbkdf2Sha256(reinterpret_cast<const uint8_t*>(c.password), std::strlen(c.password),
                     reinterpret_cast<const uint8_t*>(c.salt), std::strlen(c.salt), c.iterations,
                     key);
        EXPECT_EQ(Hex(std::string(reinterpret_cast<char*>(key), kKeySize)), c.key) << c.password;
    }
}

TEST(Crypto, RandomBytesDiffer) {
    uint8_t a[32], b[32];
    RandomBytes(a, sizeof a);
    RandomBytes(b, sizeof b);
    EXPECT_NE(std::memcmp(a, b, sizeof a), 0);
}

// ---------------------------------------------------------------------------
// The file format
// ---------------------------------------------------------------------------

AnsiString KatPath(const char* name) {
    return AnsiString(NUVA_IT_DATA) + PathDelim + name;
}

TCryptKey KatKeyFileKey() {
    TCryptKey key;
    key.kind = TKeyKind::KeyFile;
    for (int i = 0; i < 32; ++i) key.secret += static_cast<char>(i);
    return key;
}

TCryptKey KatPassphraseKey() {
    TCryptKey key;
    key.kind = TKeyKind::Passphrase;
    key.secret = u8"口令-测试";
    key.iterations = 1000;
    return key;
}

TSealParams KatParams() {
    TSealParams p;
    for (int i = 0; i < 16; ++i) p.salt[i] = static_cast<uint8_t>(0x10 + i);
    for (int i = 0; i < 8; ++i) p.noncePrefix[i] = static_cast<uint8_t>(0xA0 + i);
    p.chunkSize = 1024;
    return p;
}

std::string Seal(const std::string& plain, const TCryptKey& key, const TSealParams& params) {
    TMemoryStream in, out;
    in.WriteBuffer(plain.data(), static_cast<int64_t>(plain.size()));
    in.SetPosition(0);
    SealStream(in, out, key, params);
    return std::string(out.Data().begin(), out.Data().end());
}

std::string Unseal(const std::string& sealed, const TCryptKey& key) {
    TMemoryStream in, out;
    in.WriteBuffer(sealed.data(), static_cast<int64_t>(sealed.size()));
    in.SetPosition(0);
    UnsealStream(in, out, key);
    return std::string(out.Data().begin(), out.Data().end());
}

TEST(CryptFile, KnownAnswersAreWrittenAndReadOnThisBuild) {
    const std::string plain = ReadAll(KatPath("kat_plain.txt"));
    ASSERT_EQ(plain.size(), 2500u);
    struct {
        const char* file;
        TCryptKey key;
        size_t size;
    } const cases[] = {
        {"kat_keyfile.bin", KatKeyFileKey(), 2500},
        {"kat_passphrase.bin", KatPassphraseKey(), 2048},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string expected = ReadAll(KatPath(c.file));
        EXPECT_EQ(Hex(Seal(plain.substr(0, c.size), c.key, KatParams())), Hex(expected));
        EXPECT_EQ(Unseal(expected, c.key), plain.substr(0, c.size));
    }
}

TEST(CryptFile, RoundTripsAtChunkEdges) {
    TCryptKey key = KatKeyFileKey();
    TSealParams params = RandomSealParams();
    params.chunkSize = 1024;
    for (size_t size : {0, 1, 1023, 1024, 1025, 2048, 5000}) {
        std::string plain(size, '\0');
        for (size_t i = 0; i < size; ++i) plain[i] = static_cast<char>(i * 7);
        const std::string sealed = Seal(plain, key, params);
        const size_t chunks = size == 0 ? 1 : (size + 1023) / 1024;
        EXPECT_EQ(sealed.size(), kFileHeaderSize + chunks * kTagSize + size) << size;
        EXPECT_EQ(Unseal(sealed, key), plain) << size;
    }
}

TEST(CryptFile, TwoSealsOfOneFileDiffer) {
    const std::string plain = "same plaintext";
    EXPECT_NE(Seal(plain, KatKeyFileKey(), RandomSealParams()),
              Seal(plain, KatKeyFileKey(), RandomSealParams()));
}

// The corruption fixture: the key-file KAT (three chunks: 1024, 1024, 452).
class CryptFileDefect : public ::testing::Test {
  protected:
    std::string file_ = ReadAll(KatPath("kat_keyfile.bin"));
    static constexpr size_t kRecord = 1024 + kTagSize;

    void ExpectFault(const std::string& file, TCryptFault fault,
                     const TCryptKey& key = KatKeyFileKey()) {
        try {
            Unseal(file, key);
            ADD_FAILURE() << "opened a defective file";
        } catch (const ECryptFileError& e) {
            EXPECT_EQ(static_cast<int>(e.Fault()), static_cast<int>(fault));
            EXPECT_EQ(e.Message(), WideToAnsi(CryptFaultText(fault)));
        }
    }
    std::string Flip(size_t offset) const {
        std::string f = file_;
        f[offset] = static_cast<char>(f[offset] ^ 0x40);
        return f;
    }
};

TEST_F(CryptFileDefect, EveryHeaderFieldIsGuarded) {
    struct {
        const char* field;
        size_t offset;
        TCryptFault fault;
    } const cases[] = {
        {"magic", 0, TCryptFault::NotEncrypted},
        {"version", 8, TCryptFault::Unsupported},
        {"reserved", 10, TCryptFault::Unsupported},
        {"chunk size", 14, TCryptFault::WrongKey},
        {"salt", 25, TCryptFault::WrongKey},
        {"nonce prefix", 40, TCryptFault::WrongKey},
        {"key check", 50, TCryptFault::WrongKey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        ExpectFault(Flip(c.offset), c.fault);
    }
}

TEST_F(CryptFileDefect, OutOfRangeFieldsAreUnsupported) {
    struct {
        const char* field;
        size_t offset;
        std::string bytes;
    } const cases[] = {
        {"chunk size below 1 KiB", 12, std::string("\0\0\x03\xff", 4)},
        {"chunk size over 1 MiB", 12, std::string("\0\x10\0\x01", 4)},
        {"no iterations", 16, std::string("\0\0\0\0", 4)},
        {"key file with iterations", 16, std::string("\0\0\0\x02", 4)},
        {"unknown kind", 9, std::string("\x03", 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        std::string f = file_;
        f.replace(c.offset, c.bytes.size(), c.bytes);
        ExpectFault(f, TCryptFault::Unsupported);
    }
}

// A passphrase file's round count is read before anything is authenticated:
// a count above the range is refused at once, without deriving the key.
TEST_F(CryptFileDefect, IterationCountsAboveTheRangeAreRefusedUnread) {
    const std::string kat = ReadAll(KatPath("kat_passphrase.bin"));
    for (const uint32_t rounds : {kMaxIterations + 1, 10000000u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(rounds);
        std::string f = kat;
        for (int i = 0; i < 4; ++i) f[16 + i] = static_cast<char>(rounds >> (24 - 8 * i));
        ExpectFault(f, TCryptFault::Unsupported, KatPassphraseKey());
    }
    EXPECT_EQ(kMaxIterations, 1000000u);
}

// New passphrase files take today's default; files of the earlier default
// (200000) still open.
TEST(CryptFileFiles, PassphraseFilesOfTheOldAndNewDefaultsOpen) {
    EXPECT_EQ(kDefaultIterations, 600000u);
    for (const uint32_t rounds : {200000u, kDefaultIterations}) {
        SCOPED_TRACE(rounds);
        TCryptKey key = KatPassphraseKey();
        key.iterations = rounds;
        TMemoryStream plain, sealed, back;
        plain.WriteBuffer("old files", 9);
        plain.SetPosition(0);
        SealStream(plain, sealed, key, RandomSealParams());
        const std::vector<uint8_t>& bytes = sealed.Data();
        EXPECT_EQ((uint32_t{bytes[16]} << 24) | (uint32_t{bytes[17]} << 16) |
                      (uint32_t{bytes[18]} << 8) | bytes[19],
                  rounds);
        sealed.SetPosition(0);
        UnsealStream(sealed, back, key);
        EXPECT_EQ(std::string(back.Data().begin(), back.Data().end()), "old files");
    }
}

TEST_F(CryptFileDefect, ChangedChunkOrTagIsDamaged) {
    for (size_t offset : {kFileHeaderSize, kFileHeaderSize + 1023, kFileHeaderSize + 1030,
                          kFileHeaderSize + kRecord + 5, file_.size() - 1}) {
        SCOPED_TRACE(offset);
        ExpectFault(Flip(offset), TCryptFault::Damaged);
    }
}

TEST_F(CryptFileDefect, AnEmptyFilesTagIsCheckedToo) {
    // Regression: Wine's CNG took any tag for a call without data.
    std::string empty = Seal("", KatKeyFileKey(), KatParams());
    ASSERT_EQ(empty.size(), kFileHeaderSize + kTagSize);
    empty.back() = static_cast<char>(empty.back() ^ 1);
    ExpectFault(empty, TCryptFault::Damaged);
}

TEST_F(CryptFileDefect, SwappedChunksAreDamaged) {
    std::string f = file_;
    f.replace(kFileHeaderSize, kRecord, file_.substr(kFileHeaderSize + kRecord, kRecord));
    f.replace(kFileHeaderSize + kRecord, kRecord, file_.substr(kFileHeaderSize, kRecord));
    ExpectFault(f, TCryptFault::Damaged);
}

TEST_F(CryptFileDefect, EveryCutIsRefused) {
    // At a chunk boundary the cut is named; inside a chunk its tag fails.
    struct {
        size_t size;
        TCryptFault fault;
    } const cases[] = {
        {0, TCryptFault::NotEncrypted},
        {30, TCryptFault::Truncated},
        {kFileHeaderSize, TCryptFault::Truncated},
        {kFileHeaderSize + 10, TCryptFault::Truncated},
        {kFileHeaderSize + 500, TCryptFault::Damaged},
        {kFileHeaderSize + kRecord, TCryptFault::Truncated},
        {kFileHeaderSize + 2 * kRecord, TCryptFault::Truncated},
        {file_.size() - 1, TCryptFault::Damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        ExpectFault(file_.substr(0, c.size), c.fault);
    }
}

TEST_F(CryptFileDefect, BytesAfterTheFinalChunkAreRefused) {
    // The passphrase KAT ends with a full chunk, so what follows is read as
    // a further chunk.
    const std::string f = ReadAll(KatPath("kat_passphrase.bin"));
    ExpectFault(f + std::string(40, 'x'), TCryptFault::TrailingData, KatPassphraseKey());
    // After a short final chunk the extra bytes join it.
    ExpectFault(file_ + "x", TCryptFault::Damaged);
}

TEST_F(CryptFileDefect, WrongKeyOrKindIsNamed) {
    TCryptKey other = KatKeyFileKey();
    other.secret[0] ^= 1;
    ExpectFault(file_, TCryptFault::WrongKey, other);
    ExpectFault(file_, TCryptFault::WrongKeyKind, KatPassphraseKey());
    TCryptKey wrongPassphrase = KatPassphraseKey();
    wrongPassphrase.secret += "x";
    ExpectFault(ReadAll(KatPath("kat_passphrase.bin")), TCryptFault::WrongKey, wrongPassphrase);
}

// ---------------------------------------------------------------------------
// File to file
// ---------------------------------------------------------------------------

TEST(CryptFileFiles, SealAndUnsealGbkNamedFiles) {
    TTempDir dir;
    const AnsiString plain = dir / WideToAnsi(u"明文.txt"), sealed = dir / WideToAnsi(u"密文.CA"),
                     back = dir / WideToAnsi(u"还原.txt");
    WriteAll(plain, WideToAnsi(u"交易数据:你好"));
    SealFile(plain, sealed, KatKeyFileKey());
    UnsealFile(sealed, back, KatKeyFileKey());
    EXPECT_EQ(ReadAll(back), ReadAll(plain));
}

TEST(CryptFileFiles, AFailedUnsealLeavesNoFileAndTheTargetUntouched) {
    TTempDir dir;
    const AnsiString sealed = dir / "in.CA", target = dir / "out.zip";
    std::string bytes = ReadAll(KatPath("kat_keyfile.bin"));
    bytes.resize(bytes.size() - 100);  // the first two chunks verify, the third is cut
    WriteAll(sealed, bytes);
    WriteAll(target, "before");
    EXPECT_THROW(UnsealFile(sealed, target, KatKeyFileKey()), ECryptFileError);
    EXPECT_EQ(ReadAll(target), "before");
    std::vector<AnsiString> names;
    for (const TDirEntry& e : ListDirectoryEntries(dir.Path()))
        if (e.name != "." && e.name != "..") names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<AnsiString>{"in.CA", "out.zip"}));
}

TEST(CryptFileFiles, AMissingSourceRaisesTheOpenError) {
    TTempDir dir;
    EXPECT_THROW(SealFile(dir / "missing", dir / "out.CA", KatKeyFileKey()), EFOpenError);
    EXPECT_FALSE(FileExists(dir / "out.CA"));
}

}  // namespace
}  // namespace nuva::ca
