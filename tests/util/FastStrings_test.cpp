#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <typeinfo>
#include <vector>

#include "util/FastStrings.h"

namespace nuva {
namespace {

// Replace-all as plain string operations: leftmost, non-overlapping.
std::string ReplaceAllReference(const std::string& s, const std::string& find,
                                const std::string& with) {
    std::string out;
    size_t from = 0;
    for (size_t p = s.find(find); p != std::string::npos; p = s.find(find, from)) {
        out.append(s, from, p - from);
        out += with;
        from = p + find.size();
    }
    return out + s.substr(from);
}

std::string RandomText(std::mt19937& rng, const std::string& alphabet, size_t maxLen) {
    std::string s(rng() % (maxLen + 1), ' ');
    for (char& c : s) c = alphabet[rng() % alphabet.size()];
    return s;
}

TEST(FastStringsTest, SkipTableHoldsEachBytesLastDistanceFromTheEnd) {
    struct Case {
        std::string pattern;
        std::vector<std::pair<uint8_t, int32_t>> entries;
    } cases[] = {
        // 'a' at 0 and 3: the later position wins; the last byte 'b' keeps
        // the distance of its earlier position.
        {"abcab", {{'a', 1}, {'b', 3}, {'c', 2}, {'z', 5}, {0, 5}}},
        {"x", {{'x', 1}, {'y', 1}}},
        {"aaaa", {{'a', 1}, {'b', 4}}},
        {std::string("\xD5\x5C\x00", 3), {{0xD5, 2}, {0x5C, 1}, {0x00, 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        TSkipTable table;
        MakeSkipTable(c.pattern.data(), c.pattern.size(), table);
        for (const auto& [byte, skip] : c.entries) EXPECT_EQ(table[byte], skip) << int(byte);
    }
    // The no-case table is indexed by the upper-case byte.
    TSkipTable table;
    MakeSkipTableNoCase("abc", 3, table);
    EXPECT_EQ(table['A'], 2);
    EXPECT_EQ(table['B'], 1);
    EXPECT_EQ(table['a'], 3);
}

TEST(FastStringsTest, EmptyPatternRaisesTheGeneralError) {
    TSkipTable table;
    for (auto make : {&MakeSkipTable, &MakeSkipTableNoCase}) {
        try {
            make("x", 0, table);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "BufferLen is 0");
            EXPECT_EQ(typeid(e), typeid(Exception));
        }
    }
}

TEST(FastStringsTest, UpperCaseMapFoldsAsciiLetters) {
    const uint8_t* map = UpperCaseMap();
    for (int c = 'a'; c <= 'z'; ++c) EXPECT_EQ(map[c], c - 'a' + 'A');
    for (int c : {int('A'), int('Z'), int('0'), int('&'), int('<'), 0, 0x7F}) EXPECT_EQ(map[c], c);
}

TEST(FastStringsTest, SearchFindsTheFirstMatch) {
    struct Case {
        std::string buffer, pattern;
        bool caseSensitive;
        size_t expected;
    } cases[] = {
        {"hello world", "world", true, 6},
        {"aaa", "aa", true, 0},
        {"abcabd", "abd", true, 3},
        {"cbcab", "ab", true, 3},
        {"ab", "abc", true, kNoMatch},
        {"", "a", true, kNoMatch},
        {"xabcx", "ABC", true, kNoMatch},
        {std::string("a\0b\0c", 5), std::string("\0c", 2), true, 3},
        {"\xD5\x5C\xE5\x5C", "\x5C", true, 1},
        {"xabcx", "ABC", false, 1},
        {"xAbCx", "abc", false, 1},
        {"abd", "ABC", false, kNoMatch},
        {"AAB", "ab", false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.buffer + " / " + c.pattern);
        TSkipTable table;
        if (c.caseSensitive) {
            MakeSkipTable(c.pattern.data(), c.pattern.size(), table);
            EXPECT_EQ(SearchBuffer(c.buffer.data(), c.pattern.data(), c.buffer.size(),
                                   c.pattern.size(), table),
                      c.expected);
        } else {
            MakeSkipTableNoCase(c.pattern.data(), c.pattern.size(), table);
            EXPECT_EQ(SearchBufferNoCase(c.buffer.data(), c.pattern.data(), c.buffer.size(),
                                         c.pattern.size(), table),
                      c.expected);
        }
    }
}

TEST(FastStringsTest, SearchAgreesWithAPlainSearchOnRandomText) {
    std::mt19937 rng(20261208);
    for (int i = 0; i < 20000; ++i) {
        const std::string buffer = RandomText(rng, "abc\xD5", 40);
        std::string pattern = RandomText(rng, "abc\xD5", 5);
        if (pattern.empty()) pattern = "a";
        TSkipTable table;
        MakeSkipTable(pattern.data(), pattern.size(), table);
        const size_t expected = buffer.find(pattern);
        ASSERT_EQ(SearchBuffer(buffer.data(), pattern.data(), buffer.size(), pattern.size(), table),
                  expected == std::string::npos ? kNoMatch : expected)
            << buffer << " / " << pattern;
    }
}

TEST(FastStringsTest, ReplaceTable) {
    struct Case {
        std::string source, find, with;
        bool caseSensitive;
        std::string expected;
    } cases[] = {
        {"", "&", "&amp;", true, ""},
        {"", "", "x", true, ""},
        {"&&", "&", "&amp;", true, "&amp;&amp;"},
        {"aaa", "aa", "b", true, "ba"},
        {"ab", "abc", "x", true, "ab"},
        {"a&b&", "&", "", true, "ab"},
        {"abc", "abc", "xyz", true, "xyz"},
        {"xabcx", "ABC", "-", false, "x-x"},
        {"xabcx", "ABC", "-", true, "xabcx"},
        {"aaaa", "a", "aa", true, "aaaaaaaa"},
        {std::string("\0\0\0", 3), std::string("\0", 1), "z", true, "zzz"},
        {"\xD5\x5C\x5C", "\x5C", "/", true, "\xD5//"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source + " / " + c.find + " / " + c.with);
        EXPECT_EQ(FastReplace(c.source, c.find, c.with, c.caseSensitive), c.expected);
    }
}

TEST(FastStringsTest, EmptyFindReturnsTheSourceUnchanged) {
    EXPECT_EQ(FastReplace("abc", "", "x", true), "abc");
    EXPECT_EQ(FastReplace("abc", "", "", false), "abc");
}

// A capacity of 1 times 1.5, truncated, is still 1: the output must grow anyway.
TEST(FastStringsTest, GrowthMakesProgressFromACapacityOfOne) {
    struct Case {
        uint64_t capacity, next;
    } cases[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {10, 15}, {15, 22}};
    for (const Case& c : cases) ASSERT_EQ(detail::GrowCapacity(c.capacity), c.next) << c.capacity;
    // Sized 1 up front; the replacement reaches that capacity.
    EXPECT_EQ(FastReplace("a", "a", "b", true), "b");
    EXPECT_EQ(FastReplace("ab", "b", "c", true), "ac");
}

// The largest output is source * replacement / find; in 32 bits the product
// wraps for texts of a few megabytes.
TEST(FastStringsTest, CapacityIsComputedIn64Bits) {
    const uint64_t kMax = UINT64_MAX;
    struct Case {
        uint64_t source, find, with, expected;
    } cases[] = {
        {2, 1, 5, 10},  // "&&" -> "&amp;&amp;"
        {7, 2, 3, 10},  // 10.5 truncated
        {5, 3, 2, 5},   // a shorter replacement: the source length
        {5, 3, 3, 5},
        {70000, 1, 70000, 4900000000ull},  // wraps to 605032704 in 32 bits
        {uint64_t(1) << 32, 1, 2, uint64_t(1) << 33},
        {uint64_t(1) << 62, 1, 8, kMax},  // saturates instead of wrapping
        {(uint64_t(1) << 62) + 1, 2, kMax / 2, kMax},
    };
    for (const Case& c : cases)
        EXPECT_EQ(detail::ReplaceCapacity(c.source, c.find, c.with), c.expected)
            << c.source << " " << c.find << " " << c.with;
}

TEST(FastStringsTest, ReplaceAgreesWithAPlainReplaceOnRandomText) {
    std::mt19937 rng(77);
    for (int i = 0; i < 20000; ++i) {
        const std::string source = RandomText(rng, "ab&\xD5", 30);
        std::string find = RandomText(rng, "ab&", 3);
        if (find.empty()) find = "&";
        const std::string with = RandomText(rng, "xy&", 6);
        ASSERT_EQ(FastReplace(source, find, with, true), ReplaceAllReference(source, find, with))
            << source << " / " << find << " / " << with;
    }
}

}  // namespace
}  // namespace nuva
