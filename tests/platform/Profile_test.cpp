// Profile strings: the rules of GetPrivateProfileStringA, pinned on a file
// that exercises each of them. The Windows build asks the system; the POSIX
// reader must answer the same.
#include <gtest/gtest.h>

#include "PlatformTestText.h"
#include "TestSupport.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

const char kIni[] =
    "; a comment before any section\r\n"
    "[Action]\r\n"
    "has_body=1\r\n"
    "  Is_Compress =  0  \r\n"
    "dq=\"quoted value\"\r\n"
    "sq='single'\r\n"
    "mixed=\"mismatch'\r\n"
    "open=\"only open\r\n"
    "inner= \" padded \" \r\n"
    "both=\"a\" \"b\"\r\n"
    "lone=\"\r\n"
    "empty=\r\n"
    "emptyquotes=\"\"\r\n"
    "novalue\r\n"
    "novalue=later\r\n"
    "dup=first\r\n"
    "dup=second\r\n"
    "semi=value ; not a comment\r\n"
    ";commented=yes\r\n"
    "eq=a=b\r\n"
    "tab=\t\tx\t\r\n"
    "ctl=\x01kept\x01\r\n"
    "[action]\r\n"
    "has_body=from the second section\r\n"
    "only_in_second=x\r\n"
    "[ Spaced ] trailing text\r\n"
    "k=spaced section\r\n"
    "[Unclosed\r\n"
    "after_unclosed=still spaced\r\n"
    "[a]b]\r\n"
    "k=last bracket\r\n"
    "[\xD6\xD0\xCE\xC4]\r\n"  // 中文
    "\xD5\x5C=\xE5\x5C\r\n"   // 誠=錦
    "[\x81\x5D]\r\n"          // a name whose trail byte is ']'
    "k=trail bracket\r\n"
    "[\xA3\xC1\xA3\xC2]\r\n"  // full-width ＡＢ
    "k=full width\r\n"
    "[\x81\x61]\r\n"  // trail byte 'a'
    "k=trail a\r\n";

struct TProfileCase {
    AnsiString section, key, def, expected;
};

const TProfileCase kCases[] = {
    // Names: trimmed, ASCII case-insensitive.
    {"Action", "has_body", "D", "1"},
    {"ACTION", "HAS_BODY", "D", "1"},
    {" action ", " Has_Body ", "D", "1"},
    {"Action", "is_compress", "D", "0"},
    // Values: trimmed, one pair of matching quotes (" or ') removed.
    {"Action", "dq", "D", "quoted value"},
    {"Action", "sq", "D", "single"},
    {"Action", "mixed", "D", "\"mismatch'"},
    {"Action", "open", "D", "\"only open"},
    {"Action", "inner", "D", " padded "},
    {"Action", "both", "D", "a\" \"b"},
    {"Action", "lone", "D", "\""},
    {"Action", "eq", "D", "a=b"},
    {"Action", "tab", "D", "x"},
    {"Action", "ctl", "D", "\x01kept\x01"},
    {"Action", "semi", "D", "value ; not a comment"},
    // Empty values are values; a key without '=' gives the default, and the
    // first line of a key wins even then.
    {"Action", "empty", "D", ""},
    {"Action", "emptyquotes", "D", ""},
    {"Action", "novalue", "D", "D"},
    {"Action", "dup", "D", "first"},
    // ';' starts no comment: the line's key keeps the ';'.
    {"Action", "commented", "D", "D"},
    {"Action", ";commented", "D", "yes"},
    // Only the first section of a name is read.
    {"action", "only_in_second", "D", "D"},
    // Section lines: the name runs to the last ']'; without one the line is
    // skipped and the section goes on.
    {"Spaced", "k", "D", "spaced section"},
    {"Spaced", "after_unclosed", "D", "still spaced"},
    {"Unclosed", "after_unclosed", "D", "D"},
    {"a]b", "k", "D", "last bracket"},
    {"a", "k", "D", "D"},
    // GBK names: bytes as they are, trail bytes never cut a name, case
    // folding only in ASCII.
    {kGbkZhongWen, kGbkCheng, "D", kGbkJin},
    {"\x81\x5D", "k", "D", "trail bracket"},
    {"\xA3\xC1\xA3\xC2", "k", "D", "full width"},
    {"\xA3\xE1\xA3\xE2", "k", "D", "D"},  // full-width ａｂ
    {"\x81\x61", "k", "D", "trail a"},
    {"\x81\x41", "k", "D", "D"},
    // The default: only when the section or the key is missing; it loses its
    // trailing spaces (never its first byte) and then one pair of quotes.
    {"Action", "missing", "dflt", "dflt"},
    {"Missing", "has_body", "dflt", "dflt"},
    {"Action", "missing", "dflt  ", "dflt"},
    {"Action", "missing", "  lead", "  lead"},
    {"Action", "missing", "tab\t", "tab\t"},
    {"Action", "missing", "  ", " "},
    {"Action", "missing", "\"qd\"", "qd"},
    {"Action", "missing", "'x' ", "x"},
    {"Action", "missing", " \"x\"", " \"x\""},
    {"Action", "missing", "\"mis'", "\"mis'"},
    {"Action", "missing", "", ""},
};

TEST(ProfileTest, FollowsThePlatformRules) {
    TTempDir tmp;
    const AnsiString ini = tmp / (kGbkCheng + ".ini");
    WriteAll(ini, kIni);
    for (const TProfileCase& c : kCases) {
        EXPECT_EQ(GetProfileString(ini, c.section, c.key, c.def), c.expected)
            << "[" << c.section << "] " << c.key << " default \"" << c.def << "\"";
    }
}

TEST(ProfileTest, MissingFileGivesTheDefault) {
    TTempDir tmp;
    const struct {
        AnsiString def, expected;
    } cases[] = {{"0", "0"}, {"dflt  ", "dflt"}, {"'q'", "q"}, {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(GetProfileString(tmp / "missing.ini", "Action", "has_body", c.def), c.expected);
}

TEST(ProfileTest, LongValuesComeBackWhole) {
    TTempDir tmp;
    const std::string value(5000, 'v');
    WriteAll(tmp / "long.ini", "[s]\nk=" + value + "\n");
    EXPECT_EQ(GetProfileString(tmp / "long.ini", "s", "k", ""), value);
}

}  // namespace
}  // namespace nuva
