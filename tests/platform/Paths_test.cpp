// The path helpers, on names whose trail byte is '\' or '|'. Paths are
// written with '/' and turned into the platform delimiter, so the same table
// runs on both builds; on Windows a byte-wise scan would fail every GBK row.
#include <gtest/gtest.h>

#include "PlatformTestText.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

struct TPathCase {
    AnsiString path;
    AnsiString fileName;  // ExtractFileName
    AnsiString filePath;  // ExtractFilePath
    AnsiString included;  // IncludeTrailingPathDelimiter
    AnsiString excluded;  // ExcludeTrailingPathDelimiter
};

std::vector<TPathCase> PathCases() {
    const AnsiString cheng = kGbkCheng, jin = kGbkJin, bar = kGbkTrailBar;
    return {
        {NativePath("dir/file.txt"), "file.txt", NativePath("dir/"), NativePath("dir/file.txt/"),
         NativePath("dir/file.txt")},
        {NativePath("dir/" + cheng), cheng, NativePath("dir/"), NativePath("dir/" + cheng + "/"),
         NativePath("dir/" + cheng)},
        {cheng, cheng, "", NativePath(cheng + "/"), cheng},
        {NativePath(cheng + "/" + jin), jin, NativePath(cheng + "/"),
         NativePath(cheng + "/" + jin + "/"), NativePath(cheng + "/" + jin)},
        {NativePath(cheng + "/"), "", NativePath(cheng + "/"), NativePath(cheng + "/"), cheng},
        {NativePath("a/" + bar + "/b" + bar), "b" + bar, NativePath("a/" + bar + "/"),
         NativePath("a/" + bar + "/b" + bar + "/"), NativePath("a/" + bar + "/b" + bar)},
        {NativePath("/"), "", NativePath("/"), NativePath("/"), ""},
        {"plain", "plain", "", NativePath("plain/"), "plain"},
        {"", "", "", "", ""},
    };
}

TEST(PathsTest, SplitAndDelimiterHelpersStepOverTrailBytes) {
    for (const TPathCase& c : PathCases()) {
        SCOPED_TRACE(AnsiToUtf8(c.path));
        EXPECT_EQ(ExtractFileName(c.path), c.fileName);
        EXPECT_EQ(ExtractFilePath(c.path), c.filePath);
        EXPECT_EQ(IncludeTrailingPathDelimiter(c.path), c.included);
        EXPECT_EQ(ExcludeTrailingPathDelimiter(c.path), c.excluded);
    }
}

TEST(PathsTest, LastDelimiterNeverMatchesATrailByte) {
    const AnsiString cheng = kGbkCheng, bar = kGbkTrailBar;
    const struct {
        AnsiString chars;
        AnsiString s;
        size_t expected;
    } cases[] = {
        {"\\", "a\\" + cheng, 1},
        {"\\", cheng, AnsiString::npos},
        {"\\", cheng + "\\", 2},
        {"|", "x|" + bar, 1},
        {"|", bar + bar, AnsiString::npos},
        {"\\|", "\\" + cheng + "|" + bar, 3},
        {".\\", "a.b\\" + cheng, 3},
        {"a", kGbkTrailA, AnsiString::npos},  // trail byte 'a' is no letter
        {"\\", "", AnsiString::npos},
        // A lone lead byte at the end is a character of its own.
        {"\\", "\\\xD5", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LastDelimiter(c.chars, c.s), c.expected) << AnsiToUtf8(c.s);
}

TEST(PathsTest, IsPathDelimiterOnlyAtCharacterStarts) {
    // a / D5 5C /: the 5C is a trail byte on Windows and no delimiter on POSIX.
    const AnsiString s = NativePath("a/") + kGbkCheng + PathDelim;
    const bool expected[] = {false, true, false, false, true};
    for (size_t i = 0; i < s.size(); ++i) EXPECT_EQ(IsPathDelimiter(s, i), expected[i]) << i;
    EXPECT_FALSE(IsPathDelimiter(s, s.size()));
}

TEST(PathsTest, ExtractFileExtTakesTheLastComponentsDot) {
    const struct {
        AnsiString path;
        AnsiString ext;
    } cases[] = {
        {"a.txt", ".txt"},
        {NativePath("d.e/f"), ""},
        {NativePath("d/" + kGbkCheng + ".zip"), ".zip"},
        {NativePath("d/x."), "."},
        {"noext", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ExtractFileExt(c.path), c.ext) << AnsiToUtf8(c.path);
}

TEST(PathsTest, AsciiCaseMappingKeepsTrailBytes) {
    const struct {
        AnsiString in;
        AnsiString upper;
        AnsiString lower;
    } cases[] = {
        {"abcXYZ09", "ABCXYZ09", "abcxyz09"},
        {kGbkTrailA + "a", kGbkTrailA + "A", kGbkTrailA + "a"},
        {"\x81\x41z", "\x81\x41Z", "\x81\x41z"},  // trail byte 'A' stays upper
        {kGbkZhongWen + "x" + kGbkCheng + "y", kGbkZhongWen + "X" + kGbkCheng + "Y",
         kGbkZhongWen + "x" + kGbkCheng + "y"},
        {"\xE0\xFF", "\xE0\xFF", "\xE0\xFF"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AnsiUpperCaseAscii(c.in), c.upper);
        EXPECT_EQ(AnsiLowerCaseAscii(c.in), c.lower);
    }
}

}  // namespace
}  // namespace nuva
