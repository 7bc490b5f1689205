// A worker that meets a read error: the pack fails with the error the single
// thread meets, and no archive is left. No worker outlives the call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <dirent.h>

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

// The threads of this process, from /proc/self/task; -1 where it cannot be read.
int ThreadCount() {
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return -1;
    int count = 0;
    while (const dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

TEST(ZipWriterWorkersPosix, NoWorkerOutlivesTheCall) {
    if (ThreadCount() < 1) GTEST_SKIP() << "/proc/self/task is not there";
    TTempDir dir;
    TStringList list;
    for (int i = 0; i < 20; ++i) {
        WriteAll(dir / ("f" + std::to_string(i)), std::string(20000, 'a' + i));
        list.Add(dir / ("f" + std::to_string(i)));
    }
    const int before = ThreadCount();
    ASSERT_TRUE(ZipFiles(list, dir / "ok.zip", 8));
    EXPECT_EQ(ThreadCount(), before) << "after a pack that succeeded";
    list.Add(kUnreadable);
    if (FileExists(kUnreadable)) {
        EXPECT_THROW(ZipFiles(list, dir / "failed.zip", 8), Exception);
        EXPECT_EQ(ThreadCount(), before) << "after a pack that failed";
    }
}

}  // namespace
}  // namespace nuva
