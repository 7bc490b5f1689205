// A worker that meets a read error: the pack fails with the error the single
// thread meets, and no archive is left.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "zip/CompressUtil.h"

namespace nuva {
namespace {

using namespace nuva::test;

// Opens and stats like a file but fails its first read (EIO at address 0).
constexpr char kUnreadable[] = "/proc/self/mem";

std::string PackError(const TStringList& list, const AnsiString& zip, int threads) {
    try {
        ZipFiles(list, zip, threads);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "";
}

TEST(ZipWriterWorkersPosix, ReadErrorFailsThePackAsWithOneThread) {
    if (!FileExists(kUnreadable)) GTEST_SKIP() << kUnreadable << " is not there";
    TTempDir dir;
    TStringList list;
    for (int i = 0; i < 6; ++i) {
        WriteAll(dir / ("f" + std::to_string(i)), std::string(50000 + i, 'a' + i));
        list.Add(dir / ("f" + std::to_string(i)));
        if (i == 3) list.Add(kUnreadable);
    }
    const AnsiString zip = dir / "out.zip";
    const std::string one = PackError(list, zip, 1);
    ASSERT_NE(one, "") << "reading " << kUnreadable << " did not fail";
    EXPECT_FALSE(FileExists(zip));
    for (int threads : {2, 8}) {
        EXPECT_EQ(PackError(list, zip, threads), one) << threads << " workers";
        EXPECT_FALSE(FileExists(zip)) << threads << " workers";
    }
}

}  // namespace
}  // namespace nuva
