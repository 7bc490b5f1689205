#include "zip/codec/Inflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include "CodecTestSupport.h"
#include "TestSupport.h"

namespace nuva {
namespace {

using test::CanonicalCodes;
using test::TBitWriter;
using test::TMemoryInput;
using test::TMemoryOutput;

struct TInflated {
    int result;
    std::string bytes;
    std::vector<size_t> pieces;
};

// `loan` > 0: the output stage lends a buffer of that many bytes. Every
// stream is also decoded from a view of the whole input, which must give the
// same result and bytes.
TInflated InflateAll(const std::string& stream, size_t chunk = ~size_t(0), size_t loan = 0) {
    TInflated runs[2];
    for (bool view : {false, true}) {
        TMemoryInput in(stream, chunk);
        in.view = view;
        TMemoryOutput out;
        out.loan = loan;
        TInflater inflater;
        int r = inflater.Run(in, out);
        EXPECT_EQ(in.zeroCapacityRequests, 0);
        EXPECT_EQ(in.requestsAfterEnd, 0);
        EXPECT_TRUE(out.LoanRespected()) << "loan " << loan;
        runs[view] = {r, out.bytes, out.pieces};
    }
    EXPECT_EQ(runs[1].result, runs[0].result) << "from a view, loan " << loan;
    EXPECT_TRUE(runs[1].bytes == runs[0].bytes) << "from a view, loan " << loan;
    return runs[0];
}

// Runs `body` with the decoding loop chosen for this processor, then with
// the portable one.
template <class F>
void ForEachDecodingLoop(F body) {
    for (bool features : {true, false}) {
        InflateAllowCpuFeatures(features);
        body(features);
    }
    InflateAllowCpuFeatures(true);
}

// Loans around the sizes where the decoder takes one (4096 bytes and up),
// where it leaves it with less than a window of history, with a whole
// window, and where the whole output fits.
const size_t kLoans[] = {0, 4095, 4096, 5000, 20000, 40000, 70000, 1 << 20};

// ---------------------------------------------------------------------------
// Streams made by zlib
// ---------------------------------------------------------------------------

TEST(InflateTest, DecodesZlibStreamsAtEveryLevelAndStrategy) {
    struct Sample {
        const char* name;
        std::string data;
    } samples[] = {
        {"text", test::SampleText(70000, 1)},
        {"random", test::SampleRandom(40000, 2)},
        {"runs", test::SampleRuns(90000, 3)},
        {"mixed", test::SampleText(20000, 4) + test::SampleRandom(5000, 5) +
                      test::SampleRuns(20000, 6) + test::SampleText(30000, 4)},
        {"empty", ""},
        {"one byte", "x"},
    };
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    ForEachDecodingLoop([&](bool features) {
        for (const Sample& s : samples) {
            for (int level = 0; level <= 9; ++level) {
                for (int strategy : strategies) {
                    std::string stream = test::ZlibDeflateRaw(s.data, level, strategy);
                    ASSERT_FALSE(stream.empty());
                    TInflated r = InflateAll(stream);
                    EXPECT_EQ(r.result, kInflateOk) << s.name << " level " << level << " strategy "
                                                    << strategy << " " << features;
                    EXPECT_TRUE(r.bytes == s.data) << s.name << " level " << level << " strategy "
                                                   << strategy << " " << features;
                }
            }
        }
    });
}

// A lent buffer gives the same bytes as copies through the window, whatever
// its size, and nothing is written past it.
TEST(InflateTest, LentOutputBufferDecodesTheSame) {
    const std::string samples[] = {
        test::SampleText(90000, 31),
        test::SampleRandom(80000, 32),
        test::SampleRuns(100000, 33),
        test::SampleText(3000, 34),
        "",
    };
    for (const std::string& data : samples) {
        for (int level : {0, 1, 6}) {
            std::string stream = test::ZlibDeflateRaw(data, level, Z_DEFAULT_STRATEGY);
            for (size_t loan : kLoans) {
                TInflated r = InflateAll(stream, ~size_t(0), loan);
                EXPECT_EQ(r.result, kInflateOk) << data.size() << " " << level << " " << loan;
                EXPECT_TRUE(r.bytes == data) << data.size() << " " << level << " " << loan;
            }
        }
    }
}

TEST(InflateTest, InputInSmallPiecesDecodesTheSame) {
    std::string data = test::SampleText(50000, 7) + test::SampleRuns(30000, 8);
    std::string stream = test::ZlibDeflateRaw(data, 6, Z_DEFAULT_STRATEGY);
    for (size_t chunk : {size_t(1), size_t(3), size_t(7), size_t(8), size_t(9), size_t(4096)}) {
        TInflated r = InflateAll(stream, chunk);
        EXPECT_EQ(r.result, kInflateOk) << chunk;
        EXPECT_TRUE(r.bytes == data) << chunk;
    }
}

TEST(InflateTest, OutputComesInWindowSizedPieces) {
    std::string data = test::SampleText(100000, 9);
    TInflated r = InflateAll(test::ZlibDeflateRaw(data, 6, Z_DEFAULT_STRATEGY));
    ASSERT_EQ(r.result, kInflateOk);
    EXPECT_EQ(r.pieces, (std::vector<size_t>{32768, 32768, 32768, 100000 - 3 * 32768}));
}

TEST(InflateTest, ExactlyOneWindowIsHandedOverOnce) {
    struct Case {
        size_t size;
        std::vector<size_t> pieces;
    } cases[] = {
        {32768, {32768}},
        {32769, {32768, 1}},
        {65536, {32768, 32768}},
        {32767, {32767}},
    };
    for (const Case& c : cases) {
        for (int level : {0, 6}) {
            std::string data = test::SampleRuns(c.size, 11);
            TInflated r = InflateAll(test::ZlibDeflateRaw(data, level, Z_DEFAULT_STRATEGY));
            ASSERT_EQ(r.result, kInflateOk);
            EXPECT_EQ(r.pieces, c.pieces) << c.size << " level " << level;
            EXPECT_TRUE(r.bytes == data);
        }
    }
}

// ---------------------------------------------------------------------------
// Hand-built streams
// ---------------------------------------------------------------------------

// Fixed-code symbols.
void PutFixedLiteral(TBitWriter& w, unsigned symbol) {
    if (symbol < 144)
        w.PutCode(0x30 + symbol, 8);
    else if (symbol < 256)
        w.PutCode(0x190 + symbol - 144, 9);
    else if (symbol < 280)
        w.PutCode(symbol - 256, 7);
    else
        w.PutCode(0xC0 + symbol - 280, 8);
}

// A dynamic block header that sends every code length as a plain 4-bit
// code-length symbol (0..15 all of length 4).
void PutDynamicHeader(TBitWriter& w, bool last, const std::vector<uint8_t>& lit,
                      const std::vector<uint8_t>& dist) {
    w.Put(last ? 1 : 0, 1);
    w.Put(2, 2);
    w.Put(uint32_t(lit.size() - 257), 5);
    w.Put(uint32_t(dist.size() - 1), 5);
    w.Put(15, 4);  // all 19 code-length codes
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                       11, 4,  12, 3, 13, 2, 14, 1, 15};
    for (uint8_t sym : kOrder) w.Put(sym < 16 ? 4 : 0, 3);
    std::vector<uint8_t> cl(19, 0);
    for (int i = 0; i < 16; ++i) cl[i] = 4;
    std::vector<uint32_t> clCodes = CanonicalCodes(cl);
    for (uint8_t l : lit) w.PutCode(clCodes[l], 4);
    for (uint8_t l : dist) w.PutCode(clCodes[l], 4);
}

struct TCode {
    std::vector<uint8_t> lengths;
    std::vector<uint32_t> codes;
    explicit TCode(std::vector<uint8_t> l)
        : lengths(std::move(l)), codes(CanonicalCodes(lengths)) {}
    void Put(TBitWriter& w, unsigned symbol) const { w.PutCode(codes[symbol], lengths[symbol]); }
};

TEST(InflateTest, HandBuiltBlocks) {
    struct Case {
        const char* name;
        std::string stream;
        int result;
        std::string bytes;
    };
    std::vector<Case> cases;
    {
        TBitWriter w;  // stored block of length 0, then a fixed block with "A"
        w.Put(0, 1), w.Put(0, 2), w.AlignToByte(), w.Put(0, 16), w.Put(0xFFFF, 16);
        w.Put(1, 1), w.Put(1, 2), PutFixedLiteral(w, 'A'), PutFixedLiteral(w, 256);
        cases.push_back({"stored length 0", w.Finish(), kInflateOk, "A"});
    }
    {
        TBitWriter w;
        w.Put(1, 1), w.Put(0, 2), w.AlignToByte(), w.Put(3, 16), w.Put(0xFFFB, 16);
        w.PutByte('a'), w.PutByte('b'), w.PutByte('c');
        cases.push_back({"NLEN mismatch", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;
        w.Put(1, 1), w.Put(0, 2), w.AlignToByte(), w.Put(3, 16), w.Put(0xFFFC, 16);
        w.PutByte('a'), w.PutByte('b'), w.PutByte('c');
        cases.push_back({"stored block", w.Finish(), kInflateOk, "abc"});
    }
    {
        TBitWriter w;
        w.Put(1, 1), w.Put(3, 2), w.Put(0, 16);
        cases.push_back({"block type 3", w.Finish(), kInflateBadBlock, ""});
    }
    {
        TBitWriter w;
        w.Put(1, 1), w.Put(2, 2), w.Put(30, 5), w.Put(0, 5), w.Put(15, 4), w.Put(0, 32);
        cases.push_back({"287 literal/length codes", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;
        w.Put(1, 1), w.Put(2, 2), w.Put(0, 5), w.Put(30, 5), w.Put(15, 4), w.Put(0, 32);
        cases.push_back({"31 distance codes", w.Finish(), kInflateInvalidData, ""});
    }
    // Literal/length code: 'a', 'b', 256 and length code 257 (3 bytes).
    std::vector<uint8_t> lit(258, 0);
    lit['a'] = 2, lit['b'] = 2, lit[256] = 2, lit[257] = 2;
    TCode litCode(lit);
    {
        TBitWriter w;  // single distance code of length 1: accepted
        PutDynamicHeader(w, true, lit, {1});
        TCode dist({1});
        litCode.Put(w, 'a'), litCode.Put(w, 'b'), litCode.Put(w, 257), dist.Put(w, 0);
        litCode.Put(w, 256);
        cases.push_back({"single distance code of length 1", w.Finish(), kInflateOk, "abbbb"});
    }
    {
        TBitWriter w;  // the other one-bit pattern of that code decodes to nothing
        PutDynamicHeader(w, true, lit, {1});
        litCode.Put(w, 'a'), litCode.Put(w, 257), w.Put(1, 1), litCode.Put(w, 256);
        cases.push_back(
            {"unused half of a one-code distance tree", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;
        PutDynamicHeader(w, true, lit, {2});
        litCode.Put(w, 'a'), litCode.Put(w, 256);
        cases.push_back({"incomplete distance tree", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;
        PutDynamicHeader(w, true, lit, {1, 1, 1});
        litCode.Put(w, 'a'), litCode.Put(w, 256);
        cases.push_back({"over-subscribed distance tree", w.Finish(), kInflateBadBlock, ""});
    }
    {
        TBitWriter w;  // no distance codes: literals only decode
        PutDynamicHeader(w, true, lit, {0});
        litCode.Put(w, 'b'), litCode.Put(w, 'a'), litCode.Put(w, 256);
        cases.push_back({"no distance codes, literals only", w.Finish(), kInflateOk, "ba"});
    }
    {
        TBitWriter w;  // ... but a length code has nothing to use
        PutDynamicHeader(w, true, lit, {0});
        litCode.Put(w, 'b'), litCode.Put(w, 'a'), litCode.Put(w, 257), w.Put(0, 8),
            litCode.Put(w, 256);
        cases.push_back({"no distance codes, a length code", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;  // fixed distance codes 30 and 31 do not exist
        w.Put(1, 1), w.Put(1, 2), PutFixedLiteral(w, 'x'), PutFixedLiteral(w, 257),
            w.PutCode(30, 5);
        PutFixedLiteral(w, 256);
        cases.push_back({"fixed distance code 30", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;  // fixed literal/length code 286 does not exist
        w.Put(1, 1), w.Put(1, 2), PutFixedLiteral(w, 'x'), PutFixedLiteral(w, 286), w.PutCode(0, 5);
        PutFixedLiteral(w, 256);
        cases.push_back({"fixed length code 286", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;  // a repeat that runs past the code lengths
        w.Put(1, 1), w.Put(2, 2), w.Put(0, 5), w.Put(0, 5), w.Put(15, 4);
        static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        for (uint8_t sym : kOrder) w.Put(sym == 18 || sym == 1 ? 1 : 0, 3);  // two 1-bit codes
        for (int i = 0; i < 3; ++i) w.PutCode(1, 1), w.Put(127, 7);          // 3 x 138 zeros > 258
        cases.push_back({"repeat past the end", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;  // a repeat of the last length at the start repeats 0
        w.Put(1, 1), w.Put(2, 2), w.Put(0, 5), w.Put(0, 5), w.Put(15, 4);
        static const uint8_t kOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                           11, 4,  12, 3, 13, 2, 14, 1, 15};
        std::vector<uint8_t> cl(19, 0);
        cl[1] = cl[8] = cl[16] = cl[18] = 2;
        for (uint8_t sym : kOrder) w.Put(cl[sym], 3);
        TCode clCode(cl);
        clCode.Put(w, 16), w.Put(0, 2);         // 3 x the last length (0): symbols 0-2
        clCode.Put(w, 18), w.Put(138 - 11, 7);  // 138 zeros: 3-140
        clCode.Put(w, 18), w.Put(115 - 11, 7);  // 115 zeros: 141-255
        clCode.Put(w, 1);                       // 256 (end of block): one 1-bit code
        clCode.Put(w, 1);                       // distance code 0: one 1-bit code
        w.Put(0, 1);                            // end of block
        cases.push_back({"repeat of the last length at the start", w.Finish(), kInflateOk, ""});
    }
    {
        TBitWriter w;  // a distance of 2 after one byte reaches before the entry
        w.Put(1, 1), w.Put(1, 2), PutFixedLiteral(w, 'x'), PutFixedLiteral(w, 257), w.PutCode(1, 5);
        PutFixedLiteral(w, 256);
        cases.push_back({"distance too far back", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;  // the same with 60 literals after it: input enough for the fast loop
        w.Put(1, 1), w.Put(1, 2), PutFixedLiteral(w, 'x'), PutFixedLiteral(w, 257), w.PutCode(1, 5);
        for (int i = 0; i < 60; ++i) PutFixedLiteral(w, 'x');
        PutFixedLiteral(w, 256);
        cases.push_back({"distance too far back, fast loop", w.Finish(), kInflateInvalidData, ""});
    }
    {
        TBitWriter w;  // a distance of 1 after one byte is fine
        w.Put(1, 1), w.Put(1, 2), PutFixedLiteral(w, 'x'), PutFixedLiteral(w, 257), w.PutCode(0, 5);
        PutFixedLiteral(w, 256);
        cases.push_back({"distance 1", w.Finish(), kInflateOk, "xxxx"});
    }
    {
        TBitWriter w;  // literal table without any code
        PutDynamicHeader(w, true, std::vector<uint8_t>(257, 0), {1});
        cases.push_back({"no literal/length codes", w.Finish(), kInflateInvalidData, ""});
    }
    for (const Case& c : cases) {
        TInflated r = InflateAll(c.stream);
        EXPECT_EQ(r.result, c.result) << c.name;
        if (c.result == kInflateOk) {
            EXPECT_EQ(r.bytes, c.bytes) << c.name;
        } else {
            EXPECT_TRUE(r.bytes.empty()) << c.name;
        }
    }
}

// A distance may reach back into earlier pieces but never before the entry.
TEST(InflateTest, DistanceBeforeTheEntryIsInvalidData) {
    struct Case {
        size_t before;      // bytes produced before the match
        unsigned distance;  // fixed distance code 29 base 24577 + 13 extra bits
        int result;
    } cases[] = {{24577, 24577, kInflateOk},
                 {24576, 24577, kInflateInvalidData},
                 {40000, 32768, kInflateOk},
                 {32767, 32768, kInflateInvalidData},
                 {32768, 32768, kInflateOk}};
    for (const Case& c : cases) {
        TBitWriter w;
        // A stored block with the first bytes, then a fixed block with one match.
        std::string data = test::SampleRandom(c.before, 21);
        size_t pos = 0;
        while (pos < data.size()) {
            size_t n = std::min<size_t>(65535, data.size() - pos);
            w.Put(0, 1), w.Put(0, 2), w.AlignToByte(), w.Put(uint32_t(n), 16),
                w.Put(uint32_t(~n & 0xFFFF), 16);
            for (size_t i = 0; i < n; ++i) w.PutByte(uint8_t(data[pos + i]));
            pos += n;
        }
        w.Put(1, 1), w.Put(1, 2), PutFixedLiteral(w, 257);
        unsigned code = c.distance > 24576 ? 29 : 0;
        w.PutCode(code, 5), w.Put(c.distance - 24577, 13), PutFixedLiteral(w, 256);
        std::string stream = w.Finish();
        for (size_t loan : kLoans) {
            TInflated r = InflateAll(stream, ~size_t(0), loan);
            EXPECT_EQ(r.result, c.result) << c.before << " " << c.distance << " loan " << loan;
            if (c.result == kInflateOk) {
                ASSERT_EQ(r.bytes.size(), c.before + 3);
                EXPECT_EQ(r.bytes.substr(c.before), data.substr(c.before - c.distance, 3));
            }
        }
    }
}

// Built tables use the width the builder settled on: with codes shorter than
// the requested nine bits, a lookup of nine bits would index past the table.
TEST(InflateTest, LookupUsesTheBuiltWidthWhenCodesAreShort) {
    std::vector<uint8_t> lit(258, 0);
    lit['p'] = 1, lit[256] = 2, lit[257] = 2;  // longest code 2 bits
    TCode litCode(lit);
    TCode dist({1, 1});
    TBitWriter w;
    PutDynamicHeader(w, true, lit, dist.lengths);
    for (int i = 0; i < 5; ++i) litCode.Put(w, 'p');
    litCode.Put(w, 257), dist.Put(w, 1);  // distance 2, length 3
    litCode.Put(w, 256);
    TInflated r = InflateAll(w.Finish());
    EXPECT_EQ(r.result, kInflateOk);
    EXPECT_EQ(r.bytes, "pppppppp");
}

// Codes longer than the root width live in sub-tables of 2^size entries;
// a chain of lengths 1..15 reaches the deepest slot of each.
TEST(InflateTest, SubTableHoldsTwoToTheSizeEntries) {
    std::vector<uint8_t> lit(258, 0);
    const unsigned symbols[16] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h',
                                  'i', 'j', 'k', 'l', 'm', 'n', 256, 257};
    for (unsigned i = 0; i < 16; ++i) lit[symbols[i]] = uint8_t(i < 15 ? i + 1 : 15);
    TCode litCode(lit);
    std::vector<uint8_t> distLengths(30, 0);
    for (unsigned i = 0; i < 15; ++i) distLengths[i] = uint8_t(i + 1);
    distLengths[15] = 15;
    TCode dist(distLengths);
    TBitWriter w;
    PutDynamicHeader(w, true, lit, distLengths);
    std::string expected;
    for (unsigned i = 0; i < 14; ++i) litCode.Put(w, symbols[i]), expected += char(symbols[i]);
    for (unsigned d = 0; d < 4; ++d) {  // distance codes 0..3 = distances 1..4
        litCode.Put(w, 257), dist.Put(w, d);
        for (int k = 0; k < 3; ++k) expected += expected[expected.size() - 1 - d];
    }
    litCode.Put(w, 256);
    TInflated r = InflateAll(w.Finish());
    EXPECT_EQ(r.result, kInflateOk);
    EXPECT_EQ(r.bytes, expected);
}

// A match of (length, distance) as fixed codes with their extra bits.
void PutFixedMatch(TBitWriter& w, unsigned length, unsigned distance) {
    static const uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                             15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                             67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint16_t kDistanceBase[30] = {
        1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
        193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    unsigned l = 28;
    while (kLengthBase[l] > length) --l;
    PutFixedLiteral(w, 257 + l);
    unsigned extra = l < 8 || l == 28 ? 0 : (l - 4) / 4;
    w.Put(length - kLengthBase[l], extra);
    unsigned d = 29;
    while (kDistanceBase[d] > distance) --d;
    w.PutCode(d, 5);
    w.Put(distance - kDistanceBase[d], d < 4 ? 0 : (d - 2) / 2);
}

// Matches are copied in words of up to 32 bytes, from a period widened to a
// multiple of the distance when the distance is short: every short distance
// with lengths around the word sizes, also where the copy crosses the end of
// the window's first piece.
TEST(InflateTest, MatchCopiesEveryShortDistanceAndLength) {
    const unsigned lengths[] = {3,  4,  5,  6,  7,  8,  9,  10, 11, 15,  16,  17, 18,
                                24, 31, 32, 33, 47, 48, 49, 64, 65, 100, 257, 258};
    ForEachDecodingLoop([&](bool features) {
        for (size_t before : {size_t(0), size_t(32768 - 7)}) {
            // Stored bytes first, then `distance` distinct literals, the match, the end.
            const std::string prefix = test::SampleRandom(before, 7);
            TBitWriter stored;
            if (before > 0) {
                stored.Put(0, 1), stored.Put(0, 2), stored.AlignToByte();
                stored.Put(uint32_t(before), 16), stored.Put(uint32_t(~before & 0xFFFF), 16);
                for (char c : prefix) stored.PutByte(uint8_t(c));
            }
            for (unsigned distance = 1; distance <= 40; ++distance) {
                for (unsigned length : lengths) {
                    if (before > 0 && length % 16 != 1 && length != 258) continue;
                    std::string expected = prefix;
                    TBitWriter w = stored;
                    w.Put(1, 1), w.Put(1, 2);
                    for (unsigned i = 0; i < distance; ++i) {
                        expected += char('a' + i);
                        PutFixedLiteral(w, 'a' + i);
                    }
                    PutFixedMatch(w, length, distance);
                    for (unsigned i = 0; i < length; ++i)
                        expected += expected[expected.size() - distance];
                    PutFixedLiteral(w, 256);
                    TInflated r = InflateAll(w.Finish(), ~size_t(0), before > 0 ? 0 : 40000);
                    ASSERT_EQ(r.result, kInflateOk) << distance << " " << length << " " << before;
                    ASSERT_TRUE(r.bytes == expected)
                        << "distance " << distance << " length " << length << " after " << before
                        << " " << features;
                }
            }
        }
    });
}

// ---------------------------------------------------------------------------
// Damaged input (every prefix and flipped bytes: Corruption_test.cpp)
// ---------------------------------------------------------------------------

TEST(InflateTest, AfterTheInputEndsAtMostAFewZeroBytesAreSupplied) {
    // A fixed block of many literals 0 (8-bit code 00110000) cut short: the
    // decoder must stop soon after the real bytes end instead of decoding
    // zero padding for ever.
    TBitWriter w;
    w.Put(1, 1), w.Put(1, 2);
    for (int i = 0; i < 10; ++i) PutFixedLiteral(w, 0);
    TInflated r = InflateAll(w.Finish());
    EXPECT_EQ(r.result, kInflateInvalidData);
    EXPECT_TRUE(r.bytes.empty());
}

TEST(InflateTest, WrongStoredLengthsEndCleanly) {
    struct Case {
        uint32_t len;
        uint32_t nlen;
        size_t bytesPresent;
        int result;
    } cases[] = {
        {10, 0xFFF5, 10, kInflateOk},         {10, 0xFFF5, 9, kInflateInvalidData},
        {65535, 0, 100, kInflateInvalidData}, {0, 0, 0, kInflateInvalidData},
        {5, 0xFFFA, 0, kInflateInvalidData},
    };
    for (const Case& c : cases) {
        TBitWriter w;
        w.Put(1, 1), w.Put(0, 2), w.AlignToByte(), w.Put(c.len, 16), w.Put(c.nlen, 16);
        for (size_t i = 0; i < c.bytesPresent; ++i) w.PutByte(uint8_t('0' + i % 10));
        TInflated r = InflateAll(w.Finish());
        EXPECT_EQ(r.result, c.result) << c.len << " " << c.bytesPresent;
    }
}

TEST(InflateTest, OneInflaterRunsManyEntries) {
    TInflater inflater;
    for (int i = 0; i < 3; ++i) {
        std::string data = test::SampleText(5000 + i * 20000, 50 + i);
        TMemoryInput in(test::ZlibDeflateRaw(data, i * 4, i == 1 ? Z_FIXED : Z_DEFAULT_STRATEGY));
        TMemoryOutput out;
        EXPECT_EQ(inflater.Run(in, out), kInflateOk);
        EXPECT_TRUE(out.bytes == data);
    }
}

// Exceptions of the stages reach the caller unchanged.
TEST(InflateTest, StageExceptionsPassThrough) {
    struct TFailingOutput : TCodecOutput {
        void Write(const uint8_t*, size_t) override {
            throw Exception("File is larger than uncompressed size!");
        }
    } out;
    TMemoryInput in(test::ZlibDeflateRaw(test::SampleText(1000, 1), 6, Z_DEFAULT_STRATEGY));
    TInflater inflater;
    try {
        inflater.Run(in, out);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "File is larger than uncompressed size!");
    }
}

}  // namespace
}  // namespace nuva
