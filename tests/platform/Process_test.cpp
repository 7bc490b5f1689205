#include <gtest/gtest.h>

#include "PlatformTestText.h"
#include "TestSupport.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

TEST(ProcessTest, ExeDirectoryHoldsThisProgram) {
    AnsiString dir = ExeDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_TRUE(IsPathDelimiter(dir, dir.size() - 1)) << dir;
    bool found = false;
    for (const TDirEntry& e : ListDirectoryEntries(dir))
        found = found || AnsiLowerCaseAscii(e.name).rfind("platform_tests", 0) == 0;
    EXPECT_TRUE(found) << dir;
}

TEST(ProcessTest, ExeDirectoryOverrideIsUsedAndRemovable) {
    const AnsiString real = ExeDirectory();
    const struct {
        AnsiString set, expected;
    } cases[] = {
        {NativePath("some/where"), NativePath("some/where/")},
        {NativePath("some/where/"), NativePath("some/where/")},
        {NativePath("d/") + kGbkCheng, NativePath("d/") + kGbkCheng + PathDelim},
    };
    for (const auto& c : cases) {
        SetExeDirectoryOverride(c.set);
        EXPECT_EQ(ExeDirectory(), c.expected);
    }
    SetExeDirectoryOverride("");
    EXPECT_EQ(ExeDirectory(), real);
}

TEST(ProcessTest, LocalDateIsPlausible) {
    TLocalDate d = LocalDate();
    EXPECT_GE(d.year, 2024);
    EXPECT_LE(d.year, 2107);
    EXPECT_GE(d.month, 1);
    EXPECT_LE(d.month, 12);
    EXPECT_GE(d.day, 1);
    EXPECT_LE(d.day, 31);
}

}  // namespace
}  // namespace nuva
