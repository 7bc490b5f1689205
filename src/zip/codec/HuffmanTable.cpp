#include "zip/codec/HuffmanTable.h"

#include <algorithm>

namespace nuva {

int64_t CodeSpaceLeft(const unsigned* perLength, unsigned shortest, unsigned longest) {
    // Counted in units of the current length.
    int64_t left = int64_t(1) << shortest;
    for (unsigned len = shortest; len < longest; ++len) {
        left -= perLength[len];
        if (left < 0) return -1;
        left <<= 1;
    }
    left -= perLength[longest];
    return left < 0 ? -1 : left;
}

namespace {

constexpr size_t kMaxEntries = 65535;  // sub-table links are 16-bit offsets

uint32_t MakeEntry(unsigned op, unsigned bits, unsigned value) {
    return uint32_t(op) | (uint32_t(bits) << 8) | (uint32_t(value) << 16);
}

}  // namespace

int THuffmanTable::Build(const uint8_t* lengths, unsigned count, unsigned simpleCodes,
                         const uint16_t* base, const uint8_t* extra, unsigned lookupBits) {
    size_ = 0;
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

    const int64_t left = CodeSpaceLeft(perLength, shortest, longest);
    if (left < 0) return kTableOversubscribed;
    int result = (left != 0 && longest != 1) ? kTableIncomplete : kTableComplete;

    // The first canonical code of each length; then each symbol's code.
    unsigned nextCode[kMaxCodeLength + 2] = {};
    unsigned code = 0;
    for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
        code = (code + (len > 1 ? perLength[len - 1] : 0)) << 1;
        nextCode[len] = code;
    }
    codes_.resize(count);
    for (unsigned s = 0; s < count; ++s)
        if (lengths[s]) codes_[s] = uint16_t(nextCode[lengths[s]]++);

    // Width of each sub-table: the longest code below its root prefix.
    const size_t rootSize = size_t(1) << root;
    size_t total = rootSize;
    if (longest > root) {
        subBits_.assign(rootSize, 0);
        offset_.resize(rootSize);
        for (unsigned s = 0; s < count; ++s) {
            unsigned len = lengths[s];
            if (len <= root) continue;
            unsigned prefix = codes_[s] >> (len - root);
            if (subBits_[prefix] < len - root) subBits_[prefix] = uint8_t(len - root);
        }
        for (size_t p = 0; p < rootSize; ++p) {
            if (subBits_[p] == 0) continue;
            offset_[p] = uint32_t(total);
            total += size_t(1) << subBits_[p];
        }
        // Only an incomplete code can need more room than the links address.
        if (total > kMaxEntries) return kTableIncomplete;  // left empty: unusable
    }

    if (capacity_ < total) {
        entries_.reset(new uint32_t[total]);
        capacity_ = total;
    }
    size_ = total;
    uint32_t* entries = entries_.get();
    // A complete code covers every slot; only an incomplete one leaves gaps.
    if (result != kTableComplete || longest == 1)
        std::fill(entries, entries + total, MakeEntry(kOpInvalid, 0, 0));
    if (longest > root) {
        for (size_t p = 0; p < rootSize; ++p) {
            if (subBits_[p] == 0) continue;
            entries[ReverseCodeBits(unsigned(p), root)] =
                MakeEntry(kOpLiteral + subBits_[p], root, offset_[p]);
        }
    }
    for (unsigned s = 0; s < count; ++s) {
        unsigned len = lengths[s];
        if (len == 0) continue;
        unsigned c = codes_[s];
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
            for (size_t k = ReverseCodeBits(c, len); k < rootSize; k += size_t(1) << len)
                entries[k] = e;
        } else {
            unsigned rest = len - root;
            unsigned prefix = c >> rest;
            uint32_t e = MakeEntry(op, rest, value);
            size_t width = size_t(1) << subBits_[prefix];
            uint32_t* sub = entries + offset_[prefix];
            for (size_t k = ReverseCodeBits(c & ((1u << rest) - 1), rest); k < width;
                 k += size_t(1) << rest)
                sub[k] = e;
        }
    }
    lookupBits_ = root;
    return result;
}

}  // namespace nuva
