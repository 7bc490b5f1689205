#include "zip/CompressUtil.h"

#include <gtest/gtest.h>

#include "ReaderTestSupport.h"
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

}  // namespace
}  // namespace nuva
