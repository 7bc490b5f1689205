#include "zip/Crc32.h"

#include <array>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define NUVA_CRC_FOLDING 1
// The 256- and 512-bit folds keep their vectors in registers only where the
// compiler realigns the stack for wider spills: mingw-w64's GCC does not (a
// spilled ymm or zmm value may be stored with an aligned move to a slot that
// is only 16-byte aligned), so the Windows builds stop at 128-bit lanes.
#if defined(__x86_64__) && !defined(_WIN32)
#define NUVA_CRC_WIDE_FOLDING 1
#endif
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

// Folding with carry-less multiplication in the bit-reflected domain. A
// 128-bit lane holding the bits of a message piece M, followed by d bits,
// contributes M * x^d mod P to the CRC: its low half times x^(d+32) mod P and
// its high half times x^(d-32) mod P, added to the lane d bits further on,
// keep the value unchanged while the lane moves forward. Each method keeps
// several lanes side by side, folds them forward over the buffer, then folds
// them into one, reduces 128 bits to 64 and to 32 and finishes with a
// Barrett reduction.

// x^n mod P in the form the multiplications take: bit-reflected over 32
// bits and shifted left by one.
constexpr uint64_t PowerOfX(unsigned n) {
    uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & (uint64_t{1} << 32)) r ^= 0x104C11DB7u;  // P, not reflected
    }
    uint64_t reflected = 0;
    for (unsigned i = 0; i < 32; ++i)
        if ((r >> i) & 1) reflected |= uint64_t{1} << (31 - i);
    return reflected << 1;
}

// The pair of multipliers that moves a 128-bit lane `bits` further.
struct TFoldDistance {
    uint64_t lo;
    uint64_t hi;
};
constexpr TFoldDistance Distance(unsigned bits) { return {PowerOfX(bits + 32), PowerOfX(bits - 32)}; }

static_assert(PowerOfX(4 * 128 + 32) == 0x154442BD4 && PowerOfX(4 * 128 - 32) == 0x1C6E41596,
              "the published fold-by-512 multipliers");
static_assert(PowerOfX(128 + 32) == 0x1751997D0 && PowerOfX(128 - 32) == 0x0CCAA009E,
              "the published fold-by-128 multipliers");

constexpr uint64_t kFold64 = PowerOfX(64);     // 0x163CD6124
constexpr uint64_t kPolynomial = 0x1DB710641;  // P, reflected, with its x^32 term
constexpr uint64_t kBarrettMu = 0x1F7011641;   // floor(x^64 / P), reflected
constexpr size_t kShortest = 64;               // bytes: shorter buffers take the table

#define NUVA_TARGET_128 __attribute__((target("pclmul,sse4.1")))

NUVA_TARGET_128 inline __m128i Constants(TFoldDistance d) {
    return _mm_set_epi64x(static_cast<long long>(d.hi), static_cast<long long>(d.lo));
}

NUVA_TARGET_128 inline __m128i Load(const uint8_t* q) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
}

NUVA_TARGET_128 inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, next), hi);
}

// Folds the 16-byte pieces left at p (length a multiple of 16) into `x`,
// then reduces it to the running value.
NUVA_TARGET_128 uint32_t FinishLane(__m128i x, const uint8_t* p, size_t length) {
    const __m128i k128 = Constants(Distance(128));
    for (; length >= 16; p += 16, length -= 16) x = Fold(x, k128, Load(p));
    // 128 -> 64 bits (appending 32 zero bits), then 64 -> 32.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i t = _mm_clmulepi64_si128(k128, x, 0x01);
    x = _mm_xor_si128(_mm_srli_si128(x, 8), t);
    t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), Constants({kFold64, 0}), 0x00);
    x = _mm_xor_si128(_mm_srli_si128(x, 4), t);
    // Barrett reduction.
    const __m128i poly = Constants({kPolynomial, kBarrettMu});
    t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_extract_epi32(x, 1));
}

