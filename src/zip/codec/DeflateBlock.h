// The compressor's block encoder: collects the literals and matches that the
// matcher decides on, ends blocks, chooses stored, fixed or dynamic coding,
// builds the length-limited Huffman codes and writes the bits.
//
// Internal to the codec library; TDeflater (Deflate.h) is the public face.
// The encoder uses the symbol buffers that its owner passes
// in; it allocates nothing itself.
#pragma once

#include <cstdint>
#include <cstring>

#include "zip/codec/CodecIO.h"
#include "zip/codec/Deflate.h"
#include "zip/codec/DeflateTables.h"

namespace nuva::deflate {

inline constexpr uint32_t kMaxBlockSymbols = 32767;   // literals and matches per block
inline constexpr uint32_t kSymbolBufferSize = 32768;  // places in each symbol buffer
inline constexpr uint32_t kEstimateInterval = 4096;   // symbols between early-end checks
inline constexpr uint32_t kOutputBufferSize = 16384;  // bytes collected before each write

// Bits out, least significant first, through a byte buffer that is handed
// to the output whenever it fills. After each Put fewer than 8 bits wait in
// the accumulator: every whole byte goes to the buffer at once, by one
// 8-byte store of the accumulator (little-endian: its low byte first).
class TBitWriter {
  public:
    void Start(TCodecOutput* out) {
        out_ = out;
        bits_ = 0;
        count_ = 0;
        fill_ = 0;
    }
    // Appends the low `length` bits of `value` (length 0..56, no higher bits
    // set in value).
    void Put(uint64_t value, unsigned length) {
        static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
                      "the store puts the low byte first");
        // Worked out in locals before the store into the buffer, which (a
        // byte store) could otherwise change the members as far as the
        // compiler knows: the next Put would wait on reloading them.
        const uint64_t bits = bits_ | (value << count_);
        const unsigned count = count_ + length;
        const uint32_t fill = fill_;
        const unsigned whole = count & ~7u;  // at most 56 + 7 rounded down
        std::memcpy(buffer_ + fill, &bits, sizeof bits);
        bits_ = bits >> whole;
        count_ = count - whole;
        fill_ = fill + (whole >> 3);
        if (fill_ >= kOutputBufferSize) FlushBuffer();
    }
    // Pads the pending bits with zeros to a byte boundary and hands every
    // collected byte to the output.
    void AlignAndFlush() {
        while (count_ > 0) {
            buffer_[fill_++] = static_cast<uint8_t>(bits_);
            bits_ >>= 8;
            count_ = count_ > 8 ? count_ - 8 : 0;
        }
        bits_ = 0;
        FlushBuffer();
    }
    // Byte-aligns, then writes `length` bytes straight to the output.
    void PutRaw(const uint8_t* data, uint32_t length) {
        AlignAndFlush();
        if (length > 0) out_->Write(data, length);
    }

  private:
    void FlushBuffer() {
        if (fill_ > 0) out_->Write(buffer_, fill_);
        fill_ = 0;
    }

    TCodecOutput* out_ = nullptr;
    uint64_t bits_ = 0;
    unsigned count_ = 0;
    uint32_t fill_ = 0;
    uint8_t buffer_[kOutputBufferSize + 8];
};

// A dynamic tree: leaves first, then the internal nodes made while building.
// `freq` holds a frequency while building and `code` afterwards; `link`
// holds a node's parent while building and its code length afterwards.
// A literal's byte or a match's length - 3, as the symbol buffer holds it.
// Not a character type, so that the compiler need not assume that a store
// into the buffer changes the encoder's or the matcher's counters (it would
// reload them after every symbol otherwise).
enum class TSymbolByte : uint8_t {};

struct TTreeNode {
    uint16_t freq;
    uint16_t link;
};

struct TTreeDesc {
    TTreeNode* tree;
    TCode* codeTable;        // the finished codes of leaves 0..maxCode
    const TCode* fixedTree;  // nullptr for the bit-length tree
    const uint8_t* extraBits;
    int firstExtraCode;  // first code that has extra bits
    int leaves;          // codes in the tree (its leaves)
    int maxLength;       // longest allowed code
    int maxCode;         // highest code in use, set when built
};

class TBlockEncoder {
  public:
    // `literals` and `distances` have kSymbolBufferSize places each. The
    // encoder keeps TSymbolByte values in the storage of `literals` (its
    // bytes are not to be read as uint8_t afterwards).
    TBlockEncoder(uint8_t* literals, uint16_t* distances);

    void StartEntry(TCodecOutput& out, TDeflateEntry& entry, int level);

