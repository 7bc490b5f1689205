// A full disk under the writer's last step: the rewritten archive cannot be
// renamed into place, and the target it is then copied to is a link to
// /dev/full, which takes no byte.
#include <gtest/gtest.h>

#include <filesystem>

#include "WriterTestSupport.h"
#include "zip/ZipWriter.h"

namespace nuva {
namespace {

// The rename fails after the target was swapped for a link to /dev/full;
// the copy that follows is the writer's own.
class TRenameToFullDiskWriter : public TZipWriter {
  protected:
    bool RenameArchive(const AnsiString&, const AnsiString& to) override {
        std::filesystem::remove(to.c_str());
        std::filesystem::create_symlink("/dev/full", to.c_str());
        return false;
    }
};

TEST(ZipWriterUpdate, CopyThatCannotWriteKeepsTheNewArchive) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    test::TTempDir dir;
    ForceDirectories(dir / "tmp");
    test::WriteAll(dir / "work.zip", test::BuildZip({{"old.txt", "in the old archive"}}).bytes);
    test::WriteSource(dir / "new.txt", "added by the update", test::kFixedDosTime);

    TRenameToFullDiskWriter writer;
    writer.SetZipName(dir / "work.zip");
    writer.TempPath = dir / "tmp";
    writer.FilesList.Add(dir / "new.txt");
    test::TakeMessageBoxes();
    std::string error;
    try {
        writer.Zip();
    } catch (const Exception& e) {
        error = e.what();
    }
    // The new archive stays in its temporary file, and the failure is told.
    auto temps = test::FilesIn(dir / "tmp");
    ASSERT_EQ(temps.size(), 1u) << "the new archive is lost";
    const AnsiString temp = dir / ("tmp/" + temps.begin()->first);
    EXPECT_EQ(error, "Could not copy from " + temp + " -> " + (dir / "work.zip"));
    EXPECT_EQ(test::ParseArchive(temps.begin()->second).entries.size(), 2u);
    auto boxes = test::TakeMessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, error);
}

}  // namespace
}  // namespace nuva
