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
// Speed: the tables (InflateTable.h) give a symbol's kind, value and the
// bits of its code and extra bits in one lookup. The bit buffer is 64 bits
// wide and refilled with one unaligned load, which leaves 56..63 bits counted
// and all 64 good: enough for three literals (3 x 15) and the next lookup, or
// two literals and a length (2 x 15 + 15 + 5) and the distance lookup; the
// distance is taken after one more refill. The main loop runs without end
// checks while kFastInputMargin input bytes and room for three literals
// before the flush point remain; near either end a careful loop takes one
// symbol at a time. Both stop at exactly the same points for damaged or
// truncated input (see Codes). The window keeps its history contiguous
// before the current piece, so a match never wraps and is copied in 8-, 16-
// or 32-byte words.
#include "zip/codec/Inflate.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/Platform.h"
#include "zip/codec/BitInput.h"
#include "zip/codec/InflateTable.h"
#include "zip/codec/OutputWindow.h"

#if defined(__x86_64__) || defined(__i386__)
// The decoding loop is also built for BMI2 (shifts by any register, bit
// field extraction), taken when the processor has it.
#define NUVA_INFLATE_BMI2 1
#endif

namespace nuva {
namespace {

constexpr unsigned kLiteralRootBits = 10;
constexpr unsigned kDistanceRootBits = 8;
constexpr unsigned kMaxLiteralCodes = 286;
constexpr unsigned kMaxDistanceCodes = 30;
constexpr unsigned kCodeLengthCodes = 19;
constexpr unsigned kFixedLiteralCodes = 288;
constexpr unsigned kLongestSymbolBits = 48;  // literal/length code, extra, distance code, extra
// Input bytes ahead that let the main loop decode a few symbols unchecked:
// the careful loop, which keeps to kLongestSymbolBits per symbol, would not
// have stopped on any of them either.
constexpr ptrdiff_t kFastInputMargin = 32;
constexpr unsigned kFastLiterals = 3;  // literals decoded per refill at most

constexpr uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// Stands for the distance table when a block has none: any length then fails.
struct TNoDistances {
    uint32_t entries[size_t(1) << kDistanceRootBits];
    constexpr TNoDistances() : entries() {
        for (uint32_t& e : entries) e = kInflateEntrySpecial;
    }
};
constexpr TNoDistances kNoDistances;

}  // namespace

struct TInflater::TState {
    TBitInput in;
    TOutputWindow window;
    TInflateTable literals;
    TInflateTable distances;
    TInflateTable codeLengths;
    TInflateTable fixedLiterals;
    TInflateTable fixedDistances;
    bool fixedBuilt = false;
};

namespace {

// Builds a table; running out of memory is reported to the user and becomes
// kInflateOutOfMemory (stage exceptions never pass through here).
int BuildTable(TInflateTable& table, const uint8_t* lengths, unsigned count,
               TInflateAlphabet alphabet, unsigned rootBits, bool acceptIncomplete = false) {
    try {
        return table.Build(lengths, count, alphabet, rootBits, acceptIncomplete);
    } catch (const std::bad_alloc&) {
        ShowMessageBox(kInflateOutOfMemoryText, "Error", mbOk);
        return kInflateOutOfMemory;
    }
}

bool gCpuFeaturesAllowed = true;  // InflateAllowCpuFeatures

#ifdef NUVA_INFLATE_BMI2
bool HaveBmi2() {
    static const bool have = __builtin_cpu_supports("bmi2");
    return have;
}
#endif

// The low `n` bits of `v` (n < 64).
__attribute__((always_inline)) inline uint64_t LowBits(uint64_t v, unsigned n) {
    return v & ((uint64_t(1) << n) - 1);
}

class TBlockDecoder {
  public:
    TBlockDecoder(TBitInput& in, TOutputWindow& window) : in_(in), window_(window) {}

    int Stored();
    // Decodes the symbols of a block with the loop this processor runs best.
    int Codes(const TInflateTable& literals, const TInflateTable& distances) {
#ifdef NUVA_INFLATE_BMI2
        if (gCpuFeaturesAllowed && HaveBmi2()) return CodesBmi2(literals, distances);
#endif
        return CodesPortable(literals, distances);
    }
    int ReadDynamicTables(TInflateTable& codeLengths, TInflateTable& literals,
                          TInflateTable& distances);