// Eight 128-bit lanes, 128 bytes per step: a lane's two multiplications
// wait for its previous step, so where the processor starts more than one
// multiplication per cycle, four lanes would leave it waiting (where it
// starts one per cycle, as on recent Intel cores, four and eight run alike).
// `length` is at least 16 and a multiple of 16.
NUVA_TARGET_128 uint32_t Fold128(uint32_t running, const uint8_t* p, size_t length) {
    const __m128i start = _mm_cvtsi32_si128(static_cast<int>(running));
    if (length < 128) return FinishLane(_mm_xor_si128(Load(p), start), p + 16, length - 16);
    __m128i x[8];
    for (int i = 0; i < 8; ++i) x[i] = Load(p + 16 * i);
    x[0] = _mm_xor_si128(x[0], start);
    p += 128;
    length -= 128;
    const __m128i k1024 = Constants(Distance(1024));
    for (; length >= 128; p += 128, length -= 128)
        for (int i = 0; i < 8; ++i) x[i] = Fold(x[i], k1024, Load(p + 16 * i));
    // Lanes 64, 32 then 16 bytes apart, pairwise.
    const __m128i k512 = Constants(Distance(512));
    for (int i = 0; i < 4; ++i) x[i + 4] = Fold(x[i], k512, x[i + 4]);
    const __m128i k256 = Constants(Distance(256));
    for (int i = 4; i < 6; ++i) x[i + 2] = Fold(x[i], k256, x[i + 2]);
    return FinishLane(Fold(x[6], Constants(Distance(128)), x[7]), p, length);
}

bool HaveFold128() {
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}

#ifdef NUVA_CRC_WIDE_FOLDING

#define NUVA_TARGET_256 __attribute__((target("pclmul,sse4.1,avx2,vpclmulqdq")))
#define NUVA_TARGET_512 __attribute__((target("pclmul,sse4.1,avx2,avx512f,vpclmulqdq")))

NUVA_TARGET_256 inline __m256i Fold(__m256i x, __m256i k, __m256i next) {
    const __m256i lo = _mm256_clmulepi64_epi128(x, k, 0x00);
    const __m256i hi = _mm256_clmulepi64_epi128(x, k, 0x11);
    return _mm256_xor_si256(_mm256_xor_si256(lo, next), hi);
}

NUVA_TARGET_256 inline __m256i Load256(const uint8_t* q) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(q));
}

// Four 256-bit lanes (each two 128-bit ones), 128 bytes per step. `length`
// is at least 128 and a multiple of 16.
NUVA_TARGET_256 uint32_t Fold256(uint32_t running, const uint8_t* p, size_t length) {
    __m256i x0 = _mm256_xor_si256(Load256(p), _mm256_setr_epi32(static_cast<int>(running), 0, 0,
                                                                 0, 0, 0, 0, 0));
    __m256i x1 = Load256(p + 32), x2 = Load256(p + 64), x3 = Load256(p + 96);
    p += 128;
    length -= 128;
    const __m256i k1024 = _mm256_broadcastsi128_si256(Constants(Distance(1024)));
    for (; length >= 128; p += 128, length -= 128) {
        x0 = Fold(x0, k1024, Load256(p));
        x1 = Fold(x1, k1024, Load256(p + 32));
        x2 = Fold(x2, k1024, Load256(p + 64));
        x3 = Fold(x3, k1024, Load256(p + 96));
    }
    const __m256i k512 = _mm256_broadcastsi128_si256(Constants(Distance(512)));
    x2 = Fold(x0, k512, x2);
    x3 = Fold(x1, k512, x3);
    const __m256i k256 = _mm256_broadcastsi128_si256(Constants(Distance(256)));
    x3 = Fold(x2, k256, x3);
    for (; length >= 32; p += 32, length -= 32) x3 = Fold(x3, k256, Load256(p));
    const __m128i x = Fold(_mm256_castsi256_si128(x3), Constants(Distance(128)),
                           _mm256_extracti128_si256(x3, 1));
    return FinishLane(x, p, length);
}

NUVA_TARGET_512 inline __m512i Fold(__m512i x, __m512i k, __m512i next) {
    const __m512i lo = _mm512_clmulepi64_epi128(x, k, 0x00);
    const __m512i hi = _mm512_clmulepi64_epi128(x, k, 0x11);
    return _mm512_ternarylogic_epi64(lo, hi, next, 0x96);  // lo ^ hi ^ next
}

NUVA_TARGET_512 inline __m512i Load512(const uint8_t* q) { return _mm512_loadu_si512(q); }

// The multipliers in each 128-bit part.
NUVA_TARGET_512 inline __m512i Constants512(TFoldDistance d) {
    const auto lo = static_cast<long long>(d.lo), hi = static_cast<long long>(d.hi);
    return _mm512_set_epi64(hi, lo, hi, lo, hi, lo, hi, lo);
}

