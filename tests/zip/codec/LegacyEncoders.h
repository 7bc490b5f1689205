// Small test-only encoders for the old methods, written to produce the cases
// that public archives rarely or never hold: shrink's code used in the step
// that defines it and partial clears at chosen points, reduce with every
// factor and references before the first byte, implode with each
// combination of window size and literal tree.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "CodecTestSupport.h"

namespace nuva::test {

// ---------------------------------------------------------------------------
// Shrink
// ---------------------------------------------------------------------------

struct TShrinkOptions {
    std::set<size_t> clearAfterCodes;  // a partial clear after this many codes
    bool clearWhenFull = true;
};
struct TShrinkStats {
    int codesUsedWhileDefined = 0;  // codes sent in the step that defines them
    int partialClears = 0;
    int widenings = 0;
};

// Mirrors the decoder's dictionary: a code is defined one step late (parent
// = the previous code, character = the first byte of the current string).
inline std::string ShrinkEncode(const std::string& data, const TShrinkOptions& options,
                                TShrinkStats* stats = nullptr) {
    TShrinkStats local;
    TShrinkStats& st = stats ? *stats : local;
    const int kCodes = 8192;
    std::vector<int> parent(kCodes, -1);
    std::vector<uint8_t> character(kCodes, 0);
    for (int c = 0; c < 256; ++c) parent[c] = 0, character[c] = uint8_t(c);
    std::map<uint32_t, int> children;  // (parent << 8 | character) -> code
    auto key = [](int p, uint8_t c) { return (uint32_t(p) << 8) | c; };
    auto rebuild = [&] {
        children.clear();
        for (int c = 257; c < kCodes; ++c)
            if (parent[c] != -1) children[key(parent[c], character[c])] = c;
    };
    auto nextFreeFrom = [&](int c) {
        while (c < kCodes && parent[c] != -1) ++c;
        return c;
    };

    TBitWriter w;
    unsigned bits = 9;
    int nextFree = 257, previous = -1;
    size_t codes = 0, pos = 0;
    while (pos < data.size()) {
        int pending = -1;
        if (previous >= 0 && nextFree < kCodes) {
            pending = nextFree;
            parent[pending] = previous;
            character[pending] = uint8_t(data[pos]);
            children[key(previous, uint8_t(data[pos]))] = pending;
        }
        int code = uint8_t(data[pos]);
        size_t len = 1;
        while (pos + len < data.size()) {
            auto it = children.find(key(code, uint8_t(data[pos + len])));
            if (it == children.end()) break;
            code = it->second;
            ++len;
        }
        if (code == pending) ++st.codesUsedWhileDefined;
        while (code >= (1 << bits)) {
            w.Put(256, bits), w.Put(1, bits);
            ++bits;
            ++st.widenings;
        }
        w.Put(uint32_t(code), bits);
        ++codes;
        if (pending >= 0) nextFree = nextFreeFrom(pending + 1);
        previous = code;
        pos += len;
        if (options.clearAfterCodes.count(codes) || (options.clearWhenFull && nextFree >= kCodes)) {
            w.Put(256, bits), w.Put(2, bits);
            ++st.partialClears;
            std::vector<bool> leaf(kCodes, false);
            for (int c = 257; c < kCodes; ++c) leaf[c] = parent[c] != -1;
            for (int c = 257; c < kCodes; ++c)
                if (parent[c] >= 257) leaf[parent[c]] = false;
            for (int c = 257; c < kCodes; ++c)
                if (leaf[c]) parent[c] = -1;
            nextFree = nextFreeFrom(257);
            rebuild();
        }
    }
    return w.Finish();
}

// ---------------------------------------------------------------------------
// Reduce
// ---------------------------------------------------------------------------

struct TReduceOptions {
    int factor = 1;              // 1..4
    size_t followers = 8;        // set size per byte value (0..63)
    bool matches = true;         // back-references for repeats
    size_t zerosFromBefore = 0;  // start with a reference before the first byte for this many zeros
};

inline unsigned ReduceIndexBits(size_t setSize) {
    unsigned bits = 1;
    while ((size_t(1) << bits) < setSize) ++bits;
    return bits;
}

// `data` must begin with `zerosFromBefore` zero bytes when that is set.
inline std::string ReduceEncode(const std::string& data, const TReduceOptions& o) {
    static const unsigned kLengthMask[4] = {127, 63, 31, 15};
    static const unsigned kShift[4] = {7, 6, 5, 4};
    const unsigned mask = kLengthMask[o.factor - 1], shift = kShift[o.factor - 1];
    const size_t maxDistance = size_t((0xFFu >> shift) + 1) * 256;
    const size_t maxLength = mask + 255 + 3;

    // The intermediate stream.
    std::vector<uint8_t> mid;
    auto putReference = [&](size_t distance, size_t length) {
        size_t l = length - 3, d = distance - 1;
        mid.push_back(144);
        uint8_t v = uint8_t(((d >> 8) << shift) | std::min<size_t>(l, mask));
        mid.push_back(v);
        if (l >= mask) mid.push_back(uint8_t(l - mask));
        mid.push_back(uint8_t(d & 0xFF));
    };
    size_t pos = 0;
    if (o.zerosFromBefore >= 3) {
        putReference(std::min(maxDistance, size_t(100)), o.zerosFromBefore);
        pos = o.zerosFromBefore;
    }
    while (pos < data.size()) {
        size_t bestLen = 0, bestDist = 0;
        if (o.matches) {
            size_t from = pos > maxDistance ? pos - maxDistance : 0;
            for (size_t cand = from; cand < pos; ++cand) {
                size_t l = 0;
                while (pos + l < data.size() && l < maxLength && data[cand + l] == data[pos + l])
                    ++l;
                if (l > bestLen) bestLen = l, bestDist = pos - cand;
            }
        }
        // A reference of length 3 within 256 bytes would read as a literal 144.
        if (bestLen == 3 && bestDist <= 256) bestLen = 0;
        if (bestLen >= 3) {
            putReference(bestDist, bestLen);
            pos += bestLen;
        } else {
            uint8_t b = uint8_t(data[pos++]);
            mid.push_back(b);
            if (b == 144) mid.push_back(0);
        }
    }

    // Follower sets: the most frequent successors.
    std::vector<std::vector<uint8_t>> sets(256);
    {
        std::vector<std::map<uint8_t, int>> counts(256);
        unsigned prev = 0;
        for (uint8_t b : mid) ++counts[prev][b], prev = b;
        for (int v = 0; v < 256; ++v) {
            std::vector<std::pair<int, uint8_t>> byCount;
            for (auto& kv : counts[v]) byCount.push_back({-kv.second, kv.first});
            std::sort(byCount.begin(), byCount.end());
            for (size_t i = 0; i < byCount.size() && i < o.followers; ++i)
                sets[v].push_back(byCount[i].second);
        }
    }
    TBitWriter w;
    for (int v = 255; v >= 0; --v) {
        w.Put(uint32_t(sets[v].size()), 6);
        for (uint8_t f : sets[v]) w.Put(f, 8);
    }
    unsigned prev = 0;
    for (uint8_t b : mid) {
        const auto& set = sets[prev];
        if (set.empty()) {
            w.Put(b, 8);
        } else {
            auto it = std::find(set.begin(), set.end(), b);
            if (it == set.end()) {
                w.Put(1, 1), w.Put(b, 8);
            } else {
                w.Put(0, 1), w.Put(uint32_t(it - set.begin()), ReduceIndexBits(set.size()));
            }
        }
        prev = b;
    }
    return w.Finish();
}

// ---------------------------------------------------------------------------
// Implode
// ---------------------------------------------------------------------------

// Complete code lengths: 64 x 7, 64 x 8, 128 x 9 bits for literals; for
// lengths and distances 31 x 5, 31 x 10, 2 x 11 bits (longer than the
// lookup width, so sub-tables are used).
inline std::vector<uint8_t> ImplodeLiteralLengths() {
    std::vector<uint8_t> l(256);
    for (int i = 0; i < 256; ++i) l[i] = uint8_t(i < 64 ? 7 : i < 128 ? 8 : 9);
    // Spread short codes over common text bytes.
    std::swap(l[' '], l[200]), std::swap(l['e'], l[201]), std::swap(l['t'], l[202]);
    return l;
}
inline std::vector<uint8_t> ImplodeSixtyFourLengths(bool shortFirst) {
    std::vector<uint8_t> l(64);
    for (int i = 0; i < 64; ++i) l[i] = uint8_t(i < 31 ? 5 : i < 62 ? 10 : 11);
    if (!shortFirst) std::reverse(l.begin(), l.end());
    return l;
}

inline void PutTreeDescription(TBitWriter& w, const std::vector<uint8_t>& lengths) {
    std::vector<uint8_t> runs;
    for (size_t i = 0; i < lengths.size();) {
        size_t n = 1;
        while (i + n < lengths.size() && lengths[i + n] == lengths[i] && n < 16) ++n;
        runs.push_back(uint8_t(((n - 1) << 4) | (lengths[i] - 1)));
        i += n;
    }
    w.PutByte(uint8_t(runs.size() - 1));
    for (uint8_t r : runs) w.PutByte(r);
}

struct TImplodeOptions {
    uint16_t flags = 0;          // 2: 8 KiB window, 4: literal tree
    size_t zerosFromBefore = 0;  // start with a reference before the first byte for this many zeros
};

inline std::string ImplodeEncode(const std::string& data, const TImplodeOptions& o) {
    const bool literalTree = (o.flags & 4) != 0;
    const unsigned lowBits = (o.flags & 2) ? 7 : 6;
    const size_t minMatch = literalTree ? 3 : 2;
    const size_t maxDistance = size_t(64) << lowBits;
    const size_t maxLength = minMatch + 63 + 255;
    std::vector<uint8_t> litLen = ImplodeLiteralLengths(), lenLen = ImplodeSixtyFourLengths(true),
                         distLen = ImplodeSixtyFourLengths(false);
    std::vector<uint32_t> litCode = CanonicalCodes(litLen), lenCode = CanonicalCodes(lenLen),
                          distCode = CanonicalCodes(distLen);
    auto putInverted = [](TBitWriter& w, uint32_t code, unsigned len) {
        w.PutCode(~code & ((1u << len) - 1), len);
    };

    TBitWriter w;
    if (literalTree) PutTreeDescription(w, litLen);
    PutTreeDescription(w, lenLen);
    PutTreeDescription(w, distLen);
    auto putMatch = [&](size_t distance, size_t length) {
        size_t d = distance - 1, l = length - minMatch;
        w.Put(0, 1);
        w.Put(uint32_t(d & ((1u << lowBits) - 1)), lowBits);
        putInverted(w, distCode[d >> lowBits], distLen[d >> lowBits]);
        size_t lc = std::min<size_t>(l, 63);
        putInverted(w, lenCode[lc], lenLen[lc]);
        if (lc == 63) w.Put(uint32_t(l - 63), 8);
    };
    size_t pos = 0;
    if (o.zerosFromBefore >= minMatch) {
        putMatch(std::min(maxDistance, size_t(1000)), o.zerosFromBefore);
        pos = o.zerosFromBefore;
    }
    while (pos < data.size()) {
        size_t bestLen = 0, bestDist = 0;
        size_t from = pos > maxDistance ? pos - maxDistance : 0;
        for (size_t cand = from; cand < pos; ++cand) {
            size_t l = 0;
            while (pos + l < data.size() && l < maxLength && data[cand + l] == data[pos + l]) ++l;
            if (l > bestLen) bestLen = l, bestDist = pos - cand;
        }
        if (bestLen >= minMatch) {
            putMatch(bestDist, bestLen);
            pos += bestLen;
        } else {
            uint8_t b = uint8_t(data[pos++]);
            w.Put(1, 1);
            if (literalTree)
                putInverted(w, litCode[b], litLen[b]);
            else
                w.Put(b, 8);
        }
    }
    return w.Finish();
}

}  // namespace nuva::test
