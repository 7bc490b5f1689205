// What only the POSIX build has: '/' paths without drives, and names stored
// on disk in UTF-8 while the system sees them in GBK.
#include <gtest/gtest.h>

#include <fstream>

#include "PlatformTestText.h"
#include "TestSupport.h"
#include "platform/Platform.h"

namespace nuva {
namespace {

using namespace nuva::test;

TEST(PosixTest, AColonIsAnOrdinaryByte) {
    EXPECT_EQ(ExtractFileName("C:x.txt"), "C:x.txt");
    EXPECT_EQ(ExtractFilePath("C:x.txt"), "");
}

TEST(PosixTest, NamesOnDiskAreUtf8) {
    TTempDir tmp;
    const AnsiString names[] = {kGbkCheng, kGbkZhongWen + ".txt"};
    for (const AnsiString& name : names) {
        WriteAll(tmp / name, "x");
        std::ifstream byUtf8Name(AnsiToUtf8(tmp / name));
        EXPECT_TRUE(byUtf8Name.good()) << AnsiToUtf8(name);
        std::ifstream byGbkName(tmp / name);
        EXPECT_FALSE(byGbkName.good()) << AnsiToUtf8(name);
    }
}

}  // namespace
}  // namespace nuva
