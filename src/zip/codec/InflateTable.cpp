#include "zip/codec/InflateTable.h"

#include <algorithm>
#include <cstring>

#include "zip/codec/HuffmanTable.h"

namespace nuva {
namespace {

constexpr unsigned kMaxDeflateCodeLength = 15;
constexpr unsigned kMaxSymbols = 288;
constexpr size_t kMaxEntries = 65535;  // sub-table offsets are 16 bits

// Each symbol's entry without its code length: value, flags and extra bits
// (in the consume field, to which the code length is added). Literal/length
// 257..285 carry a length base, distances 0..29 a distance base.
struct TEntryTemplates {
    uint32_t literalLength[kMaxSymbols];
    uint32_t distance[32];
    uint32_t codeLength[19];

    constexpr TEntryTemplates() : literalLength(), distance(), codeLength() {
        constexpr uint16_t lengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
        constexpr uint8_t lengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
        constexpr uint16_t distanceBase[30] = {
            1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
            193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
        constexpr uint8_t distanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
        for (unsigned s = 0; s < 256; ++s) literalLength[s] = kInflateEntryLiteral | (s << 16);
        literalLength[256] = kInflateEntrySpecial | kInflateEntryEnd;
        for (unsigned s = 257; s < 286; ++s)
            literalLength[s] = (uint32_t(lengthBase[s - 257]) << 16) | lengthExtra[s - 257];
        literalLength[286] = literalLength[287] = kInflateEntrySpecial;  // must not occur
        for (unsigned s = 0; s < 30; ++s)
            distance[s] = (uint32_t(distanceBase[s]) << 16) | distanceExtra[s];
        distance[30] = distance[31] = kInflateEntrySpecial;
        for (unsigned s = 0; s < 19; ++s) codeLength[s] = s << 16;
    }
};
constexpr TEntryTemplates kTemplates;

constexpr uint32_t kInvalidEntry = kInflateEntrySpecial;

// A sub-table: the codes below one root prefix.
struct TSubTable {
    unsigned prefix;  // the code's first root bits, most significant first
    unsigned bits;    // index width: the longest code below the prefix less the root bits
    size_t offset;    // where it starts in the array
};

}  // namespace

int TInflateTable::Build(const uint8_t* lengths, unsigned count, TInflateAlphabet alphabet,
                         unsigned rootBits, bool acceptIncomplete) {
    rootBits_ = 0;
    const uint32_t* templates = alphabet == TInflateAlphabet::kLiteralLength
                                    ? kTemplates.literalLength
                                : alphabet == TInflateAlphabet::kDistance ? kTemplates.distance
                                                                          : kTemplates.codeLength;

    // The lengths counted in four quarters at once, each with its own
    // counters: a run of equal lengths then does not wait on one counter.
    const unsigned quarter = count / 4;
    unsigned perQuarter[4][kMaxDeflateCodeLength + 1] = {};
    unsigned any = 0;
    for (unsigned j = 0; j < quarter; ++j) {
        for (unsigned k = 0; k < 4; ++k) {
            const unsigned len = lengths[k * quarter + j];
            any |= len;
            ++perQuarter[k][len & kMaxDeflateCodeLength];
        }
    }
    for (unsigned s = 4 * quarter; s < count; ++s) {
        any |= lengths[s];
        ++perQuarter[3][lengths[s] & kMaxDeflateCodeLength];
    }
    if (any > kMaxDeflateCodeLength) return kTableOversubscribed;  // never sent
    unsigned perLength[kMaxDeflateCodeLength + 1];
    for (unsigned len = 0; len <= kMaxDeflateCodeLength; ++len)
        perLength[len] = perQuarter[0][len] + perQuarter[1][len] + perQuarter[2][len] +
                         perQuarter[3][len];
    if (perLength[0] == count) return kTableComplete;  // no codes: an empty table

    unsigned shortest = 1;
    while (perLength[shortest] == 0) ++shortest;
    unsigned longest = kMaxDeflateCodeLength;
    while (perLength[longest] == 0) --longest;

    const int64_t left = CodeSpaceLeft(perLength, shortest, longest);
    if (left < 0) return kTableOversubscribed;
    // A single code of length 1 counts as complete; its other bit is invalid.
    const bool single = longest == 1 && left != 0;
    const int result = (left != 0 && !single) ? kTableIncomplete : kTableComplete;
    if (result == kTableIncomplete && !acceptIncomplete) return result;
    const bool gaps = left != 0;

    // Symbols in canonical order, and the first code of each length.
    unsigned start[kMaxDeflateCodeLength + 2];
    unsigned firstCode[kMaxDeflateCodeLength + 1];
    start[1] = 0;
    firstCode[0] = 0;
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxDeflateCodeLength; ++len) {
        start[len + 1] = start[len] + perLength[len];
        code = (code + perLength[len - 1] * (len > 1)) << 1;
        firstCode[len] = code;
    }
    // Sorted by quarters too: each quarter's symbols of a length follow those
    // of the quarters before it. The unused symbols go after all the codes,
    // which spares a branch per symbol.
    uint16_t sorted[kMaxSymbols];
    unsigned fill[4][kMaxDeflateCodeLength + 1];
    for (unsigned len = 0; len <= kMaxDeflateCodeLength; ++len) {
        fill[0][len] = len > 0 ? start[len] : start[kMaxDeflateCodeLength + 1];
        for (unsigned k = 1; k < 4; ++k) fill[k][len] = fill[k - 1][len] + perQuarter[k - 1][len];
    }
    for (unsigned j = 0; j < quarter; ++j) {
        for (unsigned k = 0; k < 4; ++k) {
            const unsigned s = k * quarter + j;
            sorted[fill[k][lengths[s]]++] = uint16_t(s);
        }
    }
    for (unsigned s = 4 * quarter; s < count; ++s) sorted[fill[3][lengths[s]]++] = uint16_t(s);

