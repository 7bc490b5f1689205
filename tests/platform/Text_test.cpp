#include <gtest/gtest.h>

#include "PlatformTestText.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

struct TConversionCase {
    const char* name;
    AnsiString gbk;
    WideString utf16;
    std::string utf8;
};

const TConversionCase kConversions[] = {
    {"ascii", "abc 123", u"abc 123", "abc 123"},
    {"zhongwen", kGbkZhongWen, u"中文", "\xE4\xB8\xAD\xE6\x96\x87"},
    {"cheng_trail_5c", kGbkCheng, u"誠", "\xE8\xAA\xA0"},
    {"jin_trail_5c", kGbkJin, u"錦", "\xE9\x8C\xA6"},
    {"trail_7c", kGbkTrailBar, u"亅", "\xE4\xBA\x85"},
    {"mixed", "a" + kGbkCheng + "\\" + kGbkJin + "|b", u"a誠\\錦|b",
     "a\xE8\xAA\xA0\\\xE9\x8C\xA6|b"},
    {"ideographic_space", "\xA1\xA1", u"\u3000", "\xE3\x80\x80"},
    {"euro_single_byte", "\x80", u"\u20AC", "\xE2\x82\xAC"},
    {"embedded_nul", AnsiString("a\0b", 3), WideString(u"a\0b", 3), std::string("a\0b", 3)},
    {"empty", "", u"", ""},
};

TEST(TextTest, GbkConvertsBothWaysToUtf16AndUtf8) {
    for (const TConversionCase& c : kConversions) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(AnsiToWide(c.gbk), c.utf16);
        EXPECT_EQ(WideToAnsi(c.utf16), c.gbk);
        EXPECT_EQ(AnsiToUtf8(c.gbk), c.utf8);
        EXPECT_EQ(Utf8ToAnsi(c.utf8), c.gbk);
    }
}

// What cannot be converted becomes '?' the same way on both builds.
TEST(TextTest, UnconvertibleTextBecomesQuestionMarks) {
    const struct {
        const char* name;
        AnsiString gbk;
        WideString utf16;
    } toWide[] = {
        {"lone lead byte at the end", "a\x81", u"a?"},
        {"lone lead byte alone", "\xD5", u"?"},
    };
    for (const auto& c : toWide) {
        EXPECT_EQ(AnsiToWide(c.gbk), c.utf16) << c.name;
        EXPECT_EQ(AnsiToUtf8(c.gbk), AnsiToUtf8(WideToAnsi(c.utf16))) << c.name;
    }
    const struct {
        const char* name;
        WideString utf16;
        std::string utf8;
        AnsiString gbk;
    } toAnsi[] = {
        {"outside the basic plane: one '?' per unit", u"a\U0001F600b",
         "a\xF0\x9F\x98\x80"
         "b",
         "a??b"},
        {"lone surrogate", WideString(1, char16_t(0xD800)), "", "?"},
        {"not in GBK", u"\u0E01", "\xE0\xB8\x81", "?"},  // Thai ko kai
    };
    for (const auto& c : toAnsi) {
        EXPECT_EQ(WideToAnsi(c.utf16), c.gbk) << c.name;
        if (!c.utf8.empty()) {
            EXPECT_EQ(Utf8ToAnsi(c.utf8), c.gbk) << c.name;
        }
    }
}

TEST(TextTest, IsLeadByteCoversExactly81ToFE) {
    const struct {
        unsigned char byte;
        bool lead;
    } cases[] = {
        {0x00, false}, {0x40, false}, {0x5C, false}, {0x7F, false}, {0x80, false}, {0x81, true},
        {0xA1, true},  {0xD5, true},  {0xE5, true},  {0xFE, true},  {0xFF, false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsLeadByte(c.byte), c.lead) << std::hex << int(c.byte);
    int leads = 0;
    for (int b = 0; b < 256; ++b) leads += IsLeadByte(static_cast<unsigned char>(b));
    EXPECT_EQ(leads, 0xFE - 0x81 + 1);
}

// The 256-byte upper-case map that the fast search builds: only a-z change.
TEST(TextTest, UpperCaseMapOverAllBytesChangesOnlyAsciiLetters) {
    char map[256];
    for (int i = 0; i < 256; ++i) map[i] = static_cast<char>(i);
    UpperCaseBuffer(map, sizeof map);
    for (int i = 0; i < 256; ++i) {
        int expected = (i >= 'a' && i <= 'z') ? i - 'a' + 'A' : i;
        EXPECT_EQ(static_cast<unsigned char>(map[i]), expected) << "byte " << i;
    }
}

TEST(TextTest, UpperCaseBufferLeavesGbkTextWhole) {
    AnsiString s = kGbkZhongWen + "abc" + kGbkCheng + "z";
    UpperCaseBuffer(&s[0], s.size());
    EXPECT_EQ(s, kGbkZhongWen + "ABC" + kGbkCheng + "Z");
}

TEST(TextTest, AnsiAndOemAreTheSameCodePageAndRoundTrip) {
    const AnsiString cases[] = {
        "",
        "plain.txt",
        kGbkZhongWen,
        kGbkCheng + kGbkJin,
        kGbkZhongWen + "\\sub\\" + kGbkCheng + ".txt",
        "\xA1\xA1" + kGbkTrailBar,
    };
    for (const AnsiString& s : cases) {
        EXPECT_EQ(AnsiToOem(s), s);
        EXPECT_EQ(OemToAnsi(s), s);
        EXPECT_EQ(OemToAnsi(AnsiToOem(s)), s);
    }
}

}  // namespace
}  // namespace nuva
