// Decoding tables for inflate's three prefix codes (literal/length,
// distance, code length), laid out so that one lookup yields everything a
// symbol needs: what it is, its value, and how many bits the code and its
// extra bits take together.
//
// Layout: one flat array of 32-bit entries. The first 2^RootBits() entries
// are indexed by the next RootBits() input bits (first bit lowest). A code
// longer than that continues in a sub-table of the same array; the root
// entry links to it, and it is indexed by the bits after the root bits.
// Codes are canonical (shorter first, symbol order within a length).
//
// Entry:
//   bits 0-7    bits to consume: code length + extra bits (a link: the root
//               bits; a code in a sub-table: its length less the root bits,
//               + extra bits)
//   bits 8-11   code length alone, where the extra bits start (a link: the
//               sub-table's index width)
//   bit  12     end of block                  (with bit 14)
//   bit  13     link to a sub-table           (with bit 14)
//   bit  14     not a literal, length or distance: end, link or invalid
//   bit  15     literal
//   bits 16-31  literal byte, length or distance base, code-length symbol,
//               or a link's sub-table offset
// An entry with bit 14 alone marks bits no code has, or a symbol that must
// not occur (literal/length 286, 287).
//
// A table may be used only after Build returned kTableComplete, or
// kTableIncomplete when the caller accepted that (the unused patterns then
// decode to invalid entries).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zip/codec/HuffmanTable.h"  // kTableComplete, kTableIncomplete, kTableOversubscribed

namespace nuva {

enum : uint32_t {
    kInflateEntryEnd = 0x1000,
    kInflateEntryLink = 0x2000,
    kInflateEntrySpecial = 0x4000,
    kInflateEntryLiteral = 0x8000,
};

// Which alphabet a table decodes: how symbols become entries.
enum class TInflateAlphabet { kLiteralLength, kDistance, kCodeLength };

class TInflateTable {
  public:
    // Builds the table for `count` symbols with the given code lengths (0 =
    // unused, at most 15) and a root of `rootBits` (1..15) bits, whatever the
    // codes' lengths, so that a decoder may index it with a fixed mask.
    // Returns kTableComplete (also for no codes at all, which leaves the
    // table empty, and for a single code of length 1), kTableIncomplete or
    // kTableOversubscribed. Only with `acceptIncomplete` is an incomplete
    // code's table built; otherwise, and when over-subscribed, the table is
    // left empty. Throws std::bad_alloc when memory runs out.
    int Build(const uint8_t* lengths, unsigned count, TInflateAlphabet alphabet, unsigned rootBits,
              bool acceptIncomplete = false);

    bool Empty() const { return rootBits_ == 0; }
    unsigned RootBits() const { return rootBits_; }
    const uint32_t* Entries() const { return entries_.get(); }

  private:
    std::unique_ptr<uint32_t[]> entries_;  // grows, never shrinks: blocks reuse it
    size_t capacity_ = 0;
    unsigned rootBits_ = 0;
};

inline unsigned InflateEntryConsume(uint32_t e) {
    return e & 0xFF;
}
inline unsigned InflateEntryCodeBits(uint32_t e) {
    return (e >> 8) & 0xF;
}
inline unsigned InflateEntryValue(uint32_t e) {
    return e >> 16;
}

}  // namespace nuva
