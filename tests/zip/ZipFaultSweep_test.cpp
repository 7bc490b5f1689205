// ZipFiles and UnzipToDir with every file-system operation failing in turn:
// the archive written is complete and readable or the call fails and leaves
// none; an extraction that fails never lists a file it did not write whole.
#include <gtest/gtest.h>

#include <map>

#include "../FaultSweep.h"
#include "TestSupport.h"
#include "zip/CompressUtil.h"

namespace nuva {
namespace {

using namespace nuva::test;

// Two items with GBK names; one larger than the writer's and the reader's
// pieces, part text and part noise so that it deflates into several blocks.
std::map<AnsiString, std::string> Items() {
    std::string large;
    uint32_t x = 12345;
    while (large.size() < 300 * 1024) {
        large += "\xD5\xDF\xBD\xF5 line of text ";
        for (int i = 0; i < 16; ++i) {
            x = x * 1103515245u + 12345u;
            large += static_cast<char>(x >> 24);
        }
    }
    return {{"\xD5\xDF.txt", "a&b"}, {"\xBD\xF5.bin", large}, {"e.txt", ""}};
}

std::map<AnsiString, std::string> ReadTree(const AnsiString& dir) {
    std::map<AnsiString, std::string> files;
    for (const TDirEntry& e : ListDirectoryEntries(dir))
        if (!(e.attributes & faDirectory)) files[e.name] = ReadAll(IncludeTrailingPathDelimiter(dir) + e.name);
    return files;
}

std::string Where(const TFaultRun& run) {
    return "fault at operation " + std::to_string(run.failAt) + " (" + run.failedOp + ")";
}

// With one worker the operations come in one order; with several the order
// differs from run to run, and each run must still end in an allowed way.
TEST(ZipFaultSweep, ZipFilesWritesAWholeArchiveOrFailsAndLeavesNone) {
    if (!FaultInjectionBuilt()) GTEST_SKIP() << kNoFaultInjection;
    for (int threads : {1, 3})
    for (TFaultError error : {TFaultError::IoError, TFaultError::DiskFull}) {
        SCOPED_TRACE(std::to_string(threads) + " workers");
        TTempDir dir;
        TStringList list;
        for (const auto& [name, bytes] : Items()) {
            WriteAll(dir / name, bytes);
            list.Add(dir / name);
        }
        const AnsiString zip = dir / "out.zip", check = dir / "check";
        bool ok = false;
        AnsiString raised;
        const int64_t swept = SweepFaults(
            "ZipFiles", error,
            [&] {
                raised.clear();
                try {
                    ok = ZipFiles(list, zip, threads);
                } catch (const Exception& e) {
                    ok = false;
                    raised = e.Message();
                }
            },
            [&](const TFaultRun& run) {
                const bool deleteFailed = std::string(run.failedOp) == "delete";
                if (!raised.empty() && !deleteFailed) {
                    EXPECT_FALSE(FileExists(zip)) << Where(run) << ": left after " << raised;
                }
                if (ok) {
                    EXPECT_TRUE(FileExists(zip)) << Where(run);
                }
                if (FileExists(zip) && !deleteFailed) {
                    // Whatever archive stays is whole: every entry extracts
                    // and equals its source; after a success, every item.
                    ForceDirectories(check);
                    try {
                        EXPECT_TRUE(UnzipToDir(zip, check)) << Where(run);
                    } catch (const Exception& e) {
                        ADD_FAILURE() << Where(run) << ": unreadable archive: " << e.Message();
                    }
                    const auto extracted = ReadTree(check);
                    if (ok) {
                        EXPECT_EQ(extracted, Items()) << Where(run);
                    }
                    for (const auto& [name, bytes] : extracted)
                        EXPECT_TRUE(Items().at(name) == bytes) << Where(run) << " " << name;
                    RemoveTree(check);
                }
                DeleteFile(zip);
            });
        EXPECT_GT(swept, 0);
    }
}

TEST(ZipFaultSweep, UnzipToDirListsOnlyWholeFiles) {
    if (!FaultInjectionBuilt()) GTEST_SKIP() << kNoFaultInjection;
    for (int threads : {1, 3})
    for (TFaultError error : {TFaultError::IoError, TFaultError::DiskFull}) {
        SCOPED_TRACE(std::to_string(threads) + " workers");
        TTempDir dir;
        TStringList list;
        const auto items = Items();
        for (const auto& [name, bytes] : items) {
            WriteAll(dir / name, bytes);
            list.Add(dir / name);
        }
        const AnsiString zip = dir / "in.zip", out = dir / "out";
        ASSERT_TRUE(ZipFiles(list, zip));
        bool ok = false;
        std::vector<AnsiString> written;
        const int64_t swept = SweepFaults(
            "UnzipToDir", error,
            [&] {
                written.clear();
                try {
                    ok = UnzipToDirListing(zip, out, written, threads);
                } catch (const Exception&) {
                    ok = false;
                }
            },
            [&](const TFaultRun& run) {
                for (const AnsiString& path : written) {
                    const auto item = items.find(ExtractFileName(path));
                    ASSERT_NE(item, items.end()) << Where(run) << " " << path;
                    EXPECT_TRUE(ReadAll(path) == item->second)
                        << Where(run) << ": listed but not whole: " << path;
                }
                if (ok) {
                    EXPECT_EQ(ReadTree(out), items) << Where(run);
                } else {
                    // What is on disk and not listed is no half-written file
                    // under an entry's name either.
                    for (const auto& [name, bytes] : ReadTree(out)) {
                        const auto item = items.find(name);
                        if (item != items.end()) {
                            EXPECT_TRUE(bytes == item->second)
                                << Where(run) << ": half-written file left: " << name;
                        }
                    }
                }
                RemoveTree(out);
            });
        EXPECT_GT(swept, 0);
    }
}

}  // namespace
}  // namespace nuva
