// Block ends and the choice between stored, fixed and dynamic blocks, read
// back from the stream; and the encoder's code-length limit and 64-bit
// length count, driven directly.
#include <gtest/gtest.h>

#include "DeflateTestSupport.h"
#include "zip/codec/DeflateBlock.h"

namespace nuva::test::deflatetest {
namespace {

std::vector<TBlockInfo> BlocksOf(const TCompressed& out) {
    EXPECT_EQ(out.entry.method, 8);
    return TSymbolDecoder(out.bytes).Decode();
}

// Bits the block's symbols would take with the fixed codes, header included.
size_t FixedCodeBits(const TBlockInfo& b) {
    static const int kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                        15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                        67, 83, 99, 115, 131, 163, 195, 227, 258};
    size_t bits = 3 + 7;  // header and end of block
    for (const TSymbol& s : b.symbols) {
        if (s.literal >= 0) {
            bits += s.literal < 144 ? 8 : 9;
            continue;
        }
        int lc = 28;
        while (kLengthBase[lc] > s.length) --lc;
        bits += (lc + 257 < 280 ? 7 : 8) + (lc < 8 || lc == 28 ? 0 : lc / 4 - 1);
        int dc = 0, base = 1;
        while (dc < 29) {
            const int extra = dc < 4 ? 0 : dc / 2 - 1;
            if (s.distance < base + (1 << extra)) break;
            base += 1 << extra;
            ++dc;
        }
        bits += 5 + (dc < 4 ? 0 : dc / 2 - 1);
    }
    return bits;
}

TEST(DeflateBlocksTest, BlockStructureAtTheBoundaries) {
    // Bytes without repeated strings: every block is literals only. 32767 symbols end a block;
    // the lazy levels record the last literal only after the loop. An input
    // of 65274 bytes slides the window in the fill after its last byte, so
    // its last block has no bytes left to store.
    struct Case {
        size_t size;
        int level;
        int method;
        std::vector<int> types;  // per block: 0 stored, 1 fixed, 2 dynamic (-1: 1 or 2)
    } cases[] = {
        {32766, 1, 0, {}},      {32767, 1, 8, {0, 1}},  {32767, 6, 0, {}},
        {32768, 6, 8, {0, 1}},  {65273, 1, 8, {0, 0}},  {65273, 6, 8, {0, 0}},
        {65274, 1, 8, {0, -1}}, {65274, 6, 8, {0, -1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, level " + std::to_string(c.level));
        const Bytes input = RandomBytesWithoutRepeats(c.size, 61);
        TCompressed out = Compress(input, c.level);
        ASSERT_EQ(out.entry.method, c.method);
        Bytes back;
        ASSERT_TRUE(Restore(out, back));
        EXPECT_TRUE(back == input);
        if (c.method == 0) {
            EXPECT_EQ(out.bytes.size(), c.size);
            continue;
        }
        const std::vector<TBlockInfo> blocks = BlocksOf(out);
        ASSERT_EQ(blocks.size(), c.types.size());
        for (size_t i = 0; i < blocks.size(); ++i) {
            if (c.types[i] == -1)
                EXPECT_NE(blocks[i].type, 0) << i;
            else
                EXPECT_EQ(blocks[i].type, c.types[i]) << i;
            EXPECT_EQ(blocks[i].last, i + 1 == blocks.size());
        }
        EXPECT_EQ(blocks[0].storedLength, 32767u);
    }
}

TEST(DeflateBlocksTest, StoredMiddleBlocksAreAlignedWithLenAndNlen) {
    // Compressible text first, so that a stored block starts in the middle
    // of a byte; then random bytes, which are stored.
    Bytes input = EnglishLikeText(20000, 71);
    const Bytes random = RandomBytes(120000, 72);
    input.insert(input.end(), random.begin(), random.end());
    for (int level : {1, 2, 3, 6, 9}) {
        const std::vector<TBlockInfo> blocks = BlocksOf(Compress(input, level));
        int stored = 0, unaligned = 0;
        for (const TBlockInfo& b : blocks) {
            if (b.type != 0) continue;
            ++stored;
            EXPECT_TRUE(b.storedAligned) << level;
            EXPECT_GT(b.storedLength, 0u);
            EXPECT_EQ(b.endBit % 8, 0u);
            if ((b.startBit + 3) % 8 != 0) ++unaligned;
        }
        EXPECT_GE(stored, 2) << level;
        EXPECT_GE(unaligned, 1) << level;
    }
}

TEST(DeflateBlocksTest, FixedCodesWinTiesWithDynamicCodes) {
    // Found by search: this block costs 1013 bytes with either code.
    Bytes tie(3000, 'a');
    const Bytes random = RandomBytes(937, 2, 256);
    tie.insert(tie.end(), random.begin(), random.end());
    const std::vector<TBlockInfo> blocks = BlocksOf(Compress(tie, 6));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].type, 1);

    // And every dynamic block anywhere is smaller in bytes than fixed codes.
    for (int n = 300; n < 3000; n += 53) {
        Bytes input(3000, 'a');
        const Bytes r = RandomBytes(n, n, 256);
        input.insert(input.end(), r.begin(), r.end());
        for (const TBlockInfo& b : BlocksOf(Compress(input, 6))) {
            if (b.type != 2) continue;
            EXPECT_GT((FixedCodeBits(b) + 7) / 8, (b.endBit - b.startBit + 7) / 8) << n;
        }
    }
}

TEST(DeflateBlocksTest, EarlyBlockEndsOnlyAboveLevel2) {
    // Levels 1 and 2 end a block only at 32767 symbols; higher levels may
    // also end one at a multiple of 4096 symbols when it compresses well.
    // Two fresh bytes, then 30 bytes from a small pool: few matches, each
    // covering many bytes, so the estimate finds the block compressing well.
    const Bytes pool = RandomBytes(1000, 82);
    const Bytes picks = RandomBytes(60000, 83);
    Bytes input;
    for (size_t i = 0; input.size() < 400000; i += 3) {
        input.push_back(picks[i]);
        input.push_back(picks[i + 1]);
        const size_t from = (picks[i + 2] * 3u) % (pool.size() - 30);
        input.insert(input.end(), pool.begin() + from, pool.begin() + from + 30);
    }
    for (int level = 1; level <= 9; ++level) {
        const std::vector<TBlockInfo> blocks = BlocksOf(Compress(input, level));
        ASSERT_GE(blocks.size(), 2u);
        int early = 0;
        for (size_t i = 0; i + 1 < blocks.size(); ++i) {
            const size_t n = blocks[i].symbols.size();
            if (level <= 2) {
                EXPECT_EQ(n, 32767u) << level;
            }
            if (n != 32767) {
                EXPECT_EQ(n % 4096, 0u) << level;
                ++early;
            }
        }
        if (level > 2) {
            EXPECT_GT(early, 0) << level;
        }
    }
}

// The encoder on its own, fed symbols directly.
class TEncoderHarness {
  public:
    TEncoderHarness()
        : literals(deflate::kSymbolBufferSize),
          distances(deflate::kSymbolBufferSize),
          window(65536 + 64),
          encoder(std::make_unique<deflate::TBlockEncoder>(literals.data(), distances.data())) {}
    std::vector<uint8_t> literals;
    std::vector<uint16_t> distances;
    std::vector<uint8_t> window;
    std::unique_ptr<deflate::TBlockEncoder> encoder;
};

TEST(DeflateBlocksTest, CodeLengthsAreLimitedTo15Bits) {
    // Frequencies 1 (the end code), 1, 2, 3, 5, 8, ... make an unlimited
    // tree a chain 20 levels deep; the limited code must still be complete
    // (zlib refuses an over-subscribed one) and reach 15 bits.
    TEncoderHarness h;
    TMemorySink sink;
    TDeflateEntry entry;
    h.encoder->StartEntry(sink, entry, 6);
    Bytes expected;
    uint32_t a = 1, b = 2;
    for (int symbol = 0; symbol < 20; ++symbol) {
        for (uint32_t i = 0; i < a; ++i) expected.push_back(static_cast<uint8_t>('A' + symbol));
        const uint32_t next = a + b;
        a = b;
        b = next;
    }
    ASSERT_LT(expected.size(), 32767u);
    for (uint8_t byte : expected) ASSERT_FALSE(h.encoder->RecordLiteral(byte, 1));
    const int64_t size =
        h.encoder->FlushBlock(nullptr, static_cast<int64_t>(expected.size()), true);
    EXPECT_EQ(size, static_cast<int64_t>(sink.bytes.size()));
    Bytes back;
    ASSERT_TRUE(ZlibInflate(sink.bytes, back));
    EXPECT_TRUE(back == expected);
    const std::vector<TBlockInfo> blocks = TSymbolDecoder(sink.bytes).Decode();
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].type, 2);
    EXPECT_EQ(blocks[0].longestLitLenCode, 15);
}

