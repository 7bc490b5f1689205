// Raw deflate (RFC 1951) decoding.
//
// Block header: 1 bit last-block flag, 2 bits type (0 stored, 1 fixed codes,
// 2 dynamic codes, 3 invalid). Stored: to the byte boundary, LEN (16 bits),
// NLEN (16 bits, one's complement of LEN), LEN bytes. Dynamic: HLIT (5 bits,
// + 257 literal/length codes, at most 286), HDIST (5 bits, + 1 distance codes,
// at most 30), HCLEN (4 bits, + 4 code-length codes), 3 bits per code-length
// code in kCodeLengthOrder, then the literal/length and distance code lengths
// as one run-length coded sequence (16: repeat the last length 3-6 times,
// 17: 3-10 zeros, 18: 11-138 zeros; the last length starts at 0).
//
// Speed: the bit buffer is 64 bits wide and refilled with one unaligned load
// per symbol while eight input bytes are at hand; one refill covers the
// longest symbol (15 + 5 + 15 + 13 = 48 bits). The window keeps its history
// contiguous before the current piece, so a match never wraps and is copied
// 16 bytes at a time (a run of one byte is a memset).
#include "zip/codec/Inflate.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Platform.h"
#include "zip/codec/BitInput.h"
#include "zip/codec/HuffmanTable.h"
#include "zip/codec/MatchCopy.h"
#include "zip/codec/OutputWindow.h"

namespace nuva {
namespace {

constexpr unsigned kLiteralLookupBits = 9;
constexpr unsigned kDistanceLookupBits = 6;
constexpr unsigned kCodeLengthLookupBits = 7;
constexpr unsigned kMaxLiteralCodes = 286;
constexpr unsigned kMaxDistanceCodes = 30;
constexpr unsigned kCodeLengthCodes = 19;
constexpr unsigned kFixedLiteralCodes = 288;
constexpr unsigned kSimpleLiteralCodes = 257;  // 0-255 literals, 256 end of block
constexpr unsigned kLongestSymbolBits = 48;    // literal/length code, extra, distance code, extra

// Literal/length codes 257..287.
constexpr uint16_t kLengthBase[31] = {3,  4,   5,   6,   7,   8,   9,   10, 11, 13, 15,
                                      17, 19,  23,  27,  31,  35,  43,  51, 59, 67, 83,
                                      99, 115, 131, 163, 195, 227, 258, 0,  0};
constexpr uint8_t kLengthExtra[31] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,  2, 2,
                                      3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0, 99, 99};
// Distance codes 0..29.
constexpr uint16_t kDistanceBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                        6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

}  // namespace

struct TInflater::TState {
    TBitInput in;
    TOutputWindow window;
    THuffmanTable literals;
    THuffmanTable distances;
    THuffmanTable codeLengths;
    THuffmanTable fixedLiterals;
    THuffmanTable fixedDistances;
    bool fixedBuilt = false;
};

namespace {

// Builds a table; running out of memory is reported to the user and becomes
// kInflateOutOfMemory (stage exceptions never pass through here).
int BuildTable(THuffmanTable& table, const uint8_t* lengths, unsigned count, unsigned simple,
               const uint16_t* base, const uint8_t* extra, unsigned lookupBits) {
    try {
        return table.Build(lengths, count, simple, base, extra, lookupBits);
    } catch (const std::bad_alloc&) {
        ShowMessageBox(kInflateOutOfMemoryText, "Error", mbOk);
        return kInflateOutOfMemory;
    }
}

class TBlockDecoder {
  public:
    TBlockDecoder(TBitInput& in, TOutputWindow& window) : in_(in), window_(window) {}

    int Stored();
    int Codes(const THuffmanTable& literals, const THuffmanTable& distances);
    int ReadDynamicTables(THuffmanTable& codeLengths, THuffmanTable& literals,
                          THuffmanTable& distances);