    // Records a literal byte. `inputSoFar` is the number of input bytes the
    // block covers at this point (for the early-end estimate). Returns true
    // when the block must be flushed now.
    bool RecordLiteral(uint8_t byte, int64_t inputSoFar) {
        literals_[count_] = TSymbolByte{byte};
        distances_[count_] = 0;
        ++count_;
        ++litLen_[byte].freq;
        return EndBlockNow(inputSoFar);
    }
    // Records a match of `distance` (1..32768) and length `lengthMinus3 + 3`.
    bool RecordMatch(unsigned distance, unsigned lengthMinus3, int64_t inputSoFar) {
        const TStaticTables& t = *tables_;
        literals_[count_] = static_cast<TSymbolByte>(lengthMinus3);
        distances_[count_] = static_cast<uint16_t>(distance);
        ++count_;
        ++matches_;
        ++litLen_[t.lengthCode[lengthMinus3] + kEndOfBlock + 1].freq;
        ++distance_[DistanceCode(t, distance - 1)].freq;
        return EndBlockNow(inputSoFar);
    }

    // Writes the block collected since the last flush. `data` points at the
    // block's input in the window, or is nullptr when it has slid out;
    // `storedLength` is the block's input size. Returns the entry's
    // compressed size so far in bytes.
    int64_t FlushBlock(const uint8_t* data, int64_t storedLength, bool last);

  private:
    bool EndBlockNow(int64_t inputSoFar) {
        // One test per symbol: a count just past a multiple of 4096 (the
        // early-end check) or just short of one (the block's last place)
        // leads to the exact tests. A block ends at its last place; above
        // level 2 it also ends early, at every 4096th symbol, once it is
        // clearly compressing well (few matches are not worth a new tree).
        static_assert((kMaxBlockSymbols + 1) % kEstimateInterval == 0);
        if (((count_ + 1) & (kEstimateInterval - 1)) > 1) return false;
        if (count_ == kMaxBlockSymbols) return true;
        return count_ % kEstimateInterval == 0 && level_ > 2 && EstimateSaysEnd(inputSoFar);
    }
    // The early-end test: the block's size estimated with its distance
    // codes' extra bits is under half its input and matches are few.
    bool EstimateSaysEnd(int64_t inputSoFar) const;
    void StartBlock();
    void ClassifyText();
    void BuildTree(TTreeDesc& desc);
    void SiftDown(int k);
    void AssignLengths(TTreeDesc& desc);
    void ScanTree(TTreeNode* tree, int maxCode);
    void SendTree(TTreeNode* tree, int maxCode);
    int BuildBitLengthTree();
    void SendAllTrees(int litCodes, int distCodes, int blCodes);
    void SendSymbols(const TCode* litLen, const TCode* distance);
    void SendBitLengthCode(int n) { bits_.Put(bitLengthCodes_[n].code, bitLengthCodes_[n].length); }

    const TStaticTables* tables_;
    TSymbolByte* literals_;
    uint16_t* distances_;  // 0 for a literal

    TCodecOutput* out_ = nullptr;
    TDeflateEntry* entry_ = nullptr;
    int level_ = 6;
    TBitWriter bits_;

    uint32_t count_ = 0;  // symbols in the block
    uint32_t matches_ = 0;
    int64_t optimalLength_ = 0;     // bits of the block with dynamic codes
    int64_t staticLength_ = 0;      // bits of the block with fixed codes
    int64_t compressedLength_ = 0;  // bits written for the entry (64-bit count)

    TTreeNode litLen_[kHeapSize];
    TTreeNode distance_[2 * kDistanceCodes + 1];
    TTreeNode bitLength_[2 * kBitLengthCodes + 1];
    TTreeDesc litLenDesc_;
    TTreeDesc distanceDesc_;
    TTreeDesc bitLengthDesc_;

    uint64_t queue_[kHeapSize];  // the priority queue, 1..heapLength_, then kQueueEnd
    int heap_[kHeapSize];        // nodes by decreasing frequency, heapMax_..kHeapSize - 1
    int heapLength_ = 0;
    int heapMax_ = 0;
    uint16_t lengthCounts_[kMaxCodeBits + 1];
    TCode dynamicLitLen_[kLitLenCodes];
    TCode dynamicDistance_[kDistanceCodes];
    TCode bitLengthCodes_[kBitLengthCodes];
    // Per block: the code of each match length with its extra bits appended.
    uint32_t lengthSymbols_[256];
    uint8_t lengthSymbolBits_[256];
};

}  // namespace nuva::deflate
