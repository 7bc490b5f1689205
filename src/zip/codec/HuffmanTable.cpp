#include "zip/codec/HuffmanTable.h"

#include <algorithm>

namespace nuva {
namespace {

constexpr size_t kMaxEntries = 65535;  // sub-table links are 16-bit offsets

uint32_t MakeEntry(unsigned op, unsigned bits, unsigned value) {
    return uint32_t(op) | (uint32_t(bits) << 8) | (uint32_t(value) << 16);
}

// The low `length` bits of `code` in reverse order: the stream sends a code's
// most significant bit first, and table indexes take the first bit lowest.
unsigned Reverse(unsigned code, unsigned length) {
    unsigned r = 0;
    for (unsigned i = 0; i < length; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

}  // namespace

int THuffmanTable::Build(const uint8_t* lengths, unsigned count, unsigned simpleCodes,
                         const uint16_t* base, const uint8_t* extra, unsigned lookupBits) {
    entries_.clear();
    lookupBits_ = 0;

    unsigned perLength[kMaxCodeLength + 1] = {};
    for (unsigned s = 0; s < count; ++s) {
        unsigned len = lengths[s];
        if (len > kMaxCodeLength) return kTableOversubscribed;  // callers never send these
        ++perLength[len];
    }
    if (perLength[0] == count) return kTableComplete;  // no codes: an empty table

    unsigned shortest = 1;
    while (perLength[shortest] == 0) ++shortest;
    unsigned longest = kMaxCodeLength;
    while (perLength[longest] == 0) --longest;
    unsigned root = std::min(std::max(lookupBits, shortest), longest);

    // Room left in the code space, counted in units of the current length.
    int64_t left = int64_t(1) << shortest;
    for (unsigned len = shortest; len < longest; ++len) {
        left -= perLength[len];
        if (left < 0) return kTableOversubscribed;
        left <<= 1;
    }
    left -= perLength[longest];
    if (left < 0) return kTableOversubscribed;
    int result = (left != 0 && longest != 1) ? kTableIncomplete : kTableComplete;

    // The first canonical code of each length.
    unsigned nextCode[kMaxCodeLength + 2] = {};
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + (len > 1 ? perLength[len - 1] : 0)) << 1;
        nextCode[len] = code;
    }

    // Width of each sub-table: the longest code below its root prefix.
    const size_t rootSize = size_t(1) << root;
    std::vector<uint8_t> subBits(rootSize, 0);
    {
        unsigned probe[kMaxCodeLength + 2];
        std::copy(std::begin(nextCode), std::end(nextCode), probe);
        for (unsigned s = 0; s < count; ++s) {
            unsigned len = lengths[s];
            if (len == 0) continue;
            unsigned c = probe[len]++;
            if (len <= root) continue;
            unsigned prefix = c >> (len - root);
            subBits[prefix] = uint8_t(std::max<unsigned>(subBits[prefix], len - root));
        }
    }
    std::vector<uint32_t> offset(rootSize, 0);
    size_t total = rootSize;
    for (size_t p = 0; p < rootSize; ++p) {
        if (subBits[p] == 0) continue;
        offset[p] = uint32_t(total);
        total += size_t(1) << subBits[p];
    }
    // Only an incomplete code can need more room than the links can address.
    if (total > kMaxEntries) return kTableIncomplete;  // left empty: unusable

    entries_.assign(total, MakeEntry(kOpInvalid, 0, 0));
    for (size_t p = 0; p < rootSize; ++p) {
        if (subBits[p] == 0) continue;
        entries_[Reverse(unsigned(p), root)] = MakeEntry(kOpLiteral + subBits[p], root, offset[p]);
    }
    for (unsigned s = 0; s < count; ++s) {
        unsigned len = lengths[s];
        if (len == 0) continue;
        unsigned c = nextCode[len]++;
        unsigned op, value;
        if (s < simpleCodes) {
            op = s < 256 ? kOpLiteral : kOpEndOfBlock;
            value = s;
        } else {
            op = extra[s - simpleCodes];
            value = base[s - simpleCodes];
        }
        if (len <= root) {
            uint32_t e = MakeEntry(op, len, value);
            for (size_t k = Reverse(c, len); k < rootSize; k += size_t(1) << len) entries_[k] = e;
        } else {
            unsigned rest = len - root;
            unsigned prefix = c >> rest;
            uint32_t e = MakeEntry(op, rest, value);
            size_t width = size_t(1) << subBits[prefix];
            uint32_t* sub = entries_.data() + offset[prefix];
            for (size_t k = Reverse(c & ((1u << rest) - 1), rest); k < width;
                 k += size_t(1) << rest)
                sub[k] = e;
        }
    }
    lookupBits_ = root;
    return result;
}

}  // namespace nuva
