#include "zip/codec/DeflateTables.h"

namespace nuva::deflate {

namespace {

// Every byte value with its bits in reverse order.
struct TByteReversal {
    uint8_t reversed[256];
    constexpr TByteReversal() : reversed() {
        for (unsigned b = 0; b < 256; ++b) {
            unsigned r = 0;
            for (unsigned bit = 0; bit < 8; ++bit) r |= ((b >> bit) & 1) << (7 - bit);
            reversed[b] = static_cast<uint8_t>(r);
        }
    }
};
constexpr TByteReversal kByteReversal;

}  // namespace

uint16_t ReverseBits(unsigned code, unsigned length) {
    // All 16 bits reversed, then the low `length` of them moved down.
    const unsigned all = (static_cast<unsigned>(kByteReversal.reversed[code & 0xFF]) << 8) |
                         kByteReversal.reversed[(code >> 8) & 0xFF];
    return static_cast<uint16_t>(all >> (16 - length));
}

void AssignCanonicalCodes(TCode* codes, int maxCode, const uint16_t* lengthCounts) {
    uint16_t next[kMaxCodeBits + 1];
    unsigned code = 0;
    next[0] = 0;
    for (int bits = 1; bits <= kMaxCodeBits; ++bits) {
        code = (code + lengthCounts[bits - 1]) << 1;
        next[bits] = static_cast<uint16_t>(code);
    }
    for (int n = 0; n <= maxCode; ++n) {
        unsigned length = codes[n].length;
        if (length == 0) continue;
        codes[n].code = ReverseBits(next[length]++, length);
    }
}

namespace {

TStaticTables BuildStaticTables() {
    TStaticTables t{};
    // Length codes: each covers 2^extra consecutive lengths.
    int lengthMinus3 = 0;
    for (int code = 0; code < kLengthCodes - 1; ++code) {
        t.baseLength[code] = lengthMinus3;
        for (int i = 0; i < (1 << kLengthExtraBits[code]); ++i)
            t.lengthCode[lengthMinus3++] = static_cast<uint8_t>(code);
    }
    // Length 258 has a code of its own; it would also fit code 27's range.
    t.baseLength[kLengthCodes - 1] = 255;
    t.lengthCode[255] = kLengthCodes - 1;

    int distanceMinus1 = 0;
    for (int code = 0; code < 16; ++code) {
        t.baseDistance[code] = distanceMinus1;
        for (int i = 0; i < (1 << kDistanceExtraBits[code]); ++i)
            t.distanceCode[distanceMinus1++] = static_cast<uint8_t>(code);
    }
    distanceMinus1 >>= 7;  // from here on the map is indexed by (distance - 1) >> 7
    for (int code = 16; code < kDistanceCodes; ++code) {
        t.baseDistance[code] = distanceMinus1 << 7;
        for (int i = 0; i < (1 << (kDistanceExtraBits[code] - 7)); ++i)
            t.distanceCode[256 + distanceMinus1++] = static_cast<uint8_t>(code);
    }

    uint16_t counts[kMaxCodeBits + 1] = {};
    for (int n = 0; n < kFixedLitLenCodes; ++n) {
        uint16_t length = n <= 143 ? 8 : n <= 255 ? 9 : n <= 279 ? 7 : 8;
        t.fixedLitLen[n].length = length;
        ++counts[length];
    }
    AssignCanonicalCodes(t.fixedLitLen, kFixedLitLenCodes - 1, counts);
    for (int n = 0; n < kDistanceCodes; ++n) t.fixedDistance[n] = {ReverseBits(n, 5), 5};
    return t;
}

}  // namespace

const TStaticTables& StaticTables() {
    static const TStaticTables tables = BuildStaticTables();
    return tables;
}

}  // namespace nuva::deflate
