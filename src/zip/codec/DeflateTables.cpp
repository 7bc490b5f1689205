#include "zip/codec/DeflateTables.h"

#include "zip/codec/HuffmanTable.h"

namespace nuva::deflate {

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
        codes[n].code = static_cast<uint16_t>(ReverseCodeBits(next[length]++, length));
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
    for (int n = 0; n < kDistanceCodes; ++n) t.fixedDistance[n] = {static_cast<uint16_t>(ReverseCodeBits(n, 5)), 5};
    return t;
}

}  // namespace

const TStaticTables& StaticTables() {
    static const TStaticTables tables = BuildStaticTables();
    return tables;
}

}  // namespace nuva::deflate
