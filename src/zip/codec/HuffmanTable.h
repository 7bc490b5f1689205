// Decoding tables for prefix codes given by code lengths (deflate's Huffman
// codes, implode's Shannon-Fano trees).
//
// Layout: one flat array of 32-bit entries. The first 2^LookupBits() entries
// are indexed by the next LookupBits() input bits (first bit in the lowest
// position). A code longer than that continues in a sub-table of the same
// array that the root entry links to; each sub-table is indexed by the bits
// after the root bits and is as wide as the longest code under its root
// entry. Codes are assigned canonically (shorter codes first, symbol order
// within a length), which is how both formats define them.
//
// Entry: bits 0-7 operation, 8-15 bits the entry consumes, 16-31 value.
//   operation 0..13   a base (length or distance) with that many extra bits
//   operation 15      end of block
//   operation 16      literal; the value is the byte
//   operation 17..31  link: the sub-table at `value` indexed by (operation - 16) bits
//   operation 99      no code has these bits (or the symbol is not allowed)
// The entry's bits: for a code that ends in the root table its length; for a
// link the root bits; for a code that ends in a sub-table its length less the
// root bits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace nuva {

namespace detail {
struct TByteReversal {
    uint8_t table[256];
    constexpr TByteReversal() : table() {
        for (unsigned b = 0; b < 256; ++b) {
            unsigned r = 0;
            for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
            table[b] = uint8_t(r);
        }
    }
};
inline constexpr TByteReversal kByteReversal;
}  // namespace detail

// The low `length` bits (0 to 16) of `code` in reverse order: the stream
// sends a code's most significant bit first, while the bit writer and the
// decoding tables' indexes take the first bit lowest.
inline unsigned ReverseCodeBits(unsigned code, unsigned length) {
    unsigned r = (unsigned(detail::kByteReversal.table[code & 0xFF]) << 8) |
                 detail::kByteReversal.table[(code >> 8) & 0xFF];
    return r >> (16 - length);
}

// What is left of the code space when perLength[len] codes have each length
// len from `shortest` to `longest` (both in use), in units of the longest
// length; -1 when the lengths oversubscribe it.
int64_t CodeSpaceLeft(const unsigned* perLength, unsigned shortest, unsigned longest);

enum : uint8_t {
    kOpEndOfBlock = 15,
    kOpLiteral = 16,
    kOpInvalid = 99,
};

// Results of `THuffmanTable::Build`.
enum : int {
    kTableComplete = 0,        // also: a single code of length 1, or no codes at all
    kTableIncomplete = 1,      // some bit patterns decode to operation 99
    kTableOversubscribed = 2,  // no table was built
};

inline constexpr unsigned kMaxCodeLength = 16;  // bits (implode; deflate stops at 15)

inline unsigned EntryOp(uint32_t e) {
    return e & 0xFF;
}
inline unsigned EntryBits(uint32_t e) {
    return (e >> 8) & 0xFF;
}
inline unsigned EntryValue(uint32_t e) {
    return e >> 16;
}

class THuffmanTable {
  public:
    // Builds the table for `count` symbols with the given code lengths (0 =
    // unused, at most kMaxCodeLength). Symbols below `simpleCodes` are
    // literals (below 256) or the end of block; symbol `s` at or above it
    // decodes to base[s - simpleCodes] with extra[s - simpleCodes] extra bits
    // (99 marks a symbol that must not occur). `lookupBits` is the requested
    // root width; the table uses it raised to the shortest and lowered to the
    // longest code length (see LookupBits()).
    // Returns kTableComplete, kTableIncomplete (the table is built; whether
    // to use it is the caller's decision) or kTableOversubscribed (no
    // table). With no codes at all the table is empty and the result is
    // kTableComplete. Throws std::bad_alloc when memory runs out.
    int Build(const uint8_t* lengths, unsigned count, unsigned simpleCodes, const uint16_t* base,
              const uint8_t* extra, unsigned lookupBits);

    bool Empty() const { return size_ == 0; }
    unsigned LookupBits() const { return lookupBits_; }
    const uint32_t* Entries() const { return entries_.get(); }
    size_t Size() const { return size_; }

  private:
    std::unique_ptr<uint32_t[]> entries_;  // grows, never shrinks: blocks reuse it
    size_t capacity_ = 0;
    size_t size_ = 0;
    unsigned lookupBits_ = 0;
    // Scratch kept between builds to spare allocations per block.
    std::vector<uint16_t> codes_;
    std::vector<uint8_t> subBits_;
    std::vector<uint32_t> offset_;
};

}  // namespace nuva
