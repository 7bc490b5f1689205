#include "zip/CompressUtil.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
#include "WriterTestSupport.h"
#include "ZipBuilder.h"

namespace nuva {
namespace {

TEST(CompressUtil, UnzipAndListCreatesOrAppendsAndListsOnlyWrittenFiles) {
    test::TTempDir dir;
    test::WriteAll(dir / "a.zip",
                   test::BuildZip({{"one.txt", "1"}, {"d/", ""}, {"two.txt", "2"}}).bytes);
    ForceDirectories(dir / "out");
    test::WriteAll(dir / "out/before.txt", "old");

    std::unique_ptr<TStringList> list;
    EXPECT_TRUE(UnzipAndList(dir / "a.zip", dir / "out", list));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Text("|"), dir / "out/one.txt" + "|" + dir / "out/two.txt" + "|");

    auto existing = std::make_unique<TStringList>();
    existing->Add("kept");
    EXPECT_TRUE(UnzipAndList(dir / "a.zip", dir / "out2/", existing));
    EXPECT_EQ(existing->Text("|"),
              "kept|" + dir / "out2/one.txt" + "|" + dir / "out2/two.txt" + "|");
}

TEST(CompressUtil, UnzipAndListReportsFailedEntries) {
    test::TTestEntry bad{"bad.txt", "data"};
    bad.crc = 1;
    test::TTempDir dir;
    test::WriteAll(dir / "a.zip", test::BuildZip({{"good.txt", "g"}, bad}).bytes);
    std::unique_ptr<TStringList> list;
    EXPECT_FALSE(UnzipAndList(dir / "a.zip", dir / "out", list));
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Text("|"), dir / "out/good.txt" + "|");
}

TEST(CompressUtil, ErrorsPassOnAndLeaveTheListAlone) {
    test::TTempDir dir;
    test::WriteAll(dir / "bad.zip", "this is no archive but long enough to be searched");
    std::unique_ptr<TStringList> list;
    try {
        UnzipAndList(dir / "bad.zip", dir / "out", list);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Incomplete Zip File");
    }
    EXPECT_FALSE(list);
}

TStringList ListOf(const std::vector<AnsiString>& paths) {
    TStringList list;
    for (const AnsiString& p : paths) list.Add(p);
    return list;
}

TEST(CompressUtil, ZipFilesAlwaysWritesAFreshArchive) {
    // The old archive holds a stale entry and the work file's earlier
    // content under the very same DOS time: neither may survive.
    test::TTempDir dir;
    test::TTestEntry stale{"stale.txt", "from an interrupted transaction"};
    test::TTestEntry work{"work.txt", "old content"};
    stale.dosDateTime = work.dosDateTime = test::kFixedDosTime;
    test::WriteAll(dir / "sender.zip", test::BuildZip({stale, work}).bytes);
    test::WriteSource(dir / "work.txt", "new content");

    EXPECT_TRUE(ZipFiles(ListOf({dir / "work.txt"}), dir / "sender.zip"));
    test::ExpectExtractsTo(dir / "sender.zip", {{"work.txt", "new content"}});
    test::ExpectOutsideReadersAccept(dir / "sender.zip");

    // A file there that is no archive is replaced as well.
    test::WriteAll(dir / "other.zip", "no archive at all, just some words");
    EXPECT_TRUE(ZipFiles(ListOf({dir / "work.txt"}), dir / "other.zip"));
    test::ExpectExtractsTo(dir / "other.zip", {{"work.txt", "new content"}});
}

TEST(CompressUtil, ZipFilesRaisesWhenTheOldFileCannotBeRemoved) {
    test::TTempDir dir;
    const std::string old = test::BuildZip({{"old.txt", "old"}}).bytes;
    test::WriteAll(dir / "sender.zip", old);
    ASSERT_TRUE(SetFileAttributes(dir / "sender.zip", faReadOnly));  // DeleteFile refuses it
    test::WriteSource(dir / "work.txt", "new");
    try {
        ZipFiles(ListOf({dir / "work.txt"}), dir / "sender.zip");
        ADD_FAILURE() << "no exception";
    } catch (const EFCreateError& e) {
        const std::string prefix = "Cannot create file \"" + dir / "sender.zip" + "\". ";
        EXPECT_EQ(std::string(e.what()).substr(0, prefix.size()), prefix);
    }
    SetFileAttributes(dir / "sender.zip", faArchive);
    EXPECT_EQ(test::ReadAll(dir / "sender.zip"), old);
}

TEST(CompressUtil, ZipFilesFailsWhenFewerFilesArePackedThanDistinctNames) {
    struct {
        const char* what;
        std::vector<std::string> lines;
        bool result;
        size_t entries;
    } cases[] = {
        {"all present", {"a/one.txt", "a/two.txt"}, true, 2},
        {"one missing", {"a/one.txt", "a/missing.txt"}, false, 1},
        {"same name twice", {"a/one.txt", "b/one.txt"}, true, 1},
        {"same name twice and one missing", {"a/one.txt", "b/one.txt", "a/missing.txt"}, false, 1},
        {"a directory instead of a file", {"a/one.txt", "a"}, false, 1},
        {"directory and wildcard lines", {"a/", "*.txt", "a/one.txt"}, false, 1},
        {"all missing", {"x.txt", "y.txt"}, false, 0},
        {"empty list", {}, true, 0},
    };
    for (const auto& c : cases) {
        test::TTempDir dir;
        ForceDirectories(dir / "a");
        ForceDirectories(dir / "b");
        test::WriteSource(dir / "a/one.txt", "1a");
        test::WriteSource(dir / "a/two.txt", "2");
        test::WriteSource(dir / "b/one.txt", "1b");
        std::vector<AnsiString> paths;
        for (const auto& l : c.lines) paths.push_back(dir / l);
        EXPECT_EQ(ZipFiles(ListOf(paths), dir / "out.zip"), c.result) << c.what;
        const std::string bytes = test::ReadAll(dir / "out.zip");
        const test::TParsedArchive a = test::ParseArchive(bytes);
        EXPECT_TRUE(a.ok) << c.what << ": " << a.error;
        EXPECT_EQ(a.entries.size(), c.entries) << c.what;
        EXPECT_TRUE(c.entries != 0 || bytes.size() == 22) << c.what;  // only the end record
        test::ExpectOutsideReadersAccept(dir / "out.zip");
    }
}

TEST(CompressUtil, ZipFilesWithABlankNameWritesNothing) {
    test::TTempDir dir;
    test::WriteSource(dir / "a.txt", "a");
    EXPECT_FALSE(ZipFiles(ListOf({dir / "a.txt"}), ""));
    EXPECT_TRUE(ZipFiles(TStringList(), " "));
    EXPECT_EQ(test::FilesIn(dir.Path()).size(), 1u);
}

}  // namespace
}  // namespace nuva
