#include "zip/Crc32.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define NUVA_CRC_FOLDING 1
// The vector helpers are internal: their calling convention never crosses
// this file, also where the 32-bit build leaves SSE off by default.
#pragma GCC diagnostic ignored "-Wpsabi"
#endif

namespace nuva {

namespace {

constexpr size_t kSlices = 16;  // bytes consumed per step of the main loop

using TCrcTables = std::array<std::array<uint32_t, 256>, kSlices>;

// tables[0] is the classic byte table; tables[k][b] is the CRC of byte b
// followed by k zero bytes, so sixteen lookups advance sixteen bytes at once.
constexpr TCrcTables MakeTables() {
    TCrcTables t{};
    for (uint32_t b = 0; b < 256; ++b) {
        uint32_t c = b;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? (c >> 1) ^ kCrc32Polynomial : c >> 1;
        t[0][b] = c;
    }
    for (size_t k = 1; k < kSlices; ++k)
        for (uint32_t b = 0; b < 256; ++b) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFF];
    return t;
}

constexpr TCrcTables kTables = MakeTables();

inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

uint32_t Crc32UpdatePortable(uint32_t running, const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t c = running;
    while (length >= kSlices) {
        uint32_t a = LoadLe32(p) ^ c;
        uint32_t b = LoadLe32(p + 4);
        uint32_t d = LoadLe32(p + 8);
        uint32_t e = LoadLe32(p + 12);
        c = kTables[15][a & 0xFF] ^ kTables[14][(a >> 8) & 0xFF] ^ kTables[13][(a >> 16) & 0xFF] ^
            kTables[12][a >> 24] ^ kTables[11][b & 0xFF] ^ kTables[10][(b >> 8) & 0xFF] ^
            kTables[9][(b >> 16) & 0xFF] ^ kTables[8][b >> 24] ^ kTables[7][d & 0xFF] ^
            kTables[6][(d >> 8) & 0xFF] ^ kTables[5][(d >> 16) & 0xFF] ^ kTables[4][d >> 24] ^
            kTables[3][e & 0xFF] ^ kTables[2][(e >> 8) & 0xFF] ^ kTables[1][(e >> 16) & 0xFF] ^
            kTables[0][e >> 24];
        p += kSlices;
        length -= kSlices;
    }
    while (length--) c = (c >> 8) ^ kTables[0][(c ^ *p++) & 0xFF];
    return c;
}

#ifdef NUVA_CRC_FOLDING

namespace {

// Folding with carry-less multiplication in the bit-reflected domain: four
// 128-bit lanes are each multiplied by x^(512) and x^(576) mod P and added to
// the next 64 bytes, then folded into one lane, reduced to 64 and to 32 bits
// and finished with a Barrett reduction. The constants are powers of x
// modulo the zip polynomial, bit-reflected and shifted by one.
constexpr uint64_t kFold512Lo = 0x154442BD4;   // x^(4*128+32) mod P
constexpr uint64_t kFold512Hi = 0x1C6E41596;   // x^(4*128-32) mod P
constexpr uint64_t kFold128Lo = 0x1751997D0;   // x^(128+32) mod P
constexpr uint64_t kFold128Hi = 0x0CCAA009E;   // x^(128-32) mod P
constexpr uint64_t kFold64 = 0x163CD6124;      // x^64 mod P
constexpr uint64_t kPolynomial = 0x1DB710641;  // P, reflected, with its x^32 term
constexpr uint64_t kBarrettMu = 0x1F7011641;   // floor(x^64 / P), reflected
constexpr size_t kFoldBlock = 64;              // bytes per step of the main loop

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Constants(uint64_t lo, uint64_t hi) {
    return _mm_set_epi32(static_cast<int>(hi >> 32), static_cast<int>(hi & 0xFFFFFFFF),
                         static_cast<int>(lo >> 32), static_cast<int>(lo & 0xFFFFFFFF));
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

// `length` is at least 64 and a multiple of 16.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldBlocks(uint32_t running, const uint8_t* p,
                                                             size_t length) {
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(running)));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    p += kFoldBlock;
    length -= kFoldBlock;
    const __m128i k512 = Constants(kFold512Lo, kFold512Hi);
    while (length >= kFoldBlock) {
        x0 = Fold(x0, k512, Load(p));
        x1 = Fold(x1, k512, Load(p + 16));
        x2 = Fold(x2, k512, Load(p + 32));
        x3 = Fold(x3, k512, Load(p + 48));
        p += kFoldBlock;
        length -= kFoldBlock;
    }
    const __m128i k128 = Constants(kFold128Lo, kFold128Hi);
    __m128i x = Fold(x0, k128, x1);
    x = Fold(x, k128, x2);
    x = Fold(x, k128, x3);
    while (length >= 16) {
        x = Fold(x, k128, Load(p));
        p += 16;
        length -= 16;
    }
    // 128 -> 64 bits (appending 32 zero bits), then 64 -> 32.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i t = _mm_clmulepi64_si128(k128, x, 0x01);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), t);
    t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), Constants(kFold64, 0), 0x00);
    x = _mm_xor_si128(_mm_srli_si128(x, 4), t);
    // Barrett reduction.
    const __m128i poly = Constants(kPolynomial, kBarrettMu);
    t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

bool HaveFolding() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}

}  // namespace

uint32_t Crc32Update(uint32_t running, const void* data, size_t length) {
    if (length < kFoldBlock || !HaveFolding()) return Crc32UpdatePortable(running, data, length);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const size_t folded = length & ~static_cast<size_t>(15);
    running = FoldBlocks(running, p, folded);
    return Crc32UpdatePortable(running, p + folded, length - folded);
}

#else

uint32_t Crc32Update(uint32_t running, const void* data, size_t length) {
    return Crc32UpdatePortable(running, data, length);
}

#endif

}  // namespace nuva