  private:
    TBitInput& in_;
    TOutputWindow& window_;
};

int TBlockDecoder::Stored() {
    in_.AlignToByte();
    uint32_t len, nlen;
    if (!in_.Take(16, len) || !in_.Take(16, nlen)) return kInflateInvalidData;
    if (nlen != (~len & 0xFFFF)) return kInflateInvalidData;
    while (len > 0) {
        size_t room = size_t(window_.FlushPoint() - window_.out);
        size_t want = std::min<size_t>(len, room);
        size_t got = in_.ReadBytes(window_.out, want);
        window_.out += got;
        len -= uint32_t(got);
        window_.FlushIfFull();
        if (got < want) return kInflateInvalidData;  // the input ended inside the block
    }
    return kInflateOk;
}

int TBlockDecoder::ReadDynamicTables(THuffmanTable& codeLengths, THuffmanTable& literals,
                                     THuffmanTable& distances) {
    uint32_t hlit, hdist, hclen;
    if (!in_.Take(5, hlit) || !in_.Take(5, hdist) || !in_.Take(4, hclen))
        return kInflateInvalidData;
    unsigned literalCount = hlit + 257, distanceCount = hdist + 1, codeLengthCount = hclen + 4;
    if (literalCount > kMaxLiteralCodes || distanceCount > kMaxDistanceCodes)
        return kInflateInvalidData;

    uint8_t clLengths[kCodeLengthCodes] = {};
    for (unsigned i = 0; i < codeLengthCount; ++i) {
        uint32_t v;
        if (!in_.Take(3, v)) return kInflateInvalidData;
        clLengths[kCodeLengthOrder[i]] = uint8_t(v);
    }
    int r = BuildTable(codeLengths, clLengths, kCodeLengthCodes, kCodeLengthCodes, nullptr, nullptr,
                       kCodeLengthLookupBits);
    if (r != kTableComplete) return r;
    if (codeLengths.Empty()) return kInflateInvalidData;  // no code-length codes at all

    uint8_t lengths[kMaxLiteralCodes + kMaxDistanceCodes];
    const unsigned total = literalCount + distanceCount;
    const unsigned lookup = codeLengths.LookupBits();  // equals the longest code: no links
    const uint32_t* table = codeLengths.Entries();
    unsigned i = 0;
    uint8_t last = 0;
    while (i < total) {
        if (!in_.Need(lookup)) return kInflateInvalidData;
        uint32_t e = table[in_.Peek(lookup)];
        if (EntryOp(e) == kOpInvalid) return kInflateInvalidData;
        in_.Drop(EntryBits(e));
        unsigned symbol = EntryValue(e);
        if (symbol < 16) {
            lengths[i++] = last = uint8_t(symbol);
            continue;
        }
        unsigned repeat;
        uint8_t value;
        uint32_t v;
        if (symbol == 16) {
            if (!in_.Take(2, v)) return kInflateInvalidData;
            repeat = 3 + v;
            value = last;
        } else if (symbol == 17) {
            if (!in_.Take(3, v)) return kInflateInvalidData;
            repeat = 3 + v;
            value = last = 0;
        } else {
            if (!in_.Take(7, v)) return kInflateInvalidData;
            repeat = 11 + v;
            value = last = 0;
        }
        if (i + repeat > total) return kInflateInvalidData;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }

    r = BuildTable(literals, lengths, literalCount, kSimpleLiteralCodes, kLengthBase, kLengthExtra,
                   kLiteralLookupBits);
    if (r != kTableComplete) return r;
    r = BuildTable(distances, lengths + literalCount, distanceCount, 0, kDistanceBase,
                   kDistanceExtra, kDistanceLookupBits);
    return r;
}

int TBlockDecoder::Codes(const THuffmanTable& literals, const THuffmanTable& distances) {
    if (literals.Empty()) return kInflateInvalidData;
    const uint32_t* lt = literals.Entries();
    const uint64_t lmask = (uint64_t(1) << literals.LookupBits()) - 1;
    const uint32_t* dt = distances.Entries();
    const uint64_t dmask = (uint64_t(1) << distances.LookupBits()) - 1;
    const bool haveDistances = !distances.Empty();

    uint64_t bb = in_.bits_;
    unsigned bc = in_.count_;
    const uint8_t* next = in_.next_;
    uint8_t* out = window_.out;
    const uint8_t* flushPoint = window_.FlushPoint();  // moves with every flush
    int result = kInflateInvalidData;

    for (;;) {
        if (in_.end_ - next >= 8) {
            uint64_t word;
            std::memcpy(&word, next, 8);
            bb |= word << bc;
            next += (63 - bc) >> 3;
            bc |= 56;
        } else {
            in_.bits_ = bb;
            in_.count_ = bc;
            in_.next_ = next;
            bool ok;
            if (in_.CanRefillFast()) {
                in_.RefillFast();
                ok = true;
            } else {
                ok = in_.Need(kLongestSymbolBits);
            }
            bb = in_.bits_;
            bc = in_.count_;
            next = in_.next_;
            if (!ok) break;  // the input (and its padding) is used up
        }

        uint32_t e = lt[bb & lmask];
        unsigned op = EntryOp(e);
        if (op > kOpLiteral) {
            if (op == kOpInvalid) break;
            bb >>= EntryBits(e);
            bc -= EntryBits(e);
            e = lt[EntryValue(e) + (bb & ((uint64_t(1) << (op - kOpLiteral)) - 1))];
            op = EntryOp(e);
            if (op == kOpInvalid) break;
        }
        bb >>= EntryBits(e);
        bc -= EntryBits(e);
        if (op == kOpLiteral) {
            *out++ = uint8_t(EntryValue(e));
            // A second literal often fits in the bits at hand.
            if (bc >= 15) {
                e = lt[bb & lmask];
                if (EntryOp(e) == kOpLiteral) {
                    bb >>= EntryBits(e);
                    bc -= EntryBits(e);
                    *out++ = uint8_t(EntryValue(e));
                }
            }
        } else if (op == kOpEndOfBlock) {
            result = kInflateOk;
            break;
        } else {
            size_t length = EntryValue(e) + size_t(bb & ((uint64_t(1) << op) - 1));
            bb >>= op;
            bc -= op;
            if (!haveDistances) break;
            e = dt[bb & dmask];
            op = EntryOp(e);
            if (op > kOpLiteral) {
                if (op == kOpInvalid) break;
                bb >>= EntryBits(e);
                bc -= EntryBits(e);
                e = dt[EntryValue(e) + (bb & ((uint64_t(1) << (op - kOpLiteral)) - 1))];
                op = EntryOp(e);
            }
            if (op == kOpInvalid) break;
            bb >>= EntryBits(e);
            bc -= EntryBits(e);
            size_t distance = EntryValue(e) + size_t(bb & ((uint64_t(1) << op) - 1));
            bb >>= op;
            bc -= op;
            if (distance > size_t(out - window_.lowest)) break;  // before the entry's first byte
            out = CopyMatch(out, distance, length);
        }
        if (out >= flushPoint) {
            window_.out = out;
            window_.FlushIfFull();
            out = window_.out;
            flushPoint = window_.FlushPoint();
        }
    }
    in_.bits_ = bb;
    in_.count_ = bc;
    in_.next_ = next;
    window_.out = out;
    return result;
}

}  // namespace