// Counts what it is given without keeping it.
class TCountingSink : public TCodecOutput {
  public:
    void Write(const uint8_t*, size_t count) override { bytes += count; }
    int64_t bytes = 0;
};

TEST(DeflateBlocksTest, CompressedLengthIsCountedIn64Bits) {
    // More than 2^32 bits (512 MiB) of stored blocks: a 32-bit count of bits
    // would wrap and report a small size. Each block holds 32767 far, long
    // matches (about 20 bits each coded) and stores 2 bytes per symbol.
    TEncoderHarness h;
    const uint32_t kStored = 2 * deflate::kMaxBlockSymbols;
    const Bytes random = RandomBytes(kStored, 91);
    std::memcpy(h.window.data(), random.data(), random.size());
    TCountingSink sink;
    TDeflateEntry entry;
    h.encoder->StartEntry(sink, entry, 1);
    const int64_t kBlocks = (int64_t{1} << 29) / kStored + 2;
    int64_t reported = 0;
    for (int64_t block = 0; block < kBlocks; ++block) {
        bool flush = false;
        for (uint32_t i = 0; i < deflate::kMaxBlockSymbols; ++i)
            flush = h.encoder->RecordMatch(30000 + i % 2000, 224 + i % 31, 0);
        ASSERT_TRUE(flush);
        const bool last = block + 1 == kBlocks;
        reported = h.encoder->FlushBlock(h.window.data(), kStored, last);
    }
    EXPECT_GT(reported, int64_t{1} << 29);
    EXPECT_EQ(reported, sink.bytes);
    EXPECT_EQ(sink.bytes, kBlocks * (kStored + 5));  // header byte, LEN, NLEN, data
}

}  // namespace
}  // namespace nuva::test::deflatetest
