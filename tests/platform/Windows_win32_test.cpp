// What only the Windows build has: drive letters, share modes that other
// openers feel, and 8.3 short names.
#include <gtest/gtest.h>

#include "PlatformTestText.h"
#include "TestSupport.h"
#include "platform/Platform.h"
#include "platform/Stream.h"

namespace nuva {
namespace {

using namespace nuva::test;

// LC_ALL=zh_CN.UTF-8 in the Wine environment makes the system code page GBK.
TEST(WindowsTest, SystemCodePageIsGbk) {
    EXPECT_EQ(SystemCodePage(), 936u);
}

TEST(WindowsTest, DriveColonSplitsLikeADelimiter) {
    const struct {
        AnsiString path, name, dir;
    } cases[] = {
        {"C:x.txt", "x.txt", "C:"},
        {"C:\\x.txt", "x.txt", "C:\\"},
        {"C:", "", "C:"},
        {"D:" + kGbkCheng, kGbkCheng, "D:"},
        {"C:\\" + kGbkCheng + "\\" + kGbkJin, kGbkJin, "C:\\" + kGbkCheng + "\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtractFileName(c.path), c.name) << c.path;
        EXPECT_EQ(ExtractFilePath(c.path), c.dir) << c.path;
    }
}

// ForceDirectories below a drive root: the walk up stops at "C:".
TEST(WindowsTest, ForceDirectoriesFromADriveRoot) {
    TTempDir tmp;
    ASSERT_EQ(tmp.Path()[1], ':') << tmp.Path();
    const AnsiString drive = tmp.Path().substr(0, 2);
    const AnsiString top = drive + "\\nuva-force-" + kGbkCheng;
    const AnsiString paths[] = {top + "\\a\\" + kGbkJin, top + "\\b\\"};
    for (const AnsiString& p : paths) {
        EXPECT_TRUE(ForceDirectories(p)) << p;
        EXPECT_TRUE(DirectoryExists(p)) << p;
    }
    EXPECT_TRUE(ForceDirectories(drive + "\\"));
    EXPECT_TRUE(ForceDirectories(drive));
    EXPECT_TRUE(RemoveTree(top));
    EXPECT_FALSE(ForceDirectories("Q:\\no\\such\\drive"));
}

TEST(WindowsTest, ShareModesBindOtherOpeners) {
    TTempDir tmp;
    const AnsiString path = tmp / "shared";
    WriteAll(path, "x");
    const struct {
        unsigned first, second;
        bool secondOpens;
    } cases[] = {
        {fmOpenRead | fmShareExclusive, fmOpenRead | fmShareDenyNone, false},
        {fmOpenRead | fmShareCompat, fmOpenRead | fmShareDenyNone, false},
        {fmOpenRead | fmShareDenyWrite, fmOpenRead | fmShareDenyWrite, true},
        {fmOpenRead | fmShareDenyWrite, fmOpenReadWrite | fmShareDenyNone, false},
        {fmOpenRead | fmShareDenyNone, fmOpenReadWrite | fmShareDenyNone, true},
        {fmOpenWrite | fmShareDenyRead, fmOpenRead | fmShareDenyNone, false},
        {fmOpenWrite | fmShareDenyRead, fmOpenWrite | fmShareDenyNone, true},
        {fmOpenReadWrite | fmShareDenyNone, fmOpenRead | fmShareDenyWrite, false},
    };
    for (const auto& c : cases) {
        TFileStream first(path, c.first);
        bool opened = true;
        try {
            TFileStream second(path, c.second);
        } catch (const EFOpenError&) {
            opened = false;
        }
        EXPECT_EQ(opened, c.secondOpens) << std::hex << c.first << " then " << c.second;
    }
}

TEST(WindowsTest, LongNamesHaveAShortForm) {
    TTempDir tmp;
    const AnsiString path = tmp / "a rather long file name.text";
    WriteAll(path, "x");
    AnsiString shortName = ExtractFileName(ShortPathName(path));
    EXPECT_NE(shortName, "a rather long file name.text");
    EXPECT_LE(shortName.size(), 12u) << shortName;
    EXPECT_EQ(shortName.find(' '), AnsiString::npos) << shortName;
}

}  // namespace
}  // namespace nuva
