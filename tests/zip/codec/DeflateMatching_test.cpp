// The matcher's choices, read back from the symbols of the stream: where
// matches start, how far back they reach, and what the window slide keeps.
#include <gtest/gtest.h>

#include "DeflateTestSupport.h"

namespace nuva::test::deflatetest {
namespace {

std::vector<TSymbol> SymbolsOf(const Bytes& input, int level) {
    TCompressed out = Compress(input, level);
    EXPECT_EQ(out.entry.method, 8);
    TSymbolDecoder decoder(out.bytes);
    std::vector<TSymbol> symbols = AllSymbols(decoder.Decode());
    EXPECT_TRUE(decoder.out == input);
    return symbols;
}

const TSymbol* SymbolAt(const std::vector<TSymbol>& symbols, size_t offset) {
    for (const TSymbol& s : symbols)
        if (s.offset == offset) return &s;
    return nullptr;
}

TEST(DeflateMatchingTest, RunOfOneByteStartsWithTwoLiterals) {
    // Position 0 is never a candidate, so the second byte is a literal too.
    // The lazy levels insert every string and match at distance 1; the fast
    // levels skip the strings inside a long match, so after the first match
    // the nearest candidate is the previous match's start, 258 back.
    const Bytes input(10000, 'a');
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE("level " + std::to_string(level));
        const std::vector<TSymbol> s = SymbolsOf(input, level);
        ASSERT_GE(s.size(), 4u);
        EXPECT_EQ(s[0].literal, 'a');
        EXPECT_EQ(s[1].literal, 'a');
        for (size_t i = 2; i < s.size(); ++i) {
            ASSERT_EQ(s[i].literal, -1) << i;
            if (i + 1 < s.size()) {
                EXPECT_EQ(s[i].length, 258) << i;
            }
            const int expectedDistance = level >= 4 || i == 2 ? 1 : 258;
            EXPECT_EQ(s[i].distance, expectedDistance) << i;
        }
        EXPECT_EQ(s.back().length, (10000 - 2) % 258);
    }
}

TEST(DeflateMatchingTest, ThreeByteMatchFartherThan4096IsNotWorthItAtLazyLevels) {
    // "c" MARKER "a" filler "d" MARKER "b" filler: the second marker can only
    // match the first one, exactly marker-length long. Filler is lower case,
    // markers upper case.
    struct Case {
        const char* marker;
        size_t distance;
        int level;
        bool matched;
    } cases[] = {
        {"QXZ", 4096, 6, true},  {"QXZ", 4097, 6, false},  {"QXZ", 9000, 6, false},
        {"QXZW", 4097, 6, true}, {"QXZW", 30000, 6, true}, {"QXZ", 4097, 4, false},
        {"QXZ", 4097, 9, false}, {"QXZ", 9000, 1, true},   {"QXZ", 9000, 3, true},
    };
    for (const Case& c : cases) {
        const std::string marker = c.marker;
        const size_t gap = c.distance - marker.size() - 2;
        Bytes input = ToBytes("c" + marker + "a");
        const Bytes filler = RandomBytes(gap + 3000, 21, 26, 'a');
        input.insert(input.end(), filler.begin(), filler.begin() + gap);
        input.push_back('d');
        const size_t second = input.size();
        const std::string tail = marker + "b";
        input.insert(input.end(), tail.begin(), tail.end());
        input.insert(input.end(), filler.begin() + gap, filler.end());

        SCOPED_TRACE(marker + " at " + std::to_string(c.distance) + ", level " +
                     std::to_string(c.level));
        const std::vector<TSymbol> s = SymbolsOf(input, c.level);
        const TSymbol* at = SymbolAt(s, second);
        ASSERT_NE(at, nullptr);
        if (c.matched) {
            EXPECT_EQ(at->literal, -1);
            EXPECT_EQ(at->distance, static_cast<int>(c.distance));
            EXPECT_EQ(at->length, static_cast<int>(marker.size()));
        } else {
            EXPECT_EQ(at->literal, 'Q');
        }
    }
}

TEST(DeflateMatchingTest, NoLazyLevelEverUsesAFarThreeByteMatch) {
    const Bytes inputs[] = {EnglishLikeText(150000, 31), RandomBytes(150000, 32, 12, 'a'),
                            GbkXml(2000)};
    for (const Bytes& input : inputs) {
        for (int level = 4; level <= 9; ++level) {
            int far3 = 0, far4 = 0;
            for (const TSymbol& s : SymbolsOf(input, level)) {
                if (s.length == 3 && s.distance > 4096) ++far3;
                if (s.length >= 4 && s.distance > 4096) ++far4;
            }
            EXPECT_EQ(far3, 0) << level;
            EXPECT_GT(far4, 0) << level;
        }
    }
}

TEST(DeflateMatchingTest, SlidingWindowKeepsMatchingUpTo32506Back) {
    // 80000 random bytes (the window has slid at 65274), then 600 bytes
    // copied from `distance` back, most of them from before the slide point.
    // The farthest distance searched is 32506.
    struct Case {
        size_t distance;
        bool found;
    } cases[] = {{1000, true}, {20000, true}, {32505, true}, {32507, false}, {40000, false}};
    const Bytes random = RandomBytes(80000, 41);
    for (const Case& c : cases) {
        Bytes input = random;
        for (size_t i = 0; i < 600; ++i) input.push_back(input[input.size() - c.distance]);
        const Bytes trailer = RandomBytes(500, 42);
        input.insert(input.end(), trailer.begin(), trailer.end());
        for (int level : {1, 3, 4, 6, 9}) {
            int copies = 0, tooFar = 0;
            for (const TSymbol& s : SymbolsOf(input, level)) {
                if (s.literal == -1 && s.offset >= 80000 && s.offset < 80600 &&
                    s.distance == static_cast<int>(c.distance))
                    copies += s.length;
                if (s.distance > 32506) ++tooFar;
            }
            EXPECT_EQ(tooFar, 0) << c.distance << " level " << level;
            if (c.found)
                EXPECT_GE(copies, 590) << c.distance << " level " << level;
            else
                EXPECT_EQ(copies, 0) << c.distance << " level " << level;
        }
    }
}

}  // namespace
}  // namespace nuva::test::deflatetest