// The 128-bit part `n` of x. (The zero-masking form: GCC 12's plain extract
// and cast pass an undefined operand that its warnings flag.)
template <int n>
NUVA_TARGET_512 inline __m128i Part(__m512i x) {
    return _mm512_maskz_extracti32x4_epi32(0xF, x, n);
}

// Four 512-bit lanes (each four 128-bit ones), 256 bytes per step. `length`
// is at least 256 and a multiple of 16.
NUVA_TARGET_512 uint32_t Fold512(uint32_t running, const uint8_t* p, size_t length) {
    __m512i x0 = _mm512_xor_si512(
        Load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(running))));
    __m512i x1 = Load512(p + 64), x2 = Load512(p + 128), x3 = Load512(p + 192);
    p += 256;
    length -= 256;
    const __m512i k2048 = Constants512(Distance(2048));
    for (; length >= 256; p += 256, length -= 256) {
        x0 = Fold(x0, k2048, Load512(p));
        x1 = Fold(x1, k2048, Load512(p + 64));
        x2 = Fold(x2, k2048, Load512(p + 128));
        x3 = Fold(x3, k2048, Load512(p + 192));
    }
    const __m512i k1024 = Constants512(Distance(1024));
    x2 = Fold(x0, k1024, x2);
    x3 = Fold(x1, k1024, x3);
    const __m512i k512 = Constants512(Distance(512));
    x3 = Fold(x2, k512, x3);
    for (; length >= 64; p += 64, length -= 64) x3 = Fold(x3, k512, Load512(p));
    const __m128i k128 = Constants(Distance(128));
    __m128i x = Part<0>(x3);
    x = Fold(x, k128, Part<1>(x3));
    x = Fold(x, k128, Part<2>(x3));
    x = Fold(x, k128, Part<3>(x3));
    return FinishLane(x, p, length);
}

// The 512-bit method hands buffers too short for its lanes to the 256-bit
// one, so it needs AVX2 as well.
bool HaveVectorMultiply(const bool avx512) {
    if (!HaveFold128() || !__builtin_cpu_supports("vpclmulqdq") || !__builtin_cpu_supports("avx2"))
        return false;
    return !avx512 || __builtin_cpu_supports("avx512f");
}

#endif  // NUVA_CRC_WIDE_FOLDING

}  // namespace

bool Crc32MethodAvailable(TCrc32Method method) {
    switch (method) {
        case TCrc32Method::kTable:
            return true;
        case TCrc32Method::kFold128:
            return HaveFold128();
#ifdef NUVA_CRC_WIDE_FOLDING
        case TCrc32Method::kFold256: {
            static const bool have = HaveVectorMultiply(false);
            return have;
        }
        case TCrc32Method::kFold512: {
            static const bool have = HaveVectorMultiply(true);
            return have;
        }
#endif
        default:
            return false;
    }
}

uint32_t Crc32UpdateWith(TCrc32Method method, uint32_t running, const void* data, size_t length) {
    if (length < kShortest || method == TCrc32Method::kTable || !Crc32MethodAvailable(method))
        return Crc32UpdatePortable(running, data, length);
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const size_t folded = length & ~static_cast<size_t>(15);
#ifdef NUVA_CRC_WIDE_FOLDING
    if (method == TCrc32Method::kFold512 && folded >= 256)
        running = Fold512(running, p, folded);
    else if (method >= TCrc32Method::kFold256 && folded >= 128)
        running = Fold256(running, p, folded);
    else
#endif
        running = Fold128(running, p, folded);
    return Crc32UpdatePortable(running, p + folded, length - folded);
}

#else

bool Crc32MethodAvailable(TCrc32Method method) { return method == TCrc32Method::kTable; }

uint32_t Crc32UpdateWith(TCrc32Method, uint32_t running, const void* data, size_t length) {
    return Crc32UpdatePortable(running, data, length);
}

#endif  // NUVA_CRC_FOLDING

TCrc32Method Crc32BestMethod() {
    static const TCrc32Method best = [] {
        for (TCrc32Method m : {TCrc32Method::kFold512, TCrc32Method::kFold256,
                               TCrc32Method::kFold128})
            if (Crc32MethodAvailable(m)) return m;
        return TCrc32Method::kTable;
    }();
    return best;
}

uint32_t Crc32Update(uint32_t running, const void* data, size_t length) {
    return Crc32UpdateWith(Crc32BestMethod(), running, data, length);
}

}  // namespace nuva
