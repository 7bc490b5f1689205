// Implode. The stream starts with the tree descriptions (literal tree when
// present, then length tree, then distance tree), each read byte-wise:
//
//   offset  size  field
//   0       1     number of following bytes - 1
//   1       n     runs: high nibble + 1 codes of bit length low nibble + 1
//
// The runs fill exactly 256 (literal) or 64 (length, distance) code lengths.
// Codes are canonical codes sent with every bit inverted, so lookups use
// the inverted bit buffer; raw bits (uncoded literals, low distance bits,
// the length's extra byte) are not inverted.
//
// Then until the uncompressed size is produced: 1 bit; 1 = a literal (coded,
// or 8 raw bits); 0 = the low distance bits, a distance code (upper bits), a
// length code (code 63 adds 8 more bits), and a copy of length bytes from
// distance = low bits + base back.
#include "zip/codec/Explode.h"

#include <memory>
#include <new>

#include "zip/codec/BitInput.h"
#include "zip/codec/HuffmanTable.h"
#include "zip/codec/MatchCopy.h"
#include "zip/codec/OutputWindow.h"

namespace nuva {
namespace {

constexpr uint16_t kFlag8KWindow = 0x02;
constexpr uint16_t kFlagLiteralTree = 0x04;
constexpr int64_t kLargeEntry = 200000;  // bytes of compressed data: wider distance lookups
constexpr unsigned kLiteralCodes = 256;
constexpr unsigned kLengthDistanceCodes = 64;
constexpr unsigned kLongLengthCode = 63;     // carries 8 extra bits
constexpr unsigned kLongestSymbolBits = 48;  // 1 + 7 + 16 + 16 + 8

struct TTables {
    uint16_t lengthBase[kLengthDistanceCodes];
    uint8_t lengthExtra[kLengthDistanceCodes];
    uint16_t distanceBase[kLengthDistanceCodes];
    uint8_t distanceExtra[kLengthDistanceCodes];
};

// Reads one tree description into `lengths` (exactly `count` of them).
bool ReadTreeDescription(TBitInput& in, uint8_t* lengths, unsigned count) {
    uint8_t header;
    if (in.ReadBytes(&header, 1) != 1) return false;
    unsigned filled = 0;
    for (unsigned i = 0; i <= header; ++i) {
        uint8_t run;
        if (in.ReadBytes(&run, 1) != 1) return false;
        unsigned codes = (run >> 4) + 1, length = (run & 0x0F) + 1;
        if (codes > count - filled) return false;  // checked before anything is written
        for (unsigned k = 0; k < codes; ++k) lengths[filled++] = uint8_t(length);
    }
    return filled == count;
}

// Decodes one inverted code; false for a pattern without a code.
inline bool DecodeInverted(const THuffmanTable& t, uint64_t& bb, unsigned& bc, uint32_t& entry) {
    const uint32_t* table = t.Entries();
    uint64_t inv = ~bb;
    uint32_t e = table[inv & ((uint64_t(1) << t.LookupBits()) - 1)];
    unsigned op = EntryOp(e);
    if (op > kOpLiteral) {
        if (op == kOpInvalid) return false;
        bb >>= EntryBits(e);
        bc -= EntryBits(e);
        inv = ~bb;
        e = table[EntryValue(e) + (inv & ((uint64_t(1) << (op - kOpLiteral)) - 1))];
        if (EntryOp(e) == kOpInvalid) return false;
    }
    bb >>= EntryBits(e);
    bc -= EntryBits(e);
    entry = e;
    return true;
}

struct TExplodeState {
    TBitInput in;
    TOutputWindow window;
    THuffmanTable literals, lengths, distances;
};

}  // namespace

int TExploder::Run(TCodecInput& input, TCodecOutput& output, uint16_t generalFlags,
                   int64_t compressedSize, int64_t uncompressedSize) {
    if (uncompressedSize < 0) return kLegacyInvalidData;
    std::unique_ptr<TExplodeState> state;
    try {
        state.reset(new TExplodeState);
    } catch (const std::bad_alloc&) {
        return kLegacyOutOfMemory;
    }
    TBitInput& in = state->in;
    TOutputWindow& w = state->window;
    in.Start(&input);
    w.Start(output, true);

    const bool literalTree = (generalFlags & kFlagLiteralTree) != 0;
    const unsigned lowDistanceBits = (generalFlags & kFlag8KWindow) ? 7 : 6;
    TTables t;
    for (unsigned i = 0; i < kLengthDistanceCodes; ++i) {
        t.lengthBase[i] = uint16_t(i + (literalTree ? 3 : 2));
        t.lengthExtra[i] = i == kLongLengthCode ? 8 : 0;
        t.distanceBase[i] = uint16_t(1 + (i << lowDistanceBits));
        t.distanceExtra[i] = 0;
    }

    // Reads a description and builds its tree; 0 when both went well.
    auto readTree = [&](THuffmanTable& table, unsigned count, const uint16_t* base,
                        const uint8_t* extra, unsigned lookupBits) -> int {
        uint8_t lengths[kLiteralCodes];
        if (!ReadTreeDescription(in, lengths, count)) return kLegacyBadTree;
        try {
            int r = table.Build(lengths, count, base ? 0 : count, base, extra, lookupBits);
            return r == kTableComplete ? kLegacyOk : r;
        } catch (const std::bad_alloc&) {
            return kLegacyOutOfMemory;
        }
    };
    int r = literalTree ? readTree(state->literals, kLiteralCodes, nullptr, nullptr, 9) : kLegacyOk;
    if (r == kLegacyOk)
        r = readTree(state->lengths, kLengthDistanceCodes, t.lengthBase, t.lengthExtra, 7);
    if (r == kLegacyOk)
        r = readTree(state->distances, kLengthDistanceCodes, t.distanceBase, t.distanceExtra,
                     compressedSize > kLargeEntry ? 8 : 7);
    if (r != kLegacyOk) return r;

    uint64_t left = uint64_t(uncompressedSize);
    while (left > 0) {
        // One top-up covers the longest symbol; a stream that needs more
        // than the zero padding after its end is cut short.
        if (!in.Need(kLongestSymbolBits)) return kLegacyInvalidData;
        uint64_t bb = in.bits_;
        unsigned bc = in.count_;
        uint32_t e;
        bool literal = (bb & 1) != 0;
        bb >>= 1;
        bc -= 1;
        if (literal) {
            if (literalTree) {
                if (!DecodeInverted(state->literals, bb, bc, e)) return kLegacyInvalidData;
                *w.out++ = uint8_t(EntryValue(e));
            } else {
                *w.out++ = uint8_t(bb);
                bb >>= 8;
                bc -= 8;
            }
            --left;
        } else {
            size_t distance = size_t(bb & ((1u << lowDistanceBits) - 1));
            bb >>= lowDistanceBits;
            bc -= lowDistanceBits;
            if (!DecodeInverted(state->distances, bb, bc, e)) return kLegacyInvalidData;
            distance += EntryValue(e);
            if (!DecodeInverted(state->lengths, bb, bc, e)) return kLegacyInvalidData;
            uint64_t length = EntryValue(e);
            if (EntryOp(e) != 0) {
                length += bb & 0xFF;
                bb >>= 8;
                bc -= 8;
            }
            if (length > left) length = left;
            w.out = CopyMatch(w.out, distance, size_t(length));
            left -= length;
        }
        in.bits_ = bb;
        in.count_ = bc;
        w.FlushIfFull();
    }
    if (in.ConsumedPastEnd()) return kLegacyInvalidData;
    w.FlushRest();
    return kLegacyOk;
}

}  // namespace nuva
