// The old methods through streams made by the test encoders and by hand.
#include <gtest/gtest.h>

#include "LegacyEncoders.h"
#include "LegacyTestSupport.h"
#include "zip/codec/LegacyBitReader.h"

namespace nuva {
namespace {

using test::TBitWriter;

std::string Unshrink(const std::string& stream, int* result, size_t chunk = ~size_t(0)) {
    test::TDecoded d = test::DecodeMethod(1, 0, stream, int64_t(stream.size()), 0, chunk);
    *result = d.result;
    return d.bytes;
}

// ---------------------------------------------------------------------------
// Shrink
// ---------------------------------------------------------------------------

TEST(UnShrinkTest, RoundTripsThroughTheTestEncoder) {
    struct Case {
        const char* name;
        std::string data;
        test::TShrinkOptions options;
        bool expectUseWhileDefined;
        bool expectPartialClear;
    } cases[] = {
        {"one byte", "q", {}, false, false},
        {"a run (codes used while defined)", std::string(5000, 'a'), {}, true, false},
        {"text, cleared when the table is full", test::SampleText(60000, 3), {}, true, true},
        {"text, cleared early",
         test::SampleText(8000, 4),
         {{50, 400, 401, 1500}, false},
         true,
         true},
        {"random, table full without clearing",
         test::SampleRandom(40000, 5),
         {{}, false},
         false,
         false},
        {"random, cleared when full", test::SampleRandom(40000, 6), {}, false, true},
        {"runs", test::SampleRuns(30000, 7), {{100}, true}, true, true},
    };
    for (const auto& c : cases) {
        test::TShrinkStats stats;
        std::string stream = test::ShrinkEncode(c.data, c.options, &stats);
        EXPECT_EQ(stats.codesUsedWhileDefined > 0, c.expectUseWhileDefined) << c.name;
        EXPECT_EQ(stats.partialClears > 0, c.expectPartialClear) << c.name;
        for (size_t chunk : {size_t(1) << 20, size_t(5)}) {
            int r;
            std::string out = Unshrink(stream, &r, chunk);
            EXPECT_EQ(r, kLegacyOk) << c.name;
            EXPECT_TRUE(out == c.data) << c.name << ": " << out.size() << " of " << c.data.size();
        }
    }
}

// Hand-built code sequences (9-bit codes unless widened).
struct TCodes {
    std::vector<std::pair<uint32_t, unsigned>> codes;  // value, bits
    TCodes& Put(uint32_t v, unsigned bits = 9) {
        codes.push_back({v, bits});
        return *this;
    }
    std::string Bytes() const {
        TBitWriter w;
        for (auto& c : codes) w.Put(c.first, c.second);
        return w.Finish();
    }
};

// 'a', then control code 256/1 (one bit more) at each size from 9 up to
// `bits`.
TCodes GrownTo(unsigned bits) {
    TCodes c;
    c.Put('a');
    for (unsigned size = 9; size < bits; ++size) c.Put(256, size).Put(1, size);
    return c;
}

TEST(UnShrinkTest, HandBuiltSequences) {
    struct Case {
        const char* name;
        TCodes codes;
        int result;
        std::string bytes;
    } cases[] = {
        {"code used in the step that defines it", TCodes().Put('a').Put(257), kLegacyOk, "aaa"},
        {"chain of codes used while defined", TCodes().Put('x').Put(257).Put(258), kLegacyOk,
         "xxxxxx"},
        {"first code must be below 256", TCodes().Put(300).Put('a'), kLegacyInvalidData, ""},
        {"undefined code that is not the next free one", TCodes().Put('a').Put(300),
         kLegacyInvalidData, ""},
        {"next free code after a definition", TCodes().Put('a').Put('b').Put(258), kLegacyOk,
         "abbb"},
        {"undefined code two ahead", TCodes().Put('a').Put('b').Put(259), kLegacyInvalidData, ""},
        {"unknown control code", TCodes().Put('a').Put(256).Put(3).Put('b'), kLegacyInvalidData,
         ""},
        {"code size beyond 13 bits", GrownTo(14).Put('b', 14), kLegacyInvalidData, ""},
        {"code size of 13 bits", GrownTo(13).Put('b', 13), kLegacyOk, "ab"},
        // 257=ab 258=bc 259=ca 260=(257)d; the clear frees 258-260 (257 is 260's
        // parent); new codes then take 258, 259, 260 again.
        {"partial clear frees leaves, new codes take the lowest numbers",
         TCodes()
             .Put('a')
             .Put('b')
             .Put('c')
             .Put(257)
             .Put('d')
             .Put(256)
             .Put(2)
             .Put('e')
             .Put(258)
             .Put(257)
             .Put(260),
         kLegacyOk, "abcabdedeabdea"},
        {"a freed code is undefined after the clear",
         TCodes().Put('a').Put('b').Put('c').Put(257).Put('d').Put(256).Put(2).Put(259),
         kLegacyInvalidData, ""},
        // 257=aa, 258=aa; the clear frees both; 'a' then defines 257 with parent
        // 257 (the previous code): a loop that must not run the stack over.
        {"walk that would overflow the stack",
         TCodes().Put('a').Put('a').Put(257).Put(256).Put(2).Put('a').Put(257), kLegacyInvalidData,
         ""},
        {"empty input", TCodes(), kLegacyOk, ""},
    };
    for (const auto& c : cases) {
        int r;
        std::string out = Unshrink(c.codes.Bytes(), &r);
        EXPECT_EQ(r, c.result) << c.name;
        if (c.result == kLegacyOk) {
            EXPECT_EQ(out, c.bytes) << c.name;
        }
    }
}

// With no clear the table fills up to code 8191 and stays full; the search
// for the next free code stops at the end of the table.
TEST(UnShrinkTest, SearchForTheNextFreeCodeStopsAtTheEndOfTheTable) {
    std::string data = test::SampleRandom(30000, 8) + test::SampleText(30000, 9);
    test::TShrinkStats stats;
    std::string stream = test::ShrinkEncode(data, {{}, false}, &stats);
    EXPECT_EQ(stats.widenings, 4);
    int r;
    EXPECT_TRUE(Unshrink(stream, &r) == data);
    EXPECT_EQ(r, kLegacyOk);
}

// ---------------------------------------------------------------------------
// The shrink/reduce bit reader
// ---------------------------------------------------------------------------

TEST(LegacyBitReaderTest, ShortfallSetsTheEndFlagAndSuppliesZeroBits) {
    test::TMemoryInput in(std::string("\xAB\xCD", 2));
    TLegacyBitReader bits(in);
    struct Step {
        unsigned n;
        uint32_t value;
        bool ended;
    } steps[] = {
        {4, 0xB, false}, {8, 0xDA, false}, {8, 0xC, true},  // 4 bits left: shortfall
        {1, 0, true},    {16, 0, true},    {3, 0, true},    // nothing wraps afterwards
    };
    for (const Step& s : steps) {
        EXPECT_EQ(bits.Read(s.n), s.value) << s.n;
        EXPECT_EQ(bits.Ended(), s.ended) << s.n;
    }
    EXPECT_EQ(in.requestsAfterEnd, 0);
}

// ---------------------------------------------------------------------------
// Reduce
// ---------------------------------------------------------------------------

TEST(UnReduceTest, RoundTripsEveryFactor) {
    std::string text = test::SampleText(6000, 11);
    std::string withMarkers = text;
    for (size_t i = 0; i < withMarkers.size(); i += 37) withMarkers[i] = char(144);
    std::string longRepeat = test::SampleRandom(300, 12);
    longRepeat += longRepeat + longRepeat + std::string(900, 'z');
    std::string zerosFirst = std::string(40, '\0') + test::SampleText(500, 13);
    struct Case {
        const char* name;
        std::string data;
        size_t followers;
        bool matches;
        size_t zerosFromBefore;
    } cases[] = {
        {"text", text, 8, true, 0},
        {"text, literals only", text, 20, false, 0},
        {"marker bytes", withMarkers, 4, true, 0},
        {"long repeats", longRepeat, 63, true, 0},
        {"no follower sets", text, 0, true, 0},
        {"reference before the first byte yields zeros", zerosFirst, 1, true, 40},
    };
    for (int factor = 1; factor <= 4; ++factor) {
        for (const auto& c : cases) {
            test::TReduceOptions o;
            o.factor = factor, o.followers = c.followers, o.matches = c.matches,
            o.zerosFromBefore = c.zerosFromBefore;
            std::string stream = test::ReduceEncode(c.data, o);
            test::TDecoded d =
                test::DecodeMethod(uint16_t(1 + factor), 0, stream, int64_t(stream.size()),
                                   int64_t(c.data.size()), 13);
            EXPECT_EQ(d.result, kLegacyOk) << c.name << " factor " << factor;
            EXPECT_TRUE(d.bytes == c.data) << c.name << " factor " << factor;
        }
    }
}

TEST(UnReduceTest, StopsWithInvalidDataOnceTheInputEnds) {
    std::string data = test::SampleText(3000, 14);
    test::TReduceOptions o;
    o.factor = 2;
    std::string stream = test::ReduceEncode(data, o);
    // Asking for more than the stream holds runs into its end.
    test::TDecoded d =
        test::DecodeMethod(3, 0, stream, int64_t(stream.size()), int64_t(data.size()) + 100000);
    EXPECT_EQ(d.result, kLegacyInvalidData);
    EXPECT_LE(d.bytes.size(), 32768u);
    // A factor outside 1..4.
    test::TMemoryInput in(stream);
    test::TMemoryOutput out;
    EXPECT_EQ(TUnReducer().Run(in, out, 5, 10), kLegacyInvalidData);
}

// ---------------------------------------------------------------------------
// Implode
// ---------------------------------------------------------------------------

TEST(ExplodeTest, RoundTripsEveryWindowAndTreeCombination) {
    std::string text = test::SampleText(7000, 21);
    std::string runs = test::SampleRuns(6000, 22);
    std::string zerosFirst = std::string(70, '\0') + test::SampleText(700, 23);
    struct Case {
        const char* name;
        std::string data;
        size_t zerosFromBefore;
    } cases[] = {
        {"text", text, 0},
        {"runs (long lengths)", runs, 0},
        {"reference before the first byte yields zeros", zerosFirst, 70},
        {"one byte", "k", 0},
    };
    for (uint16_t flags : {0, 2, 4, 6}) {
        for (const auto& c : cases) {
            test::TImplodeOptions o;
            o.flags = flags, o.zerosFromBefore = c.zerosFromBefore;
            std::string stream = test::ImplodeEncode(c.data, o);
            for (int64_t compressedSize : {int64_t(stream.size()), int64_t(300000)}) {
                test::TDecoded d = test::DecodeMethod(6, flags, stream, compressedSize,
                                                      int64_t(c.data.size()), 11);
                EXPECT_EQ(d.result, kLegacyOk) << c.name << " flags " << flags;
                EXPECT_TRUE(d.bytes == c.data) << c.name << " flags " << flags;
            }
        }
    }
}

TEST(ExplodeTest, TreeDescriptionRunsAreCheckedAgainstTheRoomLeft) {
    auto description = [](std::vector<uint8_t> runs) {
        std::string s(1, char(runs.size() - 1));
        for (uint8_t r : runs) s += char(r);
        return s;
    };
    std::vector<uint8_t> sixtyFour(4, 0xF5);  // 4 runs of 16 codes of 6 bits
    std::vector<uint8_t> tooMany = sixtyFour;
    tooMany.push_back(0xF5);  // 16 more than the tree holds
    std::vector<uint8_t> tooFew(3, 0xF5);
    std::vector<uint8_t> literalOverflow(17, 0xF7);  // 272 codes for a 256-code tree
    struct Case {
        const char* name;
        uint16_t flags;
        std::string stream;
        int result;
    } cases[] = {
        {"length tree with a run past its end", 0, description(tooMany) + description(sixtyFour),
         kLegacyBadTree},
        {"length tree short of its codes", 0, description(tooFew) + description(sixtyFour),
         kLegacyBadTree},
        {"distance tree with a run past its end", 0, description(sixtyFour) + description(tooMany),
         kLegacyBadTree},
        {"literal tree with a run past its end", 4, description(literalOverflow), kLegacyBadTree},
        {"description cut short", 0, description(sixtyFour).substr(0, 3), kLegacyBadTree},
        {"incomplete tree", 0, description({0xF5, 0xF5, 0xF5, 0xF6}) + description(sixtyFour), 1},
        {"over-subscribed tree", 0, description({0xF5, 0xF5, 0xF5, 0xF4}) + description(sixtyFour),
         2},
        {"complete trees, no data", 0, description(sixtyFour) + description(sixtyFour),
         kLegacyInvalidData},
    };
    for (const auto& c : cases) {
        test::TDecoded d = test::DecodeMethod(6, c.flags, c.stream, int64_t(c.stream.size()), 100);
        EXPECT_EQ(d.result, c.result) << c.name;
        EXPECT_TRUE(d.bytes.empty()) << c.name;
    }
}

}  // namespace
}  // namespace nuva