    const unsigned root = rootBits;
    const size_t rootSize = size_t(1) << root;

    // Sub-tables: the codes longer than the root, in canonical order, share
    // a prefix in runs; lengths only grow, so the last code of a run is the
    // longest below its prefix.
    TSubTable subs[kMaxSymbols];
    unsigned subCount = 0;
    size_t total = rootSize;
    if (longest > root) {
        for (unsigned i = start[root + 1]; i < start[longest + 1];) {
            unsigned len = lengths[sorted[i]];
            unsigned c = firstCode[len] + (i - start[len]);
            unsigned prefix = c >> (len - root);
            unsigned last = i;
            for (unsigned j = i + 1; j < start[longest + 1]; ++j) {
                unsigned lj = lengths[sorted[j]];
                if (((firstCode[lj] + (j - start[lj])) >> (lj - root)) != prefix) break;
                last = j;
            }
            TSubTable& sub = subs[subCount++];
            sub.prefix = prefix;
            sub.bits = lengths[sorted[last]] - root;
            sub.offset = total;
            total += size_t(1) << sub.bits;
            i = last + 1;
        }
        // Only an incomplete code could need more room than the links address.
        if (total > kMaxEntries) return kTableIncomplete;
    }

    if (capacity_ < total) {
        entries_.reset(new uint32_t[total]);
        capacity_ = total;
    }
    uint32_t* t = entries_.get();

    // The root: the codes of each length up to the root width placed once
    // each into a table as wide as that length, which is then doubled, so
    // that every shorter code repeats at its period.
    size_t size = size_t(1) << std::min(shortest, root);
    if (gaps) std::fill(t, t + size, kInvalidEntry);
    unsigned i = 0;
    for (unsigned len = shortest; len <= root; ++len) {
        if (len > shortest) {
            std::memcpy(t + size, t, size * sizeof(uint32_t));
            size <<= 1;
        }
        const uint32_t bits = len * 0x101;  // consume and code-length fields
        for (unsigned c = firstCode[len]; i < start[len + 1]; ++i, ++c)
            t[ReverseCodeBits(c, len)] = templates[sorted[i]] + bits;
    }

    if (subCount > 0) {
        if (gaps) std::fill(t + rootSize, t + total, kInvalidEntry);
        unsigned si = 0;
        for (; i < start[longest + 1]; ++i) {
            unsigned len = lengths[sorted[i]];
            unsigned c = firstCode[len] + (i - start[len]);
            unsigned rest = len - root;
            while ((c >> rest) != subs[si].prefix) ++si;
            const TSubTable& sub = subs[si];
            uint32_t e = templates[sorted[i]] + rest * 0x101;
            uint32_t* st = t + sub.offset;
            const size_t width = size_t(1) << sub.bits;
            for (size_t k = ReverseCodeBits(c & ((1u << rest) - 1), rest); k < width;
                 k += size_t(1) << rest)
                st[k] = e;
        }
        for (unsigned s = 0; s < subCount; ++s)
            t[ReverseCodeBits(subs[s].prefix, root)] = kInflateEntrySpecial | kInflateEntryLink |
                                                       (uint32_t(subs[s].offset) << 16) |
                                                       (subs[s].bits << 8) | root;
    }
    rootBits_ = root;
    return result;
}

}  // namespace nuva