TInflater::TInflater() = default;
TInflater::~TInflater() = default;

int TInflater::Run(TCodecInput& input, TCodecOutput& output) {
    if (!tables_) {
        try {
            tables_.reset(new TState);
        } catch (const std::bad_alloc&) {
            ShowMessageBox(kInflateOutOfMemoryText, "Error", mbOk);
            return kInflateOutOfMemory;
        }
    }
    TState& t = *tables_;
    TBitInput* in = &t.in;
    TOutputWindow* window = &t.window;
    in->Start(&input);
    window->Start(output, false, /*allowDirect=*/true);
    TBlockDecoder block(*in, *window);

    bool last = false;
    while (!last) {
        uint32_t header;
        if (!in->Take(3, header)) return kInflateInvalidData;
        last = (header & 1) != 0;
        int r;
        switch (header >> 1) {
            case 0:
                r = block.Stored();
                break;
            case 1:
                r = kInflateOk;
                if (!t.fixedBuilt) {
                    uint8_t lengths[kFixedLiteralCodes];
                    std::memset(lengths, 8, 144);
                    std::memset(lengths + 144, 9, 112);
                    std::memset(lengths + 256, 7, 24);
                    std::memset(lengths + 280, 8, 8);
                    // Nine root bits: every fixed code in one lookup.
                    r = BuildTable(t.fixedLiterals, lengths, kFixedLiteralCodes,
                                   kSimpleLiteralCodes, kLengthBase, kLengthExtra, 9);
                    uint8_t dist[kMaxDistanceCodes];
                    std::memset(dist, 5, sizeof dist);
                    // 30 of 32 five-bit codes: incomplete (result 1), accepted here.
                    int rd = BuildTable(t.fixedDistances, dist, kMaxDistanceCodes, 0, kDistanceBase,
                                        kDistanceExtra, 5);
                    if (rd > kTableIncomplete) r = rd;
                    t.fixedBuilt = (r == kInflateOk);
                }
                if (r == kInflateOk) r = block.Codes(t.fixedLiterals, t.fixedDistances);
                break;
            case 2:
                r = block.ReadDynamicTables(t.codeLengths, t.literals, t.distances);
                if (r == kInflateOk) r = block.Codes(t.literals, t.distances);
                break;
            default:
                r = kInflateBadBlock;
                break;
        }
        if (r != kInflateOk) return r;
    }
    if (in->ConsumedPastEnd()) return kInflateInvalidData;
    window->FlushRest();
    return kInflateOk;
}

}  // namespace nuva