  private:
    // The loop itself, compiled into each of the two below.
    __attribute__((always_inline)) inline int CodesLoop(const TInflateTable& literals,
                                                        const TInflateTable& distances);
    int CodesPortable(const TInflateTable& literals, const TInflateTable& distances);
#ifdef NUVA_INFLATE_BMI2
    __attribute__((target("bmi2"))) int CodesBmi2(const TInflateTable& literals,
                                                  const TInflateTable& distances);
#endif

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

int TBlockDecoder::ReadDynamicTables(TInflateTable& codeLengths, TInflateTable& literals,
                                     TInflateTable& distances) {
    uint32_t hlit, hdist, hclen;
    if (!in_.Take(5, hlit) || !in_.Take(5, hdist) || !in_.Take(4, hclen))
        return kInflateInvalidData;
    unsigned literalCount = hlit + 257, distanceCount = hdist + 1, codeLengthCount = hclen + 4;
    if (literalCount > kMaxLiteralCodes || distanceCount > kMaxDistanceCodes)
        return kInflateInvalidData;

    // All the 3-bit lengths at once: they fail exactly when taking them one
    // by one would.
    uint8_t clLengths[kCodeLengthCodes] = {};
    if (!in_.Need(3 * codeLengthCount)) return kInflateInvalidData;
    for (unsigned i = 0; i < codeLengthCount; ++i)
        clLengths[kCodeLengthOrder[i]] = uint8_t((in_.bits_ >> (3 * i)) & 7);
    in_.Drop(3 * codeLengthCount);
    // The root as wide as the longest code: no links, and each symbol asks
    // for just the bits its code may need.
    unsigned longest = 1;
    for (uint8_t len : clLengths) longest = std::max<unsigned>(longest, len);
    int r = BuildTable(codeLengths, clLengths, kCodeLengthCodes, TInflateAlphabet::kCodeLength,
                       longest);
    if (r != kTableComplete) return r;
    if (codeLengths.Empty()) return kInflateInvalidData;  // no code-length codes at all

    uint8_t lengths[kMaxLiteralCodes + kMaxDistanceCodes];
    const unsigned total = literalCount + distanceCount;
    const unsigned lookup = codeLengths.RootBits();
    const uint32_t* table = codeLengths.Entries();
    const uint64_t lookupMask = (uint64_t(1) << lookup) - 1;
    unsigned i = 0;
    uint8_t last = 0;
    // A length, or a run of them; false when the run goes past the end.
    auto put = [&](unsigned symbol, uint32_t v) {
        if (symbol < 16) {
            lengths[i++] = last = uint8_t(symbol);
            return true;
        }
        unsigned repeat;
        uint8_t value;
        if (symbol == 16) {
            repeat = 3 + v;
            value = last;
        } else {
            repeat = (symbol == 17 ? 3 : 11) + v;
            value = last = 0;
        }
        if (i + repeat > total) return false;
        std::memset(lengths + i, value, repeat);
        i += repeat;
        return true;
    };
    // The bit input in locals (the stores into `lengths` would otherwise make
    // the compiler reload it). While eight bytes are ahead one refill serves
    // three symbols with their extra bits (3 x (7 + 7) bits) unchecked; near
    // the end the bits are asked for as before, so the stop is the same.
    uint64_t bb = in_.bits_;
    unsigned bc = in_.count_;
    const uint8_t* next = in_.next_;
    while (i < total) {
        if (in_.end_ - next >= 8) {
            uint64_t word;
            std::memcpy(&word, next, 8);
            bb |= word << bc;
            next += (63 - bc) >> 3;
            bc |= 56;
            for (unsigned k = 0; k < 3 && i < total; ++k) {
                const uint32_t e = table[bb & lookupMask];
                if (e & kInflateEntrySpecial) return kInflateInvalidData;
                bb >>= InflateEntryConsume(e);
                bc -= InflateEntryConsume(e);
                const unsigned symbol = InflateEntryValue(e);
                uint32_t v = 0;
                if (symbol >= 16) {
                    const unsigned n = symbol == 16 ? 2 : symbol == 17 ? 3 : 7;
                    v = uint32_t(bb & ((uint32_t(1) << n) - 1));
                    bb >>= n;
                    bc -= n;
                }
                if (!put(symbol, v)) return kInflateInvalidData;
            }
            continue;
        }
        in_.bits_ = bb;
        in_.count_ = bc;
        in_.next_ = next;
        if (!in_.Need(lookup)) return kInflateInvalidData;
        const uint32_t e = table[in_.Peek(lookup)];
        if (e & kInflateEntrySpecial) return kInflateInvalidData;
        in_.Drop(InflateEntryConsume(e));
        const unsigned symbol = InflateEntryValue(e);
        uint32_t v = 0;
        if (symbol >= 16 && !in_.Take(symbol == 16 ? 2 : symbol == 17 ? 3 : 7, v))
            return kInflateInvalidData;
        bb = in_.bits_;
        bc = in_.count_;
        next = in_.next_;
        if (!put(symbol, v)) return kInflateInvalidData;
    }
    in_.bits_ = bb;
    in_.count_ = bc;
    in_.next_ = next;

    r = BuildTable(literals, lengths, literalCount, TInflateAlphabet::kLiteralLength,
                   kLiteralRootBits);
    if (r != kTableComplete) return r;
    r = BuildTable(distances, lengths + literalCount, distanceCount, TInflateAlphabet::kDistance,
                   kDistanceRootBits);
    return r;
}

// Copies a match of `length` (3..258) bytes from `distance` back; the caller
// checked the distance. Writes whole words and so may write up to 61 bytes
// past the end (the window's slack); each word reads only bytes written
// before it.
__attribute__((always_inline)) inline uint8_t* CopyMatch(uint8_t* out, size_t distance,
                                                         size_t length) {
    uint8_t* const end = out + length;
    const uint8_t* src = out - distance;
    if (distance >= 16) {
        // Most matches are short: four 16-byte words cover them without a
        // test on the length (which the processor often guesses wrong), then
        // whole words of the widest size the distance allows.
        std::memcpy(out, src, 16);
        std::memcpy(out + 16, src + 16, 16);
        std::memcpy(out + 32, src + 32, 16);
        std::memcpy(out + 48, src + 48, 16);
        if (length <= 64) return end;
        out += 64;
        src += 64;
        if (distance >= 32) {
            do {
                std::memcpy(out, src, 32);
                out += 32;
                src += 32;
            } while (out < end);
            return end;
        }
        do {
            std::memcpy(out, src, 16);
            out += 16;
            src += 16;
        } while (out < end);
        return end;
    }
    if (distance == 1) {
        const uint64_t run = uint64_t(out[-1]) * 0x0101010101010101ull;
        do {
            std::memcpy(out, &run, 8);
            std::memcpy(out + 8, &run, 8);
            std::memcpy(out + 16, &run, 8);
            std::memcpy(out + 24, &run, 8);
            out += 32;
        } while (out < end);
        return end;
    }
    // Distances 2..15: the first 16 bytes by smaller steps; then 16 bytes at a time from
    // the least multiple of the period that is at least 16 back, until
    // the least multiple that is both a power-of-two multiple and at least
    // 32 is at hand; then 32 bytes at a time from that far back (for the
    // periods that divide 48 or 32 the loads then match earlier stores).
    static constexpr uint8_t kPeriod8[8] = {0, 8, 8, 9, 8, 10, 12, 14};
    static constexpr uint8_t kPeriod16[16] = {0,  16, 16, 18, 16, 20, 18, 21,
                                              16, 18, 20, 22, 24, 26, 28, 30};
    static constexpr uint8_t kPeriod32[16] = {0,  32, 32, 48, 32, 40, 48, 56,
                                              32, 36, 40, 44, 48, 52, 56, 60};
    uint8_t* const start = out;
    if (distance < 8) {
        for (int k = 0; k < 8; ++k) out[k] = src[k];
        std::memcpy(out + 8, out + 8 - kPeriod8[distance], 8);
    } else {
        std::memcpy(out, src, 8);
        std::memcpy(out + 8, src + 8, 8);
    }
    out += 16;
    const size_t wide = kPeriod32[distance];
    while (out < end && size_t(out - start) < wide) {
        std::memcpy(out, out - kPeriod16[distance], 16);
        out += 16;
    }
    if (out >= end) return end;
    src = out - wide;
    do {
        std::memcpy(out, src, 32);
        out += 32;
        src += 32;
    } while (out < end);
    return end;
}

// Decodes symbols of one block until its end of block. Input ahead: while at
// least kFastInputMargin bytes remain, one refill serves up to kFastLiterals
// literals or one length and distance, and no check is needed; otherwise one
// symbol at a time, each first assured of kLongestSymbolBits bits (real bytes
// or the padding), exactly as the stop of a truncated stream has always been
// decided. Output: the window's pieces go to the stage after each symbol that
// reaches the flush point; the unchecked literals never reach it.
inline int TBlockDecoder::CodesLoop(const TInflateTable& literals, const TInflateTable& distances) {
    if (literals.Empty()) return kInflateInvalidData;
    // Every table of a block has the same root widths.
    const uint32_t* const lt = literals.Entries();
    constexpr uint64_t lmask = (uint64_t(1) << kLiteralRootBits) - 1;
    const uint32_t* const dt = distances.Empty() ? kNoDistances.entries : distances.Entries();
    constexpr uint64_t dmask = (uint64_t(1) << kDistanceRootBits) - 1;

    // The bit count: its low byte is the number of bits in bb (at most 63);
    // what lies above is not looked at, so an entry is subtracted whole.
    uint64_t bb = in_.bits_;
    unsigned bc = in_.count_;
    const uint8_t* next = in_.next_;
    const uint8_t* end = in_.end_;  // moves only when the bit input fills its buffer
    uint8_t* out = window_.out;
    uint8_t* flushPoint = window_.FlushPoint();  // moves with every flush
    const uint8_t* lowest = window_.lowest;
    int result = kInflateInvalidData;

    auto refill = [&] {
        uint64_t word;
        std::memcpy(&word, next, 8);
        bb |= word << (bc & 63);
        next += (~bc >> 3) & 7;
        bc |= 56;
    };
    auto consume = [&](uint32_t e) {
        bb >>= InflateEntryConsume(e);
        bc -= e;
    };
    // A length's or distance's extra bits: those the entry consumes above its
    // code (such an entry has no flag bits, so bits 8-13 are the code length).
    auto extra = [&](uint32_t e) -> size_t {
        return size_t(LowBits(bb, InflateEntryConsume(e)) >> ((e >> 8) & 63));
    };
    auto flush = [&] {
        window_.out = out;
        window_.FlushIfFull();
        out = window_.out;
        flushPoint = window_.FlushPoint();
        lowest = window_.lowest;
    };

    for (;;) {
        uint32_t e;
        if (end - next >= kFastInputMargin && size_t(flushPoint - out) > kFastLiterals) {
            // A refill leaves 64 good bits in bb (56..63 of them counted, the
            // rest the start of the next byte), and a lookup may use any of
            // them: so each lookup is made before the refill that follows it
            // and does not wait for the load. Each pass starts refilled, with
            // the next symbol's root entry looked up. Between two refills: up
            // to three literals (45 bits) and the next lookup (10); or two
            // literals, a length (30 + 20) and the distance lookup (8); or a
            // distance (28) and the next lookup.
            const uint8_t* const inLimit = end - kFastInputMargin;
            uint8_t* const outLimit = flushPoint - kFastLiterals;
            refill();
            e = lt[bb & lmask];
            do {
                if (e & kInflateEntryLiteral) {
                    consume(e);
                    *out++ = uint8_t(InflateEntryValue(e));
                    e = lt[bb & lmask];
                    if (e & kInflateEntryLiteral) {
                        consume(e);
                        *out++ = uint8_t(InflateEntryValue(e));
                        e = lt[bb & lmask];
                        if (e & kInflateEntryLiteral) {
                            consume(e);
                            *out++ = uint8_t(InflateEntryValue(e));
                            e = lt[bb & lmask];
                            refill();
                            continue;
                        }
                    }
                }
                if (e & kInflateEntrySpecial) {
                    if (e & kInflateEntryLink) {
                        consume(e);
                        e = lt[InflateEntryValue(e) + LowBits(bb, InflateEntryCodeBits(e))];
                        if (e & kInflateEntryLiteral) {
                            consume(e);
                            *out++ = uint8_t(InflateEntryValue(e));
                            e = lt[bb & lmask];
                            refill();
                            continue;
                        }
                    }
                    if (e & kInflateEntrySpecial) {
                        if (e & kInflateEntryEnd) {
                            consume(e);
                            result = kInflateOk;
                        }
                        goto done;  // the end, or bits no code has
                    }
                }
                {
                    const size_t length = InflateEntryValue(e) + extra(e);
                    consume(e);
                    e = dt[bb & dmask];
                    refill();
                    if (e & kInflateEntrySpecial) {
                        if (!(e & kInflateEntryLink)) goto done;
                        consume(e);
                        e = dt[InflateEntryValue(e) + LowBits(bb, InflateEntryCodeBits(e))];
                        if (e & kInflateEntrySpecial) goto done;
                    }
                    const size_t distance = InflateEntryValue(e) + extra(e);
                    consume(e);
                    if (distance > size_t(out - lowest)) goto done;  // before the entry's first byte
                    e = lt[bb & lmask];
                    // At most two refills of 7 bytes since the margin was checked: 8 remain.
                    refill();
                    out = CopyMatch(out, distance, length);
                }
            } while (out < outLimit && next < inLimit);
            // Both ends again from the limits, so that the loop keeps fewer
            // values in registers.
            end = inLimit + kFastInputMargin;
            flushPoint = outLimit + kFastLiterals;
            // Only a match reaches the flush point here.
            if (out >= flushPoint) flush();
            continue;
        } else {
            if (end - next >= 8) {
                refill();
            } else {
                in_.bits_ = bb;
                in_.count_ = bc & 0xFF;
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
                end = in_.end_;
                if (!ok) break;  // the input (and its padding) is used up
            }
            e = lt[bb & lmask];
            if (e & kInflateEntryLiteral) {
                consume(e);
                *out++ = uint8_t(InflateEntryValue(e));
                goto symbolDone;
            }
        }

        // Not a literal in the root: a link, the end, a length or invalid.
        if (e & kInflateEntrySpecial) {
            if (e & kInflateEntryLink) {
                consume(e);
                e = lt[InflateEntryValue(e) + LowBits(bb, InflateEntryCodeBits(e))];
                if (e & kInflateEntryLiteral) {
                    consume(e);
                    *out++ = uint8_t(InflateEntryValue(e));
                    goto symbolDone;
                }
            }
            if (e & kInflateEntrySpecial) {
                if (e & kInflateEntryEnd) {
                    consume(e);
                    result = kInflateOk;
                }
                break;  // the end, or bits no code has
            }
        }
        {
            const size_t length = InflateEntryValue(e) + extra(e);
            consume(e);
            e = dt[bb & dmask];
            if (e & kInflateEntrySpecial) {
                if (!(e & kInflateEntryLink)) break;
                consume(e);
                e = dt[InflateEntryValue(e) + LowBits(bb, InflateEntryCodeBits(e))];
                if (e & kInflateEntrySpecial) break;
            }
            const size_t distance = InflateEntryValue(e) + extra(e);
            consume(e);
            if (distance > size_t(out - lowest)) break;  // before the entry's first byte
            out = CopyMatch(out, distance, length);
        }
    symbolDone:
        if (out >= flushPoint) flush();
    }
done:
    in_.bits_ = bb;
    in_.count_ = bc & 0xFF;
    in_.next_ = next;
    window_.out = out;
    return result;
}

int TBlockDecoder::CodesPortable(const TInflateTable& literals, const TInflateTable& distances) {
    return CodesLoop(literals, distances);
}

#ifdef NUVA_INFLATE_BMI2
int TBlockDecoder::CodesBmi2(const TInflateTable& literals, const TInflateTable& distances) {
    return CodesLoop(literals, distances);
}
#endif

}  // namespace

void InflateAllowCpuFeatures(bool allowed) {
    gCpuFeaturesAllowed = allowed;
}

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
                    // Every fixed code ends in the root: one lookup each.
                    r = BuildTable(t.fixedLiterals, lengths, kFixedLiteralCodes,
                                   TInflateAlphabet::kLiteralLength, kLiteralRootBits);
                    uint8_t dist[kMaxDistanceCodes];
                    std::memset(dist, 5, sizeof dist);
                    // 30 of 32 five-bit codes: incomplete (result 1), accepted here.
                    int rd = BuildTable(t.fixedDistances, dist, kMaxDistanceCodes,
                                        TInflateAlphabet::kDistance, kDistanceRootBits,
                                        /*acceptIncomplete=*/true);
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
