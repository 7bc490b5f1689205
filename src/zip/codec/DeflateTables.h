// Constant tables of the deflate format (RFC 1951) as the compressor uses
// them: the length and distance code maps, their base values and extra bits,
// and the fixed Huffman codes. Built once per process, read-only afterwards.
#pragma once

#include <cstdint>

namespace nuva::deflate {

inline constexpr int kLiteralCodes = 256;      // byte values 0..255
inline constexpr int kEndOfBlock = 256;        // literal/length code ending a block
inline constexpr int kLengthCodes = 29;        // codes 257..285
inline constexpr int kLitLenCodes = 286;       // codes used in dynamic trees
inline constexpr int kFixedLitLenCodes = 288;  // codes of the fixed tree
inline constexpr int kDistanceCodes = 30;
inline constexpr int kBitLengthCodes = 19;
inline constexpr int kMaxCodeBits = 15;                 // longest literal/length or distance code
inline constexpr int kMaxBitLengthBits = 7;             // longest bit-length code
inline constexpr int kHeapSize = 2 * kLitLenCodes + 1;  // every node of the largest tree

inline constexpr uint8_t kLengthExtraBits[kLengthCodes] = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr uint8_t kDistanceExtraBits[kDistanceCodes] = {
    0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr uint8_t kBitLengthExtraBits[kBitLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                 0, 0, 0, 0, 0, 0, 2, 3, 7};
// The order in which the bit-length code lengths are sent.
inline constexpr uint8_t kBitLengthOrder[kBitLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                             11, 4,  12, 3, 13, 2, 14, 1, 15};

// A Huffman code ready to send: `code` already bit-reversed (codes go out
// least significant bit first), `length` in bits (0 = code not in use).
struct TCode {
    uint16_t code;
    uint16_t length;
};

struct TStaticTables {
    TCode fixedLitLen[kFixedLitLenCodes];
    TCode fixedDistance[kDistanceCodes];
    // (match length - 3) -> length code 0..28; length 258 maps to code 28
    // (285), not to code 27 with all extra bits set.
    uint8_t lengthCode[256];
    // (distance - 1) -> distance code: entries 0..255 directly, entries
    // 256..511 for (distance - 1) >> 7.
    uint8_t distanceCode[512];
    int32_t baseLength[kLengthCodes];      // smallest (match length - 3) of each code
    int32_t baseDistance[kDistanceCodes];  // smallest (distance - 1) of each code
};

const TStaticTables& StaticTables();

inline unsigned DistanceCode(const TStaticTables& t, unsigned distanceMinus1) {
    return distanceMinus1 < 256 ? t.distanceCode[distanceMinus1]
                                : t.distanceCode[256 + (distanceMinus1 >> 7)];
}

// Canonical codes from code lengths: assigns tree codes 0..maxCode their
// bit-reversed codes; `lengthCounts[b]` is how many codes have length b.
void AssignCanonicalCodes(TCode* codes, int maxCode, const uint16_t* lengthCounts);

}  // namespace nuva::deflate
