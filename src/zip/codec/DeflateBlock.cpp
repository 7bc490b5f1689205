#include "zip/codec/DeflateBlock.h"

#include <algorithm>
#include <new>

namespace nuva::deflate {

namespace {

// Block types in the 3-bit block header (the lowest bit marks the last block).
constexpr uint32_t kStoredBlock = 0;
constexpr uint32_t kFixedBlock = 2;
constexpr uint32_t kDynamicBlock = 4;
constexpr uint16_t kLengthGuard = 0xFFFF;      // ends a run scan after the highest code
constexpr int kStoredHeaderBytes = 4;          // LEN and NLEN
constexpr uint32_t kLengthTableMatches = 256;  // matches in a block worth a length table

}  // namespace

// The symbol bytes are created in the caller's byte storage (which a byte
// array may provide for objects of another type); nothing is written.
TBlockEncoder::TBlockEncoder(uint8_t* literals, uint16_t* distances)
    : tables_(&StaticTables()),
      literals_(::new (static_cast<void*>(literals)) TSymbolByte[kSymbolBufferSize]),
      distances_(distances) {
    litLenDesc_ = {litLen_,         dynamicLitLen_, tables_->fixedLitLen, kLengthExtraBits,
                   kEndOfBlock + 1, kLitLenCodes,   kMaxCodeBits,         0};
    distanceDesc_ = {distance_, dynamicDistance_, tables_->fixedDistance, kDistanceExtraBits,
                     0,         kDistanceCodes,   kMaxCodeBits,           0};
    bitLengthDesc_ = {bitLength_, bitLengthCodes_, nullptr,           kBitLengthExtraBits,
                      0,          kBitLengthCodes, kMaxBitLengthBits, 0};
    std::memset(litLen_, 0, sizeof litLen_);
    std::memset(distance_, 0, sizeof distance_);
    std::memset(bitLength_, 0, sizeof bitLength_);
    std::memset(heap_, 0, sizeof heap_);
    std::memset(queue_, 0, sizeof queue_);
}

void TBlockEncoder::StartEntry(TCodecOutput& out, TDeflateEntry& entry, int level) {
    out_ = &out;
    entry_ = &entry;
    level_ = level;
    compressedLength_ = 0;
    bits_.Start(&out);
    StartBlock();
}

void TBlockEncoder::StartBlock() {
    for (int n = 0; n < kLitLenCodes; ++n) litLen_[n].freq = 0;
    for (int n = 0; n < kDistanceCodes; ++n) distance_[n].freq = 0;
    for (int n = 0; n < kBitLengthCodes; ++n) bitLength_[n].freq = 0;
    litLen_[kEndOfBlock].freq = 1;
    optimalLength_ = 0;
    staticLength_ = 0;
    count_ = 0;
    matches_ = 0;
}

bool TBlockEncoder::EstimateSaysEnd(int64_t inputSoFar) const {
    int64_t estimate = static_cast<int64_t>(count_) * 8;
    for (int d = 0; d < kDistanceCodes; ++d)
        estimate += static_cast<int64_t>(distance_[d].freq) * (5 + kDistanceExtraBits[d]);
    estimate >>= 3;
    return matches_ < count_ / 2 && estimate < inputSoFar / 2;
}

void TBlockEncoder::ClassifyText() {
    uint32_t binary = 0;
    uint32_t text = 0;
    for (int n = 0; n < 7; ++n) binary += litLen_[n].freq;
    for (int n = 7; n < 128; ++n) text += litLen_[n].freq;
    for (int n = 128; n < kLiteralCodes; ++n) binary += litLen_[n].freq;
    entry_->internalAttributes = binary > (text >> 2) ? 0 : 1;
}

namespace {

// A queue entry: the node's frequency and subtree depth above its number, so
// that one comparison of the upper 32 bits orders two entries.
constexpr int kKeyShift = 32;
constexpr int kFreqShift = kKeyShift + 8;
constexpr uint64_t kNodeMask = 0xFFFFFFFF;

inline uint64_t QueueEntry(uint16_t freq, uint8_t depth, int node) {
    return (uint64_t{freq} << kFreqShift) | (uint64_t{depth} << kKeyShift) |
           static_cast<uint32_t>(node);
}
inline uint16_t EntryFreq(uint64_t e) {
    return static_cast<uint16_t>(e >> kFreqShift);
}
inline uint8_t EntryDepth(uint64_t e) {
    return static_cast<uint8_t>(e >> kKeyShift);
}
inline int EntryNode(uint64_t e) {
    return static_cast<int>(e & kNodeMask);
}

// Heap order: the smaller frequency first; on equal frequencies the
// shallower subtree first; `a` goes before `b` on a full tie too.
inline bool Before(uint64_t a, uint64_t b) {
    return a <= (b | kNodeMask);
}

// Follows the last queue entry, so that the smaller of two children can be
// picked without checking for a missing right child: it goes after every
// entry.
constexpr uint64_t kQueueEnd = ~uint64_t{0};

}  // namespace

// A node stops sifting on a full tie. queue_[heapLength_ + 1] holds kQueueEnd.
void TBlockEncoder::SiftDown(int k) {
    uint64_t* const queue = queue_;
    const int length = heapLength_;
    const uint64_t v = queue[k];
    int j = k << 1;
    while (j <= length) {
        j += static_cast<int>(Before(queue[j + 1], queue[j]));
        if (Before(v, queue[j])) break;
        queue[k] = queue[j];
        k = j;
        j <<= 1;
    }
    queue[k] = v;
}

void TBlockEncoder::BuildTree(TTreeDesc& desc) {
    TTreeNode* tree = desc.tree;
    int maxCode = -1;
    heapLength_ = 0;
    heapMax_ = kHeapSize;
    // Without branches on the frequency: every leaf is written at the next
    // place and counted only when used. A used leaf's link is set again when
    // it gets its parent.
    for (int n = 0; n < desc.leaves; ++n) {
        const uint16_t freq = tree[n].freq;
        queue_[heapLength_ + 1] = QueueEntry(freq, 0, n);
        heapLength_ += freq != 0 ? 1 : 0;
        maxCode = freq != 0 ? n : maxCode;
        tree[n].link = 0;
    }
    // Every tree gets at least two codes, so that each can be sent.
    while (heapLength_ < 2) {
        const int node = maxCode < 2 ? ++maxCode : 0;
        tree[node].freq = 1;
        queue_[++heapLength_] = QueueEntry(1, 0, node);
        --optimalLength_;
        if (desc.fixedTree) staticLength_ -= desc.fixedTree[node].length;
    }
    desc.maxCode = maxCode;
    queue_[heapLength_ + 1] = kQueueEnd;
    for (int n = heapLength_ / 2; n >= 1; --n) SiftDown(n);

    int node = desc.leaves;
    do {
        const uint64_t n = queue_[1];
        queue_[1] = queue_[heapLength_];
        queue_[heapLength_--] = kQueueEnd;
        SiftDown(1);
        const uint64_t m = queue_[1];
        heap_[--heapMax_] = EntryNode(n);
        heap_[--heapMax_] = EntryNode(m);
        const uint16_t freq = static_cast<uint16_t>(EntryFreq(n) + EntryFreq(m));
        const uint8_t depth = static_cast<uint8_t>(std::max(EntryDepth(n), EntryDepth(m)) + 1);
        tree[node].freq = freq;
        tree[EntryNode(n)].link = tree[EntryNode(m)].link = static_cast<uint16_t>(node);
        queue_[1] = QueueEntry(freq, depth, node++);
        SiftDown(1);
    } while (heapLength_ >= 2);
    heap_[--heapMax_] = EntryNode(queue_[1]);

    AssignLengths(desc);
    for (int n = 0; n <= maxCode; ++n) desc.codeTable[n] = {0, tree[n].link};
    for (int n = maxCode + 1; n < desc.leaves; ++n) desc.codeTable[n] = {0, 0};
    AssignCanonicalCodes(desc.codeTable, maxCode, lengthCounts_);
}

// Code lengths from the sorted nodes (parents before children), limited to
// the tree's longest length; also adds the block's cost with these codes.
void TBlockEncoder::AssignLengths(TTreeDesc& desc) {
    TTreeNode* tree = desc.tree;
    const int maxCode = desc.maxCode;
    const int maxLength = desc.maxLength;
    for (int bits = 0; bits <= kMaxCodeBits; ++bits) lengthCounts_[bits] = 0;

    tree[heap_[heapMax_]].link = 0;  // the root
    int overflow = 0;
    int h = heapMax_ + 1;
    for (; h < kHeapSize; ++h) {
        const int n = heap_[h];
        int bits = tree[tree[n].link].link + 1;
        // Internal nodes count too: a clamped parent pushes its leaves deeper.
        if (bits > maxLength) {
            bits = maxLength;
            ++overflow;
        }
        tree[n].link = static_cast<uint16_t>(bits);
        if (n > maxCode) continue;
        ++lengthCounts_[bits];
        const int extra = n >= desc.firstExtraCode ? desc.extraBits[n - desc.firstExtraCode] : 0;
        const int64_t freq = tree[n].freq;
        optimalLength_ += freq * (bits + extra);
        if (desc.fixedTree) staticLength_ += freq * (desc.fixedTree[n].length + extra);
    }
    if (overflow == 0) return;

    // Move leaves up from the overflowing length: each step takes one leaf
    // from the deepest length below the limit and puts it and an
    // overflowing leaf one level deeper.
    do {
        int bits = maxLength - 1;
        while (lengthCounts_[bits] == 0) --bits;
        --lengthCounts_[bits];
        lengthCounts_[bits + 1] += 2;
        --lengthCounts_[maxLength];
        overflow -= 2;
    } while (overflow > 0);

    // Hand the lengths out again, the longest to the least frequent leaves.
    for (int bits = maxLength; bits != 0; --bits) {
        int n = lengthCounts_[bits];
        while (n != 0) {
            const int m = heap_[--h];
            if (m > maxCode) continue;
            if (tree[m].link != bits) {
                optimalLength_ += (static_cast<int64_t>(bits) - tree[m].link) * tree[m].freq;
                tree[m].link = static_cast<uint16_t>(bits);
            }
            --n;
        }
    }
}

namespace {

// The run limits for the code lengths after a run of `length` ends, given
// the next length: long runs of zeros, repeats of the same length, or a new
// length that must be sent once before it can repeat.
void NextRunLimits(int length, int nextLength, int& maxCount, int& minCount) {
    if (nextLength == 0) {
        maxCount = 138;
        minCount = 3;
    } else if (length == nextLength) {
        maxCount = 6;
        minCount = 3;
    } else {
        maxCount = 7;
        minCount = 4;
    }
}

}  // namespace

// Counts the bit-length symbols that will describe one tree's code lengths.
void TBlockEncoder::ScanTree(TTreeNode* tree, int maxCode) {
    int prevLength = -1;
    int nextLength = tree[0].link;
    int count = 0;
    int maxCount = nextLength == 0 ? 138 : 7;
    int minCount = nextLength == 0 ? 3 : 4;
    tree[maxCode + 1].link = kLengthGuard;
    for (int n = 0; n <= maxCode; ++n) {
        const int length = nextLength;
        nextLength = tree[n + 1].link;
        if (++count < maxCount && length == nextLength) continue;
        if (count < minCount) {
            bitLength_[length].freq = static_cast<uint16_t>(bitLength_[length].freq + count);
        } else if (length != 0) {
            if (length != prevLength) ++bitLength_[length].freq;
            ++bitLength_[16].freq;
        } else if (count <= 10) {
            ++bitLength_[17].freq;
        } else {
            ++bitLength_[18].freq;
        }
        count = 0;
        prevLength = length;
        NextRunLimits(length, nextLength, maxCount, minCount);
    }
}

// Sends one tree's code lengths with the same runs that ScanTree counted.
void TBlockEncoder::SendTree(TTreeNode* tree, int maxCode) {
    int prevLength = -1;
    int nextLength = tree[0].link;
    int count = 0;
    int maxCount = nextLength == 0 ? 138 : 7;
    int minCount = nextLength == 0 ? 3 : 4;
    for (int n = 0; n <= maxCode; ++n) {
        const int length = nextLength;
        nextLength = tree[n + 1].link;  // the guard from ScanTree ends the last run
        if (++count < maxCount && length == nextLength) continue;
        if (count < minCount) {
            do SendBitLengthCode(length);
            while (--count != 0);
        } else if (length != 0) {
            if (length != prevLength) {
                SendBitLengthCode(length);
                --count;
            }
            SendBitLengthCode(16);
            bits_.Put(count - 3, 2);
        } else if (count <= 10) {
            SendBitLengthCode(17);
            bits_.Put(count - 3, 3);
        } else {
            SendBitLengthCode(18);
            bits_.Put(count - 11, 7);
        }
        count = 0;
        prevLength = length;
        NextRunLimits(length, nextLength, maxCount, minCount);
    }
}

// Builds the bit-length tree; returns the index in kBitLengthOrder of the
// last code length to send (at least 3, so that 4 are sent).
int TBlockEncoder::BuildBitLengthTree() {
    ScanTree(litLen_, litLenDesc_.maxCode);
    ScanTree(distance_, distanceDesc_.maxCode);
    BuildTree(bitLengthDesc_);
    int maxIndex = kBitLengthCodes - 1;
    for (; maxIndex >= 3; --maxIndex)
        if (bitLength_[kBitLengthOrder[maxIndex]].link != 0) break;
    optimalLength_ += 3 * (maxIndex + 1) + 5 + 5 + 4;
    return maxIndex;
}

void TBlockEncoder::SendAllTrees(int litCodes, int distCodes, int blCodes) {
    bits_.Put(litCodes - 257, 5);
    bits_.Put(distCodes - 1, 5);
    bits_.Put(blCodes - 4, 4);
    for (int rank = 0; rank < blCodes; ++rank) bits_.Put(bitLength_[kBitLengthOrder[rank]].link, 3);
    SendTree(litLen_, litCodes - 1);
    SendTree(distance_, distCodes - 1);
}

void TBlockEncoder::SendSymbols(const TCode* litLen, const TCode* distance) {
    // Each match length's code with its extra bits appended: a table built
    // once per block when matches are many, looked up per symbol; worked out
    // per match in a small block, where building the table would cost more.
    const TStaticTables& t = *tables_;
    const bool table = matches_ >= kLengthTableMatches;
    if (table) {
        for (int lc = 0; lc < 256; ++lc) {
            const int code = t.lengthCode[lc];
            const TCode& c = litLen[code + kEndOfBlock + 1];
            lengthSymbols_[lc] =
                c.code | (static_cast<uint32_t>(lc - t.baseLength[code]) << c.length);
            lengthSymbolBits_[lc] = static_cast<uint8_t>(c.length + kLengthExtraBits[code]);
        }
    }
    for (uint32_t i = 0; i < count_; ++i) {
        const unsigned value = static_cast<unsigned>(literals_[i]);
        const unsigned dist = distances_[i];
        if (dist == 0) {
            // Up to three literals in a row go out together (each code is at
            // most 15 bits).
            if (i + 1 < count_ && distances_[i + 1] == 0) {
                uint64_t codes = litLen[value].code;
                unsigned length = litLen[value].length;
                const TCode& second = litLen[static_cast<unsigned>(literals_[++i])];
                codes |= static_cast<uint64_t>(second.code) << length;
                length += second.length;
                if (i + 1 < count_ && distances_[i + 1] == 0) {
                    const TCode& third = litLen[static_cast<unsigned>(literals_[++i])];
                    codes |= static_cast<uint64_t>(third.code) << length;
                    length += third.length;
                }
                bits_.Put(codes, length);
            } else {
                bits_.Put(litLen[value].code, litLen[value].length);
            }
            continue;
        }
        uint32_t lengthSymbol;
        unsigned lengthBits;
        if (table) {
            lengthSymbol = lengthSymbols_[value];
            lengthBits = lengthSymbolBits_[value];
        } else {
            const int code = t.lengthCode[value];
            const TCode& c = litLen[code + kEndOfBlock + 1];
            lengthSymbol = c.code | (static_cast<uint32_t>(value - t.baseLength[code]) << c.length);
            lengthBits = c.length + kLengthExtraBits[code];
        }
        // The length (up to 15 + 5 bits) and the distance (up to 15 + 13)
        // go out in one Put.
        const unsigned d = dist - 1;
        const unsigned code = DistanceCode(t, d);
        const TCode& c = distance[code];
        const uint32_t distanceSymbol = c.code | ((d - t.baseDistance[code]) << c.length);
        bits_.Put(lengthSymbol | (static_cast<uint64_t>(distanceSymbol) << lengthBits),
                  lengthBits + c.length + kDistanceExtraBits[code]);
    }
    bits_.Put(litLen[kEndOfBlock].code, litLen[kEndOfBlock].length);
}

int64_t TBlockEncoder::FlushBlock(const uint8_t* data, int64_t storedLength, bool last) {
    // Only the entry's first block decides text or binary.
    if (entry_->internalAttributes == 2) ClassifyText();

    BuildTree(litLenDesc_);
    BuildTree(distanceDesc_);
    const int maxBitLengthIndex = BuildBitLengthTree();

    int64_t optimalBytes = (optimalLength_ + 3 + 7) >> 3;
    const int64_t staticBytes = (staticLength_ + 3 + 7) >> 3;
    if (staticBytes <= optimalBytes) optimalBytes = staticBytes;
    const uint32_t lastBit = last ? 1 : 0;

    if (data && last && compressedLength_ == 0 && storedLength <= optimalBytes) {
        // The whole entry is one block that coding would not make smaller:
        // it is kept raw, without any block header, as a stored entry.
        bits_.PutRaw(data, static_cast<uint32_t>(storedLength));
        compressedLength_ = storedLength << 3;
        entry_->method = 0;
    } else if (data && storedLength + kStoredHeaderBytes <= optimalBytes) {
        bits_.Put(kStoredBlock + lastBit, 3);
        compressedLength_ = (compressedLength_ + 3 + 7) & ~int64_t{7};
        compressedLength_ += (storedLength + kStoredHeaderBytes) << 3;
        bits_.AlignAndFlush();
        const uint32_t len = static_cast<uint32_t>(storedLength) & 0xFFFF;
        bits_.Put(len, 16);
        bits_.Put(~len & 0xFFFF, 16);
        bits_.PutRaw(data, static_cast<uint32_t>(storedLength));
    } else if (staticBytes == optimalBytes) {
        bits_.Put(kFixedBlock + lastBit, 3);
        SendSymbols(tables_->fixedLitLen, tables_->fixedDistance);
        compressedLength_ += 3 + staticLength_;
    } else {
        bits_.Put(kDynamicBlock + lastBit, 3);
        SendAllTrees(litLenDesc_.maxCode + 1, distanceDesc_.maxCode + 1, maxBitLengthIndex + 1);
        SendSymbols(dynamicLitLen_, dynamicDistance_);
        compressedLength_ += 3 + optimalLength_;
    }
    StartBlock();
    if (last) {
        bits_.AlignAndFlush();
        compressedLength_ += 7;
    }
    return compressedLength_ >> 3;
}

}  // namespace nuva::deflate
